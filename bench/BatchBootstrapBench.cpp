// Batch bootstrapping at degree 2^16, single thread, minimal rotation keys:
// two FGb ciphertexts at level 3 (random messages, |m| <= 1) packed into one
// ciphertext of a two-secret copy of FGb (the batch flag set), bootstrapped
// once in the multi-secret ring and split back, each result reduced by an
// Interpolator over FGb. The time is per batch; the counter per_ciphertext_s
// gives it per ciphertext, to set beside one single-secret bootstrap of FGb
// (BM_BootstrapFGb/1). Also bootstrapMStoSS of one two-secret ciphertext.
// Counters: the worst mean and minimum precision of the results in bits and
// the peak resident size after the keys and constants (GiB). One untimed
// batch first (fresh memory).
//
// Measured on the shared 8-core AMD EPYC (AVX2, other jobs running; run back
// to back with BM_BootstrapFGb/1, which took 17.2 s per bootstrap, 24.4 bits
// mean and 21.7 bits minimum, 3.9 GiB): batch of two 31.1 s, 15.6 s per
// ciphertext, 24.9 bits mean and 21.7 bits minimum; bootstrapMStoSS 27.9 s,
// 24.9 / 21.5 bits; 6.6 GiB. A second pair of runs: 17.2 s single, batch of
// two 27.0 s (13.5 s per ciphertext).

#include "PeakMemory.hpp"
#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

using namespace Quelt;
using u64 = std::uint64_t;
using Ciphertext = HomEvaluator::Ciphertext;
using MsCiphertext = HomEvaluator::CiphertextMSRLWE;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

namespace {

std::shared_ptr<ContextContent> twoSecretBatchContext() {
    const auto ms = makeContext(ParameterPreset::FGb, "FGbNS2", 2, false, false);
    Parameter parameter = ms->getParameter();
    parameter.batch_bootstrap = true;
    return std::make_shared<ContextContent>(parameter, ms->getPrimeModuli().getModuli(),
                                            ms->getScaleFactors(), ms->getDevices());
}

Message randomMessage(u64 log_slots, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Message m(log_slots);
    for (auto &slot : m)
        slot = {dist(rng), dist(rng)};
    return m;
}

struct Setup {
    Setup()
        : ss(makeContext(ParameterPreset::FGb)), ms(twoSecretBatchContext()), ss_key(ss),
          ms_key(ms), ss_pack(ss), ms_pack(ms), packed(ms, false, true) {
        QueltBench::resetPeakResident();
        {
            const KeyGenerator generator(ss, ss_key, ss_pack);
            generator.genMultKey();
            generator.genConjKey();
        }
        {
            const KeyGenerator generator(ms, ms_key, ms_pack);
            generator.genConjKey();
            generator.genRotKeysForBootstrap(getLogFullSlots(ms), true);
        }
        output = std::make_unique<HomEvaluator>(ss, ss_pack);
        interp = std::make_unique<Interpolator>(*output);
        eval = std::make_unique<HomEvaluator>(ms, ms_pack);
        boot = std::make_unique<Bootstrapper>(*eval, true);
        bundle = std::make_unique<MultiSecretSwitchKeyBundle>(
            KeyGenerator(ss).genMultiSecretSwitchKeyBundle(ss_key, std::vector<MSRLWEKey>{ms_key}));
        std::mt19937_64 rng(2026);
        const u64 s = getLogFullSlots(ss);
        for (int i = 0; i < 2; ++i) {
            messages.push_back(randomMessage(s, rng));
            Ciphertext ct(ss, false, true);
            Encryptor(ss).encrypt(messages.back(), ss_key, ct, 3, 0);
            batch.push_back(ct);
        }
        Encryptor(ms).encrypt(messages, ms_key, packed, 3, 0);
        std::vector<Ciphertext> warm;
        boot->batchBootstrap(batch, *bundle, *interp, warm, false);
        peak_gib = QueltBench::peakResidentKiB() / (1024.0 * 1024.0);
    }

    // The worst mean and the worst minimum precision of the results.
    std::pair<double, double> precision(const std::vector<Ciphertext> &outs) const {
        double mean = std::numeric_limits<double>::infinity(), low = mean;
        for (u64 k = 0; k < outs.size(); ++k) {
            Message got;
            Decryptor(ss).decrypt(outs[k], ss_key, got);
            double sum = 0.0, worst = std::numeric_limits<double>::infinity();
            for (u64 j = 0; j < got.getSize(); ++j) {
                const double b = -std::log2(std::max(std::abs(got[j] - messages[k][j]), 1e-300));
                sum += b;
                worst = std::min(worst, b);
            }
            mean = std::min(mean, sum / static_cast<double>(got.getSize()));
            low = std::min(low, worst);
        }
        return {mean, low};
    }

    std::shared_ptr<ContextContent> ss, ms;
    SecretKeyBase<EncryptionType::RLWE> ss_key;
    MSRLWEKey ms_key;
    KeyPack ss_pack, ms_pack;
    std::unique_ptr<HomEvaluator> output, eval;
    std::unique_ptr<Interpolator> interp;
    std::unique_ptr<Bootstrapper> boot;
    std::unique_ptr<MultiSecretSwitchKeyBundle> bundle;
    std::vector<Message> messages;
    std::vector<Ciphertext> batch;
    MsCiphertext packed;
    double peak_gib = 0.0;
};

Setup &setup() {
    static Setup s;
    return s;
}

void report(benchmark::State &state, const Setup &s, const std::vector<Ciphertext> &outs) {
    const auto [mean, low] = s.precision(outs);
    state.counters["mean_bits"] = mean;
    state.counters["min_bits"] = low;
    state.counters["peak_GiB"] = s.peak_gib;
}

void BM_BatchBootstrapFGbTwo(benchmark::State &state) {
    Setup &s = setup();
    std::vector<Ciphertext> outs;
    for (auto _ : state)
        s.boot->batchBootstrap(s.batch, *s.bundle, *s.interp, outs, false);
    report(state, s, outs);
    state.counters["per_ciphertext_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 2.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BootstrapMStoSSFGbTwo(benchmark::State &state) {
    Setup &s = setup();
    std::vector<Ciphertext> outs;
    for (auto _ : state)
        s.boot->bootstrapMStoSS(s.packed, s.bundle->getMStoSSKeyBundle(), *s.interp, outs);
    report(state, s, outs);
}

} // namespace

BENCHMARK(BM_BatchBootstrapFGbTwo)->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_BootstrapMStoSSFGbTwo)->Unit(benchmark::kSecond)->Iterations(2);
