// Eight threads rotating on one fresh pack whose keys are only files: the
// route table is built once, over the key files, and every rotation decrypts
// correctly.

#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "foundation/WordArith.hpp"
#include "support/KeyPackTestSupport.hpp"
#include "support/SchemeFixture.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace Quelt;

namespace {

class KeyPackRoutesThreadsTest : public test::SchemeFixture {};

} // namespace

TEST_F(KeyPackRoutesThreadsTest, EightThreadsRouteOverTheKeyFiles) {
    test::KeyDirectory dir("routes_threads");
    {
        KeyPack pack(context());
        const KeyGenerator generator(context(), secretKey(), pack);
        generator.genLeftRotKey(1);
        generator.genLeftRotKey(4);
        pack.save(dir.dir());
    }
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    const u64 slots = m.getSize();
    for (int round = 0; round < 5; ++round) {
        const KeyPack pack(context(), dir.dir());
        const HomEvaluator eval(context(), pack);
        std::vector<Message> got(8);
        std::vector<std::string> failures(8);
        test::runTogether(8, [&](int t) {
            try {
                RingCiphertext out(context(), false, true);
                eval.leftRotate(ct, 5 + static_cast<u64>(t % 2) * 4, out);
                decryptor.decrypt(out, secretKey(), got[t]);
            } catch (const std::exception &e) {
                failures[t] = e.what();
            }
        });
        for (int t = 0; t < 8; ++t) {
            SCOPED_TRACE("round " + std::to_string(round) + ", thread " + std::to_string(t));
            ASSERT_EQ(failures[t], "");
            const u64 idx = 5 + static_cast<u64>(t % 2) * 4;
            double worst = 0;
            for (u64 i = 0; i < slots; ++i)
                worst = std::max(worst, std::abs(got[t][i] - m[(i + idx) % slots]));
            EXPECT_LT(worst, 1e-6);
        }
    }
}
