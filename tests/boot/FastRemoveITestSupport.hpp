#pragma once

// The mask identity of the fast removeI road on plaintexts: a complex slot
// vector z of the main ring, embedded into the ring of twice the degree,
// times mask 0, plus its conjugate (Y -> Y^-1), is the real vector
// [2 Re z, 2 Im z] there, and moves into the conjugate-invariant ring and
// back without loss; a real vector [x, y] of that ring, back in the
// embedding ring, times mask 1 and halved in degree, is x + i y.

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingPacker.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/ScaleFactors.hpp"
#include "conversion/RingSwitcher.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <random>

namespace Quelt::test {

struct MaskIdentityErrors {
    // Largest slot error of [2 Re z, 2 Im z] and of z, relative to 1.
    double forward = 0.0;
    double back = 0.0;
};

// A power of two for the message such that its product with the mask's
// scale stays 2^8 below what the decoder lifts at `level` (q0 at level 0,
// q0 q1 above), and at most 2^40.
inline double messageScale(const PrimeModuli &chain, std::uint64_t level, double mask_scale) {
    double room = static_cast<double>(chain.getModulus(0).getPrime());
    if (level > 0)
        room *= static_cast<double>(chain.getModulus(1).getPrime());
    const double e = std::floor(std::log2(room / mask_scale / 256.0));
    return std::ldexp(1.0, static_cast<int>(std::min(e, 40.0)));
}

// Runs both directions with the masks a bootstrapper over `main` encodes for
// `embed`, on random z with |Re|, |Im| <= 1, the message scales chosen by
// messageScale.
inline MaskIdentityErrors maskIdentity(const std::shared_ptr<ContextContent> &main,
                                       const std::shared_ptr<ContextContent> &embed,
                                       const std::shared_ptr<ContextContent> &conj_inv,
                                       std::mt19937_64 &rng) {
    using Complex = std::complex<double>;
    const std::vector<Plaintext> masks = FastRemoveIRoad::encodePlaintextMasks(main, embed);
    const PrimeModuli &chain = embed->getPrimeModuli();
    const u64 n = u64{1} << getLogFullSlots(main); // N/2 slots of the main ring
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Message z(getLogFullSlots(main));
    for (auto &slot : z)
        slot = Complex(dist(rng), dist(rng));
    MaskIdentityErrors errors;

    // Forward, at mask 0's level.
    {
        const Plaintext &mask = masks[0];
        const u64 level = mask.getLevel();
        const double mask_scale = std::pow(2.0, embed->getScaleFactors().getScaleFactor(level));
        const double scale = messageScale(chain, level, mask_scale);
        const Plaintext p = EnDecoder(main).encodeWithScale(z, level, scale, true);
        Plaintext e(embed);
        e.setLogSlots(getLogFullSlots(embed));
        RingSwitcher().embedNTT(main, p.getMx(), embed, e.getMx());
        EXPECT_EQ(e.getLevel(), level);
        chain.hadamardMult(e.getMx(), mask.getMx(), e.getMx());
        Polynomial conj = e.getMx();
        chain.frobeniusMapInNTT<false>(e.getMx(), -1, conj);
        chain.add(e.getMx(), conj, e.getMx());

        // Into the conjugate-invariant ring and back: nothing is lost.
        Plaintext r(conj_inv);
        r.setLevel(level);
        RingPacker().conversionToReal(e, r);
        Plaintext e2(embed);
        e2.setLevel(level);
        e2.setLogSlots(getLogFullSlots(embed));
        RingPacker().conversionToComplex(r, e2);
        EXPECT_EQ(QueltTest::wordsOf(e2.getMx()), QueltTest::wordsOf(e.getMx()));

        // The decoder divides by the mask's scale, which is its level's.
        const Message got = EnDecoder(embed).decode(e2);
        EXPECT_EQ(got.getSize(), 2 * n);
        for (u64 i = 0; i < n; ++i) {
            errors.forward = std::max(errors.forward, std::abs(got[i] / scale - 2.0 * z[i].real()));
            errors.forward =
                std::max(errors.forward, std::abs(got[n + i] / scale - 2.0 * z[i].imag()));
        }
    }

    // Back, at mask 1's level, from [Re z, Im z] of the real ring.
    {
        const Plaintext &mask = masks[1];
        const u64 level = mask.getLevel();
        const double mask_scale = std::pow(2.0, embed->getScaleFactors().getScaleFactor(level));
        const double scale = messageScale(chain, level, mask_scale);
        Message w(getLogFullSlots(embed));
        for (u64 i = 0; i < n; ++i) {
            w[i] = Complex(z[i].real(), 0.0);
            w[n + i] = Complex(z[i].imag(), 0.0);
        }
        const Plaintext we = EnDecoder(embed).encodeWithScale(w, level, scale, true);
        Plaintext r(conj_inv);
        r.setLevel(level);
        RingPacker().conversionToReal(we, r);
        Plaintext v(embed);
        v.setLevel(level);
        v.setLogSlots(getLogFullSlots(embed));
        RingPacker().conversionToComplex(r, v);
        chain.hadamardMult(v.getMx(), mask.getMx(), v.getMx());

        // The halving of the degree works on ciphertexts: (v, 0).
        CiphertextBase<EncryptionType::RLWE> ct(embed, false, true);
        ct.setLevel(level);
        ct.getPoly(0) = v.getMx();
        ct.getPoly(1) = v.getMx();
        chain.sub(ct.getPoly(1), ct.getPoly(1), ct.getPoly(1));
        CiphertextBase<EncryptionType::RLWE> half(main, false, true);
        HomEvaluatorImpl(embed).rotations().convertToHalfDeg(ct, half);
        Plaintext h(main);
        h.setLevel(level);
        h.getMx() = half.getPoly(0);
        const Message got = EnDecoder(main).decode(h);
        const double factor =
            mask_scale / std::pow(2.0, main->getScaleFactors().getScaleFactor(level)) * scale;
        for (u64 i = 0; i < n; ++i)
            errors.back = std::max(errors.back, std::abs(got[i] / factor - z[i]));
    }
    return errors;
}

} // namespace Quelt::test
