#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/MultipleDevice.hpp"

#include <complex>
#include <cstdint>
#include <set>

namespace Quelt {

namespace detail {
// The butterfly stages of a transform of n values (a power of two, at most the
// twiddle table's size), without the bit reversal and the final division.
// Plain = true uses the textbook complex product, which equals std::complex's
// product unless that formula gives NaN in both parts; the transforms choose
// it only for inputs whose parts are finite and below 2^900.
template <bool Forward, bool Plain>
void fftStages(std::complex<double> *values, std::uint64_t n, const std::complex<double> *twiddles);
} // namespace detail

// Complex transform between the slots of a message and the coefficient-order
// values of the canonical embedding of Z[X]/(X^N + 1).
//
// With w = exp(i pi / (2n)) for a message of n values, forwardFFT maps
// a_0 .. a_{n-1} to z_j = sum_k a_k w^(k 5^j); backwardFFT is its exact
// inverse (division by n included). One set of tables serves every n that is
// a power of two not above N/2.
class FFT {
public:
    using PowerTable = DeviceSpecificArray<std::uint64_t>;
    using ComplexTable = DeviceSpecificArray<std::complex<double>>;

    // Builds the host tables for ring degree N = degree. Throws
    // RuntimeException when degree is not a power of two or is above 2^62.
    FFT(std::uint64_t degree, const std::set<Device> &devices);

    // In place, decoding direction: coefficient-order values become slot
    // values. No scaling.
    // Throws RuntimeException when the message is not on the host (an
    // accelerator message names forwardFFTCUDA, any other device forwardFFT),
    // when its size is above N/2, or when its size is 2 or more and not a
    // power of two; the message is unchanged then.
    void forwardFFT(Message &message) const;
    // In place, encoding direction: the inverse of forwardFFT, divided by n.
    // Same failures, naming backwardFFTCUDA / backwardFFT.
    void backwardFFT(Message &message) const;

    // Accelerator forms; always throw in a host-only build.
    void forwardFFTCUDA(Message &message) const;
    void backwardFFTCUDA(Message &message) const;

    std::uint64_t getDegree() const { return degree_; }
    // N/2 entries: entry j = 5^j mod 2N.
    const MultipleDevice<PowerTable> &getPowers() const { return powers_; }
    // 2N + 1 entries: entry k = exp(i pi k / N), entry 2N = 1.
    const MultipleDevice<ComplexTable> &getRoots() const { return roots_; }
    // N/2 entries each; entry k + j is the twiddle of butterfly j of the stages
    // of half-length k (entry 0 unused).
    const MultipleDevice<ComplexTable> &getForwardTwiddles() const { return forward_twiddles_; }
    const MultipleDevice<ComplexTable> &getBackwardTwiddles() const { return backward_twiddles_; }

private:
    void checkSize(std::uint64_t n) const;

    std::uint64_t degree_;
    MultipleDevice<PowerTable> powers_;
    MultipleDevice<ComplexTable> roots_;
    MultipleDevice<ComplexTable> forward_twiddles_;
    MultipleDevice<ComplexTable> backward_twiddles_;
};

} // namespace Quelt
