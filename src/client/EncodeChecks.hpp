#pragma once

// The level, rescale-counter and size checks shared by the message and
// constant encoders and the encryptor, with their messages.

#include "Quelt/Exception.hpp"

#include <cstdint>

namespace Quelt::detail {

inline constexpr const char *kEncodeLevelMessage =
    "[encode] The target level is greater than the maximum possible level";
inline constexpr const char *kEncodeRescaleCounterMessage =
    "[encode] The target rescale counter should be less than or equal to the target level.";
inline constexpr const char *kEncodeSizeNotPowerOfTwoMessage =
    "[encode] The message size should be a power of two";
inline constexpr const char *kEncodeSizeBelowTwoMessage =
    "[encode] Cannot encode a message with a size less than 2";

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

// The size checks of a real vector before coefficient encoding: at least two
// values, a power of two of them.
inline void checkRealVectorSize(std::uint64_t size) {
    if (size < 2)
        throw RuntimeException(kEncodeSizeBelowTwoMessage);
    if ((size & (size - 1)) != 0)
        throw RuntimeException(kEncodeSizeNotPowerOfTwoMessage);
}

} // namespace Quelt::detail
