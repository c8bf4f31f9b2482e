// The multi-secret and batch bootstrap roads at degree 64: every check of
// every entry point in order (the facade leaves the caller's output lists as
// they were after every throw), then the results: bootstrapMStoSS of 2 and 4
// secrets (and its hoisted form) and batch bootstraps of 2, 4, 8 and 16
// ciphertexts decrypt to their messages within a bit of the single-secret
// bootstrap's precision.

#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/ScaleFactors.hpp"
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/MultiSecretTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Impl = BootstrapperImpl;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using Ciphertexts = std::vector<RingCiphertext>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;
using Change = std::function<void(Parameter &)>;

constexpr u64 kLogSlots = 5; // FX: degree 64, 32 slots
constexpr u64 kLevel = 12;   // FX's encryption level

// The single-secret side: FX, one key, an evaluator with its keys and the
// Interpolator over it.
struct SingleSecret {
    SingleSecret() : keys(fxContext()), pack(fxContext()) {
        const KeyGenerator generator(fxContext(), keys.key, pack);
        generator.genMultKey();
        generator.genConjKey();
        eval = std::make_unique<HomEvaluator>(fxContext(), pack);
        interp = std::make_unique<Interpolator>(*eval);
    }
    RingCiphertext encrypt(u64 level) const {
        std::mt19937_64 rng(level);
        return keys.encrypt(randomMessages(kLogSlots, 1, rng), level);
    }
    SchemeKeys<EncryptionType::RLWE> keys;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
    std::unique_ptr<Interpolator> interp;
};

const SingleSecret &single() {
    static const SingleSecret s;
    return s;
}

// An FX-shaped multi-secret context of `secrets` secrets (FX's flags, made by
// the multi-secret context constructor), with `change` applied to its
// parameter record when given: the flags no small preset has.
std::shared_ptr<ContextContent> fxSecrets(u64 secrets, const Change &change) {
    const auto ctx =
        makeContext(ParameterPreset::FX, "FXNS" + std::to_string(secrets), secrets, false, false);
    return change ? withParameter(ctx, change) : ctx;
}

// The multi-secret side: the contexts of 2, 4, ..., `secrets` secrets (all
// with `change`), a key over each, the bootstrapper over the last with its
// rotation and conjugation keys, the switch bundle from FX and a ciphertext.
struct MultiSecret {
    MultiSecret(u64 secrets, const Change &change) {
        for (u64 k = 2; k <= secrets; k *= 2) {
            contexts.push_back(fxSecrets(k, change));
            keys.emplace_back(contexts.back());
        }
        if (contexts.empty() || getNumSecret(contexts.back()) != secrets) {
            // A count that is not a power of two: one context, one key.
            contexts = {fxSecrets(secrets, change)};
            keys = {MSRLWEKey(contexts.back())};
        }
        const auto &ctx = contexts.back();
        pack = std::make_unique<KeyPack>(ctx);
        const KeyGenerator generator(ctx, keys.back(), *pack);
        generator.genConjKey();
        generator.genRotKeyBundle();
        generator.genRotKeysForBootstrap(kLogSlots, false);
        eval = std::make_unique<HomEvaluator>(ctx, *pack);
        boot = std::make_unique<Bootstrapper>(*eval, false);
        if ((secrets & (secrets - 1)) == 0)
            bundle = std::make_unique<MultiSecretSwitchKeyBundle>(
                KeyGenerator(fxContext()).genMultiSecretSwitchKeyBundle(single().keys.key, keys));
        SchemeKeys<EncryptionType::MSRLWE> scheme(ctx);
        scheme.key = keys.back();
        std::mt19937_64 rng(secrets);
        ct = std::make_unique<MsCiphertext>(
            scheme.encrypt(randomMessages(kLogSlots, secrets, rng), kLevel));
    }
    std::vector<std::shared_ptr<ContextContent>> contexts;
    std::vector<MSRLWEKey> keys;
    std::unique_ptr<KeyPack> pack;
    std::unique_ptr<HomEvaluator> eval;
    std::unique_ptr<Bootstrapper> boot;
    std::unique_ptr<MultiSecretSwitchKeyBundle> bundle;
    std::unique_ptr<MsCiphertext> ct;
};

// One setup per (secret count, flag), made once.
const MultiSecret &setup(u64 secrets, const std::string &flag = "") {
    static std::map<std::string, std::unique_ptr<MultiSecret>> setups;
    const std::string key = std::to_string(secrets) + flag;
    auto it = setups.find(key);
    if (it != setups.end())
        return *it->second;
    Change change;
    if (flag == "T")
        change = [](Parameter &p) { p.batch_bootstrap = true; };
    else if (flag == "TC")
        change = [](Parameter &p) {
            p.batch_bootstrap = true;
            p.coeff_boot = true;
        };
    else if (flag == "TM")
        change = [](Parameter &p) {
            p.batch_bootstrap = true;
            p.small_parameter = true;
        };
    else if (flag == "TR")
        change = [](Parameter &p) {
            p.batch_bootstrap = true;
            p.re_remove_i = true;
        };
    else if (flag == "C")
        change = [](Parameter &p) { p.coeff_boot = true; };
    else if (flag == "H")
        change = [](Parameter &p) { p.double_hoisting = true; };
    return *setups.emplace(key, std::make_unique<MultiSecret>(secrets, change)).first->second;
}

// n FX ciphertexts at `level`; coefficient-encoded ones in coefficient form.
Ciphertexts batch(u64 n, u64 level = kLevel, bool coefficients = false) {
    Ciphertexts out;
    for (u64 i = 0; i < n; ++i) {
        RingCiphertext ct = single().encrypt(level);
        if (coefficients) {
            ct.setEncodingType(EncodingType::COEFFICIENT);
            ct.backwardNTT();
        }
        out.push_back(ct);
    }
    return out;
}

// The caller's output lists.
struct Lists {
    Ciphertexts out, re, im;
};

enum class Shape {
    Filled, // one ciphertext in each list (a wrong length for two results)
    Empty,
    Mixed // two in the real list, the imaginary list empty
};

Lists listsOf(Shape shape) {
    const RingCiphertext ct = single().encrypt(3);
    switch (shape) {
    case Shape::Filled:
        return {{ct}, {ct}, {ct}};
    case Shape::Mixed:
        return {{ct}, {ct, ct}, {}};
    case Shape::Empty:
        break;
    }
    return {};
}

void expectSameLists(const Ciphertexts &got, const Ciphertexts &want) {
    ASSERT_EQ(got.size(), want.size());
    for (u64 i = 0; i < got.size(); ++i)
        EXPECT_EQ(ciphertextWords(got[i]), ciphertextWords(want[i]));
}

struct Row {
    std::string name;
    std::function<void(Lists &)> call;
    std::string message;
    Shape shape = Shape::Filled; // the output lists the call is given
};

void runRows(const std::vector<Row> &rows) {
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Lists before = listsOf(row.shape);
        Lists lists = before;
        expectThrowsMessage([&] { row.call(lists); }, row.message);
        expectSameLists(lists.out, before.out);
        expectSameLists(lists.re, before.re);
        expectSameLists(lists.im, before.im);
    }
}

const Interpolator &interp() { return *single().interp; }

// The state of the fast removeI road at degree 64: FX's double-degree and
// conjugate-invariant variants and empty ring-switch keys (nothing about
// them is read before the first multi-secret key switch).
struct FastRemoveIState {
    std::shared_ptr<ContextContent> embed =
        makeContext(ParameterPreset::FX, "FXembed", 1, false, true);
    std::shared_ptr<ContextContent> real =
        makeContext(ParameterPreset::FX, "FXreal", 1, true, false);
    RingSwitchKey key{embed};
    RingSwitchKey key_back{embed};
};

const FastRemoveIState &fastRemoveI() {
    static const FastRemoveIState state;
    return state;
}

// A new bootstrapper of the setup with the multi-secret fast-removeI state
// (which also sets the output evaluator: FX's).
std::unique_ptr<Bootstrapper> enabled(const MultiSecret &s) {
    auto boot = std::make_unique<Bootstrapper>(*s.eval, false);
    const FastRemoveIState &f = fastRemoveI();
    boot->enableFastRemoveIMSRLWE(f.embed, fxContext(), f.real, f.key, f.key_back, interp(),
                                  *single().eval);
    return boot;
}

// ---- MStoSS ------------------------------------------------------------------------------

TEST(BootstrapMultiSecretTest, MStoSSChecksInOrder) {
    const MultiSecret &two = setup(2);
    const MultiSecret &coeff = setup(2, "C");
    const MultiSecret &reRemove = setup(2, "TR");
    const MStoSSKeyBundle &keys = two.bundle->getMStoSSKeyBundle();
    const auto withOutput = enabled(two);
    const auto reEnabled = enabled(reRemove);
    // The single-secret enable operation leaves the complex evaluator unset.
    Bootstrapper ringOnly(*reRemove.eval, false);
    const FastRemoveIState &f = fastRemoveI();
    ringOnly.enableFastRemoveI(f.embed, f.real, f.key, f.key_back, interp());
    runRows({
        {"coefficient bootstrapping refused before any work",
         [&](Lists &l) { coeff.boot->bootstrapMStoSS(*coeff.ct, keys, interp(), l.out); },
         Impl::kMStoSSCoeffBootMessage},
        {"re-remove-I without the fast-removeI state",
         [&](Lists &l) { reRemove.boot->bootstrapMStoSS(*reRemove.ct, keys, interp(), l.out); },
         Impl::kNoFastRemoveIStateMessage},
        {"two outputs, coefficient bootstrapping",
         [&](Lists &l) { coeff.boot->bootstrapMStoSS(*coeff.ct, keys, interp(), l.re, l.im); },
         Impl::kNoMultiSecretOutputEvaluatorMessage, Shape::Empty},
        {"two outputs, wrong length before the evaluator",
         [&](Lists &l) { two.boot->bootstrapMStoSS(*two.ct, keys, interp(), l.re, l.im); },
         Impl::kAllocatedCountMessage},
        {"two outputs, empty lists, no output evaluator",
         [&](Lists &l) { two.boot->bootstrapMStoSS(*two.ct, keys, interp(), l.re, l.im); },
         Impl::kNoMultiSecretOutputEvaluatorMessage, Shape::Empty},
        {"two outputs, one list filled to the length, no output evaluator",
         [&](Lists &l) { two.boot->bootstrapMStoSS(*two.ct, keys, interp(), l.re, l.im); },
         Impl::kNoMultiSecretOutputEvaluatorMessage, Shape::Mixed},
        {"re-remove-I without the complex evaluator",
         [&](Lists &l) { ringOnly.bootstrapMStoSS(*reRemove.ct, keys, interp(), l.out); },
         Impl::kNoComplexEvaluatorMessage},
        {"two outputs, wrong length with the output evaluator",
         [&](Lists &l) { withOutput->bootstrapMStoSS(*two.ct, keys, interp(), l.re, l.im); },
         Impl::kAllocatedCountMessage},
        {"hoisted form without double hoisting",
         [&](Lists &l) { two.boot->bootstrapMStoSSOptimized(*two.ct, keys, interp(), l.out); },
         Impl::kNoDoubleHoistingMessage},
    });
}

// ---- Batches -------------------------------------------------------------------------------

TEST(BootstrapMultiSecretTest, BatchChecksInOrder) {
    const MultiSecret &plain = setup(2);
    const MultiSecret &two = setup(2, "T");
    const MultiSecret &three = setup(3, "T");
    const MultiSecret &small = setup(2, "TM");
    const MultiSecret &reRemove = setup(2, "TR");
    const MultiSecretSwitchKeyBundle &bundle = *two.bundle;
    const Ciphertexts pair = batch(2);
    Ciphertexts lowSecond = pair;
    lowSecond[1] = single().encrypt(2);
    Ciphertexts counter = pair;
    counter[0] = ciphertextAt(fxContext(), kLevel, 1);
    const Ciphertexts coefficients = batch(2, 3, true);
    const Ciphertexts mixed{pair[0], coefficients[1]};
    const Ciphertexts mixedBack{coefficients[0], pair[1]};

    // Conjugate-invariant results go to the context enableConjInvOutput set.
    Bootstrapper conjInv(*two.eval, false);
    conjInv.enableConjInvOutput(fastRemoveI().real);
    const Bootstrapper &fresh = *two.boot;
    const auto withOutput = enabled(two);
    const auto reEnabled = enabled(reRemove);

    runRows({
        {"empty list",
         [&](Lists &l) { two.boot->batchBootstrap({}, bundle, interp(), l.out, false); },
         Impl::kEmptyBatchMessage},
        {"level before the batch flag",
         [&](Lists &l) { plain.boot->batchBootstrap(batch(2, 2), bundle, interp(), l.out, false); },
         Impl::kBatchLevelMessage},
        {"no batch bootstrap",
         [&](Lists &l) { plain.boot->batchBootstrap(pair, bundle, interp(), l.out, false); },
         Impl::kNoBatchBootstrapMessage},
        {"small parameter without outsourcing",
         [&](Lists &l) { small.boot->batchBootstrap(pair, bundle, interp(), l.out, false); },
         Impl::kSmallNotOutsourcedMessage},
        {"rescale counter",
         [&](Lists &l) { two.boot->batchBootstrap(counter, bundle, interp(), l.out, false); },
         Impl::kCounterMessage},
        {"every input is checked",
         [&](Lists &l) { two.boot->batchBootstrap(lowSecond, bundle, interp(), l.out, false); },
         Impl::kBatchLevelMessage},
        {"three secrets",
         [&](Lists &l) { three.boot->batchBootstrap(batch(3), bundle, interp(), l.out, false); },
         Impl::kBatchNumberMessage},
        {"slot and coefficient encodings in one batch",
         [&](Lists &l) { two.boot->batchBootstrap(mixed, bundle, interp(), l.out, false); },
         Impl::kBatchEncodingsMessage},
        {"coefficient and slot encodings in one batch",
         [&](Lists &l) { two.boot->batchBootstrap(mixedBack, bundle, interp(), l.out, false); },
         Impl::kBatchEncodingsMessage},
        {"re-remove-I without the output evaluator",
         [&](Lists &l) { reRemove.boot->batchBootstrap(pair, bundle, interp(), l.out, false); },
         Impl::kNoMultiSecretOutputEvaluatorMessage},
        {"conjugate-invariant output before enableConjInvOutput",
         [&](Lists &l) { fresh.batchBootstrap(pair, bundle, interp(), l.out, true); },
         Impl::kNoConjInvOutputMessage},
        {"two outputs, empty list first",
         [&](Lists &l) { two.boot->batchBootstrap({}, bundle, interp(), l.re, l.im); },
         Impl::kEmptyBatchMessage},
        {"two outputs, wrong length",
         [&](Lists &l) { two.boot->batchBootstrap(pair, bundle, interp(), l.re, l.im); },
         Impl::kAllocatedCountMessage},
        {"two outputs, no output evaluator",
         [&](Lists &l) { two.boot->batchBootstrap(pair, bundle, interp(), l.re, l.im); },
         Impl::kNoMultiSecretOutputEvaluatorMessage, Shape::Empty},
        {"two outputs, wrong length with the output evaluator",
         [&](Lists &l) { withOutput->batchBootstrap(pair, bundle, interp(), l.re, l.im); },
         Impl::kAllocatedCountMessage},
        {"extended, empty list",
         [&](Lists &l) { two.boot->batchBootstrapExtended({}, bundle, interp(), l.out); },
         Impl::kEmptyBatchMessage},
        {"extended, level of the first input",
         [&](Lists &l) { two.boot->batchBootstrapExtended(batch(2, 3), bundle, interp(), l.out); },
         Impl::kExtendedLevelMessage},
        {"extended, no output evaluator",
         [&](Lists &l) { two.boot->batchBootstrapExtended(pair, bundle, interp(), l.out); },
         Impl::kNoMultiSecretOutputEvaluatorMessage},
        {"extended two outputs, empty list",
         [&](Lists &l) { two.boot->batchBootstrapExtended({}, bundle, interp(), l.re, l.im); },
         Impl::kEmptyBatchMessage},
        {"extended two outputs, wrong length",
         [&](Lists &l) { two.boot->batchBootstrapExtended(pair, bundle, interp(), l.re, l.im); },
         Impl::kAllocatedCountMessage},
        {"extended two outputs, no output evaluator",
         [&](Lists &l) { two.boot->batchBootstrapExtended(pair, bundle, interp(), l.re, l.im); },
         Impl::kNoMultiSecretOutputEvaluatorMessage, Shape::Empty},
    });
}

// The internal forms: the extended half form and the back half's checks of
// the fast-removeI state.
TEST(BootstrapMultiSecretTest, InternalForms) {
    const MultiSecret &two = setup(2, "T");
    const MultiSecret &reRemove = setup(2, "TR");
    const Impl impl(*two.eval, false, std::nullopt);
    const Impl reImpl(*reRemove.eval, false, std::nullopt);
    expectThrowsMessage(
        [&] { impl.getMultiSecret().batchBootstrapExtendedMultHalf({}, *two.bundle, interp()); },
        Impl::kEmptyBatchMessage);
    expectThrowsMessage(
        [&] {
            impl.getMultiSecret().batchBootstrapExtendedMultHalf(batch(2), *two.bundle, interp());
        },
        Impl::kNoMultiSecretOutputEvaluatorMessage);
    Impl withOutput(*two.eval, false, std::nullopt);
    const FastRemoveIState &f = fastRemoveI();
    withOutput.enableFastRemoveIMSRLWE(f.embed, fxContext(), f.real, f.key, f.key_back, interp(),
                                       *single().eval);
    // The back half checks the fast-removeI state before SlotToCoeff.
    expectThrowsMessage(
        [&] {
            reImpl.getMultiSecret().bootstrapMStoSSStepTwo(
                *reRemove.ct, two.bundle->getMStoSSKeyBundle(), interp(), fxContext(), 1.0, true);
        },
        Impl::kNoFastRemoveIStateMessage);
}

// ---- Results -----------------------------------------------------------------------------

// The precision in bits of the single-secret bootstrap of `m` (encrypted at
// level 3) on FX: the road the multi-secret ones are measured against.
Precision singleSecretBits(const Message &m) {
    RingCiphertext low(fxContext(), false, true);
    Encryptor(fxContext()).encrypt(m, fxBootKeys().secret_key, low, 3, 0);
    static const Bootstrapper boot(fxBootEval(), false);
    RingCiphertext out(fxContext(), false, true);
    boot.bootstrap(low, out, true);
    Message got;
    Decryptor(fxContext()).decrypt(out, fxBootKeys().secret_key, got);
    return precisionBits(got, m);
}

Message decryptSingle(const RingCiphertext &ct) {
    Message got;
    Decryptor(fxContext()).decrypt(ct, single().keys.key, got);
    return got;
}

// Every result against its message and against the single-secret road of the
// same message: the mean precision at most one bit lower, the minimum above
// 20 bits.
void expectRefreshed(const Ciphertexts &outs, const std::vector<Message> &messages,
                     const std::string &what) {
    ASSERT_EQ(outs.size(), messages.size());
    double worst_mean = std::numeric_limits<double>::infinity(), worst_min = worst_mean;
    double reference = 0.0;
    for (u64 i = 0; i < outs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outs[i].getContext(), fxContext());
        EXPECT_EQ(outs[i].getLevel(), kLevel);
        const Precision got = precisionBits(decryptSingle(outs[i]), messages[i]);
        const Precision want = singleSecretBits(messages[i]);
        EXPECT_GE(got.mean, want.mean - 1.0);
        EXPECT_GT(got.min, 20.0);
        worst_mean = std::min(worst_mean, got.mean);
        worst_min = std::min(worst_min, got.min);
        reference = std::max(reference, want.mean);
    }
    std::cout << "[ FX ] " << what << ": mean " << worst_mean << " bits, min " << worst_min
              << " bits (single-secret mean up to " << reference << " bits)\n";
}

std::vector<Message> bootMessages(u64 count, u64 seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<Message> out;
    for (u64 i = 0; i < count; ++i) {
        Message m(kLogSlots);
        for (auto &slot : m)
            slot = {dist(rng), dist(rng)};
        out.push_back(std::move(m));
    }
    return out;
}

TEST(BootstrapMultiSecretTest, MStoSSRefreshesEverySecret) {
    for (u64 secrets : {u64{2}, u64{4}}) {
        SCOPED_TRACE(secrets);
        const MultiSecret &s = setup(secrets);
        SchemeKeys<EncryptionType::MSRLWE> scheme(s.contexts.back());
        scheme.key = s.keys.back();
        const std::vector<Message> m = bootMessages(secrets, 40 + secrets);
        const MsCiphertext low = scheme.encrypt(m, 3);
        Ciphertexts outs;
        s.boot->bootstrapMStoSS(low, s.bundle->getMStoSSKeyBundle(), interp(), outs);
        expectRefreshed(outs, m, "bootstrapMStoSS of " + std::to_string(secrets) + " secrets");
    }
    // The hoisted road on a double-hoisting parameter.
    const MultiSecret &hoist = setup(2, "H");
    SchemeKeys<EncryptionType::MSRLWE> scheme(hoist.contexts.back());
    scheme.key = hoist.keys.back();
    const std::vector<Message> m = bootMessages(2, 50);
    Ciphertexts outs;
    hoist.boot->bootstrapMStoSSOptimized(scheme.encrypt(m, 3), hoist.bundle->getMStoSSKeyBundle(),
                                         interp(), outs);
    expectRefreshed(outs, m, "bootstrapMStoSSOptimized of 2 secrets");
}

TEST(BootstrapMultiSecretTest, BatchBootstrapRefreshesEveryInput) {
    for (u64 n : {u64{2}, u64{4}, u64{8}, u64{16}}) {
        SCOPED_TRACE(n);
        const MultiSecret &s = setup(n, "T");
        const std::vector<Message> m = bootMessages(n, 60 + n);
        Ciphertexts in;
        for (const Message &x : m) {
            in.push_back(single().keys.encrypt({x}, 3));
        }
        Ciphertexts outs;
        s.boot->batchBootstrap(in, *s.bundle, interp(), outs, false);
        expectRefreshed(outs, m, "batchBootstrap of " + std::to_string(n));
    }
}

// Fewer inputs than secrets, an odd count among them: one result per input,
// each its own message (the packing carries no body past the last input).
TEST(BootstrapMultiSecretTest, BatchBootstrapOfFewerInputsThanSecrets) {
    const struct { u64 inputs, secrets; } rows[] = {{3, 4}, {5, 8}};
    for (const auto &row : rows) {
        const std::string what = "batchBootstrap of " + std::to_string(row.inputs) + " into " +
                                 std::to_string(row.secrets) + " secrets";
        SCOPED_TRACE(what);
        const MultiSecret &s = setup(row.secrets, "T");
        const std::vector<Message> m = bootMessages(row.inputs, 80 + row.inputs);
        Ciphertexts in;
        for (const Message &x : m)
            in.push_back(single().keys.encrypt({x}, 3));
        Ciphertexts outs;
        s.boot->batchBootstrap(in, *s.bundle, interp(), outs, false);
        expectRefreshed(outs, m, what);
    }
}

// The extended batch bootstrap in its three forms, on a bootstrapper whose
// output evaluator comes from the multi-secret fast-removeI state (its
// ring-switch keys empty: the road of a context without re-remove-I never
// reads them). Each result is compared with what it should carry: the
// messages, half of them (the internal half form), and their real and
// imaginary parts; the two passes must gain bits over a single batch
// bootstrap.
TEST(BootstrapMultiSecretTest, BatchBootstrapExtendedForms) {
    const MultiSecret &two = setup(2, "T");
    const auto boot = enabled(two);
    Impl impl(*two.eval, false, std::nullopt);
    const FastRemoveIState &f = fastRemoveI();
    impl.enableFastRemoveIMSRLWE(f.embed, fxContext(), f.real, f.key, f.key_back, interp(),
                                 *single().eval);
    const std::vector<Message> m = bootMessages(2, 90);
    Ciphertexts in;
    for (const Message &x : m)
        in.push_back(single().keys.encrypt({x}, kLevel));

    // The messages times `factor`, or their real or imaginary parts.
    enum class Part { All, Re, Im };
    const auto expected = [&](u64 i, double factor, Part part) {
        Message want = m[i];
        for (auto &slot : want) {
            if (part == Part::Re)
                slot = {slot.real(), 0.0};
            else if (part == Part::Im)
                slot = {slot.imag(), 0.0};
            slot *= factor;
        }
        return want;
    };
    Ciphertexts single_pass;
    boot->batchBootstrap(in, *two.bundle, interp(), single_pass, false);
    double single_bits = 0.0;
    for (u64 i = 0; i < 2; ++i)
        single_bits =
            std::max(single_bits, precisionBits(decryptSingle(single_pass[i]), m[i]).mean);

    Ciphertexts one, re, im;
    boot->batchBootstrapExtended(in, *two.bundle, interp(), one);
    boot->batchBootstrapExtended(in, *two.bundle, interp(), re, im);
    const Ciphertexts half =
        impl.getMultiSecret().batchBootstrapExtendedMultHalf(in, *two.bundle, interp());
    const struct {
        const char *name;
        const Ciphertexts *outs;
        double factor;
        Part part;
    } rows[] = {
        {"one output", &one, 1.0, Part::All},
        {"half form", &half, 0.5, Part::All},
        {"real parts", &re, 1.0, Part::Re},
        {"imaginary parts", &im, 1.0, Part::Im},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(row.outs->size(), 2u);
        for (u64 i = 0; i < 2; ++i) {
            const Precision got =
                precisionBits(decryptSingle((*row.outs)[i]), expected(i, row.factor, row.part));
            EXPECT_GE(got.mean, single_bits + 3.0) << i;
            EXPECT_GT(got.min, 24.0) << i;
            std::cout << "[ FX ] batchBootstrapExtended, " << row.name << " " << i << ": mean "
                      << got.mean << " bits, min " << got.min << " bits (one pass " << single_bits
                      << ")\n";
        }
    }
}

// A degree-64 copy of FTxCOEFF (coefficient bootstrapping and the batch flag)
// with `secrets` secrets: the preset's chain, levels and bootstrapping
// settings, the sparse-secret raise switched off (the ordinary raise serves
// at this degree). FX with the coefficient flag is no such parameter: its
// settings are not made for it, and the single-secret road fails on it too.
std::shared_ptr<ContextContent> coefficientMirror(u64 secrets) {
    const ParameterPreset preset = ParameterPreset::FTxCOEFF;
    Parameter p = secrets > 1 ? Parameter(preset, "FTxCOEFFNS" + std::to_string(secrets), secrets,
                                          false, false)
                              : Parameter(preset);
    p.log_degree = 6;
    p.degree = u64{1} << p.log_degree;
    p.num_slots = p.degree / 2;
    p.hamming_weight = 8;
    p.fuse_mod_raise = false;
    p.sparse_secret_encapsulation = false;
    const PrimeModuli chain(preset, p.chain_length + p.num_tp, p.degree, {}, false, false);
    return std::make_shared<ContextContent>(p, chain.getModuli(), ScaleFactors(preset),
                                            std::set<Device>{});
}

// The coefficient batch road: two ciphertexts bootstrapped together come out
// as the single-secret coefficient bootstrap leaves each (slot-encoded, at
// the encryption level, the same precision; low at this degree, as the
// settings are sized for 2^15).
TEST(BootstrapMultiSecretTest, CoefficientBatchBootstrapMatchesTheSingleSecretRoad) {
    const auto ss = coefficientMirror(1);
    const auto ms = coefficientMirror(2);
    const SecretKeyBase<EncryptionType::RLWE> sk(ss);
    KeyPack pack(ss);
    const MSRLWEKey msk(ms);
    KeyPack ms_pack(ms);
    // Rotation and conjugation keys on both sides, the multiplication key
    // for the single-secret reduction.
    const KeyGenerator generator(ss, sk, pack);
    const KeyGenerator ms_generator(ms, msk, ms_pack);
    generator.genMultKey();
    for (const KeyGenerator *g : {&generator, &ms_generator}) {
        g->genConjKey();
        g->genRotKeyBundle();
        g->genRotKeysForBootstrap(kLogSlots, false);
    }
    const HomEvaluator eval(ss, pack);
    const Interpolator interpolator(eval);
    const Bootstrapper single_boot(eval, false);
    const HomEvaluator ms_eval(ms, ms_pack);
    const Bootstrapper batch_boot(ms_eval, false);
    const MultiSecretSwitchKeyBundle bundle =
        KeyGenerator(ss).genMultiSecretSwitchKeyBundle(sk, std::vector<MSRLWEKey>{msk});

    const std::vector<Message> m = bootMessages(2, 77);
    Ciphertexts in;
    std::vector<Precision> single;
    for (const Message &x : m) {
        RingCiphertext ct(ss, false, true);
        Encryptor(ss).encrypt(x, sk, ct, 0, 0);
        in.push_back(ct);
        RingCiphertext out(ss, false, true);
        single_boot.bootstrap(ct, out, true);
        Message got;
        Decryptor(ss).decrypt(out, sk, got);
        single.push_back(precisionBits(got, x));
    }
    Ciphertexts outs;
    batch_boot.batchBootstrap(in, bundle, interpolator, outs, false);
    ASSERT_EQ(outs.size(), 2u);
    for (u64 i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outs[i].getEncodingType(), EncodingType::SLOT);
        EXPECT_EQ(outs[i].getLevel(), getEncryptionLevel(ss));
        Message got;
        Decryptor(ss).decrypt(outs[i], sk, got);
        const Precision p = precisionBits(got, m[i]);
        EXPECT_GE(p.mean, single[i].mean - 1.0);
        EXPECT_GT(p.mean, 9.0);
        std::cout << "[ FTxCOEFF at degree 64 ] coefficient batch bootstrap " << i << ": mean "
                  << p.mean << " bits (single-secret road " << single[i].mean << ")\n";
    }

    // Coefficient-encoded inputs come back with their values in the
    // coefficients, and say so.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-0.5, 0.5);
    std::vector<std::vector<double>> values(2, std::vector<double>(getDegree(ss)));
    Ciphertexts coefficients;
    for (std::vector<double> &v : values) {
        for (double &x : v)
            x = unit(rng);
        RingCiphertext ct(ss, false, true);
        Encryptor(ss).encrypt(v, sk, ct, 0, 0);
        coefficients.push_back(ct);
    }
    batch_boot.batchBootstrap(coefficients, bundle, interpolator, outs, false);
    ASSERT_EQ(outs.size(), 2u);
    for (u64 i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(outs[i].getEncodingType(), EncodingType::COEFFICIENT);
        std::vector<double> got;
        Decryptor(ss).decrypt(outs[i], sk, got);
        ASSERT_EQ(got.size(), values[i].size());
        double worst = 0.0;
        for (u64 j = 0; j < got.size(); ++j)
            worst = std::max(worst, std::abs(got[j] - values[i][j]));
        // The slot road's precision: about 10 bits at this degree.
        EXPECT_LT(worst, std::ldexp(1.0, -7));
    }
}

} // namespace
} // namespace Quelt::test
