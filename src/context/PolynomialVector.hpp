#pragma once

#include "Quelt/Device.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;

// A context and an ordered list of polynomials built on it. The shared
// properties (level, mod-up state, NTT state, device) are read from the
// polynomials and must agree among them.
class PolynomialVector {
public:
    // count polynomials, each Polynomial(context, modUp, isNTT).
    PolynomialVector(const std::shared_ptr<ContextContent> &context, std::uint64_t count,
                     bool modUp, bool isNTT);

    std::uint64_t getSize() const { return polys_.size(); }
    // Polynomial i; throws std::out_of_range when i >= getSize().
    Polynomial &getPoly(std::uint64_t i) { return polys_.at(i); }
    const Polynomial &getPoly(std::uint64_t i) const { return polys_.at(i); }

    // The degree of polynomial 0, or the context's degree when the vector is
    // empty.
    std::uint64_t getDegree() const;

    // The property of polynomial 0 when every polynomial agrees. An empty
    // vector throws std::out_of_range; disagreement throws RuntimeException
    // "Polynomials have different levels", "Polynomials have different modUp
    // states", "Polynomials have different NTT states" or "Polynomials are in
    // different devices".
    std::uint64_t getLevel() const;
    bool isModUp() const;
    bool isNTT() const;
    Device getDevice() const;

    // Sets the level of every polynomial (Polynomial::setLevel: arrays of
    // polynomials not in mod-up form become (level + 1) * degree words).
    // Throws RuntimeException "[Polynomial] Level exceeds the prime chain"
    // when level is not below a polynomial's chain length; then no polynomial
    // is changed.
    void setLevel(std::uint64_t level);

    // Grows or shrinks the list to n polynomials. New polynomials take the
    // shape of polynomial 0 (degree, chain length, size, level, flags and
    // primes; no germ; an array of as many words on polynomial 0's device and
    // stream, not initialised). An empty vector grows with
    // Polynomial(context, false, false). Shrinking destroys the last ones.
    void setSize(std::uint64_t n);

    void to(const Device &device);
    void allocate(const Device &device);

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    std::vector<Polynomial> &getPolys() { return polys_; }
    const std::vector<Polynomial> &getPolys() const { return polys_; }

private:
    std::shared_ptr<ContextContent> context_;
    std::vector<Polynomial> polys_;
};

} // namespace Quelt
