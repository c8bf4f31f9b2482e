#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

// Two threads bootstrap with one bootstrapper once its constants are made and
// placed: each result is the one a single thread computes.

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;

TEST(BootstrapPipelineThreadsTest, TwoThreadsShareOneBootstrapper) {
    const auto &ctx = fxContext();
    Bootstrapper boot(fxBootEval(), false);
    boot.makeBootConstants(3);
    for (const u64 s : {u64{3}, u64{5}})
        boot.loadBootConstants(s, kHostDevice);
    const Encryptor encryptor(ctx);
    std::mt19937_64 rng(7);
    std::vector<Ciphertext> inputs;
    for (const u64 s : {u64{5}, u64{3}}) {
        Ciphertext ct(ctx, false, true);
        encryptor.encrypt(randomBootMessage(rng, s, 1.0), fxBootKeys().pack, ct);
        fxBootEval().levelDown(ct, 3, ct);
        inputs.push_back(ct);
    }
    std::vector<Ciphertext> single(2, Ciphertext(ctx, false, true));
    for (u64 i = 0; i < 2; ++i)
        boot.bootstrap(inputs[i], single[i], true);

    std::vector<Ciphertext> threaded(2, Ciphertext(ctx, false, true));
    std::vector<std::thread> threads;
    for (u64 i = 0; i < 2; ++i)
        threads.emplace_back([&, i] { boot.bootstrap(inputs[i], threaded[i], true); });
    for (std::thread &t : threads)
        t.join();
    for (u64 i = 0; i < 2; ++i)
        for (u64 p = 0; p < 2; ++p) {
            const auto &a = single[i].getPoly(p).getData();
            const auto &b = threaded[i].getPoly(p).getData();
            ASSERT_EQ(a.size(), b.size());
            for (u64 k = 0; k < a.size(); ++k)
                ASSERT_EQ(a[k], b[k]) << "ciphertext " << i << ", polynomial " << p;
        }
}

} // namespace
} // namespace Quelt::test
