#include "foundation/SimdPath.hpp"

#include "Quelt/Exception.hpp"

#include <atomic>
#include <string>

namespace Quelt::simd {

namespace {

Path detectBestPath() {
#if defined(__x86_64__)
    // The compiler's checks include the operating system's support of the
    // wider register state, not only the processor's flags.
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
    if (avx512 && __builtin_cpu_supports("avx512ifma"))
        return Path::Ifma;
    if (avx512)
        return Path::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return Path::Avx2;
#endif
    return Path::Scalar;
}

std::atomic<Path> &activeSlot() {
    static std::atomic<Path> active{bestPath()};
    return active;
}

} // namespace

Path bestPath() {
    static const Path best = detectBestPath();
    return best;
}

bool isSupported(Path path) {
    return static_cast<int>(path) >= 0 && static_cast<int>(path) <= static_cast<int>(bestPath());
}

Path activePath() { return activeSlot().load(std::memory_order_relaxed); }

void setActivePath(Path path) {
    if (!isSupported(path))
        throw RuntimeException(std::string("[SimdPath] The processor does not support the path '") +
                               pathName(path) + "'.");
    activeSlot().store(path, std::memory_order_relaxed);
}

const char *pathName(Path path) {
    switch (path) {
    case Path::Scalar:
        return "scalar";
    case Path::Avx2:
        return "avx2";
    case Path::Avx512:
        return "avx512";
    case Path::Ifma:
        return "ifma";
    }
    return "unknown";
}

Path parsePath(std::string_view name) {
    for (Path path : {Path::Scalar, Path::Avx2, Path::Avx512, Path::Ifma})
        if (name == pathName(path))
            return path;
    throw RuntimeException("[SimdPath] Unknown path '" + std::string(name) +
                           "': use scalar, avx2, avx512 or ifma.");
}

} // namespace Quelt::simd
