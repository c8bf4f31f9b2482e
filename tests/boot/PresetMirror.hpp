#pragma once

// Small-degree copies of preset contexts for the bootstrap tests. Every
// preset's primes are 1 mod 2^17, so its chain (same primes, same order, same
// transform type) and its bootstrapping settings run at any smaller power of
// two. The copy keeps the preset's record (name, flags, levels), prime list
// and scale factors; only the degree, the slot count and the secret's Hamming
// weight change (and the number of secrets is 1), and the fused modulus raise, whose split exists only at
// degree 2^16, is switched off (its levels are those of the ordinary raise).

#include "Quelt/Context.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "context/ScaleFactors.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace Quelt::test {

struct MirrorShape {
    std::uint64_t log_degree = 6;
    std::uint64_t hamming_weight = 8;
    // The conjugate-invariant ring or the ring of twice the degree of the
    // fast removeI road (named `name`).
    bool conjugate_invariant = false;
    bool double_degree = false;
    std::string name;
};

inline std::shared_ptr<ContextContent> presetMirror(ParameterPreset preset,
                                                    const MirrorShape &shape = {}) {
    const bool variant = shape.conjugate_invariant || shape.double_degree;
    Parameter p =
        variant ? Parameter(preset, shape.name, 1, shape.conjugate_invariant, shape.double_degree)
                : Parameter(preset);
    p.log_degree = shape.log_degree + (shape.double_degree ? 1 : 0);
    p.degree = std::uint64_t{1} << p.log_degree;
    p.num_slots = p.degree / 2;
    p.hamming_weight = shape.hamming_weight;
    p.num_secret = 1;
    p.fuse_mod_raise = false;
    const PrimeModuli chain(preset, p.chain_length + p.num_tp, p.degree, {},
                            shape.conjugate_invariant, shape.double_degree);
    return std::make_shared<ContextContent>(p, chain.getModuli(), ScaleFactors(preset),
                                            std::set<Device>{});
}

} // namespace Quelt::test
