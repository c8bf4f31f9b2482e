// A full-slot complex bootstrap of FGfL7 (degree 2^16, 2^15 slots, its own
// secret of weight 192) outsourced to FGfOL7 and its fast removeI road,
// single thread, from a ciphertext at level 3 of a random message
// (|m| <= 1). The keys are those of the slow tests
// (tests/boot/FastRoadKeys.hpp: FGfL7's bootstrap keys, and over the same
// secret FGfOL7's keys with its sparse companion, the switch keys into and
// out of the embedding ring and the multiplication key of the
// conjugate-invariant ring).
//
// Counters: mean and minimum precision in bits, the peak resident size
// after the keys and constants were made (GiB).

#include "PeakMemory.hpp"
#include "Quelt/Bootstrapper.hpp"
#include "boot/FastRoadKeys.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {

using namespace Quelt;
using u64 = std::uint64_t;
using Ciphertext = HomEvaluator::Ciphertext;

struct FastRoadSetup {
    FastRoadSetup()
        : road((QueltBench::resetPeakResident(),
                std::make_unique<test::OutsourcedFastRoad>(ParameterPreset::FGfL7))),
          input(road->outer.ctx, false, true) {
        peak_gib = QueltBench::peakResidentKiB() / (1024.0 * 1024.0);
        std::mt19937_64 rng(2026);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        message = Message(15);
        for (auto &slot : message)
            slot = {dist(rng), dist(rng)};
        input = road->outer.exhausted(message);
        Ciphertext warm(road->outer.ctx, false, true);
        road->boot->bootstrap(input, warm, true);
    }

    std::unique_ptr<test::OutsourcedFastRoad> road;
    Ciphertext input;
    Message message;
    double peak_gib = 0.0;
};

void BM_FastRemoveIBootstrapFGfL7(benchmark::State &state) {
    static FastRoadSetup s;
    Ciphertext out(s.road->outer.ctx, false, true);
    for (auto _ : state)
        s.road->boot->bootstrap(s.input, out, true);
    const Message got = s.road->outer.decrypt(out);
    double sum = 0.0;
    double worst = INFINITY;
    for (u64 i = 0; i < got.getSize(); ++i) {
        const double bits = -std::log2(std::max(std::abs(got[i] - s.message[i]), 1e-300));
        sum += bits;
        worst = std::min(worst, bits);
    }
    state.counters["mean_bits"] = sum / static_cast<double>(got.getSize());
    state.counters["min_bits"] = worst;
    state.counters["keys_consts_GiB"] = s.peak_gib;
}

} // namespace

BENCHMARK(BM_FastRemoveIBootstrapFGfL7)->Unit(benchmark::kSecond)->Iterations(2);
