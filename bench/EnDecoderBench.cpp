// Encoding and decoding of a full message (2^15 slots) at degree 2^16 on the
// FGb preset, single thread: at the top level L - 1 = 24 and at the
// encryption level 12.

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

namespace {

using Quelt::EnDecoder;
using Quelt::Message;
using Quelt::Plaintext;

const std::shared_ptr<Quelt::ContextContent> &benchContext() {
    static const auto ctx = Quelt::makeContext(Quelt::ParameterPreset::FGb);
    return ctx;
}

Message randomMessage() {
    Message m(Quelt::getLogFullSlots(benchContext()));
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (auto &v : m)
        v = {dist(rng), dist(rng)};
    return m;
}

std::uint64_t levelOf(const benchmark::State &state) {
    return state.range(0) < 0 ? Quelt::getEncryptionLevel(benchContext())
                              : static_cast<std::uint64_t>(state.range(0));
}

void BM_Encode(benchmark::State &state) {
    const EnDecoder encoder(benchContext());
    const Message msg = randomMessage();
    const std::uint64_t level = levelOf(state);
    for (auto _ : state) {
        Plaintext pt = encoder.encode(msg, level, 0);
        benchmark::DoNotOptimize(pt.getMxData(0));
    }
}

void BM_Decode(benchmark::State &state) {
    const EnDecoder encoder(benchContext());
    const Plaintext pt = encoder.encode(randomMessage(), levelOf(state), 0);
    for (auto _ : state) {
        Message out = encoder.decode(pt);
        benchmark::DoNotOptimize(out.begin());
    }
}

} // namespace

// Argument: the level; -1 is the encryption level (12).
BENCHMARK(BM_Encode)->Arg(24)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->Arg(24)->Arg(-1)->Unit(benchmark::kMillisecond);
