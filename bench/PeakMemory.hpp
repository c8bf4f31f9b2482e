#pragma once

// The peak resident size of the process, for benchmarks that report the
// memory an operation reaches (Linux).

#include <fstream>
#include <string>

namespace QueltBench {

// A field of /proc/self/status in KiB, 0 when it cannot be read.
inline double statusKiB(const std::string &name) {
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field) {
        if (field == name) {
            double kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

// The peak resident size in KiB (VmHWM), 0 when it cannot be read.
inline double peakResidentKiB() { return statusKiB("VmHWM:"); }

// The current resident size in KiB (VmRSS), 0 when it cannot be read.
inline double residentKiB() { return statusKiB("VmRSS:"); }

// Resets the peak to the current resident size ("5" written to clear_refs).
inline void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

} // namespace QueltBench
