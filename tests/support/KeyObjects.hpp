#pragma once

// Switching keys filled with known residues, and their stored forms, for the
// tests of the key objects.

#include "Quelt/Device.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "context/Polynomial.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "support/DataObjects.hpp"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace QueltTest {

inline std::vector<Quelt::Polynomial> &masksOf(Quelt::EvaluationKey &key,
                                               const Quelt::Device &device = Quelt::kHostDevice) {
    return Quelt::detail::EvaluationKeyAccess::ax(key, device);
}
inline std::vector<Quelt::Polynomial> &bodiesOf(Quelt::EvaluationKey &key,
                                                const Quelt::Device &device = Quelt::kHostDevice) {
    return Quelt::detail::EvaluationKeyAccess::bx(key, device);
}

// Gives every host polynomial of the key residues of its own: body p from
// seed + p, mask p from seed + 1000 + p. With seededMasks the masks are
// instead drawn from fresh seeds, as generated keys carry them.
inline void fillKey(Quelt::EvaluationKey &key, std::uint64_t seed, bool seededMasks = false) {
    std::uint64_t p = 0;
    for (auto &body : bodiesOf(key))
        fillResidues(body, seed + p++);
    p = 0;
    for (auto &mask : masksOf(key)) {
        if (seededMasks)
            Quelt::populateUniformPoly(mask, true);
        else
            fillResidues(mask, seed + 1000 + p++);
    }
}

// The residues of every host polynomial, bodies first, then masks.
inline std::vector<std::vector<std::uint64_t>> keyWords(Quelt::EvaluationKey &key) {
    std::vector<std::vector<std::uint64_t>> words;
    for (const auto &body : bodiesOf(key))
        words.push_back(wordsOf(body));
    for (const auto &mask : masksOf(key))
        words.push_back(wordsOf(mask));
    return words;
}

// The standalone form of a key: byte-order byte and record.
inline std::string savedKey(const Quelt::EvaluationKey &key) {
    std::ostringstream out;
    Quelt::save(key, out);
    return out.str();
}

} // namespace QueltTest
