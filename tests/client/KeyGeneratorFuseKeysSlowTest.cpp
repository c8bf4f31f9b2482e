// Fused rotation keys on FGe (degree 2^16): the relation each key satisfies,
// and that a second generation keeps the keys already held.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/CrtReference.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

u64 mulModRef(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }
u64 powModRef(u64 b, u64 e, u64 p) {
    u64 r = 1;
    for (b %= p; e; e >>= 1, b = mulModRef(b, b, p))
        if (e & 1)
            r = mulModRef(r, b, p);
    return r;
}

} // namespace

// body_k + mask s = m_j (p_L sigma_r(s) + e) on the first L + 2 primes: the
// error recovered slot by slot (m_j^-1) and transformed back is one small
// integer polynomial on every prime.
TEST(FuseRotKeyBundleSlowTest, KeysHoldTheirRelationAndStay) {
    const auto ctx = makeContext(ParameterPreset::FGe);
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
    const KeyPack pack(ctx);
    const KeyGenerator gen(ctx, sk, pack);
    gen.genFuseRotKeyBundle();

    const BootParameter bp(ctx);
    const u64 logSlots = getLogFullSlots(ctx);
    const RadixDecomposition rd = bp.getRadixDecForC2S(logSlots);
    const BootConstants constants(logSlots, ctx, bp);
    const std::vector<Plaintext> &diagonals = constants.getInvV0(kHostDevice, 0);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    const u64 length = getLength(ctx);
    const u64 n = getDegree(ctx);
    const u64 pL = chain.getModulus(length).getPrime();
    const Polynomial &s = sk.getSx(0);

    ASSERT_GE(rd.radices[0], 2u);
    std::vector<std::shared_ptr<FuseRotationKey>> held;
    for (u64 j = 0; j < rd.radices[0]; ++j) {
        const u64 r = j * rd.strides[0];
        held.push_back(pack.getFuseRotKey(r));
        ASSERT_TRUE(held.back()) << "index " << r;
    }
    EXPECT_FALSE(pack.getFuseRotKey(rd.radices[0] * rd.strides[0]));

    for (const u64 j : {u64{0}, u64{1}}) {
        SCOPED_TRACE(j);
        const u64 r = j * rd.strides[0];
        const FuseRotationKey &key = *held[j];
        Polynomial rotated(ctx, true, true);
        if (r == 0)
            rotated = s;
        else
            chain.frobeniusMapInNTT<false>(s, static_cast<std::int64_t>(getPow(ctx, r)), rotated);
        const Polynomial &m = diagonals[j].getMx();
        // e per prime in NTT form, then back to coefficients.
        Polynomial error(ctx, true, true);
        for (u64 i = 0; i < length + 2; ++i) {
            const u64 q = chain.getModulus(i).getPrime();
            const u64 *b = key.getPoly(kHostDevice, 0).getLimb(i);
            const u64 *a = key.getPoly(kHostDevice, 1).getLimb(i);
            for (u64 c = 0; c < n; ++c) {
                const u64 lhs = (b[c] + mulModRef(a[c], s.getLimb(i)[c], q)) % q;
                const u64 known =
                    mulModRef(m.getLimb(i)[c], mulModRef(pL % q, rotated.getLimb(i)[c], q), q);
                const u64 me = (lhs + q - known) % q;
                ASSERT_NE(m.getLimb(i)[c], 0u) << "a diagonal slot without inverse";
                error.getLimb(i)[c] = mulModRef(me, powModRef(m.getLimb(i)[c], q - 2, q), q);
            }
        }
        chain.backwardNTT<AlwaysValidator, 1>(error, error, {});
        for (u64 c = 0; c < n; ++c) {
            std::int64_t value = 0;
            for (u64 i = 0; i < length + 2; ++i) {
                const u64 q = chain.getModulus(i).getPrime();
                const u64 v = error.getLimb(i)[c];
                const std::int64_t centred =
                    v > q / 2 ? -static_cast<std::int64_t>(q - v) : static_cast<std::int64_t>(v);
                if (i == 0)
                    value = centred;
                else
                    ASSERT_EQ(centred, value) << "coefficient " << c << " prime " << i;
            }
            ASSERT_LE(value < 0 ? -value : value, 40) << "coefficient " << c;
        }
    }

    gen.genFuseRotKeyBundle();
    for (u64 j = 0; j < held.size(); ++j)
        EXPECT_EQ(pack.getFuseRotKey(j * rd.strides[0]), held[j]);
}

// With a new encapsulation key the fused keys are made for its sparse secret
// and replace those already held (which belong to the default secret or an
// earlier sparse secret).
TEST(FuseRotKeyBundleSlowTest, WithSSEReplacesHeldKeys) {
    const auto ctx = makeContext(ParameterPreset::FGbSSE);
    const auto sparse = makeContext(getSparseParameterPresetFor(ParameterPreset::FGbSSE));
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
    const KeyPack pack(ctx, sparse);
    const KeyGenerator gen(ctx, sparse, sk, pack);
    gen.genFuseRotKeyBundle();
    const auto before = pack.getFuseRotKey(0);
    ASSERT_TRUE(before);
    gen.genFuseRotKeyBundleWithSSE();
    const auto after = pack.getFuseRotKey(0);
    ASSERT_TRUE(after);
    EXPECT_NE(after, before);
    EXPECT_TRUE(pack.getSparseSecretEncapsulationKey());
}
