#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Plaintext.hpp"
#include "support/ExpectThrow.hpp"

#include <algorithm>
#include <sstream>
#include <string>

namespace Quelt::test {
namespace {

using Rlwe = CiphertextBase<EncryptionType::RLWE>;

class CiphertextMembersTest : public PrimeModuliFixture {
protected:
    // With a 43-bit base prime both degrees share the base prime (the largest
    // 43-bit prime that is 1 modulo 256); the quantize primes differ.
    static const std::shared_ptr<ContextContent> &big() {
        static const auto context = makeContext(7, 3, 43, 40, 43, 3);
        return context;
    }
    static const std::shared_ptr<ContextContent> &small() {
        static const auto context = makeContext(6, 3, 43, 40, 43, 3);
        return context;
    }
    // Three polynomials of degree 2N at level 0 with rescale counter 2;
    // coefficient j of polynomial p is 1000 p + j.
    static Rlwe embeddingInput() {
        Rlwe in(big(), false, false);
        in.setNumPoly(3);
        in.setLevel(0);
        in.setRescaleCounter(2);
        for (u64 p = 0; p < 3; ++p)
            for (u64 j = 0; j < 2 * kN; ++j)
                in.getPoly(p).getLimb(0)[j] = 1000 * p + j;
        return in;
    }
};

TEST_F(CiphertextMembersTest, CiphertextEmbedding) {
    const PrimeModuli &chain = small()->getPrimeModuli();
    Rlwe in = embeddingInput(), out(small(), false, false);
    ASSERT_EQ(in.getPoly(0).getPrime(0), chain.getModulus(0).getPrime());
    ASSERT_NE(in.getPoly(0).getPrime(1), chain.getModulus(1).getPrime());
    chain.embedCiphertext(in, out);
    EXPECT_EQ(out.getNumPoly(), 3u);
    EXPECT_EQ(out.getLevel(), 0u);
    EXPECT_EQ(out.getRescaleCounter(), 2);
    for (u64 p = 0; p < 3; ++p)
        for (u64 j = 0; j < kN; ++j)
            EXPECT_EQ(out.getPoly(p).getLimb(0)[j], 1000 * p + 2 * j);
    // Another prime at level 1, and a target of the same degree.
    in.setLevel(1);
    EXPECT_THROW(chain.embedCiphertext(in, out), RuntimeException);
    EXPECT_EQ(out.getLevel(), 0u);
    Rlwe same(small(), false, false);
    expectThrowsMessage([&] { chain.embedCiphertext(out, same); }, PrimeModuli::kHalfDegreeMessage);
}

TEST_F(CiphertextMembersTest, EmbeddingChecksEveryPolynomialBeforeChangingTheOutput) {
    Rlwe in = embeddingInput(), out(small(), false, false);
    for (u64 p = 0; p < 2; ++p)
        std::fill(out.getPoly(p).getData().begin(), out.getPoly(p).getData().end(), 0);
    auto savedBytes = [](const Rlwe &ct) {
        std::ostringstream stream;
        ct.save(stream);
        return stream.str();
    };
    const std::string before = savedBytes(out);

    // The second polynomial lost the limb of its level: refused, and out keeps
    // its two polynomials, its top level and its counter.
    in.getPoly(1).getData().resize(kN);
    expectThrowsMessage([&] { small()->getPrimeModuli().embedCiphertext(in, out); },
                        PrimeModuli::kShapeMismatchMessage);
    EXPECT_EQ(savedBytes(out), before);
    EXPECT_EQ(out.getNumPoly(), 2u);
    EXPECT_EQ(out.getLevel(), 2u);
}

TEST_F(CiphertextMembersTest, NoHostPathForRotMulAddAndModReduct) {
    Rlwe ct(ctx(), false, true), out(ctx(), false, true);
    const Plaintext ptxt(ctx());
    expectThrowsMessage(
        [&] { chain().rotMulAdd(out, ct, ptxt, 1); },
        "Cannot support the function 'rotMulAdd' in the current build configuration");
    expectThrowsMessage(
        [&] { chain().modReduct(ct); },
        "Cannot support the function 'modReduct' in the current build configuration");
}

} // namespace
} // namespace Quelt::test
