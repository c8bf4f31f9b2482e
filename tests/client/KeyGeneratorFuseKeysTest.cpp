// The refusals of fused rotation-key generation, each in its order, on small
// contexts (the keys themselves need degree 2^16: KeyGeneratorFuseKeysSlowTest).

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "context/PolynomialVector.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <memory>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;

// FX with the fusing flag set: passes the first check, so the next ones can
// be reached at degree 64.
std::shared_ptr<ContextContent> fusingFx() {
    static const auto ctx =
        withParameter(fxContext(), [](Parameter &p) { p.fuse_mod_raise = true; });
    return ctx;
}

} // namespace

TEST(FuseRotKeyBundleTest, RefusesContextsWithoutFusing) {
    const RLWEKey sk(fxContext());
    const KeyGenerator gen(fxContext(), sk);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(); },
                        KeyGeneratorMessages::kFuseNotSupported);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(sk.getSxVec(), sk.getSxVec()); },
                        KeyGeneratorMessages::kFuseNotSupported);
    // Fusing is checked before the sizes.
    const PolynomialVector empty(fxContext(), 0, true, true);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(empty, empty); },
                        KeyGeneratorMessages::kFuseNotSupported);
}

TEST(FuseRotKeyBundleTest, RefusesListsOfAnotherSize) {
    const RLWEKey sk(fusingFx());
    const KeyGenerator gen(fusingFx(), sk);
    const PolynomialVector two(fusingFx(), 2, true, true);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(two, sk.getSxVec()); },
                        KeyGeneratorMessages::kFuseSecretCount);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(sk.getSxVec(), two); },
                        KeyGeneratorMessages::kFuseSecretCount);
}

TEST(FuseRotKeyBundleTest, RefusesGeneratorsWithoutTheSecretKey) {
    // The key check of the form without lists comes before the fusing one.
    expectThrowsMessage([] { KeyGenerator(fxContext()).genFuseRotKeyBundle(); },
                        KeyGeneratorMessages::kFuseNoSecretKey);
    expectThrowsMessage([] { KeyGenerator(twoSecretContext()).genFuseRotKeyBundle(); },
                        KeyGeneratorMessages::kFuseNoMultiSecretKey);
}

TEST(FuseRotKeyBundleWithSSETest, ChecksBeforeAnythingEntersThePack) {
    const RLWEKey sk(fxContext());
    expectThrowsMessage([&] { KeyGenerator(fxContext(), sk).genFuseRotKeyBundleWithSSE(); },
                        KeyGeneratorMessages::kFuseNoSparseContext);
    // Without fusing no encapsulation key is made either.
    const RLWEKey mainKey(sseNamedMain());
    const KeyPack pack(sseNamedMain(), sseNamedSparse());
    const KeyGenerator gen(sseNamedMain(), sseNamedSparse(), mainKey, pack);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundleWithSSE(); },
                        KeyGeneratorMessages::kFuseNotSupported);
    EXPECT_FALSE(pack.getSparseSecretEncapsulationKey());
}
