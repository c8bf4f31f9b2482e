// The outsourced multi-secret roads on a degree-2^16 outsourcing pair (FGf
// and its outsourcing companion FGfO, both made with two secrets): their
// checks, and the multi-secret SlotToCoeff switching keys until it asks for
// more rotation keys than the test makes. Two bootstrappers of degree 2^16
// and a few keys: several GB; run this test alone.

#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/MultiSecretTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Ciphertexts = std::vector<HomEvaluator::Ciphertext>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

constexpr u64 kLogSlots = 15;

// The message of `call`, after generating on demand (in the multi-secret
// pack) each rotation key the road asks for before its first key switch.
std::string messageWithRotationKeys(const std::function<void()> &call,
                                    const KeyGenerator &generator) {
    const std::string missing = HomEvaluatorImpl::kLeftRotKeyMissing;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string message = thrownMessage(call);
        if (message.rfind(missing, 0) != 0)
            return message;
        generator.genLeftRotKey(std::stoull(message.substr(missing.size())));
    }
    return thrownMessage(call);
}

TEST(BootstrapMultiSecretSlowTest, OutsourcedRoadsCheckThenSwitchKeys) {
    const auto single = makeContext(ParameterPreset::FGf);
    const auto outer = makeContext(ParameterPreset::FGf, "FGfNS2", 2, false, false);
    const auto inner = makeContext(ParameterPreset::FGfO, "FGfONS2", 2, false, false);

    // The single-secret side receives the results.
    SchemeKeys<EncryptionType::RLWE> ss(single);
    KeyPack ss_pack(single);
    const HomEvaluator output(single, ss_pack);
    const Interpolator interp(output);

    // The multi-secret side, its inner bootstrapper and the switch keys.
    SchemeKeys<EncryptionType::MSRLWE> ms(outer);
    KeyPack ms_pack(outer);
    const KeyGenerator generator(outer, ms.key, ms_pack);
    const HomEvaluator ms_eval(outer, ms_pack);
    const HomEvaluator inner_eval(inner);
    Bootstrapper boot(ms_eval, false);
    const Bootstrapper inner_boot(inner_eval, false);
    boot.enableOutsourcing(inner_boot, output);
    const MultiSecretSwitchKeyBundle bundle =
        KeyGenerator(single).genMultiSecretSwitchKeyBundle(ss.key, std::vector<MSRLWEKey>{ms.key});

    std::mt19937_64 rng(16);
    const CiphertextBase<EncryptionType::MSRLWE> ct =
        ms.encrypt(randomMessages(kLogSlots, 2, rng), 12);
    Ciphertexts out;

    // MStoSS: levelled down and multiplied on the output evaluator; the
    // multi-secret SlotToCoeff switches keys with the rotation keys made on
    // demand and asks for more than the eight this test makes (the full key
    // set would take too much memory here).
    const std::string stop = messageWithRotationKeys(
        [&] { boot.bootstrapMStoSS(ct, bundle.getMStoSSKeyBundle(), interp, out); }, generator);
    RecordProperty("mstoss_stop", stop);
    EXPECT_EQ(stop.rfind(HomEvaluatorImpl::kLeftRotKeyMissing, 0), 0u) << stop;
    EXPECT_TRUE(out.empty());

    // A coefficient-encoded input goes straight into the inner context; the
    // compensation needs the outsourced context of the multi-secret enable
    // operation.
    CiphertextBase<EncryptionType::MSRLWE> coeff(ct);
    detail::HomEvaluatorAccess::impl(ms_eval)->levels().levelDown(ct, 0, coeff);
    coeff.setEncodingType(EncodingType::COEFFICIENT);
    expectThrowsMessage(
        [&] { boot.bootstrapMStoSS(coeff, bundle.getMStoSSKeyBundle(), interp, out); },
        BootstrapperImpl::kNoOutsourcedContextMessage);

    // Batch: prepared on the output evaluator, moved to the single-secret
    // context and packed by multi-secret key switches; SlotToCoeff then asks
    // for the rotation key the road above stopped at.
    Ciphertexts batch;
    for (u64 i = 0; i < 2; ++i) {
        std::mt19937_64 batch_rng(i);
        batch.push_back(ss.encrypt(randomMessages(kLogSlots, 1, batch_rng), 12));
    }
    const std::string batch_stop =
        thrownMessage([&] { boot.batchBootstrap(batch, bundle, interp, out, false); });
    RecordProperty("batch_stop", batch_stop);
    EXPECT_EQ(batch_stop, stop);
    EXPECT_TRUE(out.empty());
}

} // namespace
} // namespace Quelt::test
