// The key bundles of the conversions: every key of every kind against the
// defining identity of switching keys, with its source secret rebuilt here
// from the rearrangement each bundle documents, and every refusal in order.
// All contexts share one chain of moduli (the first five primes of SD3, whose
// first four are also the chain of the LWE preset SD3), built with the
// context constructor for ready moduli.

#include "Quelt/KeyGenerator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "Quelt/MemoryResource.hpp"
#include "client/BundleGeneration.hpp"
#include "client/KeyGeneratorImpl.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "foundation/HostMemoryResourceOverride.hpp"
#include "foundation/WordArith.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyBundleTestSupport.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MLWEKey = SecretKeyBase<EncryptionType::MLWE>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

const std::shared_ptr<ContextContent> &sd3() {
    static const auto ctx = makeContext(ParameterPreset::SD3);
    return ctx;
}

// Degree 2^logN over primes 0..3 (base and quantize) and 4 (temporary), with
// the given gadget rank, module rank and number of secrets. One object per
// shape, so that keys of one shape share their context.
std::shared_ptr<ContextContent> chain(u64 logN, u64 rank = 1, u64 secrets = 1, u64 gadget = 2,
                                      std::vector<u64> base = {0, 1, 2, 3}) {
    static std::map<std::tuple<u64, u64, u64, u64, std::vector<u64>>,
                    std::shared_ptr<ContextContent>>
        made;
    auto &ctx = made[{logN, rank, secrets, gadget, base}];
    if (!ctx)
        ctx = withParameter(contextFromPrimes(sd3(), logN, base, {4}, gadget), [&](Parameter &p) {
            p.rank = rank;
            p.num_secret = secrets;
        });
    return ctx;
}

// Deterministic ternary coefficients.
std::vector<int> ternary(u64 count, u64 seed) {
    std::mt19937_64 rng(seed);
    std::vector<int> c(count);
    for (int &v : c)
        v = static_cast<int>(rng() % 3) - 1;
    return c;
}

template <typename Key>
Key keyOver(const std::shared_ptr<ContextContent> &ctx, u64 seed) {
    std::vector<int> c = ternary(getRank(ctx) * getNumSecret(ctx) * getDegree(ctx), seed);
    int *p = c.data();
    return Key(ctx, p);
}

Coefficients zeros(u64 n) { return Coefficients(n, 0); }

// Every key of a bundle is of its type, over the context, with masks from
// germs; `check` runs the identity on key i.
template <typename Bundle>
void expectKeys(const Bundle &bundle, u64 keys, char type,
                const std::shared_ptr<ContextContent> &ctx,
                const std::function<void(u64, EvaluationKey &)> &check) {
    ASSERT_EQ(bundle.getNumKeys(), keys);
    for (u64 i = 0; i < keys; ++i) {
        SCOPED_TRACE("key " + std::to_string(i));
        EvaluationKey &key = *keyOf(bundle, i);
        EXPECT_EQ(key.getType(), type);
        EXPECT_EQ(key.getContext(), ctx);
        expectMasksFromGerms(ctx, key);
        check(i, key);
    }
}

// The key over `ctx` made of the masks and the first d bodies of `key`: the
// single-secret part of a key made over a multi-secret context.
std::unique_ptr<EvaluationKey> singleSecretPart(const std::shared_ptr<ContextContent> &ctx,
                                                EvaluationKey &key) {
    auto part = std::make_unique<EvaluationKey>(ctx, 'z', 0, 0);
    masksOf(*part) = masksOf(key);
    const auto &bodies = bodiesOf(key);
    bodiesOf(*part).assign(bodies.begin(),
                           bodies.begin() + static_cast<std::ptrdiff_t>(getGadgetRank(ctx)));
    return part;
}

bool allZero(const Polynomial &poly) {
    const auto words = QueltTest::wordsOf(poly);
    return std::all_of(words.begin(), words.end(), [](u64 w) { return w == 0; });
}

// ---- the identities of each kind ------------------------------------------

void expectIncreaseNS(const IncreaseNSKeyBundle &bundle, const MSRLWEKey &from,
                      const MSRLWEKey &to) {
    const auto &t = to.getContext();
    const u64 n = getDegree(t);
    const u64 a = getNumSecret(from.getContext());
    const u64 b = getNumSecret(t);
    expectKeys(bundle, b / a, 'i', t, [&](u64 i, EvaluationKey &key) {
        std::vector<Coefficients> source(b, zeros(n));
        for (u64 s = 0; s < a; ++s)
            source[i * a + s] = secretCoefficients(from, s);
        expectDistinctErrors(expectSwitchingKeyIdentity(t, key, source, allSecretCoefficients(to)));
    });
}

void expectMStoSS(const MStoSSKeyBundle &bundle, const MSRLWEKey &ms, const RLWEKey &ss) {
    const auto &s = ss.getContext();
    expectKeys(bundle, getNumSecret(ms.getContext()), 'z', ms.getContext(),
               [&](u64 k, EvaluationKey &key) {
                   const auto part = singleSecretPart(s, key);
                   expectDistinctErrors(expectSwitchingKeyIdentity(
                       s, *part, secretCoefficients(ms, k), secretCoefficients(ss)));
                   const auto &bodies = bodiesOf(key);
                   for (u64 p = getGadgetRank(s); p < bodies.size(); ++p)
                       EXPECT_TRUE(allZero(bodies[p])) << "body " << p;
               });
}

void expectSStoMS(const SStoMSKeyBundle &bundle, const RLWEKey &ss, const MSRLWEKey &ms) {
    const auto &m = ms.getContext();
    const u64 c = getNumSecret(m);
    expectKeys(bundle, c, 'x', m, [&](u64 k, EvaluationKey &key) {
        std::vector<Coefficients> source(c, zeros(getDegree(m)));
        source[k] = secretCoefficients(ss);
        expectDistinctErrors(expectSwitchingKeyIdentity(m, key, source, allSecretCoefficients(ms)));
    });
}

// The output secret of modulus packing: coefficient j of polynomial i of
// `out` on exponent i + j r_out.
Coefficients interleaved(const std::shared_ptr<ContextContent> &out, const int *c, u64 n) {
    const u64 r = getRank(out), d = getDegree(out);
    Coefficients t(n, 0);
    for (u64 i = 0; i < r; ++i)
        for (u64 j = 0; j < d; ++j)
            t[i + j * r] = c[i * d + j];
    return t;
}

} // namespace

namespace {

// Passes every block on to the host resource and counts the bytes handed
// out: in total, outstanding, and the most outstanding at once.
class CountingResource final : public MemoryResource {
public:
    void *doAllocate(std::uint64_t bytes, CudaStreamView stream) override {
        void *block = host_.doAllocate(bytes, stream);
        total += bytes;
        live += bytes;
        peak = std::max(peak, live);
        return block;
    }
    void doDeallocate(void *pointer, std::uint64_t bytes, CudaStreamView stream) override {
        live -= bytes;
        host_.doDeallocate(pointer, bytes, stream);
    }

    std::uint64_t total = 0, live = 0, peak = 0;

private:
    HostMemoryResource host_;
};

// Counts the host blocks allocated during its life, in one resource that is
// never destroyed (it outlives every block it hands out).
class CountingScope {
public:
    CountingScope() : counting_(resource()), previous_(nullptr) {
        counting_->total = counting_->live = counting_->peak = 0;
        previous_ = detail::exchangeHostMemoryResourceOverride(counting_);
    }
    ~CountingScope() { detail::exchangeHostMemoryResourceOverride(previous_); }
    CountingScope(const CountingScope &) = delete;
    CountingScope &operator=(const CountingScope &) = delete;

    const CountingResource &counts() const { return *counting_; }

private:
    static CountingResource *resource() {
        static auto *counting = new CountingResource();
        return counting;
    }

    CountingResource *counting_;
    MemoryResource *previous_;
};

u64 keyBytes(const EvaluationKey &key) {
    u64 bytes = 0;
    for (const auto *list : {&detail::EvaluationKeyAccess::ax(key, kHostDevice),
                             &detail::EvaluationKeyAccess::bx(key, kHostDevice)})
        for (const Polynomial &poly : *list)
            bytes += poly.getData().size() * sizeof(u64);
    return bytes;
}

template <typename Bundle>
void addKeys(const Bundle &bundle, u64 &total, u64 &largest) {
    for (u64 i = 0; i < bundle.getNumKeys(); ++i) {
        const u64 bytes = keyBytes(*keyOf(bundle, i));
        total += bytes;
        largest = std::max(largest, bytes);
    }
}

} // namespace

TEST(KeyGeneratorBundlesTest, IncreaseNSKeys) {
    const KeyGenerator kg(chain(6));
    for (auto [a, b] : {std::pair<u64, u64>{2, 4}, {2, 2}}) {
        SCOPED_TRACE(std::to_string(a) + " to " + std::to_string(b));
        const auto from = keyOver<MSRLWEKey>(chain(6, 1, a), 1);
        const auto to = keyOver<MSRLWEKey>(chain(6, 1, b), 2);
        expectIncreaseNS(kg.genIncreaseNSKeyBundle(from, to), from, to);
    }
}

TEST(KeyGeneratorBundlesTest, MStoSSAndSStoMSKeys) {
    const KeyGenerator kg(chain(6));
    const auto ms = keyOver<MSRLWEKey>(chain(6, 1, 2), 3);
    const auto ss = keyOver<RLWEKey>(chain(6), 4);
    expectMStoSS(kg.genMStoSSKeyBundle(ms, ss), ms, ss);
    expectSStoMS(kg.genSStoMSKeyBundle(ss, ms), ss, ms);
}

TEST(KeyGeneratorBundlesTest, ModPackFromModuleKeys) {
    const auto g = chain(8);
    const KeyGenerator kg(g);
    const u64 n = 256;
    // Rank 4 at degree 64.
    const auto in = keyOver<MLWEKey>(chain(6, 4), 5);
    const int *c = in.getCoefficients();

    // To RLWE: coefficient j of input polynomial k on exponent 4j.
    const auto rlwe = keyOver<RLWEKey>(g, 6);
    expectKeys(kg.genModPackKeyBundle(in, rlwe), 4, 'p', g, [&](u64 k, EvaluationKey &key) {
        Coefficients s(n, 0);
        for (u64 j = 0; j < 64; ++j)
            s[4 * j] = c[k * 64 + j];
        expectDistinctErrors(expectSwitchingKeyIdentity(g, key, s, secretCoefficients(rlwe)));
    });

    // To MLWE of rank 2 at degree 128: input polynomials 2k and 2k + 1, at
    // exponents 4j and 4j + 1.
    const auto out = keyOver<MLWEKey>(chain(7, 2), 7);
    const Coefficients target = interleaved(out.getContext(), out.getCoefficients(), n);
    expectKeys(kg.genModPackKeyBundle(in, out), 2, 'p', g, [&](u64 k, EvaluationKey &key) {
        Coefficients s(n, 0);
        for (u64 i = 0; i < 2; ++i)
            for (u64 j = 0; j < 64; ++j)
                s[i + 4 * j] = c[(2 * k + i) * 64 + j];
        expectDistinctErrors(expectSwitchingKeyIdentity(g, key, s, target));
    });
}

TEST(KeyGeneratorBundlesTest, ModPackFromLWEKeys) {
    // The LWE preset SD3: dimension 32 over the chain's first four primes.
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::SD3);
    std::vector<int> lc = ternary(32, 8);
    int *lp = lc.data();
    const LWE::SecretKey in(lwe, lp);
    const auto g = chain(6);
    const KeyGenerator kg(g);
    // Output ranks 32 (n = r_out, one key) and 16 (n = 2 r_out, two keys),
    // and RLWE (32 keys): key k holds coefficients k r .. k r + r - 1 first.
    for (u64 r : {u64{32}, u64{16}}) {
        SCOPED_TRACE(r);
        const auto out = keyOver<MLWEKey>(chain(6 - static_cast<u64>(std::log2(r)), r), 9);
        const Coefficients target = interleaved(out.getContext(), out.getCoefficients(), 64);
        expectKeys(kg.genModPackKeyBundle(in, out), 32 / r, 'p', g, [&](u64 k, EvaluationKey &key) {
            Coefficients s(64, 0);
            for (u64 i = 0; i < r; ++i)
                s[i] = lc[k * r + i];
            expectDistinctErrors(expectSwitchingKeyIdentity(g, key, s, target));
        });
    }
    const auto rlwe = keyOver<RLWEKey>(g, 10);
    expectKeys(kg.genModPackKeyBundle(in, rlwe), 32, 'p', g, [&](u64 k, EvaluationKey &key) {
        Coefficients s(64, 0);
        s[0] = lc[k];
        expectSwitchingKeyIdentity(g, key, s, secretCoefficients(rlwe));
    });
}

TEST(KeyGeneratorBundlesTest, BisectionKeys) {
    const KeyGenerator kg(chain(6));
    const auto ss = keyOver<RLWEKey>(chain(6), 11);
    const std::vector<MSRLWEKey> ms = {keyOver<MSRLWEKey>(chain(6, 1, 2), 12),
                                       keyOver<MSRLWEKey>(chain(6, 1, 4), 13),
                                       keyOver<MSRLWEKey>(chain(6, 1, 8), 14)};
    for (u64 count : {1, 2, 3}) {
        SCOPED_TRACE(count);
        const std::vector<MSRLWEKey> list(ms.begin(),
                                          ms.begin() + static_cast<std::ptrdiff_t>(count));
        const SStoMSBisectionKeyBundle b = kg.genSStoMSBisectionKeyBundle(ss, list);
        EXPECT_EQ(b.getSSContext(), ss.getContext());
        for (u64 i = 0; i < count; ++i)
            EXPECT_EQ(b.getMSContext(i), list[i].getContext());
        expectSStoMS(b.getSStoMSKeyBundle(), ss, list[0]);
        ASSERT_EQ(b.getIncreaseNSKeyBundleVec().size(), count - 1);
        for (u64 i = 0; i + 1 < count; ++i)
            expectIncreaseNS(b.getIncreaseNSKeyBundle(i), list[i], list[i + 1]);
    }

    // The lists the bisection constructor refuses, the empty one included.
    for (const std::vector<MSRLWEKey> &bad :
         {std::vector<MSRLWEKey>{}, std::vector<MSRLWEKey>{ms[1], ms[2]},
          std::vector<MSRLWEKey>{ms[0], ms[1], ms[2], ms[2]}}) {
        SCOPED_TRACE(bad.size());
        expectThrowsMessage([&] { kg.genSStoMSBisectionKeyBundle(ss, bad); },
                            SStoMSBisectionKeyBundle::kContextMismatch);
        expectThrowsMessage([&] { kg.genMultiSecretSwitchKeyBundle(ss, bad); },
                            SStoMSBisectionKeyBundle::kContextMismatch);
    }
}

TEST(KeyGeneratorBundlesTest, MultiSecretSwitchKeys) {
    const KeyGenerator kg(chain(6));
    const auto ss = keyOver<RLWEKey>(chain(6), 15);
    const std::vector<MSRLWEKey> ms = {keyOver<MSRLWEKey>(chain(6, 1, 2), 16),
                                       keyOver<MSRLWEKey>(chain(6, 1, 4), 17)};
    const MultiSecretSwitchKeyBundle two = kg.genMultiSecretSwitchKeyBundle(ss, ms);
    EXPECT_EQ(two.getSSContext(), ss.getContext());
    EXPECT_EQ(two.getMSContext(), ms[1].getContext());
    expectMStoSS(two.getMStoSSKeyBundle(), ms[1], ss);
    expectSStoMS(two.getSStoMSBisectionKeyBundle().getSStoMSKeyBundle(), ss, ms[0]);
    expectIncreaseNS(two.getSStoMSBisectionKeyBundle().getIncreaseNSKeyBundle(0), ms[0], ms[1]);
    expectThrowsMessage([&] { two.getMStoSSKeyBundleComplex(); },
                        MultiSecretSwitchKeyBundle::kNoComplexBundle);

    // Four keys: the MStoSS bundle from ms2 to ss2; the 'complex' bundle
    // holds zeros unless ss's context bootstraps in coefficient form.
    const auto ss2 = keyOver<RLWEKey>(chain(6), 18);
    const auto ms2 = keyOver<MSRLWEKey>(chain(6, 1, 2), 19);
    const MultiSecretSwitchKeyBundle four = kg.genMultiSecretSwitchKeyBundle(ss, ms, ss2, ms2);
    expectMStoSS(four.getMStoSSKeyBundle(), ms2, ss2);
    expectSStoMS(four.getSStoMSBisectionKeyBundle().getSStoMSKeyBundle(), ss, ms[0]);
    const MStoSSKeyBundle &zero = four.getMStoSSKeyBundleComplex();
    ASSERT_EQ(zero.getNumKeys(), 1u);
    for (const auto *list : {&masksOf(*zero.getMStoSSKey(0)), &bodiesOf(*zero.getMStoSSKey(0))})
        for (const Polynomial &poly : *list)
            EXPECT_TRUE(allZero(poly));

    const auto coeff = withParameter(chain(6), [](Parameter &p) { p.coeff_boot = true; });
    const auto ssCoeff = keyOver<RLWEKey>(coeff, 20);
    const auto withComplex = kg.genMultiSecretSwitchKeyBundle(ssCoeff, {ms[0]}, ss2, ms2);
    expectMStoSS(withComplex.getMStoSSKeyBundleComplex(), ms[0], ssCoeff);
}

TEST(KeyGeneratorBundlesTest, ModPackMessagesInOrder) {
    const auto g = chain(8);
    const auto otherChain =
        withParameter(makeContext(6, 4, 40, 40, 40, 2), [](Parameter &p) { p.rank = 4; });
    struct Case {
        const char *name;
        std::shared_ptr<ContextContent> g, in, out;
        std::string message;
    };
    const std::vector<Case> cases = {
        // Also neither rank divides: the total dimension comes first.
        {"total dimension", g, chain(6, 4), chain(6, 3),
         KeyGeneratorMessages::kModPackTotalDimension},
        {"degree", g, chain(8, 1), chain(7, 2), KeyGeneratorMessages::kModPackDegree},
        {"rank", g, chain(6, 3), chain(7, 2), KeyGeneratorMessages::kModPackRank},
        {"prime 0", g, otherChain, chain(7, 2), kNotCompatibleAtAnyLevel},
        {"key primes", chain(8, 1, 1, 1, {0, 1}), chain(6, 4), chain(7, 2),
         KeyGeneratorMessages::kModPackKeyPrimes},
        {"output primes", g, chain(6, 4), chain(7, 2, 1, 1, {0, 1}),
         KeyGeneratorMessages::kModPackOutputPrimes},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage([&] { checkModPackKeyBundleCondition(c.g, c.in, c.out); }, c.message);
    }
    // Through the generator, before anything is made.
    const KeyGenerator kg(g);
    const auto rank3 = keyOver<MLWEKey>(chain(6, 3), 1);
    const auto rank2 = keyOver<MLWEKey>(chain(7, 2), 2);
    {
        const CountingScope scope;
        expectThrowsMessage([&] { kg.genModPackKeyBundle(rank3, rank2); },
                            KeyGeneratorMessages::kModPackRank);
        EXPECT_EQ(scope.counts().total, 0u);
    }

    // The LWE form: the dimension 32 in place of the input rank, no degree
    // check.
    const auto lwe = LWE::makeContext(LWE::ParameterPreset::SD3);
    expectThrowsMessage([&] { checkModPackKeyBundleCondition(g, lwe, chain(6, 3)); },
                        KeyGeneratorMessages::kModPackTotalDimension);
    expectThrowsMessage([&] { checkModPackKeyBundleCondition(g, lwe, chain(2, 64)); },
                        KeyGeneratorMessages::kModPackRank);
    expectThrowsMessage(
        [&] {
            checkModPackKeyBundleCondition(chain(8, 1, 1, 1, {0, 1}), lwe, chain(8));
        },
        KeyGeneratorMessages::kModPackKeyPrimes);
    EXPECT_NO_THROW(checkModPackKeyBundleCondition(g, lwe, chain(7, 2)));
}

TEST(KeyGeneratorBundlesTest, SecretSwitchMessages) {
    const KeyGenerator kg(chain(6));
    const auto otherPrimes = makeContext(6, 4, 40, 40, 40, 2);
    // Degrees first, then every prime of the first chain.
    expectThrowsMessage([&] { checkMultiSecretSwitchKeyCondition(chain(6), chain(7, 1, 2)); },
                        KeyGeneratorMessages::kMultiSecretSwitchDegree);
    expectThrowsMessage([&] { checkMultiSecretSwitchKeyCondition(chain(6), otherPrimes); },
                        KeyGeneratorMessages::kMultiSecretSwitchPrimes);
    expectThrowsMessage(
        [&] {
            checkMultiSecretSwitchKeyCondition(chain(6), chain(6, 1, 2, 2, {0, 1}));
        },
        KeyGeneratorMessages::kMultiSecretSwitchPrimes);
    EXPECT_NO_THROW(checkMultiSecretSwitchKeyCondition(chain(6), chain(6, 1, 4)));

    // Every key is made first: a refusal allocates nothing.
    const auto ms = [](u64 logN, u64 secrets, u64 gadget = 2) {
        return keyOver<MSRLWEKey>(chain(logN, 1, secrets, gadget), 30);
    };
    const auto ss = [](u64 logN, u64 gadget = 2) {
        return keyOver<RLWEKey>(chain(logN, 1, 1, gadget), 31);
    };
    const auto ms62 = ms(6, 2), ms64 = ms(6, 4), ms66 = ms(6, 6), ms641 = ms(6, 4, 1);
    const auto ms72 = ms(7, 2), ms74 = ms(7, 4);
    const auto ss6 = ss(6), ss61 = ss(6, 1), ss7 = ss(7);
    const std::vector<MSRLWEKey> list62 = {ms62};
    const auto msOther = keyOver<MSRLWEKey>(genMultiSecretContext(otherPrimes, "NS2", 2), 32);
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { kg.genIncreaseNSKeyBundle(ms62, ms74); }, KeyGeneratorMessages::kIncreaseNSDegree},
        {[&] { kg.genIncreaseNSKeyBundle(ms64, ms66); }, KeyGeneratorMessages::kIncreaseNSDivide},
        {[&] { kg.genIncreaseNSKeyBundle(ms64, ms62); }, KeyGeneratorMessages::kIncreaseNSDivide},
        {[&] { kg.genIncreaseNSKeyBundle(ms62, msOther); }, KeyGeneratorMessages::kIncreaseNSChain},
        {[&] { kg.genIncreaseNSKeyBundle(ms62, ms641); },
         KeyGeneratorMessages::kIncreaseNSGadgetRank},
        {[&] { kg.genMStoSSKeyBundle(ms72, ss6); }, KeyGeneratorMessages::kMStoSSDegree},
        {[&] { kg.genMStoSSKeyBundle(msOther, ss6); },
         KeyGeneratorMessages::kMultiSecretSwitchPrimes},
        {[&] { kg.genMStoSSKeyBundle(ms62, ss61); }, KeyGeneratorMessages::kMStoSSGadgetRank},
        {[&] { kg.genSStoMSKeyBundle(ss6, ms72); }, KeyGeneratorMessages::kSStoMSDegree},
        {[&] { kg.genSStoMSKeyBundle(ss6, msOther); },
         KeyGeneratorMessages::kMultiSecretSwitchPrimes},
        {[&] { kg.genSStoMSKeyBundle(ss61, ms62); }, KeyGeneratorMessages::kSStoMSGadgetRank},
        // The pair checks of the multi-secret switch bundle come first.
        {[&] { kg.genMultiSecretSwitchKeyBundle(ss7, list62); },
         KeyGeneratorMessages::kMultiSecretSwitchDegree},
        {[&] { kg.genMultiSecretSwitchKeyBundle(ss6, list62, ss6, ms72); },
         KeyGeneratorMessages::kMultiSecretSwitchDegree},
        // A step of the bisection that the generator's tables cannot serve.
        {[&] {
             kg.genSStoMSBisectionKeyBundle(ss6, {ms62, ms641});
         },
         KeyGeneratorMessages::kIncreaseNSGadgetRank},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const CountingScope scope;
        expectThrowsMessage(cases[i].first, cases[i].second);
        EXPECT_EQ(scope.counts().total, 0u);
    }
}

TEST(KeyGeneratorBundlesTest, MultiSecretSwitchAllocatesItsKeysOnce) {
    const KeyGenerator kg(chain(6));
    const auto ss = keyOver<RLWEKey>(chain(6), 40);
    const std::vector<MSRLWEKey> ms = {keyOver<MSRLWEKey>(chain(6, 1, 2), 41),
                                       keyOver<MSRLWEKey>(chain(6, 1, 4), 42)};
    std::optional<MultiSecretSwitchKeyBundle> bundle;
    CountingResource counts;
    {
        const CountingScope scope;
        bundle.emplace(kg.genMultiSecretSwitchKeyBundle(ss, ms));
        counts = scope.counts();
    }

    u64 result = 0, largest = 0;
    addKeys(bundle->getMStoSSKeyBundle(), result, largest);
    const auto &bisection = bundle->getSStoMSBisectionKeyBundle();
    addKeys(bisection.getSStoMSKeyBundle(), result, largest);
    addKeys(bisection.getIncreaseNSKeyBundle(0), result, largest);
    // What stays is the result; at no time more than the result and one key
    // were held, and the keys were made once (the temporaries of all keys
    // together stay below the result).
    EXPECT_EQ(counts.live, result);
    EXPECT_LE(counts.peak, result + largest);
    EXPECT_LT(counts.total, 2 * result);
}
