// Encryption and decryption of a full message (2^15 slots) at degree 2^16 on
// the FGb preset, single thread, at the encryption level 12 (the top level
// encryption accepts); decryption also at the top level L - 1 = 24.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/RandomSampler.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <sstream>

namespace {

using namespace Quelt;
using Rlwe = SecretKeyBase<EncryptionType::RLWE>;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;

const std::shared_ptr<ContextContent> &benchContext() {
    static const auto ctx = makeContext(ParameterPreset::FGb);
    return ctx;
}

struct Keys {
    Rlwe secretKey{benchContext()};
    KeyPack pack{benchContext()};
    Keys() {
        std::stringstream record;
        EncryptionKey(benchContext(), secretKey).save(record);
        pack.loadEncKey(record);
    }
};

const Keys &keys() {
    static const Keys k;
    return k;
}

Message randomMessage() {
    Message m(getLogFullSlots(benchContext()));
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (auto &v : m)
        v = {dist(rng), dist(rng)};
    return m;
}

void BM_EncryptPublicKeyPlaintext(benchmark::State &state) {
    const Encryptor encryptor(benchContext());
    const Keys &k = keys();
    const Plaintext pt = EnDecoder(benchContext()).encode(randomMessage());
    Ciphertext ct(benchContext(), false, true);
    for (auto _ : state) {
        encryptor.encrypt(pt, k.pack, ct);
        benchmark::DoNotOptimize(ct.getPolyData(0, 0));
    }
}
BENCHMARK(BM_EncryptPublicKeyPlaintext)->Unit(benchmark::kMillisecond);

// Encoding included (without its final transform: the error is added first).
void BM_EncryptPublicKeyMessage(benchmark::State &state) {
    const Encryptor encryptor(benchContext());
    const Keys &k = keys();
    const Message msg = randomMessage();
    Ciphertext ct(benchContext(), false, true);
    for (auto _ : state) {
        encryptor.encrypt(msg, k.pack, ct);
        benchmark::DoNotOptimize(ct.getPolyData(0, 0));
    }
}
BENCHMARK(BM_EncryptPublicKeyMessage)->Unit(benchmark::kMillisecond);

void BM_EncryptSecretKeyPlaintext(benchmark::State &state) {
    const Encryptor encryptor(benchContext());
    const Keys &k = keys();
    const Plaintext pt = EnDecoder(benchContext()).encode(randomMessage());
    Ciphertext ct(benchContext(), false, true);
    for (auto _ : state) {
        encryptor.encrypt(pt, k.secretKey, ct);
        benchmark::DoNotOptimize(ct.getPolyData(0, 0));
    }
}
BENCHMARK(BM_EncryptSecretKeyPlaintext)->Unit(benchmark::kMillisecond);

void BM_EncryptSecretKeyMessage(benchmark::State &state) {
    const Encryptor encryptor(benchContext());
    const Keys &k = keys();
    const Message msg = randomMessage();
    Ciphertext ct(benchContext(), false, true);
    for (auto _ : state) {
        encryptor.encrypt(msg, k.secretKey, ct);
        benchmark::DoNotOptimize(ct.getPolyData(0, 0));
    }
}
BENCHMARK(BM_EncryptSecretKeyMessage)->Unit(benchmark::kMillisecond);

// A ciphertext of the message at `level`: at the encryption level from the
// encryptor; above it (beyond what encryption accepts) made by hand as
// (m - c1 s, c1) with a uniform c1.
Ciphertext ciphertextAt(std::uint64_t level) {
    const auto &ctx = benchContext();
    const Plaintext pt = EnDecoder(ctx).encode(randomMessage(), level, 0);
    Ciphertext ct(ctx, false, true);
    if (level <= getEncryptionLevel(ctx)) {
        Encryptor(ctx).encrypt(pt, keys().secretKey, ct);
        return ct;
    }
    ct.setLevel(level);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    RandomSampler().sampleUniform(ct.getPoly(1), ctx);
    chain.hadamardMult(ct.getPoly(1), keys().secretKey.getSx(0), ct.getPoly(0));
    chain.sub(pt.getMx(), ct.getPoly(0), ct.getPoly(0));
    return ct;
}

// Decryption into a message: the product in NTT form, then the decoder's
// inverse transform of the one or two limbs it reads and the slot FFT.
void BM_DecryptAndDecode(benchmark::State &state) {
    const Decryptor decryptor(benchContext());
    const std::uint64_t level = state.range(0) < 0 ? getEncryptionLevel(benchContext())
                                                   : static_cast<std::uint64_t>(state.range(0));
    const Ciphertext ct = ciphertextAt(level);
    Message out;
    for (auto _ : state) {
        decryptor.decrypt(ct, keys().secretKey, out);
        benchmark::DoNotOptimize(out.begin());
    }
}
BENCHMARK(BM_DecryptAndDecode)->Arg(-1)->Arg(24)->Unit(benchmark::kMillisecond);

} // namespace
