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
inline constexpr const char *kInnerProductStrideMessage =
    "[PrimeModuli] The multi-secret inner product has more terms than key parts per secret.";
inline constexpr const char *kInnerProductExponentMessage =
    "[PrimeModuli] The automorphism inner product needs one odd exponent per term.";

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

// For every walk position u (prime index primes[u]), every output row j <
// rows and every term k < count: outs[u rows + j] = sum_k a[u count + k]
// ins[(u count + k) rows + j], each residue below its prime, through the
// row-list kernels of Modulus (the first term sets the rows, the others add
// to them). With `positions` (one N-entry slot table per term), term k
// permutes its input rows by positions[k] first.
void rowListInnerProductHost(const std::vector<Modulus> &moduli,
                             const std::vector<std::uint64_t> &primes, std::uint64_t count,
                             std::uint64_t rows, const std::vector<const std::uint64_t *> &a,
                             const std::vector<const std::uint64_t *> &ins,
                             const std::vector<std::uint64_t *> &outs,
                             const std::vector<std::vector<std::uint64_t>> *positions);

// Throws kInnerProductShapeMessage unless the first `rows` polynomials of
// the vector (which must hold them) each fit the chain and share the walk of
// polynomial 0.
void checkInnerProductOutputs(const PrimeModuli &chain, const PolynomialVector &out,
                              std::uint64_t rows);

// Gathers the rows of rowListInnerProductHost over the extended walk
// `primes` of out and runs it: term(k, i) is the limb of term k at prime
// index i, input(k, j, i) the limb of its input row j, and out's polynomials
// 0 .. rows - 1 receive the sums.
template <typename Term, typename Input>
void gatherRowListInnerProduct(const std::vector<Modulus> &moduli,
                               const std::vector<std::uint64_t> &primes, std::uint64_t count,
                               std::uint64_t rows, PolynomialVector &out, Term term, Input input,
                               const std::vector<std::vector<std::uint64_t>> *positions) {
    std::vector<const std::uint64_t *> a(primes.size() * count), ins(a.size() * rows);
    std::vector<std::uint64_t *> outs(primes.size() * rows);
    for (std::uint64_t u = 0; u < primes.size(); ++u) {
        const std::uint64_t i = primes[u];
        for (std::uint64_t k = 0; k < count; ++k) {
            a[u * count + k] = term(k, i);
            for (std::uint64_t j = 0; j < rows; ++j)
                ins[(u * count + k) * rows + j] = input(k, j, i);
        }
        for (std::uint64_t j = 0; j < rows; ++j)
            outs[u * rows + j] = out.getPoly(j).getLimb(i);
    }
    rowListInnerProductHost(moduli, primes, count, rows, a, ins, outs, positions);
}

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
    const u64 rows = numSecret + 1;
    detail::checkInnerProductOutputs(*this, out, rows);
    const u64 count = static_cast<u64>(a_last - a_first);
    // Term k of secret j is body part j stride + k: more terms would read
    // the parts of the next secret.
    if (count > stride)
        throw RuntimeException(kInnerProductStrideMessage);
    const std::vector<u64> primes = detail::extendedWalk(out.getPoly(0));
    using Step = typename PolyIter<ItC, AccC>::difference_type;
    {
        const u64 top = primes.back();
        for (u64 k = 0; k < count; ++k) {
            const Step step = static_cast<Step>(k);
            bool held = (a_first + step).holdsLimb(top, degree_) &&
                        (b_first + step).holdsLimb(top, degree_);
            for (u64 j = 0; j < numSecret; ++j)
                held =
                    held && (c_first + static_cast<Step>(j * stride + k)).holdsLimb(top, degree_);
            if (!held)
                throw RuntimeException(kInnerProductTermMessage);
        }
    }
    if (out.getPoly(0).getDevice() != device)
        out.allocate(device);

    // Rows of every term: the body parts c_{j stride + k} of the secrets,
    // then the mask part b_k.
    detail::gatherRowListInnerProduct(
        moduli_, primes, count, rows, out,
        [&](u64 k, u64 i) { return (a_first + static_cast<Step>(k)).limb(i); },
        [&](u64 k, u64 j, u64 i) {
            return j < numSecret ? (c_first + static_cast<Step>(j * stride + k)).limb(i)
                                 : (b_first + static_cast<Step>(k)).limb(i);
        },
        nullptr);
}

template <typename ItM, typename AccM, typename ItX, typename AccX>
void PrimeModuli::innerProductMSRLWEv2(PolyIter<ItM, AccM> mx_first, PolyIter<ItM, AccM> mx_last,
                                       PolyIterV2<ItX, AccX> ix, PolynomialVector &out,
                                       u64 n) const {
    // The output vector's getters check that its polynomials agree in level
    // and mod-up state; that check comes first.
    const u64 level = out.getLevel();
    out.isModUp();
    if (mx_first == mx_last)
        throw RuntimeException(kEmptyInnerProductMessage);
    const Device device = mx_first.device();
    if (ix.device() != device)
        throw RuntimeException(kDifferentDevicesMessage);
    checkDeviceSupported(device);
    dispatch(device, "innerProductCUDA", "innerProductMSRLWEv2");
    const u64 rows = n + 1;
    detail::checkInnerProductOutputs(*this, out, rows);
    const u64 count = static_cast<u64>(mx_last - mx_first);
    const std::vector<u64> primes = detail::extendedWalk(out.getPoly(0));
    using Step = typename PolyIterV2<ItX, AccX>::difference_type;
    {
        const u64 top = primes.back();
        for (u64 k = 0; k < count; ++k) {
            const Step step = static_cast<Step>(k);
            bool held = (mx_first + step).holdsLimb(top, degree_);
            for (u64 j = 0; j < rows; ++j)
                held = held && (ix + step).holdsLimb(j, top, degree_);
            if (!held)
                throw RuntimeException(kInnerProductTermMessage);
            // A term below the output's level has no valid residues on the
            // upper limbs of the walk.
            bool level_ok = (mx_first + step).termLevel() >= level;
            for (u64 j = 0; j < rows; ++j)
                level_ok = level_ok && (ix + step).termLevel(j) >= level;
            if (!level_ok)
                throw RuntimeException(kDifferentLevelsMessage);
        }
    }
    if (out.getPoly(0).getDevice() != device)
        out.allocate(device);

    detail::gatherRowListInnerProduct(
        moduli_, primes, count, rows, out,
        [&](u64 k, u64 i) { return (mx_first + static_cast<Step>(k)).limb(i); },
        [&](u64 k, u64 j, u64 i) { return (ix + static_cast<Step>(k)).limb(j, i); }, nullptr);
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
    const u64 level = out.getLevel();
    out.isModUp();
    const u64 rows = n + 1;
    detail::checkInnerProductOutputs(*this, out, rows);
    const u64 count = static_cast<u64>(mx_last - mx_first);
    if (exponents.size() < count)
        throw RuntimeException(kInnerProductExponentMessage);
    for (u64 k = 0; k < count; ++k)
        if ((exponents[k] & 1) == 0)
            throw RuntimeException(kInnerProductExponentMessage);
    if (in.getSize() < rows || in.getDevice() != device)
        throw RuntimeException(in.getSize() < rows ? kInnerProductTermMessage
                                                   : kDifferentDevicesMessage);
    const std::vector<u64> primes = detail::extendedWalk(out.getPoly(0));
    using Step = typename PolyIter<ItM, AccM>::difference_type;
    {
        const u64 top = primes.back();
        bool held = true, level_ok = true;
        for (u64 k = 0; k < count; ++k) {
            held = held && (mx_first + static_cast<Step>(k)).holdsLimb(top, degree_);
            level_ok = level_ok && (mx_first + static_cast<Step>(k)).termLevel() >= level;
        }
        for (u64 j = 0; j < rows; ++j) {
            const Polynomial &p = in.getPoly(j);
            held = held && p.getDegree() == degree_ && p.getData().size() / degree_ > top;
            level_ok = level_ok && p.getLevel() >= level;
        }
        if (!held)
            throw RuntimeException(kInnerProductTermMessage);
        if (!level_ok)
            throw RuntimeException(kDifferentLevelsMessage);
    }

    // Slot tables of X -> X^e, one per term.
    std::vector<std::vector<u64>> positions(count);
    for (u64 k = 0; k < count; ++k) {
        const auto table = frobeniusTable(static_cast<std::int64_t>(exponents[k] % (2 * degree_)));
        positions[k].assign(table->begin(), table->end());
    }
    detail::gatherRowListInnerProduct(
        moduli_, primes, count, rows, out,
        [&](u64 k, u64 i) { return (mx_first + static_cast<Step>(k)).limb(i); },
        [&](u64, u64 j, u64 i) { return static_cast<const u64 *>(in.getPoly(j).getLimb(i)); },
        &positions);
}

} // namespace Quelt
