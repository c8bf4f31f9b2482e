#pragma once

// Definitions of the key-switching inner products of PrimeModuli (declared
// in PrimeModuli.hpp). Include this header where they are called.

#include "Quelt/Exception.hpp"
#include "arith/PolyIter.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"

#include <cstdint>
#include <vector>

namespace Quelt {

inline constexpr const char *kEmptyInnerProductMessage =
    "[PrimeModuli] The inner product needs at least one term.";
inline constexpr const char *kInnerProductShapeMessage =
    "[PrimeModuli] The inner product output does not fit the prime chain.";
inline constexpr const char *kInnerProductTermMessage =
    "[PrimeModuli] An inner product term lacks a limb of the walk.";

namespace detail {

// Prime indices of the extended walk of an output: 0 .. level, then the
// temporary primes chainLength .. size - 1 when it is mod-up.
std::vector<std::uint64_t> extendedWalk(const Polynomial &out);

// For every walk position u (prime index primes[u]) and every term k < count:
// out1 = sum_k a[u count + k] b[u count + k], out2 = the same with c, each
// residue below its prime. Products are accumulated in 128 bits and reduced
// once per word.
void innerProductHost(const std::vector<Modulus> &moduli, const std::vector<std::uint64_t> &primes,
                      std::uint64_t count, const std::vector<const std::uint64_t *> &a,
                      const std::vector<const std::uint64_t *> &b,
                      const std::vector<const std::uint64_t *> &c,
                      const std::vector<std::uint64_t *> &out1,
                      const std::vector<std::uint64_t *> &out2);

// Throws kInnerProductShapeMessage unless the output has the chain's degree,
// its walk lies inside the chain and its array holds every limb of the walk.
void checkInnerProductOutput(const PrimeModuli &chain, const Polynomial &out);

} // namespace detail

template <typename ItA, typename AccA, typename ItB, typename AccB, typename ItC, typename AccC>
void PrimeModuli::innerProduct(PolyIter<ItA, AccA> a_first, PolyIter<ItA, AccA> a_last,
                               PolyIter<ItB, AccB> b_first, PolyIter<ItC, AccC> c_first,
                               Polynomial &out1, Polynomial &out2) const {
    if (a_first == a_last)
        throw RuntimeException(kEmptyInnerProductMessage);
    if (out1.getLevel() != out2.getLevel())
        throw RuntimeException(kDifferentLevelsMessage);
    checkSameModUp(out1, out2);
    const Device device = a_first.device();
    if (b_first.device() != device || c_first.device() != device)
        throw RuntimeException(kDifferentDevicesMessage);
    checkDeviceSupported(device);
    dispatch(device, "innerProductCUDA", "innerProduct");
    detail::checkInnerProductOutput(*this, out1);
    detail::checkInnerProductOutput(*this, out2);
    if (out1.getSize() != out2.getSize() || out1.getChainLength() != out2.getChainLength())
        throw RuntimeException(kInnerProductShapeMessage);
    const std::vector<u64> primes = detail::extendedWalk(out1);
    const u64 count = static_cast<u64>(a_last - a_first);
    // Polynomial terms must reach the last limb of the walk (a plain
    // polynomial has no temporary limbs to give to a mod-up output).
    {
        const u64 top = primes.back();
        auto ai = a_first;
        auto bi = b_first;
        auto ci = c_first;
        for (u64 k = 0; k < count; ++k, ++ai, ++bi, ++ci)
            if (!ai.holdsLimb(top, degree_) || !bi.holdsLimb(top, degree_) ||
                !ci.holdsLimb(top, degree_))
                throw RuntimeException(kInnerProductTermMessage);
    }
    if (out1.getDevice() != device) {
        out1.allocate(device);
        out2.allocate(device);
    }

    std::vector<const u64 *> a(primes.size() * count), b(a.size()), c(a.size());
    std::vector<u64 *> o1(primes.size()), o2(primes.size());
    for (u64 u = 0; u < primes.size(); ++u) {
        const u64 i = primes[u];
        auto ai = a_first;
        auto bi = b_first;
        auto ci = c_first;
        for (u64 k = 0; k < count; ++k, ++ai, ++bi, ++ci) {
            a[u * count + k] = ai.limb(i);
            b[u * count + k] = bi.limb(i);
            c[u * count + k] = ci.limb(i);
        }
        o1[u] = out1.getLimb(i);
        o2[u] = out2.getLimb(i);
    }
    detail::innerProductHost(moduli_, primes, count, a, b, c, o1, o2);
}

template <typename ItA, typename AccA, typename ItB, typename AccB, typename ItC, typename AccC>
void PrimeModuli::innerProductMSRLWE(PolyIter<ItA, AccA> a_first, PolyIter<ItA, AccA> a_last,
                                     PolyIter<ItB, AccB> b_first, PolyIter<ItC, AccC> c_first,
                                     PolynomialVector &out, u64 numSecret, u64 stride) const {
    // The output vector's getters check that its polynomials agree in level
    // and mod-up state; that check comes first.
    out.getLevel();
    out.isModUp();
    if (a_first == a_last)
        throw RuntimeException(kEmptyInnerProductMessage);
    const Device device = a_first.device();
    if (b_first.device() != device || c_first.device() != device)
        throw RuntimeException(kDifferentDevicesMessage);
    checkDeviceSupported(device);
    dispatch(device, "innerProductCUDA", "innerProductMSRLWE");
    if (out.getPoly(0).getDevice() != device)
        out.allocate(device);

    // Operand layout of the multi-secret kernel at the first prime: the
    // outputs 0 .. numSecret, the body parts c_{j stride} of every secret
    // followed by the mask part b_0, and the digit a_0.
    std::vector<u64 *> outs;
    for (u64 j = 0; j <= numSecret; ++j)
        outs.push_back(out.getPoly(j).getLimb(0));
    std::vector<const u64 *> ins;
    for (u64 j = 0; j < numSecret; ++j)
        ins.push_back(
            (c_first + static_cast<typename PolyIter<ItC, AccC>::difference_type>(j * stride))
                .limb(0));
    ins.push_back(b_first.limb(0));
    moduli_.at(0).mulVector(outs, a_first.limb(0), ins);
}

template <typename ItM, typename AccM, typename ItX, typename AccX>
void PrimeModuli::innerProductMSRLWEv2(PolyIter<ItM, AccM> mx_first, PolyIter<ItM, AccM> mx_last,
                                       PolyIterV2<ItX, AccX> ix, PolynomialVector &out,
                                       u64 n) const {
    // The output vector's getters check that its polynomials agree in level
    // and mod-up state; that check comes first.
    out.getLevel();
    out.isModUp();
    if (mx_first == mx_last)
        throw RuntimeException(kEmptyInnerProductMessage);
    const Device device = mx_first.device();
    if (ix.device() != device)
        throw RuntimeException(kDifferentDevicesMessage);
    checkDeviceSupported(device);
    dispatch(device, "innerProductCUDA", "innerProductMSRLWEv2");
    if (out.getPoly(0).getDevice() != device)
        out.allocate(device);

    std::vector<u64 *> outs;
    std::vector<const u64 *> ins;
    for (u64 j = 0; j <= n; ++j) {
        ins.push_back(ix.limb(j, 0));
        outs.push_back(out.getPoly(j).getLimb(0));
    }
    moduli_.at(0).mulVector(outs, mx_first.limb(0), ins);
}

template <typename ItM, typename AccM>
void PrimeModuli::frobeniusAndInnerProduct(PolyIter<ItM, AccM> mx_first,
                                           PolyIter<ItM, AccM> mx_last, PolynomialVector &in,
                                           PolynomialVector &out, u64 n,
                                           const std::vector<u64> &exponents) const {
    const Device device = out.getDevice();
    dispatch(device, "frobeniusAndInnerProductCUDA", "frobeniusAndInnerProduct");
    if (mx_first == mx_last)
        throw RuntimeException(kEmptyInnerProductMessage);

    std::vector<u64 *> outs;
    std::vector<const u64 *> ins;
    for (u64 j = 0; j <= n; ++j) {
        ins.push_back(in.getPoly(j).getLimb(0));
        outs.push_back(out.getPoly(j).getLimb(0));
    }
    moduli_.at(0).frobeniusAndMulVector(outs, mx_first.limb(0), ins, exponents);
}

} // namespace Quelt
