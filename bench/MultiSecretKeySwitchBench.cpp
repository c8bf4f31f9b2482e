// The multi-secret key switch on the FGbMS preset (degree 2^16, 4 secrets,
// the primes and gadget rank of FGb), single thread, top level, beside the
// single-secret key switch on the same primes (a one-secret copy of the
// context): the digits of one NTT-form polynomial (modUpPQ), their inner
// product with a rotation key (multEvalKey, or multEvalKeyMSRLWE with its
// 4 body sums and the mask) and the division by P of the 2 (k + 1)
// polynomials. Fresh digits, result and output per call. The target: the
// multi-secret switch at most (k + 1) / 2 = 2.5 times the single-secret one.
// The inner products alone are registered too.
//
// Measured on the shared 8-core AMD EPYC (AVX2 path, minimum of 3, noisy):
// single-secret switch 208 ms, four-secret switch 371 ms (1.78 times);
// inner products 55.7 ms and 141 ms (2.53 times, for 2.5 times the sums).

#include "BenchPaths.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/KeySwitcher.hpp"
#include "keys/EvaluationKeyAccess.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;

namespace {

// A rotation key of the context with uniform residues in every part: the
// arithmetic does not depend on the values.
std::unique_ptr<EvaluationKey> uniformRotationKey(const std::shared_ptr<ContextContent> &ctx) {
    auto key = makeEmptyRotKey(ctx, 1, 0);
    std::mt19937_64 rng(3);
    auto fill = [&](std::vector<Polynomial> &parts) {
        for (Polynomial &p : parts)
            for (u64 i = 0; i < p.getSize(); ++i) {
                const u64 q = p.getPrime(i);
                for (u64 j = 0; j < p.getDegree(); ++j)
                    p.getLimb(i)[j] = rng() % q;
            }
    };
    fill(detail::EvaluationKeyAccess::bx(*key, kHostDevice));
    fill(detail::EvaluationKeyAccess::ax(*key, kHostDevice));
    return key;
}

struct Side {
    explicit Side(std::shared_ptr<ContextContent> context)
        : ctx(std::move(context)), ks(ctx), key(uniformRotationKey(ctx)), input(ctx, false, true) {
        std::mt19937_64 rng(1);
        for (u64 i = 0; i <= input.getLevel(); ++i)
            for (u64 c = 0; c < input.getDegree(); ++c)
                input.getLimb(i)[c] = rng() % input.getPrime(i);
        ks.modUpPQ(input, digits);
    }
    std::shared_ptr<ContextContent> ctx;
    KeySwitcher ks;
    std::unique_ptr<EvaluationKey> key;
    Polynomial input;
    std::vector<Polynomial> digits;
};

Side &multi() {
    static Side s(makeContext(ParameterPreset::FGbMS));
    return s;
}
Side &single() {
    static Side s(genMultiSecretContext(multi().ctx, "FGbMSNS1", 1));
    return s;
}

void switchSingle(benchmark::State &state) {
    Side &s = single();
    for (auto _ : state) {
        std::vector<Polynomial> digits;
        s.ks.modUpPQ(s.input, digits);
        const auto sum = s.ks.multEvalKey(digits, *s.key);
        PolynomialVector out(s.ctx, 2, false, true);
        s.ks.getFastBaseConv().modDown(sum.getPolyVector(), out, true);
        benchmark::DoNotOptimize(out.getPoly(0).getLimb(0));
    }
}

void switchMulti(benchmark::State &state) {
    Side &s = multi();
    for (auto _ : state) {
        std::vector<Polynomial> digits;
        s.ks.modUpPQ(s.input, digits);
        const auto sum = s.ks.multEvalKeyMSRLWE(digits, *s.key, 0);
        PolynomialVector out(s.ctx, sum.getNumPoly(), false, true);
        s.ks.getFastBaseConv().modDown(sum.getPolyVector(), out, true);
        benchmark::DoNotOptimize(out.getPoly(0).getLimb(0));
    }
}

void innerProductSingle(benchmark::State &state) {
    Side &s = single();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.ks.multEvalKey(s.digits, *s.key));
}

void innerProductMulti(benchmark::State &state) {
    Side &s = multi();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.ks.multEvalKeyMSRLWE(s.digits, *s.key, 0));
}

const bool kRegistered = [] {
    using bench::registerForEachPath;
    registerForEachPath("MultiSecretKeySwitch/FGbMS/singleSecret", switchSingle,
                        benchmark::kMillisecond);
    registerForEachPath("MultiSecretKeySwitch/FGbMS/fourSecrets", switchMulti,
                        benchmark::kMillisecond);
    registerForEachPath("MultiSecretKeySwitch/FGbMS/innerProductSingleSecret", innerProductSingle,
                        benchmark::kMillisecond);
    registerForEachPath("MultiSecretKeySwitch/FGbMS/innerProductFourSecrets", innerProductMulti,
                        benchmark::kMillisecond);
    return true;
}();

} // namespace
