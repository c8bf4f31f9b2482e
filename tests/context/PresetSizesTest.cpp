// The ciphertext and switching-key sizes that docs/presets.md gives for each
// preset, against what the library writes for presets small enough to make
// keys for here: the records hold the computed polynomial bytes plus a header
// (and, for a key, per gadget digit its 1024-byte mask seed and the prime
// lists of its polynomials, under 2 kB together).

#include "../tools/PresetSizes.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/Parameter.hpp"
#include "foundation/WordArith.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <vector>

namespace Quelt::test {
namespace {

// A record's bytes beyond its polynomials: headers, counts, flags and the
// prime lists of its polynomials.
constexpr u64 kRecordOverhead = 1024;

u64 sizeOf(const auto &object) {
    std::stringstream stream;
    object.save(stream);
    return stream.str().size();
}

u64 keySize(const EvaluationKey &key) {
    std::stringstream stream;
    Serialize::save(stream, key);
    return stream.str().size();
}

// `digits` gadget digits, each adding a mask seed and list headers.
void expectRecord(u64 written, u64 computed, u64 digits) {
    EXPECT_GE(written, computed + digits * 1024);
    EXPECT_LT(written, computed + digits * 2048 + kRecordOverhead);
}

TEST(PresetSizesTest, OneSecretCiphertextAndKeyOfFX) {
    const auto ctx = makeContext(ParameterPreset::FX);
    const Parameter p(ParameterPreset::FX);
    const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
    KeyPack pack(ctx);
    const KeyGenerator generator(ctx, sk, pack);
    generator.genEncKey();
    generator.genMultKey();
    generator.genLeftRotKey(1);
    CiphertextBase<EncryptionType::RLWE> ct(ctx, false, true);
    Encryptor(ctx).encrypt(Message(getLogFullSlots(ctx), 0.5), pack, ct);
    ASSERT_EQ(ct.getLevel(), p.encryption_level);
    expectRecord(sizeOf(ct), presets::ciphertextBytes(p), 0);
    expectRecord(keySize(*pack.getMultKey()), presets::switchingKeyBytes(p), p.gadget_rank);
    expectRecord(keySize(*pack.getLeftRotKey(1, 0)), presets::switchingKeyBytes(p), p.gadget_rank);
}

TEST(PresetSizesTest, MultiSecretCiphertextAndKey) {
    const ParameterPreset preset = ParameterPreset::FGbD12NS2L1;
    const auto ctx = makeContext(preset);
    const Parameter p(preset);
    ASSERT_EQ(p.num_secret, 2u);
    const SecretKeyBase<EncryptionType::MSRLWE> sk(ctx);
    KeyPack pack(ctx);
    KeyGenerator(ctx, sk, pack).genConjKey();
    CiphertextBase<EncryptionType::MSRLWE> ct(ctx, false, true);
    const Message m(getLogFullSlots(ctx), 0.25);
    Encryptor(ctx).encrypt(std::vector<Message>{m, m}, sk, ct);
    ASSERT_EQ(ct.getLevel(), p.encryption_level);
    expectRecord(sizeOf(ct), presets::ciphertextBytes(p), 0);
    expectRecord(keySize(*pack.getConjKey()), presets::switchingKeyBytes(p), p.gadget_rank);
}

} // namespace
} // namespace Quelt::test
