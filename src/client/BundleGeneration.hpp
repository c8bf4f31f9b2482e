#pragma once

// The checks of the key generator's bundle generation on the contexts of
// the keys involved. Each throws RuntimeException with the KeyGenerator
// message it names; none allocates.

#include <memory>

namespace Quelt {

class ContextContent;
namespace LWE {
class ContextContent;
}

// The contexts of a single-secret key `a` and a multi-secret key `b` that a
// multi-secret switch bundle joins: equal degrees (kMultiSecretSwitchDegree),
// then every prime of a's chain, temporary primes included, equal to b's
// prime at the same index (kMultiSecretSwitchPrimes, also when b has fewer).
void checkMultiSecretSwitchKeyCondition(const std::shared_ptr<ContextContent> &a,
                                        const std::shared_ptr<ContextContent> &b);

// Modulus packing with the generator's context g from an input of context
// `in` to an output of context `out`, in this order: N(out) rank(out) = N(g)
// (kModPackTotalDimension), N(in) divides N(out) (kModPackDegree), rank(out)
// divides rank(in) (kModPackRank), then in's encryption level at most
// getMaxCompatibleLevel(in, g) (kModPackKeyPrimes) and at most
// getMaxCompatibleLevel(in, out) (kModPackOutputPrimes); those two throw
// kNotCompatibleAtAnyLevel first when prime 0 differs.
void checkModPackKeyBundleCondition(const std::shared_ptr<ContextContent> &g,
                                    const std::shared_ptr<ContextContent> &in,
                                    const std::shared_ptr<ContextContent> &out);
// The LWE form: the dimension n in place of rank(in), no degree check.
void checkModPackKeyBundleCondition(const std::shared_ptr<ContextContent> &g,
                                    const std::shared_ptr<LWE::ContextContent> &in,
                                    const std::shared_ptr<ContextContent> &out);

} // namespace Quelt
