#pragma once

// Generic access to the key bundles for tests: key i of any simple bundle,
// the stream form of any bundle, and bundles whose keys hold residues of
// their own.

#include "Quelt/EvaluationKey.hpp"
#include "Quelt/KeyBundle.hpp"
#include "support/KeyTestSupport.hpp"

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

namespace Quelt::test {

inline std::shared_ptr<EvaluationKey> keyOf(const IncreaseNSKeyBundle &b, std::uint64_t i) {
    return b.getIncreaseNSKey(i);
}
inline std::shared_ptr<EvaluationKey> keyOf(const ModPackKeyBundle &b, std::uint64_t i) {
    return b.getModPackKey(i);
}
inline std::shared_ptr<EvaluationKey> keyOf(const MStoSSKeyBundle &b, std::uint64_t i) {
    return b.getMStoSSKey(i);
}
inline std::shared_ptr<EvaluationKey> keyOf(const SStoMSKeyBundle &b, std::uint64_t i) {
    return b.getSStoMSKey(i);
}

// The stream form of any bundle, and a load from bytes.
template <typename Bundle>
std::string savedBundle(const Bundle &bundle) {
    std::ostringstream out;
    bundle.save(out);
    return out.str();
}

template <typename Bundle>
void loadBundle(Bundle &bundle, const std::string &bytes) {
    std::istringstream in(bytes);
    bundle.load(in);
}

// Gives every key of a simple bundle residues of its own (fillKey with seed
// + 100 i; masks from fresh seeds with seededMasks).
template <typename Bundle>
Bundle &fillBundle(Bundle &bundle, std::uint64_t seed, bool seededMasks = false) {
    for (std::uint64_t i = 0; i < bundle.getNumKeys(); ++i)
        fillKey(*keyOf(bundle, i), seed + 100 * i, seededMasks);
    return bundle;
}

// The evaluation-key record of a key, without the byte-order byte.
inline std::string recordOf(const EvaluationKey &key) { return savedKey(key).substr(1); }

} // namespace Quelt::test
