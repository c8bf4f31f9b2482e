// A full-slot complex bootstrap of the FGb preset (degree 2^16, 2^15 slots),
// single thread, from a ciphertext at level 3 of a random message (|m| <= 1).
// BM_BootstrapFGd runs the same on FGd, whose modulus raise goes through the
// sparse secret of its companion (dense to sparse, the lift, sparse to
// dense).
//
// Counters: the mean and minimum precision of the result in bits, the peak
// resident size of the process after the key set and the constants were made
// (keys + constants, in GiB), the peak of the whole process after the
// bootstraps (peak_GiB), the seconds the key set took, the minor page faults
// and kernel seconds per timed bootstrap (minflt, sys_s: first touches of
// fresh memory), and, in the
// Phases benchmark, the seconds of each stage of one bootstrap: SlotToCoeff
// (with the level-down and the multiplier before it), the modulus raise,
// CoeffToSlot (with its multiplier) and the conjugate-and-add with the two
// modular reductions.
//
// Measured on this machine class (8 cores shared with other jobs, one thread
// used), after one untimed warm-up bootstrap: hoisted keys 5.5 s per
// bootstrap (stage by stage 5.2 s: SlotToCoeff 0.41 s, raise 0.01 s,
// CoeffToSlot 2.67 s, conjugate-and-add with both removeI 2.14 s), 24.4 bits
// mean and 21.8 bits minimum precision, keys + constants 8.3 GiB, key set
// 18.8 s; min_key 6.4 s (5.95 s: 0.35 / 0.01 / 3.31 / 2.28 s), the same
// precision, 3.9 GiB, key set 3.2 s. The first bootstrap of a process takes
// about 11 s (fresh memory).
// FGd, measured while other jobs loaded the machine (FGb took 8.0 s in the
// same conditions): hoisted keys 6.6 s per bootstrap, 24.3 bits mean and
// 21.4 bits minimum precision, keys + constants 8.5 GiB, key set 12.3 s;
// min_key 7.4 s, 24.3 / 21.5 bits, 4.0 GiB, key set 3.3 s.
// On an 8-core machine with IFMA (NTT of 2^16 words, 60-bit prime: 274 us),
// shared with three other jobs, hoisted keys: medians of 6.3 to 7.4 s per
// bootstrap from run to run (stage by stage CoeffToSlot 3.2 s, SlotToCoeff
// 0.36 s, conjugate-and-add with both removeI 3.0 s), keys + constants
// 8.29 GiB (40 keys of 150 MiB, 2.1 GiB of constants), peak 9.05 GiB,
// growing to 9.2 GiB over six more bootstraps; about 4200 minor faults and
// 0.1 to 0.26 kernel seconds per bootstrap (0.63 to 0.78 s, and 0.9 s more
// per bootstrap, without the large-block cache of the memory resource).
//
// Argument 0 uses the hoisted rotation keys, 1 the minimal key set (min_key).
// Run one argument per process to see its own peak memory, for example
// --benchmark_filter='BM_BootstrapFGb/1'.

#include "PeakMemory.hpp"
#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <utility>

namespace {

using namespace Quelt;
using u64 = std::uint64_t;
using Ciphertext = HomEvaluator::Ciphertext;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Everything a bootstrap needs, made once per preset and key mode; a
// sparse-secret preset also gets its companion context and encapsulation key.
struct Setup {
    Setup(ParameterPreset preset, bool min_key)
        : ctx(makeContext(preset)), sparse(isSparseSecretEncapsulationSupported(ctx)
                                               ? makeContext(getSparseParameterPresetFor(preset))
                                               : nullptr),
          secret_key(ctx), pack(sparse ? KeyPack(ctx, sparse) : KeyPack(ctx)) {
        QueltBench::resetPeakResident();
        const Clock::time_point start = Clock::now();
        const auto generator = sparse
                                   ? std::make_unique<KeyGenerator>(ctx, sparse, secret_key, pack)
                                   : std::make_unique<KeyGenerator>(ctx, secret_key, pack);
        generator->genEncKey();
        generator->genMultKey();
        generator->genConjKey();
        generator->genRotKeysForBootstrap(getLogFullSlots(ctx), min_key);
        if (sparse)
            generator->genSparseSecretEncapsulationKey();
        key_seconds = seconds(start, Clock::now());
        eval = std::make_unique<HomEvaluator>(ctx, pack);
        boot = sparse ? std::make_shared<BootstrapperImpl>(*eval, sparse, min_key, std::nullopt)
                      : std::make_shared<BootstrapperImpl>(*eval, min_key, std::nullopt);
        boot->getConstants().loadBootConstants(getLogFullSlots(ctx), Device());
        peak_gib = QueltBench::peakResidentKiB() / (1024.0 * 1024.0);

        std::mt19937_64 rng(2026);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        message = Message(getLogFullSlots(ctx));
        for (auto &slot : message)
            slot = {dist(rng), dist(rng)};
        input = Ciphertext(ctx, false, true);
        Encryptor(ctx).encrypt(message, pack, input);
        detail::HomEvaluatorAccess::impl(*eval)->levels().levelDown(input, 3, input);
        // One untimed bootstrap: the first touches fresh memory for every
        // temporary and runs markedly slower on a virtual machine.
        Ciphertext warm(ctx, false, true);
        boot->getPipeline().bootstrap(input, warm, true);
    }

    // Mean and minimum of -log2 |out - message| over the slots.
    std::pair<double, double> precision(const Ciphertext &out) const {
        Message got;
        Decryptor(ctx).decrypt(out, secret_key, got);
        double sum = 0.0;
        double worst = INFINITY;
        for (u64 i = 0; i < got.getSize(); ++i) {
            const double bits = -std::log2(std::max(std::abs(got[i] - message[i]), 1e-300));
            sum += bits;
            worst = std::min(worst, bits);
        }
        return {sum / static_cast<double>(got.getSize()), worst};
    }

    std::shared_ptr<ContextContent> ctx;
    std::shared_ptr<ContextContent> sparse;
    SecretKeyBase<EncryptionType::RLWE> secret_key;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
    std::shared_ptr<BootstrapperImpl> boot;
    Message message;
    Ciphertext input{ctx, false, true};
    double key_seconds = 0.0;
    double peak_gib = 0.0;
};

Setup &setup(ParameterPreset preset, bool min_key) {
    static std::map<std::pair<ParameterPreset, bool>, std::unique_ptr<Setup>> setups;
    auto &slot = setups[{preset, min_key}];
    if (!slot)
        slot = std::make_unique<Setup>(preset, min_key);
    return *slot;
}

void reportSetup(benchmark::State &state, const Setup &s, const Ciphertext &out) {
    const auto [mean, worst] = s.precision(out);
    state.counters["mean_bits"] = mean;
    state.counters["min_bits"] = worst;
    state.counters["keys_consts_GiB"] = s.peak_gib;
    // The peak of the whole process so far: key generation, constants and
    // the bootstraps with their working memory.
    state.counters["peak_GiB"] = QueltBench::peakResidentKiB() / (1024.0 * 1024.0);
    state.counters["keygen_s"] = s.key_seconds;
}

void bootstrapPreset(benchmark::State &state, ParameterPreset preset) {
    Setup &s = setup(preset, state.range(0) != 0);
    Ciphertext out(s.ctx, false, true);
    const QueltBench::KernelWindow kernel;
    for (auto _ : state)
        s.boot->getPipeline().bootstrap(s.input, out, true);
    kernel.report(state);
    reportSetup(state, s, out);
}

void BM_BootstrapFGb(benchmark::State &state) { bootstrapPreset(state, ParameterPreset::FGb); }
void BM_BootstrapFGd(benchmark::State &state) { bootstrapPreset(state, ParameterPreset::FGd); }

// The same bootstrap stage by stage (the road of bootstrapTwoOutput).
void BM_BootstrapPhasesFGb(benchmark::State &state) {
    Setup &s = setup(ParameterPreset::FGb, state.range(0) != 0);
    const BootstrapperImpl &boot = *s.boot;
    const HomEvaluatorImpl &eval = *boot.getEvaluator();
    const BootParameter &param = boot.getBootParameter();
    double s2c = 0, raise = 0, c2s = 0, remove_i = 0;
    Ciphertext out(s.ctx, false, true);
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        Ciphertext r(s.ctx, false, true);
        eval.levels().levelDown(s.input, 3, r);
        eval.constants().multInteger(r, static_cast<std::int64_t>(param.mult_before_s2c), r);
        boot.getTransforms().slotToCoeff(r, r);
        const Clock::time_point t1 = Clock::now();
        r.backwardNTT();
        boot.getTransforms().levelRecover(r, r, getLength(s.ctx) - 1);
        r.forwardNTT();
        const Clock::time_point t2 = Clock::now();
        eval.constants().multInteger(r, static_cast<std::int64_t>(param.mult_before_c2s), r);
        boot.getTransforms().coeffToSlot(r, r);
        const Clock::time_point t3 = Clock::now();
        Ciphertext conj(s.ctx, false, true), re(s.ctx, false, true), im(s.ctx, false, true);
        eval.rotations().conjugate(r, conj);
        eval.add(r, conj, re);
        eval.sub(conj, r, im);
        eval.constants().multImagUnit(im, im);
        eval.levels().rescale(re);
        eval.levels().rescale(im);
        boot.getPipeline().removeI(re, re, 1.0);
        boot.getPipeline().removeI(im, im, 1.0);
        eval.constants().multImagUnit(im, im);
        eval.add(im, re, out);
        const Clock::time_point t4 = Clock::now();
        s2c += seconds(t0, t1);
        raise += seconds(t1, t2);
        c2s += seconds(t2, t3);
        remove_i += seconds(t3, t4);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["S2C_s"] = s2c / n;
    state.counters["raise_s"] = raise / n;
    state.counters["C2S_s"] = c2s / n;
    state.counters["removeI_s"] = remove_i / n;
    reportSetup(state, s, out);
}

} // namespace

BENCHMARK(BM_BootstrapFGb)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_BootstrapFGd)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_BootstrapPhasesFGb)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);
