#pragma once

// The peak resident size of the process, for benchmarks that report the
// memory an operation reaches (Linux).

#include <fstream>
#include <string>

#include <sys/resource.h>

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

// The page faults and the kernel seconds of a stretch of benchmark iterations
// (first touches of fresh pages, their zeroing and the returns of memory to
// the system), per iteration: made before them, report() after them sets
// the counters minflt (minor page faults) and sys_s.
class KernelWindow {
public:
    KernelWindow() { start_ = now(); }
    template <typename State>
    void report(State &state) const {
        const rusage end = now();
        const double n = static_cast<double>(state.iterations());
        state.counters["minflt"] = static_cast<double>(end.ru_minflt - start_.ru_minflt) / n;
        state.counters["sys_s"] = (seconds(end.ru_stime) - seconds(start_.ru_stime)) / n;
    }

private:
    static rusage now() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage;
    }
    static double seconds(const timeval &t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    }
    rusage start_{};
};

// The memory of a stretch of benchmark iterations: made before them (the
// peak reset to the current resident size), report() after them sets the
// counters peak_GiB (the process peak, everything resident included) and
// work_MiB (how far the stretch took the peak above the resident size at its
// start: the working memory of the operation beyond what it reuses).
class MemoryWindow {
public:
    MemoryWindow() {
        resetPeakResident();
        before_ = residentKiB();
    }
    template <typename State>
    void report(State &state) const {
        const double peak = peakResidentKiB();
        state.counters["peak_GiB"] = peak / (1024.0 * 1024.0);
        state.counters["work_MiB"] = (peak - before_) / 1024.0;
    }

private:
    double before_ = 0;
};

} // namespace QueltBench
