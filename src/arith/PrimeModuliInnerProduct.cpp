#include "arith/PrimeModuliInnerProduct.hpp"

#include "arith/KeySwitchKernels.hpp"
#include "foundation/WordArith.hpp"

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
                            modulus.getDegree());
    }
}

} // namespace Quelt::detail
