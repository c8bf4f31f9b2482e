#pragma once

// The peak resident size of the process, for benchmarks that report the
// memory an operation reaches (Linux).

#include <fstream>
#include <string>

namespace QueltBench {

// The peak resident size in KiB (VmHWM of /proc/self/status), 0 when it
// cannot be read.
inline double peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field) {
        if (field == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

// Resets the peak to the current resident size ("5" written to clear_refs).
inline void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

} // namespace QueltBench
