#pragma once

// What every example program shares: the largest slot error between what was
// decrypted and what plain arithmetic gives, and the pass/fail line each
// check prints. The examples end with a non-zero exit code when a check
// fails, so that running them as tests proves their results.

#include <Quelt/Quelt.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace example {

// The largest |got[i] - want[i]| over the slots of `want`.
inline double maxError(const Quelt::Message &got, const Quelt::Message &want) {
    if (got.getSize() != want.getSize())
        return INFINITY;
    double worst = 0.0;
    for (std::uint64_t i = 0; i < want.getSize(); ++i)
        worst = std::max(worst, std::abs(got[i] - want[i]));
    return worst;
}

inline double maxError(const std::vector<double> &got, const std::vector<double> &want) {
    if (got.size() != want.size())
        return INFINITY;
    double worst = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i)
        worst = std::max(worst, std::abs(got[i] - want[i]));
    return worst;
}

// Counts the checks that failed; `finish` turns the count into the exit code.
class Checks {
public:
    // Prints the error of one result against its tolerance and remembers a
    // failure.
    void expectClose(const char *what, double error, double tolerance) {
        const bool ok = error <= tolerance;
        std::printf("  %-44s error %.2e (tolerance %.0e) %s\n", what, error, tolerance,
                    ok ? "ok" : "FAILED");
        failures_ += ok ? 0 : 1;
    }
    void expectTrue(const char *what, bool ok) {
        std::printf("  %-44s %s\n", what, ok ? "ok" : "FAILED");
        failures_ += ok ? 0 : 1;
    }
    int finish() const {
        if (failures_ == 0)
            std::printf("\nAll checks passed.\n");
        else
            std::printf("\n%d check(s) FAILED.\n", failures_);
        return failures_ == 0 ? 0 : 1;
    }

private:
    int failures_ = 0;
};

} // namespace example
