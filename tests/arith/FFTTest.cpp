#include "arith/FFT.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace Quelt;
using Complex = std::complex<double>;

namespace {

using Quelt::test::expectThrowsMessage;

std::vector<Complex> randomValues(std::uint64_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<Complex> values(n);
    for (auto &v : values)
        v = Complex(dist(rng), dist(rng));
    return values;
}

Message toMessage(const std::vector<Complex> &values) {
    Message m;
    m.resize(values.size());
    std::copy(values.begin(), values.end(), m.begin());
    return m;
}

// z_j = sum_k a_k w^(k 5^j) with w = exp(i pi / (2n)), evaluated directly with
// exact exponents modulo 4n and long double trigonometry.
std::vector<Complex> closedFormForward(const std::vector<Complex> &a) {
    const std::uint64_t n = a.size();
    const std::uint64_t order = 4 * n;
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<Complex> z(n);
    std::uint64_t g = 1; // 5^j mod 4n
    for (std::uint64_t j = 0; j < n; ++j) {
        long double re = 0, im = 0;
        for (std::uint64_t k = 0; k < n; ++k) {
            const std::uint64_t e = (k * g) % order;
            const long double theta = pi * static_cast<long double>(e) / (2.0L * n);
            const long double c = std::cos(theta), s = std::sin(theta);
            re += a[k].real() * c - a[k].imag() * s;
            im += a[k].real() * s + a[k].imag() * c;
        }
        z[j] = Complex(static_cast<double>(re), static_cast<double>(im));
        g = (g * 5) % order;
    }
    return z;
}

double maxDistance(const Message &m, const std::vector<Complex> &expected) {
    double worst = 0;
    for (std::uint64_t i = 0; i < expected.size(); ++i)
        worst = std::max(worst, std::abs(m[i] - expected[i]));
    return worst;
}

} // namespace

TEST(FFTTest, ForwardMatchesClosedFormForEverySlotCount) {
    for (std::uint64_t degree : {8u, 16u, 64u, 1024u}) {
        const FFT fft(degree, {kHostDevice});
        for (std::uint64_t n = 1; n <= degree / 2; n *= 2) {
            SCOPED_TRACE("N = " + std::to_string(degree) + ", n = " + std::to_string(n));
            const auto values = randomValues(n, static_cast<unsigned>(degree + n));
            const auto expected = closedFormForward(values);

            Message forward = toMessage(values);
            fft.forwardFFT(forward);
            EXPECT_LT(maxDistance(forward, expected), 1e-12 * static_cast<double>(n));

            // backwardFFT is the exact inverse, so it maps the closed form back.
            Message backward = toMessage(expected);
            fft.backwardFFT(backward);
            EXPECT_LT(maxDistance(backward, values), 1e-13 * static_cast<double>(n));
        }
    }
}

TEST(FFTTest, RoundTripsInBothOrders) {
    const std::uint64_t degree = 1 << 12;
    const FFT fft(degree, {kHostDevice});
    for (std::uint64_t n : {2u, 8u, 256u, 2048u}) {
        const auto values = randomValues(n, 7);
        Message m = toMessage(values);
        fft.forwardFFT(m);
        fft.backwardFFT(m);
        EXPECT_LT(maxDistance(m, values), 1e-13) << n;

        m = toMessage(values);
        fft.backwardFFT(m);
        fft.forwardFFT(m);
        EXPECT_LT(maxDistance(m, values), 1e-13) << n;
    }
}

TEST(FFTTest, TablesOfDegreeEight) {
    const FFT fft(8, {kHostDevice});
    EXPECT_EQ(fft.getDegree(), 8u);
    const auto &powers = fft.getPowers().at(kHostDevice);
    ASSERT_EQ(powers.size(), 4u);
    EXPECT_EQ(std::vector<std::uint64_t>(powers.begin(), powers.end()),
              (std::vector<std::uint64_t>{1, 5, 9, 13}));

    const auto &roots = fft.getRoots().at(kHostDevice);
    ASSERT_EQ(roots.size(), 17u);
    EXPECT_EQ(roots[0], Complex(1.0, 0.0));
    EXPECT_EQ(roots[16], roots[0]);
    for (std::uint64_t k = 0; k < 16; ++k)
        EXPECT_LT(std::abs(roots[k] - std::polar(1.0, M_PI * static_cast<double>(k) / 8.0)), 1e-15);

    const auto &fwd = fft.getForwardTwiddles().at(kHostDevice);
    const auto &bwd = fft.getBackwardTwiddles().at(kHostDevice);
    ASSERT_EQ(fwd.size(), 4u);
    ASSERT_EQ(bwd.size(), 4u);
    // Stage k = 1: m = 2, e = 2; stage k = 2: m = 1, e = 1 and 5.
    EXPECT_EQ(fwd[1], roots[2]);
    EXPECT_EQ(fwd[2], roots[1]);
    EXPECT_EQ(fwd[3], roots[5]);
    EXPECT_EQ(bwd[1], roots[14]);
    EXPECT_EQ(bwd[2], roots[15]);
    EXPECT_EQ(bwd[3], roots[11]);
    EXPECT_LT(std::abs(fwd[1] - std::polar(1.0, M_PI / 4)), 1e-15);
    for (int i = 1; i < 4; ++i)
        EXPECT_LT(std::abs(bwd[i] - std::conj(fwd[i])), 1e-15);
}

TEST(FFTTest, TwiddlesDependOnStageOnlyNotOnDegree) {
    const FFT small(16, {kHostDevice});
    const FFT large(256, {kHostDevice});
    const auto &a = small.getForwardTwiddles().at(kHostDevice);
    const auto &b = large.getForwardTwiddles().at(kHostDevice);
    const auto &c = small.getBackwardTwiddles().at(kHostDevice);
    const auto &d = large.getBackwardTwiddles().at(kHostDevice);
    for (std::uint64_t i = 1; i < 8; ++i) {
        EXPECT_EQ(a[i], b[i]) << i;
        EXPECT_EQ(c[i], d[i]) << i;
    }
}

TEST(FFTTest, TwoSlotsAndTrivialSizes) {
    const FFT fft(16, {kHostDevice});
    const Complex a0(0.5, -1.25), a1(2.0, 0.75);
    const Complex w = std::polar(1.0, M_PI / 4);
    Message m(std::vector<Complex>{a0, a1});
    fft.forwardFFT(m);
    EXPECT_LT(std::abs(m[0] - (a0 + a1 * w)), 1e-15);
    EXPECT_LT(std::abs(m[1] - (a0 - a1 * w)), 1e-15);
    fft.backwardFFT(m);
    EXPECT_LT(std::abs(m[0] - a0), 1e-15);
    EXPECT_LT(std::abs(m[1] - a1), 1e-15);

    Message one(std::vector<Complex>{a1});
    fft.forwardFFT(one);
    EXPECT_EQ(one[0], a1);
    fft.backwardFFT(one);
    EXPECT_EQ(one[0], a1);

    Message empty;
    fft.forwardFFT(empty);
    fft.backwardFFT(empty);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(FFTTest, RefusesBadSizesWithoutTouchingTheMessage) {
    const FFT fft(16, {kHostDevice});
    struct Case {
        std::uint64_t size;
        const char *message;
    };
    const Case cases[] = {
        {3, "[FFT] The size of message must be a power of two"},
        {6, "[FFT] The size of message must be a power of two"},
        {16, "[FFT] The size of message must not exceed half the degree"},
        {32, "[FFT] The size of message must not exceed half the degree"},
    };
    for (const Case &c : cases) {
        const auto values = randomValues(c.size, 3);
        Message m = toMessage(values);
        for (int direction = 0; direction < 2; ++direction) {
            expectThrowsMessage([&] { direction == 0 ? fft.forwardFFT(m) : fft.backwardFFT(m); },
                                c.message);
            EXPECT_EQ(maxDistance(m, values), 0.0);
        }
    }
}

TEST(FFTTest, RefusesMessagesOffTheHost) {
    const FFT fft(16, {kHostDevice});
    const std::string prefix = "Cannot support the function '";
    const std::string suffix = "' in the current build configuration";
    struct Case {
        Device device;
        const char *forward;
        const char *backward;
    };
    const Case cases[] = {{Device{Device::kCuda, 0}, "forwardFFTCUDA", "backwardFFTCUDA"},
                          {Device{Device::kPinned, 0}, "forwardFFT", "backwardFFT"}};
    for (const Case &c : cases) {
        // An empty message can be placed on any device without an allocation.
        Message m;
        m.allocate(c.device);
        expectThrowsMessage([&] { fft.forwardFFT(m); }, prefix + c.forward + suffix);
        expectThrowsMessage([&] { fft.backwardFFT(m); }, prefix + c.backward + suffix);
        expectThrowsMessage([&] { fft.forwardFFTCUDA(m); }, prefix + "forwardFFTCUDA" + suffix);
        expectThrowsMessage([&] { fft.backwardFFTCUDA(m); }, prefix + "backwardFFTCUDA" + suffix);
    }
}

TEST(FFTTest, RefusesBadDegrees) {
    for (std::uint64_t degree : {0ull, 12ull, 3ull << 20}) {
        expectThrowsMessage([&] { FFT(degree, {kHostDevice}); },
                            "[FFT] degree must be a power of two.");
    }
    expectThrowsMessage([] { FFT(std::uint64_t{1} << 63, {kHostDevice}); },
                        "[FFT] degree must not exceed 2^62.");
}

TEST(FFTTest, PlainProductStagesAreBitIdenticalToStdComplex) {
    const std::uint64_t degree = 1 << 10;
    const FFT fft(degree, {kHostDevice});
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-1070, 890); // subnormal to near the limit
    for (bool forward : {true, false}) {
        const auto &table = forward ? fft.getForwardTwiddles().at(kHostDevice)
                                    : fft.getBackwardTwiddles().at(kHostDevice);
        for (std::uint64_t n : {2u, 4u, 8u, 64u, 512u}) {
            std::vector<Complex> plain(n);
            for (auto &v : plain)
                v = Complex(std::ldexp(mantissa(rng), exponent(rng)),
                            std::ldexp(mantissa(rng), exponent(rng)));
            std::vector<Complex> reference = plain;
            if (forward) {
                detail::fftStages<true, true>(plain.data(), n, table.getData());
                detail::fftStages<true, false>(reference.data(), n, table.getData());
            } else {
                detail::fftStages<false, true>(plain.data(), n, table.getData());
                detail::fftStages<false, false>(reference.data(), n, table.getData());
            }
            EXPECT_EQ(std::memcmp(plain.data(), reference.data(), n * sizeof(Complex)), 0)
                << (forward ? "forward " : "backward ") << n;
        }
    }
}

TEST(FFTTest, NonFiniteInputsKeepTheRecoveringProduct) {
    // (inf, NaN) x w gives NaN in both parts by the plain formula; the
    // recovering product turns it into (inf, inf) for w = exp(i pi / 4).
    const FFT fft(16, {kHostDevice});
    const double inf = std::numeric_limits<double>::infinity();
    Message m(std::vector<Complex>{{0.0, 0.0}, {inf, std::nan("")}});
    fft.forwardFFT(m);
    EXPECT_EQ(m[0], Complex(inf, inf));
    EXPECT_EQ(m[1], Complex(-inf, -inf));
}
