// One modulus switch of a ciphertext between the outsourcing pair FGeO ->
// FGe (degree 2^16), single thread: from FGeO's encryption level to FGe's,
// the switch the outsourced bootstrap makes back into the outer context
// (inverse transform of the copy, the constant tables, the base conversion
// of the removed primes and the forward transform of the result), on every
// instruction-set path side by side.

#include "BenchPaths.hpp"
#include "Quelt/Context.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "conversion/ModulusSwitcher.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

using namespace Quelt;

namespace {

using Ciphertext = CiphertextBase<EncryptionType::RLWE>;

struct Setup {
    std::shared_ptr<ContextContent> inner = makeContext(ParameterPreset::FGeO);
    std::shared_ptr<ContextContent> outer = makeContext(ParameterPreset::FGe);
    Ciphertext in{inner, false, true};
    Ciphertext out{outer, false, true};
    u64 level = getEncryptionLevel(outer);

    Setup() {
        std::mt19937_64 rng(1);
        in.setLevel(getEncryptionLevel(inner));
        for (u64 k = 0; k < 2; ++k) {
            Polynomial &p = in.getPoly(k);
            for (u64 i = 0; i <= p.getLevel(); ++i)
                for (u64 c = 0; c < p.getDegree(); ++c)
                    p.getLimb(i)[c] = rng() % p.getPrime(i);
        }
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void switchModulus(benchmark::State &state) {
    Setup &s = setup();
    const ModulusSwitcher switcher;
    for (auto _ : state) {
        switcher.switchModulus(s.in, s.out, s.level);
        benchmark::ClobberMemory();
    }
    state.counters["input_level"] = static_cast<double>(s.in.getLevel());
    state.counters["output_level"] = static_cast<double>(s.level);
}

const bool kRegistered = [] {
    bench::registerForEachPath("ModulusSwitcher/FGeO_to_FGe/switchModulus", switchModulus,
                               benchmark::kMillisecond);
    return true;
}();

} // namespace
