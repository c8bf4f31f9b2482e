#pragma once

// cereal save/load of device arrays: an 8-byte element count followed by the
// raw elements in the archive's byte order.

#include "Quelt/DeviceSpecificArray.hpp"
#include "foundation/DeviceDispatch.hpp"

#include <cereal/archives/portable_binary.hpp>
#include <cereal/details/helpers.hpp>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace Quelt {

namespace detail {

template <typename T>
inline constexpr bool kSerializableElement =
    std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::complex<double>> ||
    std::is_same_v<T, int>;

// Width of the unit a reader of the other byte order reverses. A complex value
// is two doubles, each reversed on its own so that the real and imaginary parts
// keep their places.
template <typename T>
inline constexpr std::size_t kSwapUnit = std::is_same_v<T, std::complex<double>> ? sizeof(double)
                                                                                 : sizeof(T);

// Arrays up to this many bytes are read straight into their final block; larger
// ones are read piecewise, so that a corrupt count cannot make us allocate far
// more memory than the stream actually holds.
inline constexpr std::uint64_t kDirectReadBytes = std::uint64_t{1} << 24;

std::uint64_t bytesReadFromCerealMessage(const std::string &message);

inline constexpr const char *kStoredCountTooLarge =
    "[DeviceSpecificArray] Stored element count is too large.";

} // namespace detail

// Writes the size (not the capacity) and the elements of a host array. An
// accelerator array throws "Not supported. Build with QUELT_CUDA flag." (it
// would need a host copy first); any other non-host array throws the
// unsupported-function message for "save".
template <typename T>
void save(cereal::PortableBinaryOutputArchive &ar, const DeviceSpecificArray<T> &array) {
    static_assert(detail::kSerializableElement<T>, "this element type has no serialised form");
    const Device &device = array.getDevice();
    if (isAccelerator(device)) {
        // Saving needs a host copy first, which only an accelerator build can make.
        throw RuntimeException(kNotSupportedBuildCuda);
    } else if (!device.isHost()) {
        throwUnsupportedFunction("save");
    }
    const std::uint64_t count = array.size();
    ar(count);
    if (count != 0)
        ar.template saveBinary<detail::kSwapUnit<T>>(
            array.getData(), static_cast<std::streamsize>(count * sizeof(T)));
}

// Reads `count` elements (whose count the caller has already read and
// checked) into a fresh host block on {0, 0} with the array's stream, then
// installs it (capacity = size). The array changes only when the whole read
// succeeds. A count whose byte size exceeds any stream throws
// RuntimeException kStoredCountTooLarge; a stream that ends early raises
// cereal's "Failed to read N bytes from input stream! Read M", N and M
// counting the whole array's elements.
template <typename T>
void loadElements(cereal::PortableBinaryInputArchive &ar, DeviceSpecificArray<T> &array,
                  std::uint64_t count) {
    static_assert(detail::kSerializableElement<T>, "this element type has no serialised form");
    // No stream can hold more than streamsize-max bytes; a larger count (or
    // one whose byte size wraps around) is corrupt.
    constexpr auto kMaxBytes =
        static_cast<std::uint64_t>(std::numeric_limits<std::streamsize>::max());
    if (count > kMaxBytes / sizeof(T))
        throw RuntimeException(detail::kStoredCountTooLarge);
    const std::uint64_t bytes = count * sizeof(T);

    DeviceSpecificArray<T> fresh(0, kHostDevice, array.getStream());
    if (bytes <= detail::kDirectReadBytes) {
        fresh.resize(count);
        if (bytes != 0)
            ar.template loadBinary<detail::kSwapUnit<T>>(fresh.getData(),
                                                         static_cast<std::streamsize>(bytes));
    } else {
        // Read in pieces into a staging buffer that grows only as data arrives.
        std::vector<T> staging;
        const std::uint64_t piece = detail::kDirectReadBytes / sizeof(T);
        std::uint64_t done = 0;
        while (done < count) {
            const std::uint64_t n = std::min(piece, count - done);
            staging.resize(done + n);
            try {
                ar.template loadBinary<detail::kSwapUnit<T>>(
                    staging.data() + done, static_cast<std::streamsize>(n * sizeof(T)));
            } catch (const cereal::Exception &e) {
                const std::uint64_t got =
                    done * sizeof(T) + detail::bytesReadFromCerealMessage(e.what());
                throw cereal::Exception("Failed to read " + std::to_string(bytes) +
                                        " bytes from input stream! Read " + std::to_string(got));
            }
            done += n;
        }
        fresh.resize(count);
        std::memcpy(fresh.getData(), staging.data(), bytes);
    }
    array = std::move(fresh);
}

// Reads a count and that many elements (loadElements).
template <typename T>
void load(cereal::PortableBinaryInputArchive &ar, DeviceSpecificArray<T> &array) {
    std::uint64_t count = 0;
    ar(count);
    loadElements(ar, array, count);
}

} // namespace Quelt
