#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Quelt {

// 1024-byte seed of a uniformly random polynomial. The residues are
// regenerated from it (populateUniformPoly), so a polynomial carrying a germ is
// stored and sent as these bytes instead of its limbs.
class PolyGerm {
public:
    static constexpr std::size_t kBytes = 1024;
    static constexpr std::size_t kWords = kBytes / sizeof(std::uint64_t);

    // Draws 128 words from the calling thread's generator; bytes 8k..8k+7 hold
    // word k in little-endian order on every machine, so a germ regenerates
    // the same residues everywhere.
    PolyGerm();
    // A germ of zero bytes that draws nothing, to be overwritten by stored
    // bytes: a load never touches the caller's generator.
    struct NoDrawTag {};
    explicit PolyGerm(NoDrawTag) : bytes_{} {}

    std::uint8_t *data() { return bytes_.data(); }
    const std::uint8_t *data() const { return bytes_.data(); }
    static constexpr std::size_t size() { return kBytes; }

    friend bool operator==(const PolyGerm &, const PolyGerm &) = default;

private:
    std::array<std::uint8_t, kBytes> bytes_;
};

} // namespace Quelt
