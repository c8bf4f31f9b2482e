// Four threads share one evaluator and run the multi-secret key switches on
// one ciphertext (rotations, a hoisted rotation, conjugation, an inner
// product with plaintexts and the automorphism sum of a list); every thread
// gets the single-thread words.

#include "Quelt/Bx.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/MultiSecretTestSupport.hpp"
#include "support/ThreadTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {
namespace {

using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using Words = std::vector<std::vector<u64>>;

Words wordsOfAll(const PolynomialVector &v) {
    Words words;
    for (u64 i = 0; i < v.getSize(); ++i)
        words.push_back(wordsOf(v.getPoly(i)));
    return words;
}

TEST(HomEvaluatorMultiSecretThreadsTest, SharedEvaluatorGivesTheSingleThreadWords) {
    const auto &ctx = msVariant(msBase1024(), "Ms1024", 3);
    SchemeKeys<EncryptionType::MSRLWE> scheme(ctx);
    KeyPack pack(ctx);
    const KeyGenerator generator(ctx, scheme.key, pack);
    generator.genConjKey();
    for (u64 idx : {u64{1}, u64{2}})
        generator.genLeftRotKey(idx);
    const HomEvaluator eval(ctx, pack);
    std::mt19937_64 rng(9);
    const MsCiphertext ct =
        scheme.encrypt(randomMessages(getLogFullSlots(ctx), getNumSecret(ctx), rng), 3);
    const EnDecoder encoder(ctx);
    std::vector<Plaintext> pts;
    for (int i = 0; i < 2; ++i)
        pts.push_back(encoder.encode(randomMessages(getLogFullSlots(ctx), 1, rng)[0], 3, 0));

    auto work = [&] {
        std::vector<Words> out;
        MsCiphertext r(ctx, false, true);
        for (u64 idx : {u64{1}, u64{2}, u64{3}}) {
            eval.leftRotateMSRLWE(ct, idx, r);
            out.push_back(wordsOfAll(r.getPolyVector()));
        }
        std::vector<MsCiphertext> hoisted;
        eval.leftRotateMSRLWE(ct, {1, 2}, hoisted);
        for (const MsCiphertext &h : hoisted)
            out.push_back(wordsOfAll(h.getPolyVector()));
        eval.conjugateMSRLWE(ct, r);
        out.push_back(wordsOfAll(r.getPolyVector()));
        const std::vector<MsCiphertext> cts = {ct, ct};
        eval.innerProductMSRLWE(pts.cbegin(), pts.cend(), cts.cbegin(), r);
        out.push_back(wordsOfAll(r.getPolyVector()));
        Bx list(ctx, getNumSecret(ctx) + 1, false);
        *list.getData() = ct.getPolyVector();
        Bx turned(ctx, 1, false);
        eval.frobeniusAndInnerProductBx(pts.cbegin(), pts.cend(), list, turned, {5, 25});
        out.push_back(wordsOfAll(*turned.getData()));
        return out;
    };
    const auto reference = work();
    std::vector<decltype(work())> results(4);
    runTogether(4, [&](int t) { results[static_cast<u64>(t)] = work(); });
    for (const auto &r : results)
        EXPECT_EQ(r, reference);
}

} // namespace
} // namespace Quelt::test
