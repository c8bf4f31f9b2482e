#include "arith/NTT.hpp"
#include "arith/NTTKernels.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

// Primes 1 modulo 2^18: friendly for every type and every N up to 2^16.
constexpr u64 kPrime60 = 1152921504606584833ULL;
constexpr u64 kPrime62 = 4611686018425815041ULL; // below 2^62: 4p still fits a word
constexpr u64 kPrime30 = 1073692673ULL;          // 1 modulo 2^13

constexpr NttType kTypes[] = {NttType::NEGACYCLIC, NttType::NEGACYCLIC_SQUARE_4N,
                              NttType::CONJUGATE_INVARIANT};

unsigned log2Of(u64 n) {
    unsigned l = 0;
    while ((u64{1} << l) < n)
        ++l;
    return l;
}

// The root psi of the constructor, found independently.
u64 rootRef(u64 N, u64 p, NttType type) {
    switch (type) {
    case NttType::NEGACYCLIC:
        return smallestRootOfUnityRef(2 * N, p);
    case NttType::NEGACYCLIC_SQUARE_4N: {
        const u64 r = smallestRootOfUnityRef(4 * N, p);
        return mulModRef(r, r, p);
    }
    default:
        return smallestRootOfUnityRef(4 * N, p);
    }
}

// What computeForward<1> must produce, by direct evaluation.
std::vector<u64> forwardRef(const std::vector<u64> &a, u64 p, NttType type) {
    const u64 N = a.size();
    const unsigned bits = log2Of(N);
    const u64 psi = rootRef(N, p, type);
    std::vector<u64> out(N);
    for (u64 j = 0; j < N; ++j) {
        const u64 r = reverseBitsRef(j, bits);
        if (type != NttType::CONJUGATE_INVARIANT) {
            out[j] = evaluateRef(a, powModRef(psi, 2 * r + 1, p), p);
        } else {
            const u64 x = powModRef(psi, 4 * r + 1, p), xi = invModRef(x, p);
            u64 s = a[0] % p;
            for (u64 l = 1; l < N; ++l)
                s = addModRef(
                    s, mulModRef(a[l], addModRef(powModRef(x, l, p), powModRef(xi, l, p), p), p),
                    p);
            out[j] = s;
        }
    }
    return out;
}

std::vector<u64> reduced(std::vector<u64> v, u64 p) {
    for (auto &x : v)
        x %= p;
    return v;
}

void expectThrows(u64 N, u64 p, NttType type, const std::string &message) {
    SCOPED_TRACE("N = " + std::to_string(N) + ", p = " + std::to_string(p));
    test::expectThrowsMessage([&] { NTT ntt(N, p, type); }, message);
}

// Forward of every K, then backward of every K, on one limb: returns the input.
void expectRoundTrips(const NTT &ntt, const std::vector<u64> &input) {
    const u64 p = ntt.getPrime();
    std::vector<u64> a = input;
    ntt.computeForward<1>(a.data());
    ntt.computeBackward<1>(a.data());
    EXPECT_EQ(a, input) << "K = 1";
    a = input;
    ntt.computeForward<2>(a.data());
    ntt.computeBackward<2>(a.data());
    EXPECT_EQ(reduced(a, p), input) << "K = 2";
    a = input;
    ntt.computeForward<4>(a.data());
    for (auto &x : a)
        x = x >= 2 * p ? x - 2 * p : x; // backward accepts values below 2p
    ntt.computeBackward<1>(a.data());
    EXPECT_EQ(a, input) << "K = 4";
}

} // namespace

TEST(NTTTest, RejectsUnfriendlyModuliBeforeBadDegrees) {
    const std::string degree = "[NTT] degree must be a power of two.";
    auto modulus = [](u64 p) {
        return "The modulus " + std::to_string(p) + " is not NTT-friendly.";
    };
    expectThrows(8, 17, NttType::NEGACYCLIC_SQUARE_4N, modulus(17)); // 17 is not 1 mod 32
    expectThrows(8, 17, NttType::CONJUGATE_INVARIANT, modulus(17));
    expectThrows(12, 73, NttType::NEGACYCLIC, degree); // 73 = 1 mod 24
    expectThrows(12, 19, NttType::NEGACYCLIC, modulus(19));
    expectThrows(0, 17, NttType::NEGACYCLIC, degree); // no division by 2N = 0
    expectThrows(0, 97, NttType::CONJUGATE_INVARIANT, degree);
    expectThrows(8, 0, NttType::NEGACYCLIC, modulus(0));
    expectThrows(8, 1, NttType::NEGACYCLIC, modulus(1));
    expectThrows(8, 33, NttType::NEGACYCLIC, modulus(33)); // 1 mod 16 but 3 x 11
    expectThrows(0, 33, NttType::NEGACYCLIC, modulus(33));
    // A prime 1 mod 16 above 2^62: 4p would not fit in a word.
    expectThrows(8, 4611686018427388081ULL, NttType::NEGACYCLIC, modulus(4611686018427388081ULL));
    // 4N = 2^64 does not wrap to 0.
    expectThrows(u64{1} << 62, kPrime60, NttType::NEGACYCLIC_SQUARE_4N, modulus(kPrime60));
    EXPECT_NO_THROW(NTT(8, 17, NttType::NEGACYCLIC));
}

TEST(NTTTest, TwistsExistOnlyForTheConjugateInvariantType) {
    NTT ntt(8, 17, NttType::NEGACYCLIC);
    EXPECT_TRUE(ntt.getTwistPowers().empty());
    EXPECT_TRUE(ntt.getInverseTwistCompanions().empty());
    std::vector<u64> a(8, 1);
    const std::string message =
        "[NTT] conversion and inversion exist only for the conjugate-invariant type.";
    for (int which = 0; which < 2; ++which) {
        expectThrowsMessage(
            [&] {
                which == 0 ? ntt.conversion(a.data(), a.data()) : ntt.inversion(a.data(), a.data());
            },
            message);
    }
    EXPECT_EQ(a, std::vector<u64>(8, 1));
}

TEST(NTTTest, RootChoice) {
    struct Case {
        u64 N, p;
        NttType type;
        u64 psi;
    };
    for (const Case &c :
         {Case{16, 193, NttType::NEGACYCLIC, 8}, Case{16, 193, NttType::NEGACYCLIC_SQUARE_4N, 121},
          Case{16, 641, NttType::NEGACYCLIC, 4}, Case{16, 641, NttType::NEGACYCLIC_SQUARE_4N, 4},
          Case{8, 17, NttType::NEGACYCLIC, 3}}) {
        NTT ntt(c.N, c.p, c.type);
        EXPECT_EQ(c.psi, rootRef(c.N, c.p, c.type));
        // W[rev(1)] = W[N/2] = psi.
        EXPECT_EQ(ntt.getForwardTwiddles()[c.N / 2], c.psi) << c.p;
    }
}

TEST(NTTTest, TablesAndCompanions) {
    for (NttType type : kTypes) {
        for (u64 N : {1, 2, 16}) {
            const u64 p = kPrime30;
            NTT ntt(N, p, type);
            ASSERT_EQ(ntt.getForwardTwiddles().size(), N);
            ASSERT_EQ(ntt.getInverseTwiddles().size(), N);
            auto companionOk = [p](u64 w, u64 c) {
                return w < p &&
                       c == static_cast<u64>((static_cast<unsigned __int128>(w) << 64) / p);
            };
            for (u64 i = 0; i < N; ++i) {
                EXPECT_TRUE(
                    companionOk(ntt.getForwardTwiddles()[i], ntt.getForwardTwiddleCompanions()[i]));
                EXPECT_TRUE(
                    companionOk(ntt.getInverseTwiddles()[i], ntt.getInverseTwiddleCompanions()[i]));
            }
            // Stage-order inverse twiddles: the stage with m groups reads
            // V[N + 1 - 2m + i], the inverse of the forward twiddle W[m + i].
            for (u64 m = N / 2; m >= 1; m /= 2)
                for (u64 i = 0; i < m; ++i)
                    EXPECT_EQ(mulModRef(ntt.getInverseTwiddles()[N + 1 - 2 * m + i],
                                        ntt.getForwardTwiddles()[m + i], p),
                              1u);
            EXPECT_EQ(mulModRef(ntt.getDegreeInverse(), N, p), 1u);
            EXPECT_TRUE(companionOk(ntt.getDegreeInverse(), ntt.getDegreeInverseCompanion()));
            EXPECT_EQ(ntt.getLastTwiddle(),
                      mulModRef(ntt.getDegreeInverse(), ntt.getInverseTwiddles()[N - 1], p));
            EXPECT_TRUE(companionOk(ntt.getLastTwiddle(), ntt.getLastTwiddleCompanion()));
            if (type == NttType::CONJUGATE_INVARIANT) {
                const u64 psi = rootRef(N, p, type);
                ASSERT_EQ(ntt.getTwistPowers().size(), N);
                ASSERT_EQ(ntt.getInverseTwistPowers().size(), N + 1);
                for (u64 j = 0; j <= N; ++j) {
                    if (j < N) {
                        EXPECT_EQ(ntt.getTwistPowers()[j], powModRef(psi, j, p));
                        EXPECT_TRUE(
                            companionOk(ntt.getTwistPowers()[j], ntt.getTwistCompanions()[j]));
                    }
                    EXPECT_EQ(mulModRef(ntt.getInverseTwistPowers()[j], powModRef(psi, j, p), p),
                              1u);
                    EXPECT_TRUE(companionOk(ntt.getInverseTwistPowers()[j],
                                            ntt.getInverseTwistCompanions()[j]));
                }
            }
        }
    }
}

TEST(NTTTest, ForwardEvaluatesAtTheRoots) {
    std::mt19937_64 rng(1);
    for (NttType type : kTypes) {
        for (u64 N : {1, 2, 4, 8, 16, 64}) {
            const u64 p = kPrime30;
            NTT ntt(N, p, type);
            const u64 psi = rootRef(N, p, type);
            std::vector<u64> a = randomResidues(N, p, rng);
            std::vector<u64> out = a;
            ntt.computeForward<1>(out.data());
            EXPECT_EQ(out, forwardRef(a, p, type)) << "N = " << N;

            if (type == NttType::CONJUGATE_INVARIANT)
                continue;
            std::vector<u64> one(N, 0), x(N, 0);
            one[0] = 1;
            ntt.computeForward<1>(one.data());
            EXPECT_EQ(one, std::vector<u64>(N, 1));
            if (N < 2)
                continue;
            x[1] = 1;
            ntt.computeForward<1>(x.data());
            for (u64 j = 0; j < N; ++j)
                EXPECT_EQ(x[j], powModRef(psi, 2 * reverseBitsRef(j, log2Of(N)) + 1, p));
        }
    }
}

TEST(NTTTest, NegacyclicProductsMatchSchoolbook) {
    std::mt19937_64 rng(2);
    for (NttType type : {NttType::NEGACYCLIC, NttType::NEGACYCLIC_SQUARE_4N}) {
        for (u64 p : {kPrime30, kPrime60, kPrime62}) {
            for (u64 N : {1, 2, 4, 8, 16, 32, 128}) {
                NTT ntt(N, p, type);
                const std::vector<u64> a = randomResidues(N, p, rng), b = randomResidues(N, p, rng);
                std::vector<u64> fa = a, fb = b;
                ntt.computeForward<1>(fa.data());
                ntt.computeForward<4>(fb.data()); // any K: the product reduces
                std::vector<u64> c(N);
                for (u64 i = 0; i < N; ++i)
                    c[i] = mulModRef(fa[i], fb[i] % p, p);
                ntt.computeBackward<1>(c.data());
                EXPECT_EQ(c, negacyclicProductRef(a, b, p)) << "N = " << N << ", p = " << p;
            }
        }
    }
}

TEST(NTTTest, ConjugateInvariantTwistsInvert) {
    std::mt19937_64 rng(3);
    for (u64 N : {1, 2, 4, 8, 32}) {
        NTT ntt(N, kPrime60, NttType::CONJUGATE_INVARIANT);
        const std::vector<u64> a = randomResidues(N, kPrime60, rng);
        std::vector<u64> b(N), c = a;
        ntt.conversion(a.data(), b.data());
        ntt.conversion(c.data(), c.data()); // in place gives the same words
        EXPECT_EQ(b, c);
        ntt.inversion(b.data(), b.data());
        EXPECT_EQ(b, a);
    }
}

TEST(NTTTest, RoundTripsForEveryTypeDegreeAndK) {
    std::mt19937_64 rng(4);
    for (NttType type : kTypes) {
        for (unsigned log_n = 0; log_n <= 16; ++log_n) {
            const u64 N = u64{1} << log_n;
            const u64 p = log_n % 2 ? kPrime60 : kPrime62;
            NTT ntt(N, p, type);
            expectRoundTrips(ntt, randomResidues(N, p, rng));
        }
    }
}

TEST(NTTTest, OutputBoundsOnInputsNearTheTop) {
    std::mt19937_64 rng(5);
    for (NttType type : kTypes) {
        for (u64 N : {2, 8, 256}) {
            const u64 p = kPrime62;
            NTT ntt(N, p, type);
            std::vector<u64> top(N);
            std::uniform_int_distribution<u64> near4p(4 * p - 1000, 4 * p - 1);
            for (auto &x : top)
                x = near4p(rng);
            top[0] = 4 * p - 1;
            std::vector<u64> expected = reduced(top, p);
            ntt.computeForward<1>(expected.data());
            for (int K : {1, 2, 4}) {
                std::vector<u64> a = top;
                if (K == 1)
                    ntt.computeForward<1>(a.data());
                else if (K == 2)
                    ntt.computeForward<2>(a.data());
                else
                    ntt.computeForward<4>(a.data());
                for (u64 i = 0; i < N; ++i) {
                    EXPECT_LT(a[i], K * p) << "forward K = " << K;
                    EXPECT_EQ(a[i] % p, expected[i]);
                }
            }
            std::uniform_int_distribution<u64> near2p(2 * p - 1000, 2 * p - 1);
            for (auto &x : top)
                x = near2p(rng);
            expected = reduced(top, p);
            ntt.computeBackward<1>(expected.data());
            for (int K : {1, 2}) {
                std::vector<u64> a = top;
                if (K == 1)
                    ntt.computeBackward<1>(a.data());
                else
                    ntt.computeBackward<2>(a.data());
                for (u64 i = 0; i < N; ++i) {
                    EXPECT_LT(a[i], K * p) << "backward K = " << K;
                    EXPECT_EQ(a[i] % p, expected[i]);
                }
            }
        }
    }
}

TEST(NTTTest, TransformsAreTheirSingleStages) {
    std::mt19937_64 rng(6);
    for (NttType type : kTypes) {
        for (u64 N : {2, 4, 16, 64}) {
            const u64 p = kPrime60;
            NTT ntt(N, p, type);
            const std::vector<u64> input = randomResidues(N, 4 * p, rng);
            std::vector<u64> whole = input, steps = input;
            ntt.computeForward<4>(whole.data());
            if (type == NttType::CONJUGATE_INVARIANT)
                ntt.conversion(steps.data(), steps.data());
            for (u64 t = N / 2; t >= 1; t /= 2)
                ntt.computeForwardNativeSingleStep(steps.data(), t);
            ntt.computeForwardNativeSingleStep(steps.data(), N); // t > N/2: nothing
            ntt.computeForwardNativeSingleStep(steps.data(), 0);
            EXPECT_EQ(whole, steps);

            whole = steps = reduced(input, 2 * p);
            ntt.computeBackward<2>(whole.data());
            for (u64 t = 1; t <= N / 4; t *= 2)
                ntt.computeBackwardNativeSingleStep(steps.data(), t);
            ntt.computeBackwardNativeSingleStep(steps.data(), N);
            ntt.computeBackwardNativeLast(steps.data());
            if (type == NttType::CONJUGATE_INVARIANT)
                ntt.inversion(steps.data(), steps.data());
            EXPECT_EQ(whole, steps);
        }
    }
}

TEST(NTTTest, SharedEvaluationPointsFollowTheRoots) {
    // 2^61 + 10485761 is 1 modulo 512. The smallest primitive 128th root is
    // not the square of the smallest 256th root here, while the type-1 root
    // of degree 64 is that square by construction.
    const std::uint64_t p = (std::uint64_t{1} << 61) + 10485761;
    const NTT big(128, p, NttType::NEGACYCLIC);
    const NTT small(64, p, NttType::NEGACYCLIC);
    const NTT square(64, p, NttType::NEGACYCLIC_SQUARE_4N);
    ASSERT_NE(small.getRoot(), square.getRoot());
    EXPECT_FALSE(sharesEvaluationPoints(small, big));
    EXPECT_TRUE(sharesEvaluationPoints(square, big));
    EXPECT_TRUE(sharesEvaluationPoints(big, big));
    // Degrees that do not divide, another prime, the conjugate-invariant type.
    EXPECT_FALSE(sharesEvaluationPoints(big, square));
    EXPECT_FALSE(sharesEvaluationPoints(NTT(64, 257, NttType::NEGACYCLIC_SQUARE_4N), big));
    EXPECT_FALSE(sharesEvaluationPoints(NTT(64, p, NttType::CONJUGATE_INVARIANT), big));
}

TEST(NTTTest, VectorPathMatchesScalarWordForWord) {
    if (!ntt_kernels::vectorPathAvailable())
        GTEST_SKIP() << "no vector path on this processor";
    std::mt19937_64 rng(7);
    for (NttType type : kTypes) {
        for (unsigned log_n = 0; log_n <= 12; ++log_n) {
            const u64 N = u64{1} << log_n;
            for (u64 p : {kPrime30, kPrime62}) {
                NTT ntt(N, p, type);
                const std::vector<u64> in4 = randomResidues(N, 4 * p, rng);
                const std::vector<u64> in2 = randomResidues(N, 2 * p, rng);
                for (int K : {1, 2, 4}) {
                    std::vector<u64> scalar = in4, vector = in4;
                    ntt_kernels::setVectorPathEnabled(false);
                    K == 1   ? ntt.computeForward<1>(scalar.data())
                    : K == 2 ? ntt.computeForward<2>(scalar.data())
                             : ntt.computeForward<4>(scalar.data());
                    ntt_kernels::setVectorPathEnabled(true);
                    K == 1   ? ntt.computeForward<1>(vector.data())
                    : K == 2 ? ntt.computeForward<2>(vector.data())
                             : ntt.computeForward<4>(vector.data());
                    EXPECT_EQ(scalar, vector) << "forward K = " << K << ", N = " << N;
                }
                for (int K : {1, 2}) {
                    std::vector<u64> scalar = in2, vector = in2;
                    ntt_kernels::setVectorPathEnabled(false);
                    K == 1 ? ntt.computeBackward<1>(scalar.data())
                           : ntt.computeBackward<2>(scalar.data());
                    ntt_kernels::setVectorPathEnabled(true);
                    K == 1 ? ntt.computeBackward<1>(vector.data())
                           : ntt.computeBackward<2>(vector.data());
                    EXPECT_EQ(scalar, vector) << "backward K = " << K << ", N = " << N;
                }
            }
        }
    }
}
