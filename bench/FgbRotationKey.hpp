#pragma once

// One rotation key of preset FGb (N = 2^16, 5 gadget digits, 25 + 5 primes)
// as the key generator leaves it: bodies with residues, masks carrying their
// seeds. Shared by the benchmarks of key files and of the key pack. Also a
// top-level FGb ciphertext of uniform residues for the evaluator benchmarks.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "keys/EvaluationKeyAccess.hpp"

#include <cstdint>
#include <memory>
#include <random>

namespace QueltBench {

inline const std::shared_ptr<Quelt::ContextContent> &fgbContext() {
    static const auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FGb);
    return ctx;
}

// Uniform residues at the top level in NTT form, counter 0, drawn from
// `seed`: the arithmetic does not depend on the values.
inline Quelt::CiphertextBase<Quelt::EncryptionType::RLWE>
fgbTopLevelCiphertext(std::uint64_t seed) {
    using u64 = std::uint64_t;
    const auto &ctx = fgbContext();
    Quelt::CiphertextBase<Quelt::EncryptionType::RLWE> ct(ctx, false, true);
    std::mt19937_64 rng(seed);
    const Quelt::PrimeModuli &chain = ctx->getPrimeModuli();
    for (u64 p = 0; p < 2; ++p)
        for (u64 i = 0; i <= ct.getLevel(); ++i) {
            const u64 q = chain.getModulus(i).getPrime();
            u64 *limb = ct.getPoly(p).getLimb(i);
            for (u64 j = 0; j < ct.getPoly(p).getDegree(); ++j)
                limb[j] = rng() % q;
        }
    return ct;
}

// A rotation key of index `idx` over fgbContext().
inline std::unique_ptr<Quelt::EvaluationKey> makeFgbRotationKey(std::uint64_t idx) {
    using namespace Quelt;
    auto key = makeEmptyRotKey(fgbContext(), idx, 0);
    std::uint64_t v = 1;
    for (Polynomial &body : detail::EvaluationKeyAccess::bx(*key, kHostDevice)) {
        const std::uint64_t n = body.getDegree();
        for (std::uint64_t i = 0; i < body.getSize(); ++i) {
            const std::uint64_t q = body.getPrime(i);
            for (std::uint64_t j = 0; j < n; ++j)
                body.getLimb(i)[j] = (v += 0x9e3779b97f4a7c15ULL) % q;
        }
    }
    for (Polynomial &mask : detail::EvaluationKeyAccess::ax(*key, kHostDevice))
        populateUniformPoly(mask, true);
    return key;
}

// The key of index 1, made once.
inline const Quelt::EvaluationKey &fgbRotationKey() {
    static const std::unique_ptr<Quelt::EvaluationKey> key = makeFgbRotationKey(1);
    return *key;
}

} // namespace QueltBench
