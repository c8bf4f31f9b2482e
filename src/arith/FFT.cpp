#include "arith/FFT.hpp"
#include "foundation/DeviceDispatch.hpp"

#include "Quelt/Exception.hpp"

#include <bit>
#include <cmath>
#include <utility>

namespace Quelt {

namespace {

constexpr const char *kDegreeNotPowerOfTwo = "[FFT] degree must be a power of two.";
// 2N + 1 roots must be countable in 64 bits.
constexpr const char *kDegreeTooLarge = "[FFT] degree must not exceed 2^62.";
constexpr std::uint64_t kMaxDegree = std::uint64_t{1} << 62;
constexpr const char *kSizeNotPowerOfTwo = "[FFT] The size of message must be a power of two";
constexpr const char *kSizeTooLarge = "[FFT] The size of message must not exceed half the degree";

constexpr double kPi = 3.141592653589793;

using Complex = std::complex<double>;

std::uint64_t checkedDegree(std::uint64_t degree) {
    if (!std::has_single_bit(degree))
        throw RuntimeException(kDegreeNotPowerOfTwo);
    if (degree > kMaxDegree)
        throw RuntimeException(kDegreeTooLarge);
    return degree;
}

// Swaps every value with the one at the bit-reversed index (n a power of two).
void bitReverse(Complex *a, std::uint64_t n) {
    for (std::uint64_t i = 1, j = 0; i < n; ++i) {
        std::uint64_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
}

// Product of a value and a twiddle. The plain formula is what std::complex
// computes first; std::complex only departs from it (to recover infinities)
// when both parts come out NaN. Plain products vectorise; the transforms use
// them only for inputs that cannot reach that case (see plainProductIsExact).
template <bool Plain>
inline Complex multiply(const Complex &x, const Complex &w) {
    if constexpr (Plain) {
        return Complex(x.real() * w.real() - x.imag() * w.imag(),
                       x.real() * w.imag() + x.imag() * w.real());
    } else {
        return x * w;
    }
}

// One stage of half-length k over n values; `twiddles` is the whole stage
// table, so the stage reads its k entries from twiddles + k contiguously.
template <bool Forward, bool Plain>
void computeSingleStep(Complex *a, std::uint64_t n, std::uint64_t k, const Complex *twiddles) {
    const Complex *w = twiddles + k;
    for (std::uint64_t b = 0; b < n; b += 2 * k) {
        Complex *lo = a + b;
        Complex *hi = lo + k;
        for (std::uint64_t j = 0; j < k; ++j) {
            if constexpr (Forward) {
                const Complex u = lo[j];
                const Complex v = multiply<Plain>(hi[j], w[j]);
                lo[j] = u + v;
                hi[j] = u - v;
            } else {
                const Complex u = lo[j];
                const Complex v = hi[j];
                lo[j] = u + v;
                hi[j] = multiply<Plain>(u - v, w[j]);
            }
        }
    }
}

// The stages of half-length 1, 2 and 4 run block by block over 8 values while
// the block sits in registers/L1. Within a stage of half-length k <= 4 every
// butterfly stays inside its block of 8, so doing all three stages on one block
// before the next gives the same operations on the same operands as doing them
// stage after stage over the whole array. n >= 8.
template <bool Forward, bool Plain>
void computeSmallSteps(Complex *a, std::uint64_t n, const Complex *twiddles) {
    // Entries 1 to 7: the twiddles of the three stages, read once per call.
    Complex w[8];
    for (int i = 1; i < 8; ++i)
        w[i] = twiddles[i];
    for (std::uint64_t b = 0; b < n; b += 8) {
        Complex *x = a + b;
        if constexpr (Forward) {
            for (int k = 1; k <= 4; k <<= 1)
                for (int s = 0; s < 8; s += 2 * k)
                    for (int j = 0; j < k; ++j) {
                        const Complex u = x[s + j];
                        const Complex v = multiply<Plain>(x[s + j + k], w[k + j]);
                        x[s + j] = u + v;
                        x[s + j + k] = u - v;
                    }
        } else {
            for (int k = 4; k >= 1; k >>= 1)
                for (int s = 0; s < 8; s += 2 * k)
                    for (int j = 0; j < k; ++j) {
                        const Complex u = x[s + j];
                        const Complex v = x[s + j + k];
                        x[s + j] = u + v;
                        x[s + j + k] = multiply<Plain>(u - v, w[k + j]);
                    }
        }
    }
}

// Twiddles have modulus 1 (up to rounding), so a stage at most doubles the
// largest modulus and every product stays below it. Starting from parts below
// 2^900, even 63 stages stay far below 2^1024: no infinity, hence no NaN pair,
// can arise and the plain product is exactly std::complex's. NaN and infinite
// parts fail the comparison and send the message down the std::complex path.
bool plainProductIsExact(const Complex *a, std::uint64_t n) {
    constexpr double kLimit = 0x1p900;
    const double *parts = reinterpret_cast<const double *>(a);
    std::uint64_t outside = 0;
    for (std::uint64_t i = 0; i < 2 * n; ++i)
        outside += !(std::fabs(parts[i]) < kLimit);
    return outside == 0;
}

template <bool Forward>
void runStages(Complex *a, std::uint64_t n, const Complex *twiddles) {
    if (plainProductIsExact(a, n))
        detail::fftStages<Forward, true>(a, n, twiddles);
    else
        detail::fftStages<Forward, false>(a, n, twiddles);
}

} // namespace

namespace detail {

template <bool Forward, bool Plain>
void fftStages(Complex *a, std::uint64_t n, const Complex *twiddles) {
    if constexpr (Forward) {
        std::uint64_t k = 1;
        if (n >= 8) {
            computeSmallSteps<true, Plain>(a, n, twiddles);
            k = 8;
        }
        for (; k < n; k <<= 1)
            computeSingleStep<true, Plain>(a, n, k, twiddles);
    } else {
        const std::uint64_t last = n >= 8 ? 8 : 1;
        for (std::uint64_t k = n / 2; k >= last; k >>= 1)
            computeSingleStep<false, Plain>(a, n, k, twiddles);
        if (n >= 8)
            computeSmallSteps<false, Plain>(a, n, twiddles);
    }
}

template void fftStages<true, true>(Complex *, std::uint64_t, const Complex *);
template void fftStages<true, false>(Complex *, std::uint64_t, const Complex *);
template void fftStages<false, true>(Complex *, std::uint64_t, const Complex *);
template void fftStages<false, false>(Complex *, std::uint64_t, const Complex *);

} // namespace detail

FFT::FFT(std::uint64_t degree, const std::set<Device> &devices) : degree_(checkedDegree(degree)) {
    const std::uint64_t n = degree_;
    const std::uint64_t half = n / 2;
    const std::uint64_t twoN = 2 * n;
    const std::uint64_t mask = twoN - 1;

    PowerTable &powers = powers_.at(kHostDevice);
    powers.resize(half);
    // 2N divides 2^64, so wrapping in 64 bits before the mask is harmless.
    std::uint64_t p = 1;
    for (std::uint64_t j = 0; j < half; ++j) {
        powers[j] = p;
        p = (p * 5) & mask;
    }

    // The complex tables start without entries; the host ones are built here.
    roots_.set(kHostDevice, ComplexTable());
    forward_twiddles_.set(kHostDevice, ComplexTable());
    backward_twiddles_.set(kHostDevice, ComplexTable());
    ComplexTable &roots = roots_.at(kHostDevice);
    roots.resize(twoN + 1);
    for (std::uint64_t k = 0; k < twoN; ++k) {
        const double theta = (static_cast<double>(k) * kPi) / static_cast<double>(n);
        roots[k] = std::polar(1.0, theta);
    }
    roots[twoN] = roots[0];

    ComplexTable &forward = forward_twiddles_.at(kHostDevice);
    ComplexTable &backward = backward_twiddles_.at(kHostDevice);
    forward.resize(half);
    backward.resize(half);
    for (std::uint64_t m = n / 4; m >= 1; m >>= 1) {
        const std::uint64_t k = (n / 4) / m;
        for (std::uint64_t j = 0; j < k; ++j) {
            const std::uint64_t e = (m * powers[j]) & mask;
            forward[k + j] = roots[e];
            backward[k + j] = roots[twoN - e];
        }
    }

    if (CudaTools::isAvailable()) {
        for (const Device &device : devices) {
            if (device.isHost())
                continue;
            powers_.copyTo(kHostDevice, device);
            roots_.copyTo(kHostDevice, device);
            forward_twiddles_.copyTo(kHostDevice, device);
            backward_twiddles_.copyTo(kHostDevice, device);
        }
    }
}

void FFT::checkSize(std::uint64_t n) const {
    if (n > 1 && !std::has_single_bit(n))
        throw RuntimeException(kSizeNotPowerOfTwo);
    if (n > degree_ / 2)
        throw RuntimeException(kSizeTooLarge);
}

void FFT::forwardFFT(Message &message) const {
    const Device &device = message.getDevice();
    dispatchDevice(device, "forwardFFTCUDA", "forwardFFT");

    const ComplexTable &twiddles = forward_twiddles_.at(kHostDevice);
    const std::uint64_t n = message.getSize();
    checkSize(n);
    if (n < 2)
        return;

    Complex *a = message.begin();
    bitReverse(a, n);
    runStages<true>(a, n, twiddles.getData());
}

void FFT::backwardFFT(Message &message) const {
    const Device &device = message.getDevice();
    dispatchDevice(device, "backwardFFTCUDA", "backwardFFT");

    const ComplexTable &twiddles = backward_twiddles_.at(kHostDevice);
    const std::uint64_t n = message.getSize();
    checkSize(n);
    if (n == 0)
        return;

    Complex *a = message.begin();
    runStages<false>(a, n, twiddles.getData());
    if (n > 1)
        bitReverse(a, n);
    // n is a power of two, so 1/n is exact and x * (1/n) is the same correctly
    // rounded number as x / n, subnormal results included.
    const double inverse = 1.0 / static_cast<double>(n);
    for (std::uint64_t i = 0; i < n; ++i)
        a[i] *= inverse;
}

void FFT::forwardFFTCUDA(Message &) const { throwUnsupportedFunction("forwardFFTCUDA"); }

void FFT::backwardFFTCUDA(Message &) const { throwUnsupportedFunction("backwardFFTCUDA"); }

} // namespace Quelt
