#include "arith/RNSDecomposeData.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "support/BigInteger.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::BigInteger;
using test::u64;

std::vector<Modulus> makeChain(u64 L, u64 K) {
    std::vector<Modulus> moduli;
    for (u64 p : utils::seekPrimes(u64{1} << 28, 32, L, true))
        moduli.emplace_back(16, p, NttType::NEGACYCLIC);
    for (u64 p : utils::seekPrimes(u64{1} << 30, 32, K, true))
        moduli.emplace_back(16, p, NttType::NEGACYCLIC);
    return moduli;
}

// Every word against big-integer products: [P]_{q_i}, [Q / Q_d]_{q_i} and
// its inverse.
void expectTables(const RNSDecomposeData &data, const std::vector<u64> &q, u64 L, u64 dnum) {
    const u64 alpha = (L + dnum - 1) / dnum;
    const BigInteger P = BigInteger::product(std::vector<u64>(q.begin() + L, q.end()));
    const u64 *p_mod = data.getPMod(kHostDevice);
    const u64 *hat = data.getHatQMod(kHostDevice);
    const u64 *hat_inv = data.getHatQInvMod(kHostDevice);
    for (u64 i = 0; i < L; ++i) {
        const u64 begin = i / alpha * alpha, end = std::min(begin + alpha, L);
        std::vector<u64> outside;
        for (u64 m = 0; m < L; ++m)
            if (m < begin || m >= end)
                outside.push_back(q[m]);
        EXPECT_EQ(p_mod[i], P.mod(q[i]));
        EXPECT_EQ(hat[i], BigInteger::product(outside).mod(q[i])) << i;
        EXPECT_EQ(test::mulModRef(hat[i], hat_inv[i], q[i]), 1u) << i;
        EXPECT_LT(hat_inv[i], q[i]);
    }
}

TEST(RNSDecomposeDataTest, TablesOfChains) {
    struct Shape {
        u64 L, K, dnum;
    } shapes[] = {{5, 2, 2}, {4, 1, 1}, {4, 3, 4}, {3, 0, 2}, {5, 2, 9}};
    for (const Shape &s : shapes) {
        SCOPED_TRACE(::testing::Message() << s.L << " " << s.K << " " << s.dnum);
        const auto moduli = makeChain(s.L, s.K);
        std::vector<u64> q;
        for (const auto &m : moduli)
            q.push_back(m.getPrime());
        RNSDecomposeData data(moduli, s.L, s.dnum);
        expectTables(data, q, s.L, s.dnum);
        for (u64 i = 0; i < s.L; ++i) {
            if (s.dnum == 1) {
                EXPECT_EQ(data.getHatQMod(kHostDevice)[i], 1u);
                EXPECT_EQ(data.getHatQInvMod(kHostDevice)[i], 1u);
            }
            if (s.K == 0) {
                EXPECT_EQ(data.getPMod(kHostDevice)[i], 1u);
            }
        }
    }
}

TEST(RNSDecomposeDataTest, TablesOfAContext) {
    // L = 5, gadget rank 2: digits {0, 1, 2} and {3, 4}; K = 3.
    const auto ctx = makeContext(6, 5, 40, 40, 40, 2);
    RNSDecomposeData data(ctx);
    expectTables(data, getPrimeList(ctx), 5, 2);
}

TEST(RNSDecomposeDataTest, Refusals) {
    const auto moduli = makeChain(3, 1);
    struct Case {
        u64 L, dnum;
        const char *message;
    } cases[] = {{0, 1, RNSDecomposeData::kNoBasePrimeMessage},
                 {5, 1, RNSDecomposeData::kNoBasePrimeMessage},
                 {3, 0, RNSDecomposeData::kNoGadgetRankMessage}};
    for (const Case &c : cases) {
        expectThrowsMessage([&] { RNSDecomposeData data(moduli, c.L, c.dnum); }, c.message);
    }
    EXPECT_THROW(RNSDecomposeData(std::shared_ptr<ContextContent>()), RuntimeException);

    RNSDecomposeData data(moduli, 3, 3);
    const Device other{0, 1};
    EXPECT_THROW(data.getPMod(other), std::out_of_range);
    EXPECT_THROW(data.getHatQMod(other), std::out_of_range);
    EXPECT_THROW(data.getHatQInvMod(Device{1, 0}), std::out_of_range);
}

} // namespace
} // namespace Quelt
