// The multi-secret DFTs of bootstrapping on a two-secret copy of FX (degree
// 64, 32 slots, FX's bootstrapping settings) with its multi-secret rotation
// keys: each transform decrypts, secret by secret, to what the single-secret
// transform gives for that secret's message; the tables show each check in
// its order and that a refused call never writes the output.

#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/MultiSecretTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
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

using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

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

// A ciphertext at `level`, which may lie above the encryption level (where
// the modulus raise leaves the input of CoeffToSlot): a pseudo-random mask a
// and body j = message j - a s_j, without noise. The MSRLWE layout puts the
// mask after the k bodies.
template <EncryptionType ET>
CiphertextBase<ET> encryptAnyLevel(const std::shared_ptr<ContextContent> &ctx,
                                   const std::vector<Message> &messages,
                                   const SecretKeyBase<ET> &key, u64 level) {
    const u64 k = messages.size();
    CiphertextBase<ET> ct(ctx, false, true);
    ct.setLevel(level);
    Polynomial &mask = ct.getPoly(k);
    QueltTest::fillResidues(mask, level * 31 + k);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    const EnDecoder encoder(ctx);
    for (u64 j = 0; j < k; ++j) {
        Polynomial product = mask;
        chain.hadamardMult(mask, key.getSx(j), product);
        chain.sub(encoder.encode(messages[j], level, 0).getMx(), product, ct.getPoly(j));
    }
    ct.setLogSlots(messages[0].getLogSlots());
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

// The values a ciphertext decrypts to, secret by secret: the real and
// imaginary parts of the slots of a slot-encoded one, the coefficients of a
// coefficient-encoded one.
using Values = std::vector<double>;

Values flatten(const Message &m) {
    Values v;
    for (const auto &slot : m) {
        v.push_back(slot.real());
        v.push_back(slot.imag());
    }
    return v;
}

std::vector<Values> decryptEach(const MsCiphertext &ct) {
    const Decryptor decryptor(ct.getContext());
    std::vector<Values> out;
    if (ct.getEncodingType() == EncodingType::SLOT) {
        std::vector<Message> m;
        decryptor.decrypt(ct, msFx().key, m);
        for (const Message &x : m)
            out.push_back(flatten(x));
    } else {
        decryptor.decrypt(ct, msFx().key, out);
    }
    return out;
}

Values decryptSingle(const RingCiphertext &ct) {
    const Decryptor decryptor(ct.getContext());
    if (ct.getEncodingType() == EncodingType::SLOT) {
        Message m;
        decryptor.decrypt(ct, fxBootKeys().secret_key, m);
        return flatten(m);
    }
    Values v;
    decryptor.decrypt(ct, fxBootKeys().secret_key, v);
    return v;
}

// The largest distance between two lists of values, relative to the largest
// magnitude of `want` (at least 1).
double relativeDistance(const Values &got, const Values &want) {
    EXPECT_EQ(got.size(), want.size());
    double largest = 1.0, distance = 0.0;
    for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        largest = std::max(largest, std::abs(want[i]));
        distance = std::max(distance, std::abs(got[i] - want[i]));
    }
    return distance / largest;
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

class BootstrapMultiSecretDFTTest : public testing::Test {
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

TEST_F(BootstrapMultiSecretDFTTest, MultiSecretCopyKeepsTheBootstrappingSettings) {
    const Parameter &p = ctx()->getParameter();
    EXPECT_EQ(getNumSecret(ctx()), 2u);
    EXPECT_TRUE(p.bootstrappable);
    EXPECT_EQ(p.degree, 64u);
    // FX's split of 32 slots has two steps, so SlotToCoeff spends one of its
    // three levels on the scale before the steps.
    EXPECT_EQ(RadixDecomposition(5).num_radices, 2u);
    EXPECT_EQ(RadixDecomposition(4).num_radices, 1u);
}

TEST_F(BootstrapMultiSecretDFTTest, TransformsCheckInOrder) {
    // Constants of 5 and 4 slots on the bootstrappers with keys; only 5 on
    // the keyless one.
    BootstrapperImpl boot(eval(), false, u64{5});
    boot.getConstants().makeBootConstants(4);
    const BootstrapperImpl keyless(keylessEval(), false, u64{5});

    using Call = std::function<void(const MsCiphertext &, MsCiphertext &)>;
    const auto s2c = [](const BootstrapperImpl &b) -> Call {
        return [&b](const MsCiphertext &in, MsCiphertext &out) {
            b.getMultiSecret().slotToCoeffMSRLWE(in, out);
        };
    };
    const auto c2s = [](const BootstrapperImpl &b) -> Call {
        return [&b](const MsCiphertext &in, MsCiphertext &out) {
            b.getMultiSecret().coeffToSlotMSRLWE(in, out);
        };
    };
    const auto c2sHoist = [](const BootstrapperImpl &b) -> Call {
        return [&b](const MsCiphertext &in, MsCiphertext &out) {
            b.getMultiSecret().coeffToSlotMSRLWEDoubleHoist(in, out);
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
    expectRow({"S2C without rotation keys reaches the key look-up", s2c(keyless),
               encryptAt(ctx(), 5, 3), ctx(), Kind::Runtime, s2c_no_key});
    // The budget is three levels: one multiply-and-rescale before two steps,
    // two before the single step of 16 slots; below level 3 a rescale meets
    // level 0.
    // Below the levels its constants are encoded at, a step's inner product
    // would take their scale for the input's.
    expectRow({"S2C two steps from level 1: constants of another scale", s2c(boot),
               encryptAt(ctx(), 5, 1), ctx(), Kind::Runtime,
               HomEvaluatorImpl::kInnerProductPlaintextOtherScale});
    expectRow({"S2C one step from level 2: constants of another scale", s2c(boot),
               encryptAt(ctx(), 4, 2), ctx(), Kind::Runtime,
               HomEvaluatorImpl::kInnerProductPlaintextOtherScale});
    expectRow({"S2C two steps from level 0: the one rescale fails", s2c(boot),
               encryptAt(ctx(), 5, 0), ctx(), Kind::Runtime, HomEvaluatorImpl::kLevelZero});
    expectRow({"S2C one step from level 1: the second rescale fails", s2c(boot),
               encryptAt(ctx(), 4, 1), ctx(), Kind::Runtime, HomEvaluatorImpl::kLevelZero});

    // coeffToSlotMSRLWE: constants, then the first rotation of step 0.
    expectRow({"C2S constants of 8 slots missing", c2s(boot), encryptAt(ctx(), 3, top), ctx(),
               Kind::Runtime, missingConstants(3)});
    expectRow({"C2S without rotation keys reaches the key look-up", c2s(keyless),
               encryptAt(ctx(), 5, top), ctx(), Kind::Runtime, c2s_no_key});

    // coeffToSlotMSRLWEDoubleHoist: constants, then the first lazy baby
    // rotation (its key look-up, then the key switch).
    expectRow({"C2S hoisted constants of 8 slots missing", c2sHoist(boot), encryptAt(ctx(), 3, top),
               ctx(), Kind::Runtime, missingConstants(3)});
    expectRow({"C2S hoisted without rotation keys", c2sHoist(keyless), encryptAt(ctx(), 5, top),
               ctx(), Kind::Runtime, lazyNoKey(4)});
    // Constants encoded without the extended basis cannot weigh the extended
    // parts: refused, not read past the diagonals.
    // At the top of the chain, where the raise leaves CoeffToSlot's input.
    std::vector<Message> raised_messages(getNumSecret(ctx()), Message(5));
    for (Message &m : raised_messages)
        for (auto &slot : m)
            slot = {0.25, -0.125};
    expectRow({"C2S hoisted on constants without the extended encoding", c2sHoist(boot),
               encryptAnyLevel(ctx(), raised_messages, msFx().key, getLength(ctx()) - 1), ctx(),
               Kind::Runtime, kInnerProductTermMessage});
}

// The transforms of both kinds on one message per secret: the multi-secret
// result decrypts, under each secret, to the single-secret result of that
// secret's message (measured: within 2^-34 of the largest value).
TEST_F(BootstrapMultiSecretDFTTest, TransformsMatchTheSingleSecretOnesOnEverySecret) {
    constexpr double kBound = 0x1p-28;
    BootstrapperImpl boot(eval(), false, u64{5});
    boot.getConstants().makeBootConstants(4);
    BootstrapperImpl min_boot(minKeyEval(), true, u64{5});
    BootstrapperImpl c2s_min_boot(eval(), false, u64{5});
    c2s_min_boot.setC2Suseminkey(true);
    BootstrapperImpl ss_boot(fxBootEval(), false, u64{5});
    ss_boot.getConstants().makeBootConstants(4);
    BootstrapperImpl ss_min_boot(fxMinKeyEval(), true, u64{5});
    BootstrapperImpl ss_c2s_min_boot(fxBootEval(), false, u64{5});
    ss_c2s_min_boot.setC2Suseminkey(true);
    // The hoisted CoeffToSlot weighs extended parts: its diagonals need the
    // extended encoding of a double-hoisting parameter.
    const auto hoisting = withParameter(ctx(), [](Parameter &p) { p.double_hoisting = true; });
    const HomEvaluator hoisting_eval(hoisting, msFx().pack);
    BootstrapperImpl hoisting_boot(hoisting_eval, false, u64{5});
    hoisting_boot.getConstants().makeBootConstants(4);
    Bootstrapper steps(eval(), u64{5}, false);
    steps.makeBootConstants(5, {1, 3, 5});
    Bootstrapper ss_steps(fxBootEval(), u64{5}, false);
    ss_steps.makeBootConstants(5, {1, 3, 5});

    using MsCall = std::function<void(const MsCiphertext &, MsCiphertext &)>;
    using SsCall = std::function<void(const RingCiphertext &, RingCiphertext &)>;
    struct Case {
        std::string name;
        MsCall ms;
        SsCall ss;
        u64 log_slots, level;
    };
    // CoeffToSlot starts where the modulus raise leaves a ciphertext: the top
    // of the chain, the level its diagonals are encoded for.
    const u64 top = getLength(ctx()) - 1;
    const auto s2c = [](const BootstrapperImpl &ms, const BootstrapperImpl &ss) {
        return std::pair<MsCall, SsCall>{[&ms](const MsCiphertext &in, MsCiphertext &out) {
                                             ms.getMultiSecret().slotToCoeffMSRLWE(in, out);
                                         },
                                         [&ss](const RingCiphertext &in, RingCiphertext &out) {
                                             ss.getTransforms().slotToCoeff(in, out);
                                         }};
    };
    const auto c2s = [](const BootstrapperImpl &ms, const BootstrapperImpl &ss) {
        return std::pair<MsCall, SsCall>{[&ms](const MsCiphertext &in, MsCiphertext &out) {
                                             ms.getMultiSecret().coeffToSlotMSRLWE(in, out);
                                         },
                                         [&ss](const RingCiphertext &in, RingCiphertext &out) {
                                             ss.getTransforms().coeffToSlot(in, out);
                                         }};
    };
    const auto c2sHoisted = [&] {
        return std::pair<MsCall, SsCall>{
            [&](const MsCiphertext &in, MsCiphertext &out) {
                MsCiphertext result(hoisting, false, true);
                hoisting_boot.getMultiSecret().coeffToSlotMSRLWEDoubleHoist(
                    MsCiphertext(hoisting, in), result);
                out = MsCiphertext(ctx(), result);
            },
            [&ss_boot](const RingCiphertext &in, RingCiphertext &out) {
                ss_boot.getTransforms().coeffToSlot(in, out);
            }};
    };
    const auto step = [&](std::pair<u64, u64> range) {
        return std::pair<MsCall, SsCall>{
            [&steps, range](const MsCiphertext &in, MsCiphertext &out) {
                steps.slotToCoeffSingleStepMSRLWE(in, out, range);
            },
            [&ss_steps, range](const RingCiphertext &in, RingCiphertext &out) {
                ss_steps.slotToCoeffSingleStep(in, out, range);
            }};
    };
    const auto make = [](std::string name, std::pair<MsCall, SsCall> calls, u64 log_slots,
                         u64 level) {
        return Case{std::move(name), calls.first, calls.second, log_slots, level};
    };
    const std::vector<Case> cases = {
        make("S2C 32 slots at level 3", s2c(boot, ss_boot), 5, 3),
        make("S2C min-key chain", s2c(min_boot, ss_min_boot), 5, 3),
        make("S2C one step from level 3", s2c(boot, ss_boot), 4, 3),
        make("C2S 32 slots", c2s(boot, ss_boot), 5, top),
        make("C2S 16 slots", c2s(boot, ss_boot), 4, top),
        make("C2S min-key chain", c2s(min_boot, ss_min_boot), 5, top),
        make("C2S min-key mode", c2s(c2s_min_boot, ss_c2s_min_boot), 5, top),
        make("C2S hoisted 32 slots", c2sHoisted(), 5, top),
        make("C2S hoisted 16 slots", c2sHoisted(), 4, top),
        make("S2C last step", step({3, 5}), 5, 3),
        make("S2C middle step", step({1, 3}), 5, 2),
    };
    std::mt19937_64 rng(31);
    std::uniform_real_distribution<double> dist(-0.5, 0.5);
    double worst = 0.0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Message> messages;
        for (u64 k = 0; k < 2; ++k) {
            Message m(c.log_slots);
            for (auto &slot : m)
                slot = {dist(rng), dist(rng)};
            messages.push_back(std::move(m));
        }
        const MsCiphertext ms_in = encryptAnyLevel(ctx(), messages, msFx().key, c.level);
        MsCiphertext ms_out(ctx(), false, true);
        c.ms(ms_in, ms_out);
        const std::vector<Values> got = decryptEach(ms_out);
        ASSERT_EQ(got.size(), 2u);
        for (u64 k = 0; k < 2; ++k) {
            const RingCiphertext ss_in =
                encryptAnyLevel(fxContext(), {messages[k]}, fxBootKeys().secret_key, c.level);
            RingCiphertext ss_out(fxContext(), false, true);
            c.ss(ss_in, ss_out);
            EXPECT_EQ(ms_out.getLevel(), ss_out.getLevel());
            EXPECT_EQ(ms_out.getEncodingType(), ss_out.getEncodingType());
            EXPECT_EQ(ms_out.getRescaleCounter(), ss_out.getRescaleCounter());
            const double distance = relativeDistance(got[k], decryptSingle(ss_out));
            EXPECT_LT(distance, kBound) << "secret " << k;
            worst = std::max(worst, distance);
        }
    }
    RecordProperty("largest_relative_distance_log2", std::to_string(std::log2(worst)));
}

// The single SlotToCoeff step on a registered split of three steps ((0, 1),
// (1, 3), (3, 5) at levels 1, 2, 3), through the facade.
TEST_F(BootstrapMultiSecretDFTTest, SingleStepChecksInOrder) {
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
}

// On a small-parameter bootstrapper an input of the ordinary context goes
// into the output's context, which must be the bootstrapper's.
TEST_F(BootstrapMultiSecretDFTTest, SingleStepOnASmallParameterNeedsItsContext) {
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
    expectRow({"copied in, then the constants", step({3, 5}), encryptAt(ctx(), 4, 3), small,
               Kind::Runtime, missingConstants(4)});
    // An input of the small context itself needs no copy: any output.
}

} // namespace
} // namespace Quelt::test
