#include "Quelt/Context.hpp"
#include "Quelt/Message.hpp"
#include "arith/FastBaseConv.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/DataObjects.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace Quelt;

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 3;

// The words of every result of a run of the operations that read a shared
// context: transforms both ways, the Frobenius map, mod-up and mod-down,
// rescaling and the slot FFT, on inputs derived from `seed`.
std::vector<u64> runOperations(const std::shared_ptr<ContextContent> &ctx, const FastBaseConv &conv,
                               u64 seed) {
    const PrimeModuli &chain = ctx->getPrimeModuli();
    std::vector<u64> words;
    auto append = [&words](const Polynomial &p) {
        words.insert(words.end(), p.getData().begin(), p.getData().end());
    };

    Polynomial a(ctx, false, false);
    Quelt::test::fillResidues(a, seed);
    Polynomial ntt(ctx, false, false);
    chain.forwardNTT<AlwaysValidator, 1>(a, ntt, AlwaysValidator());
    append(ntt);
    Polynomial back(ctx, false, true);
    chain.backwardNTT<AlwaysValidator, 1>(ntt, back, AlwaysValidator());
    append(back);

    Polynomial rotated(ctx, false, true);
    chain.frobeniusMapInNTT<false>(ntt, 5, rotated);
    append(rotated);

    const std::vector<Polynomial> digits = conv.modUp(ntt);
    for (const Polynomial &digit : digits)
        append(digit);
    Polynomial down(ctx, false, true);
    conv.modDown(digits.front(), down, true);
    append(down);

    chain.rescale(ntt);
    append(ntt);

    const u64 slots = getDegree(ctx) / 2;
    std::vector<std::complex<double>> values(slots);
    for (u64 k = 0; k < slots; ++k)
        values[k] = {static_cast<double>((seed * 31 + k) % 97) - 48.0,
                     static_cast<double>((seed * 17 + 3 * k) % 89) / 8.0};
    Message message(values);
    ctx->getFFT().backwardFFT(message);
    ctx->getFFT().forwardFFT(message);
    for (const std::complex<double> &z : message) {
        u64 bits[2];
        std::memcpy(bits, &z, sizeof bits);
        words.insert(words.end(), bits, bits + 2);
    }
    return words;
}

} // namespace

TEST(ContextThreadsTest, SharedContextGivesTheSingleThreadResults) {
    // Degree 2^10, four chain primes and two temporary primes: two digits.
    const auto ctx = makeContext(10, 4, 50, 40, 50, 2);
    const FastBaseConv conv(ctx);
    std::vector<std::vector<u64>> expected;
    for (int t = 0; t < kThreads; ++t)
        expected.push_back(runOperations(ctx, conv, 1 + t));

    std::vector<std::vector<std::vector<u64>>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                results[t].push_back(runOperations(ctx, conv, 1 + t));
        });
    for (std::thread &thread : threads)
        thread.join();

    for (int t = 0; t < kThreads; ++t)
        for (int round = 0; round < kRounds; ++round)
            EXPECT_EQ(results[t][round], expected[t]) << "thread " << t << ", round " << round;
}
