#pragma once

// The level and rescale-counter checks shared by the message and constant
// encoders, with their messages.

#include "Quelt/Exception.hpp"

#include <cstdint>

namespace Quelt::detail {

inline constexpr const char *kEncodeLevelMessage =
    "[encode] The target level is greater than the maximum possible level";
inline constexpr const char *kEncodeRescaleCounterMessage =
    "[encode] The target rescale counter should be less than or equal to the target level.";

// Throws kEncodeLevelMessage unless level < levels.
inline void checkEncodeLevel(std::uint64_t level, std::uint64_t levels) {
    if (level >= levels)
        throw RuntimeException(kEncodeLevelMessage);
}

// Throws kEncodeRescaleCounterMessage when the counter exceeds the level,
// compared as signed numbers: a negative counter passes here and is refused
// where it is stored.
inline void checkEncodeRescaleCounter(int counter, std::uint64_t level) {
    if (counter > 0 && static_cast<std::uint64_t>(counter) > level)
        throw RuntimeException(kEncodeRescaleCounterMessage);
}

} // namespace Quelt::detail
