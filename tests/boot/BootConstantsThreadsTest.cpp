#include "boot/BootConstants.hpp"

#include "boot/BootParameter.hpp"
#include "boot/BootTestSupport.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

namespace Quelt {
namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 50;

TEST(BootParameterThreadsTest, ParametersBuiltAtOnce) {
    // The first threads to build parameters also fill the coefficient table.
    std::vector<std::vector<double>> coeffs(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&, t] { coeffs[t] = BootParameter(test::fxContext()).cosine_coeffs; });
    for (std::thread &thread : threads)
        thread.join();
    for (const std::vector<double> &c : coeffs)
        EXPECT_EQ(c, getCosineCoeff({7, 1}, 32));
}

TEST(BootConstantsThreadsTest, LookUpsAndCopiesAtOnce) {
    const auto &ctx = test::fxContext();
    const BootParameter bp(ctx);
    BootConstants constants(5, ctx, bp);
    const u64 *first = constants.getV0(kHostDevice, 0)[0].getMxData(0);

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                if (t % 2 == 0) {
                    // Readers: every step of both transforms, and the custom
                    // split's messages once they exist.
                    for (u64 j = 0; j < 2; ++j) {
                        if (constants.getV0(kHostDevice, j).size() != (j == 0 ? 8u : 7u) ||
                            constants.getInvV0(kHostDevice, j).size() != (j == 0 ? 8u : 7u))
                            ++failures;
                    }
                    if (!constants.isIn(kHostDevice))
                        ++failures;
                    try {
                        if (constants.getMsgV0({2, 5}).size() != 2)
                            ++failures;
                    } catch (const std::out_of_range &) {
                        // Not generated yet.
                    }
                } else {
                    // Writers of the per-device copies, which find the host
                    // copies in place.
                    constants.copyToIfNotExists(kHostDevice);
                    constants.removeExceptV0(kHostDevice);
                    constants.removeExceptInvV0(kHostDevice);
                    if (t == 1 && round % 10 == 0)
                        constants.generateDFTMessagesForS2C(bp, {2, 5});
                }
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(constants.isIn(kHostDevice));
    EXPECT_EQ(constants.getV0(kHostDevice, 0)[0].getMxData(0), first);
    EXPECT_EQ(constants.getMsgV0({2, 5}).size(), 2u);
}

} // namespace
} // namespace Quelt
