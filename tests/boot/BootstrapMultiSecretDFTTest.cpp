// The multi-secret DFTs of bootstrapping on a two-secret copy of FX (degree
// 64, 32 slots, FX's bootstrapping settings) with its multi-secret rotation
// keys. This build has no host kernel for the multi-secret key switch, so
// every transform ends at its first multi-secret rotation or inner product
// with the missing-kernel message: the table shows each check in its order,
// then that stop, and that the output is never written.

#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/MultiSecretTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Quelt::test {
namespace {

using u64 = std::uint64_t;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;

// Every transform first places the constants of the input's log slot count
// on its device; that load refuses a missing count with this message, before
// the look-up of the constants could fail.
std::string missingConstants(u64 log_slots) {
    return std::string(BootstrapperImpl::kMissingConstantsPrefix) + std::to_string(log_slots) +
           BootstrapperImpl::kMissingConstantsSuffix;
}

std::string noKey(u64 idx) {
    return std::string(HomEvaluatorImpl::kLeftRotKeyMissing) + std::to_string(idx);
}
std::string lazyNoKey(u64 idx) {
    return std::string(HomEvaluatorImpl::kLazyNoRotKey) + std::to_string(idx);
}

// A two-secret copy of FX, one multi-secret key, and key packs holding the
// rotation keys of bootstrapping for every log slot count (hoisted and
// min-key sets), made once per test binary.
struct MsFx {
    explicit MsFx(const std::shared_ptr<ContextContent> &context)
        : ctx(context), key(ctx), pack(ctx), min_pack(ctx) {
        for (KeyPack *p : {&pack, &min_pack}) {
            const KeyGenerator generator(ctx, key, *p);
            for (u64 s = 0; s <= getLogFullSlots(ctx); ++s)
                generator.genRotKeysForBootstrap(s, p == &min_pack);
        }
    }
    std::shared_ptr<ContextContent> ctx;
    SecretKeyBase<EncryptionType::MSRLWE> key;
    KeyPack pack;
    KeyPack min_pack;
};

const MsFx &msFx() {
    static const MsFx fx(genMultiSecretContext(fxContext(), "FXMS2", 2));
    return fx;
}

// A fresh encryption of random slots of log_slots, levelled down to `level`.
MsCiphertext encryptAt(const std::shared_ptr<ContextContent> &ctx, u64 log_slots, u64 level) {
    std::mt19937_64 rng(log_slots * 100 + level);
    std::uniform_real_distribution<double> dist(-0.5, 0.5);
    std::vector<Message> messages;
    for (u64 k = 0; k < getNumSecret(ctx); ++k) {
        Message m(log_slots);
        for (auto &slot : m)
            slot = {dist(rng), dist(rng)};
        messages.push_back(std::move(m));
    }
    MsCiphertext ct(ctx, false, true);
    Encryptor(ctx).encrypt(messages, msFx().key, ct, level, 0);
    return ct;
}

// An output filled with recognisable words, to show a throw leaves it as it
// was.
MsCiphertext filledOutput(const std::shared_ptr<ContextContent> &ctx) {
    MsCiphertext out(ctx, false, true);
    for (u64 p = 0; p < out.getNumPoly(); ++p)
        fillResidues(out.getPoly(p), p + 7);
    return out;
}

enum class Kind { Runtime, OutOfRange };

// One row: a call on (in, out) and the exception it must throw.
struct Row {
    std::string name;
    std::function<void(const MsCiphertext &, MsCiphertext &)> call;
    MsCiphertext in;
    std::shared_ptr<ContextContent> out_context;
    Kind kind;
    std::string message;
    Device out_device = kHostDevice;
};

void expectRow(const Row &row) {
    SCOPED_TRACE(row.name);
    MsCiphertext out = filledOutput(row.out_context);
    out.to(row.out_device);
    const MsCiphertext before = out;
    if (row.kind == Kind::OutOfRange) {
        try {
            row.call(row.in, out);
            ADD_FAILURE() << "expected std::out_of_range: " << row.message;
        } catch (const std::out_of_range &e) {
            EXPECT_EQ(std::string(e.what()), row.message);
        }
    } else {
        expectThrowsMessage([&] { row.call(row.in, out); }, row.message);
    }
    for (u64 p = 0; p < out.getNumPoly(); ++p)
        EXPECT_EQ(wordsOf(out.getPoly(p)), wordsOf(before.getPoly(p)));
}

class BootstrapMultiSecretDFT : public testing::Test {
protected:
    static const std::shared_ptr<ContextContent> &ctx() { return msFx().ctx; }
    static const HomEvaluator &eval() {
        static const HomEvaluator e(msFx().ctx, msFx().pack);
        return e;
    }
    static const HomEvaluator &minKeyEval() {
        static const HomEvaluator e(msFx().ctx, msFx().min_pack);
        return e;
    }
    static const HomEvaluator &keylessEval() {
        static const HomEvaluator e(msFx().ctx);
        return e;
    }
};

TEST_F(BootstrapMultiSecretDFT, MultiSecretCopyKeepsTheBootstrappingSettings) {
    const Parameter &p = ctx()->getParameter();
    EXPECT_EQ(getNumSecret(ctx()), 2u);
    EXPECT_TRUE(p.bootstrappable);
    EXPECT_EQ(p.degree, 64u);
    // FX's split of 32 slots has two steps, so SlotToCoeff spends one of its
    // three levels on the scale before the steps.
    EXPECT_EQ(RadixDecomposition(5).num_radices, 2u);
    EXPECT_EQ(RadixDecomposition(4).num_radices, 1u);
}

TEST_F(BootstrapMultiSecretDFT, TransformsCheckThenStopAtTheFirstMultiSecretKeySwitch) {
    // Constants of 5 and 4 slots on the bootstrappers with keys; only 5 on
    // the keyless one.
    BootstrapperImpl boot(eval(), false, u64{5});
    boot.makeBootConstants(4);
    BootstrapperImpl min_boot(minKeyEval(), true, u64{5});
    BootstrapperImpl c2s_min_boot(eval(), false, u64{5});
    c2s_min_boot.setC2Suseminkey(true);
    const BootstrapperImpl keyless(keylessEval(), false, u64{5});

    using Call = std::function<void(const MsCiphertext &, MsCiphertext &)>;
    const auto s2c = [](const BootstrapperImpl &b) -> Call {
        return [&b](const MsCiphertext &in, MsCiphertext &out) { b.slotToCoeffMSRLWE(in, out); };
    };
    const auto c2s = [](const BootstrapperImpl &b) -> Call {
        return [&b](const MsCiphertext &in, MsCiphertext &out) { b.coeffToSlotMSRLWE(in, out); };
    };
    const auto c2sHoist = [](const BootstrapperImpl &b) -> Call {
        return [&b](const MsCiphertext &in, MsCiphertext &out) {
            b.coeffToSlotMSRLWEDoubleHoist(in, out);
        };
    };
    const u64 top = getEncryptionLevel(ctx());
    // The first rotation of SlotToCoeff is by the stride 1 of its last step,
    // that of CoeffToSlot by the stride 4 of its first.
    const std::string s2c_no_key = noKey(1);
    const std::string c2s_no_key = noKey(4);

    // slotToCoeffMSRLWE: constants, then (one multiply-and-rescale on the
    // two-step split of 32 slots) the first rotation.
    expectRow({"S2C constants of 8 slots missing", s2c(boot), encryptAt(ctx(), 3, 3), ctx(),
               Kind::Runtime, missingConstants(3)});
    expectRow({"S2C constants missing and no keys: the constants come first", s2c(keyless),
               encryptAt(ctx(), 4, 3), ctx(), Kind::Runtime, missingConstants(4)});
    expectRow({"S2C 32 slots at level 3", s2c(boot), encryptAt(ctx(), 5, 3), ctx(), Kind::Runtime,
               kMulVectorMessage});
    expectRow({"S2C min-key chain", s2c(min_boot), encryptAt(ctx(), 5, 3), ctx(), Kind::Runtime,
               kMulVectorMessage});
    expectRow({"S2C without rotation keys reaches the key look-up", s2c(keyless),
               encryptAt(ctx(), 5, 3), ctx(), Kind::Runtime, s2c_no_key});
    // The surplus levels: one multiply-and-rescale for two steps (level 1
    // leaves level 0 for the rotation; level 0 cannot rescale), two for
    // the single step of 16 slots.
    expectRow({"S2C two steps from level 1: one rescale, then the rotation", s2c(boot),
               encryptAt(ctx(), 5, 1), ctx(), Kind::Runtime, kMulVectorMessage});
    expectRow({"S2C two steps from level 0: the one rescale fails", s2c(boot),
               encryptAt(ctx(), 5, 0), ctx(), Kind::Runtime, HomEvaluatorImpl::kLevelZero});
    expectRow({"S2C one step from level 2: two rescales, then the rotation", s2c(boot),
               encryptAt(ctx(), 4, 2), ctx(), Kind::Runtime, kMulVectorMessage});
    expectRow({"S2C one step from level 1: the second rescale fails", s2c(boot),
               encryptAt(ctx(), 4, 1), ctx(), Kind::Runtime, HomEvaluatorImpl::kLevelZero});

    // coeffToSlotMSRLWE: constants, then the first rotation of step 0.
    expectRow({"C2S constants of 8 slots missing", c2s(boot), encryptAt(ctx(), 3, top), ctx(),
               Kind::Runtime, missingConstants(3)});
    expectRow({"C2S 32 slots", c2s(boot), encryptAt(ctx(), 5, top), ctx(), Kind::Runtime,
               kMulVectorMessage});
    expectRow({"C2S 16 slots", c2s(boot), encryptAt(ctx(), 4, top), ctx(), Kind::Runtime,
               kMulVectorMessage});
    expectRow({"C2S min-key chain", c2s(min_boot), encryptAt(ctx(), 5, top), ctx(), Kind::Runtime,
               kMulVectorMessage});
    expectRow({"C2S min-key mode of CoeffToSlot", c2s(c2s_min_boot), encryptAt(ctx(), 5, top),
               ctx(), Kind::Runtime, kMulVectorMessage});
    expectRow({"C2S without rotation keys reaches the key look-up", c2s(keyless),
               encryptAt(ctx(), 5, top), ctx(), Kind::Runtime, c2s_no_key});

    // coeffToSlotMSRLWEDoubleHoist: constants, then the first lazy baby
    // rotation (its key look-up, then the key switch).
    expectRow({"C2S hoisted constants of 8 slots missing", c2sHoist(boot), encryptAt(ctx(), 3, top),
               ctx(), Kind::Runtime, missingConstants(3)});
    expectRow({"C2S hoisted 32 slots", c2sHoist(boot), encryptAt(ctx(), 5, top), ctx(),
               Kind::Runtime, kMulVectorMessage});
    expectRow({"C2S hoisted 16 slots", c2sHoist(boot), encryptAt(ctx(), 4, top), ctx(),
               Kind::Runtime, kMulVectorMessage});
    expectRow({"C2S hoisted without rotation keys", c2sHoist(keyless), encryptAt(ctx(), 5, top),
               ctx(), Kind::Runtime, lazyNoKey(4)});
}

// The single SlotToCoeff step on a registered split of three steps ((0, 1),
// (1, 3), (3, 5) at levels 1, 2, 3), through the facade.
TEST_F(BootstrapMultiSecretDFT, SingleStepChecksThenStops) {
    Bootstrapper boot(eval(), u64{5}, false);
    boot.makeBootConstants(5, {1, 3, 5});
    using Call = std::function<void(const MsCiphertext &, MsCiphertext &)>;
    const auto step = [&boot](std::pair<u64, u64> range) -> Call {
        return [&boot, range](const MsCiphertext &in, MsCiphertext &out) {
            boot.slotToCoeffSingleStepMSRLWE(in, out, range);
        };
    };
    // The device check comes first; another host memory stands for another
    // device.
    const Device other_device(Device::kHost, 1);
    expectRow({"output on another device", step({3, 5}), encryptAt(ctx(), 5, 3), ctx(),
               Kind::Runtime, BootstrapperImpl::kDifferentDevicesMessage, other_device});
    expectRow({"output on another device and constants missing: the device first", step({3, 5}),
               encryptAt(ctx(), 4, 3), ctx(), Kind::Runtime,
               BootstrapperImpl::kDifferentDevicesMessage, other_device});
    expectRow({"constants of 16 slots missing", step({3, 5}), encryptAt(ctx(), 4, 3), ctx(),
               Kind::Runtime, missingConstants(4)});
    expectRow({"a range the split does not register", step({0, 2}), encryptAt(ctx(), 5, 3), ctx(),
               Kind::OutOfRange, "map::at"});
    expectRow({"the last step", step({3, 5}), encryptAt(ctx(), 5, 3), ctx(), Kind::Runtime,
               kMulVectorMessage});
    expectRow({"a middle step", step({1, 3}), encryptAt(ctx(), 5, 2), ctx(), Kind::Runtime,
               kMulVectorMessage});
}

// On a small-parameter bootstrapper an input of the ordinary context goes
// into the output's context, which must be the bootstrapper's.
TEST_F(BootstrapMultiSecretDFT, SingleStepOnASmallParameterNeedsItsContext) {
    const auto small = withParameter(ctx(), [](Parameter &p) { p.small_parameter = true; });
    const HomEvaluator small_eval(small, msFx().pack);
    Bootstrapper boot(small_eval, u64{5}, false);
    boot.makeBootConstants(5, {1, 3, 5});
    // Another chain of degree 64 (another identity hash), two secrets.
    const auto other = genMultiSecretContext(makeContext(6, 4, 40, 40, 40, 2), "OtherMS2", 2);
    ASSERT_NE(other->getHash(), small->getHash());
    using Call = std::function<void(const MsCiphertext &, MsCiphertext &)>;
    const auto step = [&boot](std::pair<u64, u64> range) -> Call {
        return [&boot, range](const MsCiphertext &in, MsCiphertext &out) {
            boot.slotToCoeffSingleStepMSRLWE(in, out, range);
        };
    };
    expectRow({"output of another context on another device: the device first", step({3, 5}),
               encryptAt(ctx(), 5, 3), other, Kind::Runtime,
               BootstrapperImpl::kDifferentDevicesMessage, Device(Device::kHost, 1)});
    expectRow({"output of another context", step({3, 5}), encryptAt(ctx(), 5, 3), other,
               Kind::Runtime, BootstrapperImpl::kSmallContextOutputMessage});
    expectRow({"output of another context and constants missing: the context first", step({3, 5}),
               encryptAt(ctx(), 4, 3), other, Kind::Runtime,
               BootstrapperImpl::kSmallContextOutputMessage});
    expectRow({"output of the bootstrapper's context", step({3, 5}), encryptAt(ctx(), 5, 3), small,
               Kind::Runtime, kMulVectorMessage});
    expectRow({"copied in, then the constants", step({3, 5}), encryptAt(ctx(), 4, 3), small,
               Kind::Runtime, missingConstants(4)});
    // An input of the small context itself needs no copy: any output.
    expectRow({"input of the small context", step({3, 5}),
               MsCiphertext(small, encryptAt(ctx(), 5, 3)), other, Kind::Runtime,
               kMulVectorMessage});
}

} // namespace
} // namespace Quelt::test
