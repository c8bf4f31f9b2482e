#include "conversion/ModulusSwitcher.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/RingPacker.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/BigInteger.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {
namespace {

// N = 1024, four primes (a 50-bit base prime, 40-bit quantize primes), and a
// chain of five with the same base size and 42-bit quantize primes: the two
// share q_0 only.
Context inputContext() { return degreeTenContext(); }
const Context &outputContext() {
    static const Context ctx = makeContext(10, 5, 50, 42, 50, 2);
    return ctx;
}

std::vector<u64> primesOf(const Context &ctx, u64 from, u64 to) {
    std::vector<u64> primes;
    for (u64 i = from; i <= to; ++i)
        primes.push_back(primeAt(ctx, i));
    return primes;
}

u64 powModRef(u64 b, u64 e, u64 p) {
    u128 r = 1, x = b % p;
    for (; e; e >>= 1, x = x * x % p)
        if (e & 1)
            r = r * x % p;
    return static_cast<u64>(r);
}

// The switch of one coefficient from its input residues (coefficient form,
// primes 0 .. lin) as an integer: W = (X P_C - y) / Q_B with y the sum over
// the removed primes of centred([X P_C (Q_B / q_b)^-1]_(q_b)) Q_B / q_b, the
// centred value of v being v for v <= floor(q/2) and v - q above.
BigInteger switchedCoefficient(const std::vector<u64> &residues, const Context &from,
                               const Context &to, u64 c, u64 lin, u64 level) {
    const std::vector<u64> inPrimes = primesOf(from, 0, lin);
    const BigInteger x = BigInteger::fromResidues(residues, inPrimes);
    const BigInteger pc = BigInteger::product(primesOf(to, c, level));
    const BigInteger xpc = x * pc;
    BigInteger y;
    for (u64 b = c; b <= lin; ++b) {
        const u64 q = inPrimes[b];
        std::vector<u64> others;
        u64 hat = 1;
        for (u64 j = c; j <= lin; ++j)
            if (j != b) {
                others.push_back(inPrimes[j]);
                hat = static_cast<u64>(static_cast<u128>(hat) * (inPrimes[j] % q) % q);
            }
        const u64 v =
            static_cast<u64>(static_cast<u128>(xpc.mod(q)) * powModRef(hat, q - 2, q) % q);
        const BigInteger centred =
            v <= q / 2 ? BigInteger(v) : BigInteger::fromSigned(-static_cast<std::int64_t>(q - v));
        y = y + centred * BigInteger::product(others);
    }
    BigInteger w = xpc - y;
    for (u64 b = c; b <= lin; ++b)
        w = w.divideExact(inPrimes[b]);
    return w;
}

// Every output residue (coefficient form) equals the oracle's integer.
void expectExactSwitch(const Ciphertext &in, const Ciphertext &out, u64 c, u64 level) {
    const Context &from = in.getContext();
    const Context &to = out.getContext();
    const u64 lin = in.getLevel();
    ASSERT_EQ(out.getLevel(), level);
    for (u64 k = 0; k < 2; ++k) {
        const Rows x = coefficientRows(from, in.getPoly(k), lin);
        const Rows z = coefficientRows(to, out.getPoly(k), level);
        for (u64 j = 0; j < getDegree(from); ++j) {
            std::vector<u64> residues;
            for (u64 i = 0; i <= lin; ++i)
                residues.push_back(x[i][j]);
            const BigInteger w = switchedCoefficient(residues, from, to, c, lin, level);
            for (u64 e = 0; e <= level; ++e)
                if (w.mod(primeAt(to, e)) != z[e][j]) {
                    ADD_FAILURE() << "polynomial " << k << " coefficient " << j << " prime " << e;
                    return;
                }
        }
    }
}

double ratio(const std::vector<u64> &numerator, const std::vector<u64> &denominator) {
    double r = 1.0;
    for (const u64 p : numerator)
        r *= static_cast<double>(p);
    for (const u64 q : denominator)
        r /= static_cast<double>(q);
    return r;
}

struct SwitchCase {
    const char *name;
    u64 inputLevel;
    u64 outputLevel;
    double log2Scale;
};

class ModulusSwitcherLevelsTest : public testing::TestWithParam<SwitchCase> {};

TEST_P(ModulusSwitcherLevelsTest, ExactResiduesAndScaledMessage) {
    const SwitchCase &param = GetParam();
    const Context from = inputContext();
    const Context &to = outputContext();
    // One secret written in both contexts.
    const RlweKey sk(from);
    const RlweKey skTo(to, sk.getCoefficients());

    std::vector<double> values(getDegree(from));
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (double &v : values)
        v = dist(gen);
    const double scale = std::ldexp(1.0, static_cast<int>(param.log2Scale));
    Ciphertext in(from, false, true);
    Encryptor(from).encryptWithScale(values, sk, in, param.inputLevel, scale, true);
    ASSERT_TRUE(in.getPoly(0).isNTT());
    const std::string before = streamBytes(in);

    Ciphertext out(to, false, true);
    ModulusSwitcher().switchModulus(in, out, param.outputLevel);

    EXPECT_EQ(streamBytes(in), before);
    EXPECT_EQ(out.getNumPoly(), 2u);
    EXPECT_TRUE(out.getPoly(0).isNTT());
    EXPECT_TRUE(out.getPoly(1).isNTT());
    expectExactSwitch(in, out, 1, param.outputLevel);

    // Decrypted under the same secret in the output context, the message
    // comes back scaled by P_C / Q_B (the decoder reads primes 0 and 1, so
    // the scaled values stay below q_0 q_1 / 2).
    const double factor =
        ratio(primesOf(to, 1, param.outputLevel), primesOf(from, 1, param.inputLevel));
    std::vector<double> decrypted;
    Decryptor(to).decryptWithScale(out, skTo, decrypted, scale * factor, true);
    ASSERT_EQ(decrypted.size(), values.size());
    double worst = 0.0;
    for (std::size_t j = 0; j < values.size(); ++j)
        worst = std::max(worst, std::fabs(decrypted[j] - values[j]));
    EXPECT_LT(worst, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Levels, ModulusSwitcherLevelsTest,
                         testing::Values(SwitchCase{"Above", 1, 2, 30},
                                         SwitchCase{"Equal", 3, 3, 40},
                                         SwitchCase{"Below", 3, 1, 120}),
                         [](const auto &info) { return std::string(info.param.name); });

// Input residues whose scaled value on the removed prime q_c is floor(q/2)
// (counted positive) and floor(q/2) + 1 (negative); the output at level c
// keeps only the shared prime, so the choice moves the result by one.
TEST(ModulusSwitcherTest, HalfPrimeBoundary) {
    const Context from = inputContext();
    const Context &to = outputContext();
    const u64 level = 1;
    Ciphertext in(from, false, false);
    in.setLevel(1);
    const u64 n = getDegree(from);
    for (u64 k = 0; k < 2; ++k)
        for (u64 i = 0; i <= 1; ++i)
            for (u64 j = 0; j < n; ++j)
                in.getPoly(k).getLimb(i)[j] = (j * 977 + k * 31 + i) % primeAt(from, i);
    // T1 on q_1 is P_C mod q_1 (Q_B / q_1 = 1).
    const u64 q = primeAt(from, 1);
    const u64 t1 = primeAt(to, 1) % q;
    const u64 t1Inverse = powModRef(t1, q - 2, q);
    const u64 half = q / 2;
    in.getPoly(0).getLimb(1)[0] = static_cast<u64>(static_cast<u128>(half) * t1Inverse % q);
    in.getPoly(0).getLimb(1)[1] = static_cast<u64>(static_cast<u128>(half + 1) * t1Inverse % q);
    in.getPoly(0).getLimb(0)[0] = 0;
    in.getPoly(0).getLimb(0)[1] = 0;

    Ciphertext out(to, false, true);
    ModulusSwitcher().switchModulusCPUImpl(in, out, level);
    EXPECT_FALSE(out.getPoly(0).isNTT());
    expectExactSwitch(in, out, 1, level);
    // x = half on q_1 and 0 on q_0, i.e. X = q_0 * m: y = +half for
    // coefficient 0, half + 1 - q for coefficient 1.
    const BigInteger x0 =
        BigInteger::fromResidues({0, in.getPoly(0).getLimb(1)[0]}, {primeAt(from, 0), q});
    const BigInteger pc(primeAt(to, 1));
    const BigInteger w0 = (x0 * pc - BigInteger(half)).divideExact(q);
    EXPECT_EQ(w0.mod(primeAt(to, 0)), out.getPoly(0).getLimb(0)[0]);
}

TEST(ModulusSwitcherTest, MetadataCopied) {
    const Context from = inputContext();
    const Context &to = outputContext();
    const RlweKey sk(from);
    Ciphertext in(from, false, true);
    Encryptor(from).encryptWithScale(std::vector<double>(8, 0.25), sk, in, 2, std::ldexp(1.0, 40),
                                     true);
    in.setLogSlots(3);
    in.setRescaleCounter(1);
    Ciphertext out(to, false, true);
    out.setLogSlots(9);
    out.setEncodingType(EncodingType::SLOT);
    ModulusSwitcher().switchModulus(in, out, 3);
    EXPECT_EQ(out.getLogSlots(), 3u);
    EXPECT_EQ(out.getRescaleCounter(), 1);
    EXPECT_EQ(out.getEncodingType(), in.getEncodingType());
    EXPECT_EQ(out.getContext(), to);
}

TEST(ModulusSwitcherTest, VectorForm) {
    const Context from = inputContext();
    const Context &to = outputContext();
    const RlweKey sk(from);
    std::vector<Ciphertext> ins(3, Ciphertext(from, false, true));
    for (Ciphertext &ct : ins)
        Encryptor(from).encryptWithScale(std::vector<double>(8, 0.5), sk, ct, 3,
                                         std::ldexp(1.0, 40), true);
    std::vector<Ciphertext> outs(2, Ciphertext(to, false, true));
    ModulusSwitcher().switchModulus(ins, outs, 4);
    for (u64 i = 0; i < outs.size(); ++i) {
        Ciphertext single(to, false, true);
        ModulusSwitcher().switchModulus(ins[i], single, 4);
        EXPECT_EQ(streamBytes(outs[i]), streamBytes(single));
    }
    std::vector<Ciphertext> tooMany(4, Ciphertext(to, false, true));
    const std::string untouched = streamBytes(tooMany[0]);
    expectThrowsMessage([&] { ModulusSwitcher().switchModulus(ins, tooMany, 4); },
                        ModulusSwitcher::kShortInputList);
    EXPECT_EQ(streamBytes(tooMany[0]), untouched);
}

TEST(ModulusSwitcherTest, RingPackerForwardsTheSwitch) {
    const Context from = inputContext();
    const Context &to = outputContext();
    const RlweKey sk(from);
    Ciphertext in(from, false, true);
    Encryptor(from).encryptWithScale(std::vector<double>(8, 0.25), sk, in, 3, std::ldexp(1.0, 40),
                                     true);
    Ciphertext want(to, false, true), got(to, false, true);
    ModulusSwitcher().switchModulus(in, want, 4);
    RingPacker().switchModulus(in, got, 4);
    EXPECT_EQ(streamBytes(got), streamBytes(want));
    Ciphertext same(from, false, true);
    expectThrowsMessage([&] { RingPacker().switchModulus(in, same, 2); },
                        ModulusSwitcher::kIdenticalModuli);
}

TEST(ModulusSwitcherTest, Messages) {
    const Context from = inputContext();
    const Context &to = outputContext();
    Ciphertext in(from, false, false);
    for (u64 k = 0; k < 2; ++k)
        for (u64 w = 0; w < in.getPoly(k).getData().size(); ++w)
            in.getPoly(k).getData().getData()[w] = 0;
    const ModulusSwitcher ms;

    // The same primes up to the compared level, also at another degree:
    // nothing to switch, reported before the degree.
    Ciphertext same(from, false, true);
    expectThrowsMessage([&] { ms.switchModulus(in, same, 2); }, ModulusSwitcher::kIdenticalModuli);
    const Context halfDegreeSame = contextFromPrimes(from, 9, {0, 1, 2, 3}, {4, 5}, 2);
    Ciphertext halfSame(halfDegreeSame, false, true);
    expectThrowsMessage([&] { ms.switchModulus(in, halfSame, 3); },
                        ModulusSwitcher::kIdenticalModuli);
    const Context halfDegreeOther = contextFromPrimes(to, 9, {0, 1, 2}, {5}, 1);
    Ciphertext halfOther(halfDegreeOther, false, true);
    expectThrowsMessage([&] { ms.switchModulus(in, halfOther, 2); },
                        ModulusSwitcher::kInequalDegree);

    Ciphertext out(to, false, true);
    const std::string untouched = streamBytes(out);
    Ciphertext three(in);
    three.setNumPoly(3);
    expectThrowsMessage([&] { ms.switchModulus(three, out, 2); }, ModulusSwitcher::kTwoPolynomials);
    expectThrowsMessage([&] { ms.switchModulus(in, out, 5); }, ModulusSwitcher::kLevelOutsideChain);
    // q_2 of the input chain added at index 1 of the output while removed.
    const Context swapped = contextFromPrimes(from, 10, {0, 2, 1, 3}, {4, 5}, 2);
    Ciphertext swappedOut(swapped, false, true);
    expectThrowsMessage([&] { ms.switchModulus(in, swappedOut, 2); },
                        ModulusSwitcher::kSharedRemovedPrime);
    Ciphertext counted(in);
    counted.setLevel(3);
    counted.setRescaleCounter(3);
    expectThrowsMessage([&] { ms.switchModulus(counted, out, 2); },
                        CiphertextImpl<EncryptionType::RLWE>::kRescaleCounterAboveLevel);
    EXPECT_EQ(streamBytes(out), untouched);

    expectThrowsMessage([&] { ms.switchModulusGPUImpl(in, out, 2); },
                        "Cannot support the function 'switchModulusGPUImpl' in the current build "
                        "configuration");
}

TEST(ModulusSwitcherTest, EmbedCopiesIntoContextSharingThePrimes) {
    const Context from = inputContext();
    // The first two primes of the input chain, then others.
    const Context sharing = contextFromPrimes(from, 10, {0, 1, 4}, {5}, 1);
    const RlweKey sk(from);
    Ciphertext in(from, false, true);
    Encryptor(from).encryptWithScale(std::vector<double>(8, 0.5), sk, in, 1, std::ldexp(1.0, 40),
                                     true);
    in.setLogSlots(2);
    Ciphertext out(sharing, false, true);
    ModulusSwitcher().embed(in, out);
    EXPECT_EQ(out.getContext(), sharing);
    EXPECT_EQ(out.getLevel(), 1u);
    EXPECT_EQ(out.getLogSlots(), 2u);
    EXPECT_EQ(out.getEncodingType(), in.getEncodingType());
    for (u64 k = 0; k < 2; ++k)
        EXPECT_EQ(rowsOf(out.getPoly(k), 1), rowsOf(in.getPoly(k), 1));

    // Other primes at a level the ciphertext uses.
    Ciphertext inTop(in);
    inTop.setLevel(2);
    Ciphertext refused(sharing, false, true);
    const std::string untouched = streamBytes(refused);
    expectThrowsMessage([&] { ModulusSwitcher().embed(inTop, refused); },
                        "[setContext] Input context is not compatible with the ciphertext.");
    EXPECT_EQ(streamBytes(refused), untouched);
    Ciphertext inTopmost(in);
    inTopmost.setLevel(3);
    expectThrowsMessage([&] { ModulusSwitcher().embed(inTopmost, refused); },
                        "The level of input ciphertext does not fit in current context");
}

TEST(ModulusSwitcherTest, EmbedMultiSecret) {
    const Context base = makeContext(6, 3, 40, 40, 40, 3);
    const Context from = genMultiSecretContext(base, "EmbedFrom", 2);
    const Context sharing =
        genMultiSecretContext(contextFromPrimes(base, 6, {0, 1, 3}, {2}, 3), "EmbedTo", 2);
    MsCiphertext in(from, false, true);
    in.setLevel(1);
    for (u64 k = 0; k < in.getNumPoly(); ++k)
        for (u64 w = 0; w < in.getPoly(k).getData().size(); ++w)
            in.getPoly(k).getData().getData()[w] = (w * 13 + k) % 1000;
    MsCiphertext out(sharing, false, true);
    ModulusSwitcher().embed(in, out);
    ASSERT_EQ(out.getNumPoly(), 3u);
    for (u64 k = 0; k < 3; ++k)
        EXPECT_EQ(rowsOf(out.getPoly(k), 1), rowsOf(in.getPoly(k), 1));
    in.setLevel(2);
    expectThrowsMessage([&] { ModulusSwitcher().embed(in, out); },
                        "[setContext] Input context is not compatible with the ciphertext.");
}

} // namespace
} // namespace Quelt::test
