#include "arith/PrimeModuliInnerProduct.hpp"

#include "arith/KeySwitchKernels.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <cstddef>

namespace Quelt::detail {

namespace {
namespace kk = keyswitch_kernels;
} // namespace

std::vector<std::uint64_t> extendedWalk(const Polynomial &out) {
    std::vector<u64> primes;
    for (u64 i = 0; i <= out.getLevel(); ++i)
        primes.push_back(i);
    if (out.isModUp())
        for (u64 i = out.getChainLength(); i < out.getSize(); ++i)
            primes.push_back(i);
    return primes;
}

void checkInnerProductOutput(const PrimeModuli &chain, const Polynomial &out) {
    const u64 N = out.getDegree();
    const bool fits = N == chain.getDegree() && out.getLevel() < out.getChainLength() &&
                      out.getChainLength() <= out.getSize() &&
                      out.getSize() <= chain.getNumPrimes() &&
                      (out.isModUp() || out.getLevel() < chain.getNumPrimes());
    const u64 limbs = out.isModUp() ? out.getSize() : out.getLevel() + 1;
    if (!fits || out.getData().size() / (N == 0 ? 1 : N) < limbs)
        throw RuntimeException(kInnerProductShapeMessage);
}

void innerProductHost(const std::vector<Modulus> &moduli, const std::vector<std::uint64_t> &primes,
                      std::uint64_t count, const std::vector<const std::uint64_t *> &a,
                      const std::vector<const std::uint64_t *> &b,
                      const std::vector<const std::uint64_t *> &c,
                      const std::vector<std::uint64_t *> &out1,
                      const std::vector<std::uint64_t *> &out2) {
    for (u64 u = 0; u < primes.size(); ++u) {
        const Modulus &modulus = moduli[primes[u]];
        const u64 p = modulus.getPrime();
        // Products of two residues are below (p - 1)^2.
        const u64 terms_per_fold = kk::termsPerFold(static_cast<u128>(p - 1) * (p - 1));
        kk::innerProductTwo(a.data() + u * count, b.data() + u * count, c.data() + u * count, count,
                            terms_per_fold, kk::FoldConstants::of(modulus), out1[u], out2[u],
                            modulus.getDegree(), false);
    }
}

void rowListInnerProductHost(const std::vector<Modulus> &moduli,
                             const std::vector<std::uint64_t> &primes, std::uint64_t count,
                             std::uint64_t rows, const std::vector<const std::uint64_t *> &a,
                             const std::vector<const std::uint64_t *> &ins,
                             const std::vector<std::uint64_t *> &outs,
                             const std::vector<std::vector<std::uint64_t>> *positions) {
    std::vector<u64 *> out_rows(rows);
    std::vector<const u64 *> in_rows(rows);
    for (u64 u = 0; u < primes.size(); ++u) {
        const Modulus &modulus = moduli[primes[u]];
        std::copy_n(outs.begin() + static_cast<std::ptrdiff_t>(u * rows), rows, out_rows.begin());
        for (u64 k = 0; k < count; ++k) {
            const u64 term = u * count + k;
            std::copy_n(ins.begin() + static_cast<std::ptrdiff_t>(term * rows), rows,
                        in_rows.begin());
            if (positions != nullptr) {
                if (k == 0)
                    modulus.frobeniusAndMulVector(out_rows, a[term], in_rows, (*positions)[k]);
                else
                    modulus.frobeniusAndMulAddVector(out_rows, a[term], in_rows, (*positions)[k]);
            } else if (k == 0) {
                modulus.mulVector(out_rows, a[term], in_rows);
            } else {
                modulus.mulAddVector(out_rows, a[term], in_rows);
            }
        }
    }
}

void checkInnerProductOutputs(const PrimeModuli &chain, const PolynomialVector &out,
                              std::uint64_t rows) {
    if (out.getSize() < rows)
        throw RuntimeException(kInnerProductShapeMessage);
    const Polynomial &first = out.getPoly(0);
    for (u64 j = 0; j < rows; ++j) {
        const Polynomial &p = out.getPoly(j);
        checkInnerProductOutput(chain, p);
        if (p.getSize() != first.getSize() || p.getChainLength() != first.getChainLength())
            throw RuntimeException(kInnerProductShapeMessage);
    }
}

} // namespace Quelt::detail
