#pragma once

#include "Quelt/Device.hpp"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

class ContextContent;
class EvaluationKey;

// Handle of one switching key of type 'w' that switches a ciphertext from one
// secret to another within one context (between ring degrees, the smaller
// secret embedded in the larger ring). Copies share the one key, so moving one
// copy to a device moves them all. The key's lists hold d masks and d x S
// bodies (d the gadget rank, S the number of secrets; the body of secret k,
// digit t at index k * d + t), each spanning the base primes followed by the
// temporary primes, N words per prime.
class RingSwitchKey {
public:
    // An empty key over the context: EvaluationKey(context, 'w', 0, 0), its
    // residues written later by the key generator or by load.
    explicit RingSwitchKey(const std::shared_ptr<ContextContent> &context);

    // Keeps the key's lists for `device` only, copied there first when absent
    // (EvaluationKey::removeExcept). Throws RuntimeException "Value-device map
    // is empty." when the key holds no list, and what the device layer throws
    // for a copy to an accelerator.
    void to(const Device &device);

    // The N residues modulo prime j of mask (body) polynomial i held for
    // `device`. Throws std::out_of_range "map::at" for a device without an
    // entry, kPolynomialIndexOutOfRange for i not below the list's length and
    // kPrimeIndexOutOfRange for j not below the polynomial's number of limbs.
    std::uint64_t *getAxPolyData(std::uint64_t i, std::uint64_t j, const Device &device) const;
    std::uint64_t *getBxPolyData(std::uint64_t i, std::uint64_t j, const Device &device) const;

    static constexpr const char *kPolynomialIndexOutOfRange =
        "[RingSwitchKey] Polynomial index out of range";
    static constexpr const char *kPrimeIndexOutOfRange = "[RingSwitchKey] Prime index out of range";

    // The standalone evaluation-key form of the key (byte-order byte, then the
    // record with type 'w'). Throws std::out_of_range "map::at" when the key
    // has no host entry (after `to` another device), and RuntimeException
    // "Cannot open file <path>" when the file cannot be opened.
    void save(std::ostream &stream) const;
    void save(const std::string &path) const;

    // Reads a standalone evaluation-key form into the key, checked as
    // EvaluationKey::load checks it; the record must also be of type 'w' with
    // aux 0, else RuntimeException "[Verifier::load] Validation failed during
    // deserializing objects.". A failure leaves the key unchanged. The path
    // form throws "Cannot open file <path>" when the file cannot be opened.
    void load(std::istream &stream);
    void load(const std::string &path);

private:
    std::shared_ptr<EvaluationKey> key_;
};

} // namespace Quelt
