// The loaders of keys, bundles, key packs and secret keys, fuzzed: a few
// hundred damaged forms of a valid stored object each (see
// support/MutationFuzz.hpp), deterministic and bounded so that the suite runs
// them on every build, the sanitizer build included.

#include "Quelt/EncryptionKey.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "client/KeyPackImpl.hpp"
#include "foundation/WordArith.hpp"
#include "keys/RingSwitchKeyAccess.hpp"
#include "keys/Serialize.hpp"
#include "support/DataObjects.hpp"
#include "support/KeyBundleTestSupport.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/LweTestSupport.hpp"
#include "support/MutationFuzz.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

using namespace Quelt;
using test::fuzzLoader;

namespace {

constexpr int kRounds = 500;

std::shared_ptr<ContextContent> ctx() { return test::degree64FourPrimes(); }

template <typename Object>
std::string stored(const Object &object) {
    std::ostringstream out;
    Serialize::save(out, object);
    return out.str();
}

template <typename Object>
std::string savedBy(const Object &object) {
    std::ostringstream out;
    object.save(out);
    return out.str();
}

} // namespace

TEST(LoaderFuzzTest, EvaluationKeys) {
    // Over a context, and without one (seeded masks too).
    const auto key = test::filledRotKey(ctx(), 3, 3);
    auto seeded = test::filledRotKey(ctx(), 5, 5);
    test::fillKey(*seeded, 5, true);
    using Key = std::shared_ptr<EvaluationKey>;
    const auto load = [](Key &k, std::istream &in) { Serialize::load(in, *k); };
    const auto snapshot = [](const Key &k) { return stored(*k); };
    fuzzLoader<Key>(
        "over a context", stored(*key), kRounds,
        [] {
            Key k = makeEmptyRotKey(ctx(), 3, 0);
            test::fillKey(*k, 9);
            return k;
        },
        load, snapshot);
    // Without a context the record alone bounds what a load may allocate:
    // more rounds.
    fuzzLoader<Key>(
        "without a context", stored(*seeded), 8 * kRounds,
        [] { return std::make_shared<EvaluationKey>(); }, load, snapshot);

    // A ring switch key and a fused rotation key.
    const RingSwitchKey ring(ctx());
    test::fillKey(detail::RingSwitchKeyAccess::key(ring), 4, true);
    fuzzLoader<std::shared_ptr<RingSwitchKey>>(
        "ring switch key", savedBy(ring), kRounds,
        [] { return std::make_shared<RingSwitchKey>(ctx()); },
        [](auto &k, std::istream &in) { k->load(in); }, [](const auto &k) { return savedBy(*k); });
    const auto fused = test::filledFuseRotKey(ctx(), 6);
    fuzzLoader<std::shared_ptr<FuseRotationKey>>(
        "fused rotation key", stored(*fused), kRounds,
        [] { return test::filledFuseRotKey(ctx(), 8); },
        [](auto &k, std::istream &in) { Serialize::load(in, *k); },
        [](const auto &k) { return stored(*k); });

    // An encryption key (its mask travels as a seed).
    const auto enc = test::generatedEncKey(ctx());
    fuzzLoader<std::shared_ptr<EncryptionKey>>(
        "encryption key", savedBy(*enc), kRounds, [] { return test::generatedEncKey(ctx()); },
        [](auto &k, std::istream &in) { k->load(in); }, [](const auto &k) { return savedBy(*k); });
}

TEST(LoaderFuzzTest, KeyBundles) {
    const auto four = test::fourSecretContext();
    const auto makeMStoSS = [four](u64 seed) {
        MStoSSKeyBundle bundle(four);
        test::fillBundle(bundle, seed, true);
        return bundle;
    };
    fuzzLoader<MStoSSKeyBundle>(
        "MStoSS over a context", test::savedBundle(makeMStoSS(1)), kRounds,
        [&] { return makeMStoSS(2); }, [](auto &b, std::istream &in) { b.load(in); },
        [](const auto &b) { return test::savedBundle(b); });

    IncreaseNSKeyBundle withKeys(four, 2);
    test::fillBundle(withKeys, 3, true);
    fuzzLoader<IncreaseNSKeyBundle>(
        "IncreaseNS without a context", test::savedBundle(withKeys), kRounds,
        [] { return IncreaseNSKeyBundle(); }, [](auto &b, std::istream &in) { b.load(in); },
        [](const auto &b) { return test::savedBundle(b); });

    const auto secrets = [](u64 n) { return makeContext(6, 3, 40, 40, 40, 3, 1, n); };
    const auto makeBisection = [&](u64 seed) {
        SStoMSBisectionKeyBundle bundle(secrets(1), {secrets(2), secrets(4)});
        test::fillBundle(bundle.getSStoMSKeyBundle(), seed, true);
        for (IncreaseNSKeyBundle &step : bundle.getIncreaseNSKeyBundleVec())
            test::fillBundle(step, seed + 1, true);
        return bundle;
    };
    fuzzLoader<SStoMSBisectionKeyBundle>(
        "bisection", test::savedBundle(makeBisection(4)), kRounds, [&] { return makeBisection(6); },
        [](auto &b, std::istream &in) { b.load(in); },
        [](const auto &b) { return test::savedBundle(b); });
}

TEST(LoaderFuzzTest, WholeKeyPack) {
    const auto makePack = [](u64 seed) {
        KeyPack pack(ctx());
        KeyPackImpl &impl = test::implOf(pack);
        impl.installEncKey(test::generatedEncKey(ctx()));
        impl.installMultKey(test::filledMultKey(ctx(), seed));
        impl.installConjKey(test::filledConjKey(ctx(), seed + 1));
        for (const u64 idx : {1, 4})
            impl.tryEmplaceRotKey(idx, test::filledRotKey(ctx(), idx, seed + idx));
        return pack;
    };
    fuzzLoader<KeyPack>(
        "whole pack", savedBy(makePack(1)), kRounds, [&] { return makePack(7); },
        [](KeyPack &p, std::istream &in) { p.load(in); },
        [](const KeyPack &p) { return savedBy(p); });
}

TEST(LoaderFuzzTest, SecretKeys) {
    // A secret key is loaded by construction: a refused load makes no key.
    using Ring = SecretKeyBase<EncryptionType::RLWE>;
    using Multi = SecretKeyBase<EncryptionType::MSRLWE>;
    using Holder = std::shared_ptr<void>;
    const auto none = [] { return Holder(); };
    const auto nothing = [](const Holder &) { return std::string(); };
    const Ring ring(ctx());
    const auto loadRing = [](Holder &h, std::istream &in) {
        h = std::make_shared<Ring>(ctx(), in);
    };
    fuzzLoader<Holder>("RLWE full", test::fullRecord(ring), kRounds, none, loadRing, nothing);
    fuzzLoader<Holder>("RLWE seed only", test::seedRecord(ring), kRounds, none, loadRing, nothing);

    const Multi multi(test::multiSecretContext());
    fuzzLoader<Holder>(
        "MSRLWE full", test::fullRecord(multi), kRounds, none,
        [](Holder &h, std::istream &in) {
            h = std::make_shared<Multi>(test::multiSecretContext(), in);
        },
        nothing);

    const auto lweContext = test::lweContext(LWE::ParameterPreset::SD3);
    const LWE::SecretKey lwe(lweContext);
    fuzzLoader<Holder>(
        "LWE full", savedBy(lwe), kRounds, none,
        [&](Holder &h, std::istream &in) { h = std::make_shared<LWE::SecretKey>(lweContext, in); },
        nothing);
}
