// Dense to sparse and back on FGd and its sparse companion (degree 2^16),
// without a raise between: the result decrypts under the main secret to the
// input.

#include "boot/SparseSecretSwitch.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "context/Polynomial.hpp"
#include "eval/KeySwitcher.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace Quelt;

TEST(SparseSecretSwitchSlowTest, DenseToSparseAndBackOnFGd) {
    const auto main = makeContext(ParameterPreset::FGd);
    const auto sparse = makeContext(getSparseParameterPresetFor(ParameterPreset::FGd));
    const SecretKeyBase<EncryptionType::RLWE> sk(main);
    const KeyPack pack(main, sparse);
    KeyGenerator(main, sparse, sk, pack).genSparseSecretEncapsulationKey();
    const KeySwitcher sparseSwitcher(sparse), mainSwitcher(main);

    std::vector<double> values(64);
    for (std::size_t j = 0; j < values.size(); ++j)
        values[j] = std::cos(static_cast<double>(j));
    const double scale = std::ldexp(1.0, 40);
    CiphertextBase<EncryptionType::RLWE> ct(main, false, true);
    Encryptor(main).encryptWithScale(values, sk, ct, 0, scale, true);
    const std::uint64_t logSlots = ct.getLogSlots();

    switchKeyDTS(main, sparseSwitcher, pack, ct, ct, false);
    switchKeySTD(mainSwitcher, pack, ct, ct, true);
    EXPECT_TRUE(ct.getPoly(0).isNTT());
    EXPECT_EQ(ct.getLogSlots(), logSlots);
    EXPECT_EQ(ct.getRescaleCounter(), 0);

    std::vector<double> decrypted;
    Decryptor(main).decryptWithScale(ct, sk, decrypted, scale, true);
    ASSERT_EQ(decrypted.size(), values.size());
    double worst = 0.0;
    for (std::size_t j = 0; j < values.size(); ++j)
        worst = std::max(worst, std::fabs(decrypted[j] - values[j]));
    std::printf("DTS then STD on FGd: largest error %.3g (%.1f bits)\n", worst, -std::log2(worst));
    EXPECT_LT(worst, 1e-6);
}
