// The refusals of fused rotation-key generation, each in its order, on small
// contexts (the keys themselves need degree 2^16: KeyGeneratorFuseKeysSlowTest).

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/KeyPack.hpp"
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

TEST(FuseRotKeyBundle, RefusesContextsWithoutFusing) {
    const RLWEKey sk(fxContext());
    const KeyGenerator gen(fxContext(), sk);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(); }, KeyGenerator::kFuseNotSupported);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(sk.getSxVec(), sk.getSxVec()); },
                        KeyGenerator::kFuseNotSupported);
    // Fusing is checked before the sizes.
    const PolynomialVector empty(fxContext(), 0, true, true);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(empty, empty); },
                        KeyGenerator::kFuseNotSupported);
}

TEST(FuseRotKeyBundle, RefusesListsOfAnotherSize) {
    const RLWEKey sk(fusingFx());
    const KeyGenerator gen(fusingFx(), sk);
    const PolynomialVector two(fusingFx(), 2, true, true);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(two, sk.getSxVec()); },
                        KeyGenerator::kFuseSecretCount);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundle(sk.getSxVec(), two); },
                        KeyGenerator::kFuseSecretCount);
}

TEST(FuseRotKeyBundle, RefusesGeneratorsWithoutTheSecretKey) {
    // The key check of the form without lists comes before the fusing one.
    expectThrowsMessage([] { KeyGenerator(fxContext()).genFuseRotKeyBundle(); },
                        KeyGenerator::kFuseNoSecretKey);
    expectThrowsMessage([] { KeyGenerator(twoSecretContext()).genFuseRotKeyBundle(); },
                        KeyGenerator::kFuseNoMultiSecretKey);
}

TEST(FuseRotKeyBundleWithSSE, ChecksBeforeAnythingEntersThePack) {
    const RLWEKey sk(fxContext());
    expectThrowsMessage([&] { KeyGenerator(fxContext(), sk).genFuseRotKeyBundleWithSSE(); },
                        KeyGenerator::kFuseNoSparseContext);
    // Without fusing no encapsulation key is made either.
    const RLWEKey mainKey(sseNamedMain());
    const KeyPack pack(sseNamedMain(), sseNamedSparse());
    const KeyGenerator gen(sseNamedMain(), sseNamedSparse(), mainKey, pack);
    expectThrowsMessage([&] { gen.genFuseRotKeyBundleWithSSE(); }, KeyGenerator::kFuseNotSupported);
    EXPECT_FALSE(pack.getSparseSecretEncapsulationKey());
}
