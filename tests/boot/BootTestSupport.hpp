#pragma once

// Contexts shared by the bootstrapping tests.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Message.hpp"
#include "boot/BootConstants.hpp"
#include "boot/DftMatrices.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/Polynomial.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {

using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

// A ring ciphertext of the context at `level` with rescale counter `counter`,
// its residues not set: enough for the entry checks of bootstrapping.
inline RingCiphertext ciphertextAt(const std::shared_ptr<ContextContent> &ctx, std::uint64_t level,
                                   int counter) {
    RingCiphertext ct(ctx, false, true);
    ct.setLevel(level);
    ct.setRescaleCounter(counter);
    return ct;
}

// A slot-encoded multi-secret ciphertext at level 0 in coefficient form, its
// k + 1 polynomials random residues mod q_0: the input shape of the fused
// modulus raise.
inline CiphertextBase<EncryptionType::MSRLWE>
randomLevelZeroMultiSecret(const std::shared_ptr<ContextContent> &ctx, std::uint64_t seed) {
    const std::uint64_t k = getNumSecret(ctx);
    const std::uint64_t n = getDegree(ctx);
    const std::uint64_t q0 = getPrimeList(ctx)[0];
    CiphertextBase<EncryptionType::MSRLWE> ct(ctx, false, false);
    ct.setNumPoly(k + 1);
    ct.setLevel(0);
    ct.setEncodingType(EncodingType::SLOT);
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::uint64_t> residue(0, q0 - 1);
    for (std::uint64_t i = 0; i <= k; ++i) {
        ct.getPoly(i).setNTT(false);
        for (std::uint64_t c = 0; c < n; ++c)
            ct.getPoly(i).getLimb(0)[c] = residue(rng);
    }
    return ct;
}

// The context of a preset, made once per test binary (not thread-safe).
inline const std::shared_ptr<ContextContent> &presetContext(ParameterPreset preset) {
    static std::map<ParameterPreset, std::shared_ptr<ContextContent>> contexts;
    auto it = contexts.find(preset);
    if (it == contexts.end())
        it = contexts.emplace(preset, makeContext(preset)).first;
    return it->second;
}

// The diagonals BootConstants encodes for step `step` of rd, from the stage
// matrices of a 2^log_slots-point transform.
inline std::vector<Message> stepDiagonals(std::uint64_t log_slots, const RadixDecomposition &rd,
                                          std::uint64_t step, bool c2s, double factor,
                                          bool zero_first_offset = false) {
    std::vector<SparseComplexMatrix> stages;
    if (c2s)
        dftmatrix::buildInvV0(log_slots, stages);
    else
        dftmatrix::buildV0(log_slots, stages);
    return dftmatrix::diagonalsOfStep(dftmatrix::stepMatrix(stages, rd.bit_ranges[step], c2s), rd,
                                      step, factor, zero_first_offset);
}

// The largest slot-wise distance; messages of different sizes fail the test.
inline double maxDistance(const Message &a, const Message &b) {
    EXPECT_EQ(a.getSize(), b.getSize());
    double worst = 0.0;
    for (std::uint64_t i = 0; i < a.getSize() && i < b.getSize(); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

} // namespace Quelt::test
