#pragma once

#include "Quelt/Device.hpp"

#include <cstdint>
#include <memory>

namespace Quelt {

class ContextContent;
class PolynomialVector;

// Shared handle to a vector of NTT-form polynomials, used to hand key-switched
// parts from one evaluation call to the next without copying. Copies of a Bx
// share the one vector.
class Bx {
public:
    // count polynomials of the context in NTT form, in mod-up form when modUp.
    Bx(const std::shared_ptr<ContextContent> &context, std::uint64_t count, bool modUp);

    std::shared_ptr<PolynomialVector> &getData() { return data_; }
    const std::shared_ptr<PolynomialVector> &getData() const { return data_; }

    // The common level of the polynomials; throws as PolynomialVector::getLevel.
    std::uint64_t getLevel() const;
    // The mod-up flag of polynomial 0; throws std::out_of_range when empty.
    bool isModUp() const;

    void to(const Device &device);
    void allocate(const Device &device);

private:
    std::shared_ptr<PolynomialVector> data_;
};

} // namespace Quelt
