// The operand checks every evaluator operation runs before it writes: the
// evaluator's context, the form (NTT or coefficient) the operation needs, and
// a plaintext's level against the scale a product takes. Each refusal is a
// row: its message, and the output left word for word as it was. Then the
// sums that stay correct: rotSum of terms at different levels, plaintexts
// above the ciphertext's level with the same scale, and sums in coefficient
// form.

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using Impl = HomEvaluatorImpl;
using RingCt = CiphertextBase<EncryptionType::RLWE>;
using Complex = std::complex<double>;
using RingKey = SecretKeyBase<EncryptionType::RLWE>;

std::string notOfContext(const std::string &function, const std::string &operand) {
    return "[" + function + "] The " + operand + " does not match the context of the HomEvaluator";
}

std::string needsNTT(const std::string &function, const std::string &operand) {
    return "[" + function + "] The " + operand +
           " is in coefficient form; the operation needs NTT form";
}

std::string formsDiffer(const std::string &function, const std::string &second,
                        const std::string &second_form, const std::string &first,
                        const std::string &first_form) {
    return "[" + function + "] The " + second + " is in " + second_form + " form, the " + first +
           " in " + first_form + " form";
}

Message slotSum(const Message &a, const Message &b) {
    Message out = a;
    for (u64 i = 0; i < out.getSize(); ++i)
        out[i] += b[i];
    return out;
}

Message slotProduct(const Message &a, const Message &b) {
    Message out = a;
    for (u64 i = 0; i < out.getSize(); ++i)
        out[i] *= b[i];
    return out;
}

class HomEvaluatorOperandChecksTest : public SchemeFixture {
protected:
    HomEvaluatorOperandChecksTest() {
        m = randomMessage();
        y = randomMessage();
        ct = encrypt(m);
        coeff = ct;
        coeff.backwardNTT();
        eval.levelDown(ct, 5, ct5);
        pt = encoder.encode(y, level, 0);
        pt_coeff = encoder.encodeWithoutNTT(y, level, 0);
        pt20 = encoder.encode(y, 20, 0);
        pt5 = encoder.encode(y, 5, 0);
        pt3 = encoder.encode(y, 3, 0);
        // FX's degree and chain length over other primes.
        Encryptor(twin()).encrypt(m, twinKey(), twin_ct, level, 0);
        twin_pt = EnDecoder(twin()).encode(y, level, 0);
        // A ring of degree 128.
        Encryptor(otherContext())
            .encrypt(Message(getLogFullSlots(otherContext()), 0.5), RingKey(otherContext()),
                     wide_ct, 2, 0);
    }

    static const std::shared_ptr<ContextContent> &twin() {
        static const auto ctx = makeContext(6, 25, 50, 40, 50, 5);
        return ctx;
    }
    static const RingKey &twinKey() {
        static const RingKey key(twin());
        return key;
    }

    RingCt fresh() const { return RingCt(context(), false, true); }

    // A pack with the fixture's keys and left-rotation keys of `indices`.
    static KeyPack packWith(const std::vector<u64> &indices) {
        KeyPack pack(context());
        const KeyGenerator generator(context(), secretKey(), pack);
        generator.genEncKey();
        generator.genMultKey();
        generator.genConjKey();
        for (const u64 idx : indices)
            generator.genLeftRotKey(idx);
        return pack;
    }

    const u64 level = getEncryptionLevel(context());
    const HomEvaluator eval{context(), keyPack()};
    Message m, y;
    RingCt ct = fresh(), coeff = fresh(), ct5 = fresh();
    RingCt twin_ct{twin(), false, true};
    RingCt wide_ct{otherContext(), false, true};
    Plaintext pt{context()}, pt_coeff{context()}, pt20{context()}, pt5{context()}, pt3{context()};
    Plaintext twin_pt{twin()};
};

TEST_F(HomEvaluatorOperandChecksTest, CiphertextOperationsRefuseAndLeaveTheOutput) {
    RingCt three = fresh(), three_coeff = fresh();
    eval.tensor(ct, ct, three);
    three_coeff = three;
    three_coeff.backwardNTT();
    // The coefficient form the key switch gives with ntt_body false.
    RingCt switched = fresh();
    eval.switchKey(ct, KeyGenerator(context()).genSwitchKey(secretKey(), secretKey()), switched,
                   false);
    const Message msg = randomMessage();
    const std::vector<Plaintext> pts_coeff = {pt, pt_coeff};
    const std::vector<Plaintext> pts = {pt, pt};
    const std::vector<RingCt> cts_coeff = {ct, coeff};
    const std::vector<RingCt> cts = {ct, ct};
    const std::vector<Plaintext> one_pt = {pt};
    const std::vector<Plaintext> one_pt20 = {pt20};
    const std::vector<RingCt> one_twin = {twin_ct};
    const std::vector<RingCt> one_ct5 = {ct5};
    const std::string ntt = "NTT", coefficient = "coefficient";
    struct Row {
        std::string name;
        std::function<void(RingCt &)> call;
        std::string message;
    };
    const std::vector<Row> rows = {
        // A ciphertext in coefficient form (backwardNTT, or switchKey with
        // ntt_body false) or a plaintext from encodeWithoutNTT.
        {"add, second in coefficient form", [&](RingCt &out) { eval.add(ct, coeff, out); },
         formsDiffer("add", "second ciphertext", coefficient, "first ciphertext", ntt)},
        {"add, first in coefficient form", [&](RingCt &out) { eval.add(coeff, ct, out); },
         formsDiffer("add", "second ciphertext", ntt, "first ciphertext", coefficient)},
        {"sub, second in coefficient form", [&](RingCt &out) { eval.sub(ct, coeff, out); },
         formsDiffer("sub", "second ciphertext", coefficient, "first ciphertext", ntt)},
        {"add of a coefficient-form plaintext", [&](RingCt &out) { eval.add(ct, pt_coeff, out); },
         formsDiffer("add", "plaintext", coefficient, "ciphertext", ntt)},
        {"sub of a coefficient-form plaintext", [&](RingCt &out) { eval.sub(ct, pt_coeff, out); },
         formsDiffer("sub", "plaintext", coefficient, "ciphertext", ntt)},
        {"add of a switched ciphertext", [&](RingCt &out) { eval.add(ct, switched, out); },
         formsDiffer("add", "second ciphertext", coefficient, "first ciphertext", ntt)},
        {"leftRotate of a switched ciphertext",
         [&](RingCt &out) { eval.leftRotate(switched, 1, out); },
         needsNTT("leftRotate", "ciphertext")},
        {"add of a message", [&](RingCt &out) { eval.add(coeff, msg, out); },
         needsNTT("add", "ciphertext")},
        {"sub of a message", [&](RingCt &out) { eval.sub(coeff, msg, out); },
         needsNTT("sub", "ciphertext")},
        {"mult of ciphertexts", [&](RingCt &out) { eval.mult(ct, coeff, out); },
         needsNTT("mult", "second ciphertext")},
        {"multWithoutRescale of ciphertexts",
         [&](RingCt &out) { eval.multWithoutRescale(coeff, ct, out); },
         needsNTT("multWithoutRescale", "first ciphertext")},
        {"square", [&](RingCt &out) { eval.square(coeff, out); }, needsNTT("square", "ciphertext")},
        {"tensor", [&](RingCt &out) { eval.tensor(ct, coeff, out); },
         needsNTT("tensor", "second ciphertext")},
        {"relinearize", [&](RingCt &out) { eval.relinearize(three_coeff, out); },
         needsNTT("relinearize", "ciphertext")},
        {"mult by a coefficient-form plaintext", [&](RingCt &out) { eval.mult(ct, pt_coeff, out); },
         needsNTT("mult", "plaintext")},
        {"multWithoutRescale by a coefficient-form plaintext",
         [&](RingCt &out) { eval.multWithoutRescale(ct, pt_coeff, out); },
         needsNTT("multWithoutRescale", "plaintext")},
        {"mult of a coefficient-form ciphertext by a plaintext",
         [&](RingCt &out) { eval.mult(coeff, pt, out); }, needsNTT("mult", "ciphertext")},
        {"mult of a coefficient-form ciphertext by a message",
         [&](RingCt &out) { eval.mult(coeff, msg, out); }, needsNTT("mult", "ciphertext")},
        {"multWithoutRescale of a coefficient-form ciphertext",
         [&](RingCt &out) { eval.multWithoutRescale(coeff, pt, out); },
         needsNTT("multWithoutRescale", "ciphertext")},
        {"matmul", [&](RingCt &out) { eval.matmul({coeff}, pt, out); },
         needsNTT("multWithoutRescale", "ciphertext")},
        {"innerProduct, a plaintext",
         [&](RingCt &out) {
             eval.innerProduct(pts_coeff.cbegin(), pts_coeff.cend(), cts.cbegin(), out);
         },
         needsNTT("innerProduct", "plaintext")},
        {"innerProduct, a ciphertext",
         [&](RingCt &out) { eval.innerProduct(pts.cbegin(), pts.cend(), cts_coeff.cbegin(), out); },
         needsNTT("innerProduct", "ciphertext")},
        {"leftRotate", [&](RingCt &out) { eval.leftRotate(coeff, 1, out); },
         needsNTT("leftRotate", "ciphertext")},
        {"rightRotate", [&](RingCt &out) { eval.rightRotate(coeff, 1, out); },
         needsNTT("rightRotate", "ciphertext")},
        {"conjugate", [&](RingCt &out) { eval.conjugate(coeff, out); },
         needsNTT("conjugate", "ciphertext")},
        {"killImag", [&](RingCt &out) { eval.killImag(coeff, out); },
         needsNTT("killImag", "ciphertext")},
        {"rotSum",
         [&](RingCt &out) {
             eval.rotSum(cts_coeff, {1, 2}, out);
         },
         needsNTT("rotSum", "ciphertext")},
        {"leftRotateReduce", [&](RingCt &out) { eval.leftRotateReduce(coeff, 1, 2, out); },
         needsNTT("leftRotateReduce", "ciphertext")},

        // Ciphertexts and plaintexts of another context: FX's degree and
        // chain length over other primes, or another degree.
        {"add, second of another context", [&](RingCt &out) { eval.add(ct, twin_ct, out); },
         notOfContext("add", "second ciphertext")},
        {"add, first of another context", [&](RingCt &out) { eval.add(twin_ct, ct, out); },
         notOfContext("add", "first ciphertext")},
        {"add of another degree", [&](RingCt &out) { eval.add(ct, wide_ct, out); },
         notOfContext("add", "second ciphertext")},
        {"sub", [&](RingCt &out) { eval.sub(ct, twin_ct, out); },
         notOfContext("sub", "second ciphertext")},
        {"add of a constant", [&](RingCt &out) { eval.add(twin_ct, Complex(0.5, 0.0), out); },
         notOfContext("add", "ciphertext")},
        {"sub of a constant", [&](RingCt &out) { eval.sub(twin_ct, Complex(0.5, 0.0), out); },
         notOfContext("sub", "ciphertext")},
        {"add of a message", [&](RingCt &out) { eval.add(twin_ct, msg, out); },
         notOfContext("add", "ciphertext")},
        {"mult by an integer constant",
         [&](RingCt &out) { eval.mult(twin_ct, Complex(3.0, 0.0), out); },
         notOfContext("mult", "ciphertext")},
        {"mult by a constant", [&](RingCt &out) { eval.mult(twin_ct, Complex(2.5, 0.0), out); },
         notOfContext("mult", "ciphertext")},
        {"multWithoutRescale by a constant",
         [&](RingCt &out) { eval.multWithoutRescale(twin_ct, Complex(2.5, 0.0), out); },
         notOfContext("multWithoutRescale", "ciphertext")},
        {"multInteger", [&](RingCt &out) { eval.multInteger(twin_ct, 3, out); },
         notOfContext("multInteger", "ciphertext")},
        {"multImagUnit", [&](RingCt &out) { eval.multImagUnit(twin_ct, out); },
         notOfContext("multImagUnit", "ciphertext")},
        {"negate", [&](RingCt &out) { eval.negate(twin_ct, out); },
         notOfContext("negate", "ciphertext")},
        {"add of a plaintext of another context", [&](RingCt &out) { eval.add(ct, twin_pt, out); },
         notOfContext("add", "plaintext")},
        {"sub of a plaintext of another context", [&](RingCt &out) { eval.sub(ct, twin_pt, out); },
         notOfContext("sub", "plaintext")},
        {"multWithoutRescale by a plaintext of another context",
         [&](RingCt &out) { eval.multWithoutRescale(ct, twin_pt, out); },
         notOfContext("multWithoutRescale", "plaintext")},
        {"mult by a plaintext of another context",
         [&](RingCt &out) { eval.mult(ct, twin_pt, out); }, notOfContext("mult", "plaintext")},
        {"mult of ciphertexts", [&](RingCt &out) { eval.mult(ct, twin_ct, out); },
         notOfContext("mult", "second ciphertext")},
        {"levelDown", [&](RingCt &out) { eval.levelDown(twin_ct, 5, out); },
         notOfContext("levelDown", "ciphertext")},
        {"levelDownOne", [&](RingCt &out) { eval.levelDownOne(twin_ct, out); },
         notOfContext("levelDownOne", "ciphertext")},
        {"leftRotate", [&](RingCt &out) { eval.leftRotate(twin_ct, 1, out); },
         notOfContext("leftRotate", "ciphertext")},
        {"conjugate", [&](RingCt &out) { eval.conjugate(twin_ct, out); },
         notOfContext("conjugate", "ciphertext")},
        {"innerProduct",
         [&](RingCt &out) {
             eval.innerProduct(one_pt.cbegin(), one_pt.cend(), one_twin.cbegin(), out);
         },
         notOfContext("innerProduct", "ciphertext")},
        {"rotSum", [&](RingCt &out) { eval.rotSum(one_twin, {1}, out); },
         notOfContext("rotSum", "ciphertext")},

        // Plaintext levels where the product's scale depends on them.
        {"plaintext above with another scale",
         [&](RingCt &out) { eval.multWithoutRescale(ct5, pt20, out); }, Impl::kPlaintextOtherScale},
        {"plaintext below", [&](RingCt &out) { eval.multWithoutRescale(ct5, pt3, out); },
         Impl::kPlaintextBelow},
        {"innerProduct, plaintext above with another scale",
         [&](RingCt &out) {
             eval.innerProduct(one_pt20.cbegin(), one_pt20.cend(), one_ct5.cbegin(), out);
         },
         Impl::kInnerProductPlaintextOtherScale},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        expectRefusedKeepingOutput(row.call, row.message);
    }

    // In place: the operand is the output.
    const std::vector<std::pair<std::string, std::function<void(RingCt &)>>> in_place = {
        {"rescale", [&](RingCt &x) { eval.rescale(x); }},
        {"inverseRescale", [&](RingCt &x) { eval.inverseRescale(x); }},
    };
    for (const auto &[function, call] : in_place) {
        SCOPED_TRACE(function);
        RingCt x = twin_ct;
        expectThrowsMessage([&] { call(x); }, notOfContext(function, "ciphertext"));
        EXPECT_EQ(ciphertextWords(x), ciphertextWords(twin_ct));
    }
}

TEST_F(HomEvaluatorOperandChecksTest, PlaintextOperationsRefuseAndLeaveTheOutput) {
    struct Row {
        std::string name;
        std::function<void(Plaintext &)> call;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"add", [&](Plaintext &out) { eval.add(pt, pt_coeff, out); },
         formsDiffer("add", "second plaintext", "coefficient", "first plaintext", "NTT")},
        {"sub", [&](Plaintext &out) { eval.sub(pt_coeff, pt, out); },
         formsDiffer("sub", "second plaintext", "NTT", "first plaintext", "coefficient")},
        {"mult", [&](Plaintext &out) { eval.mult(pt, pt_coeff, out); },
         needsNTT("mult", "second plaintext")},
        {"multWithoutRescale", [&](Plaintext &out) { eval.multWithoutRescale(pt_coeff, pt, out); },
         needsNTT("multWithoutRescale", "first plaintext")},
        {"square", [&](Plaintext &out) { eval.square(pt_coeff, out); },
         needsNTT("square", "plaintext")},
        {"leftRotate", [&](Plaintext &out) { eval.leftRotate(pt_coeff, 1, out); },
         needsNTT("leftRotate", "plaintext")},
        {"rightRotate", [&](Plaintext &out) { eval.rightRotate(pt_coeff, 1, out); },
         needsNTT("rightRotate", "plaintext")},
        {"conjugate", [&](Plaintext &out) { eval.conjugate(pt_coeff, out); },
         needsNTT("conjugate", "plaintext")},
        {"add of another context", [&](Plaintext &out) { eval.add(pt, twin_pt, out); },
         notOfContext("add", "second plaintext")},
        {"add of a constant", [&](Plaintext &out) { eval.add(twin_pt, Complex(1.0, 0.0), out); },
         notOfContext("add", "plaintext")},
        {"mult by a constant", [&](Plaintext &out) { eval.mult(twin_pt, Complex(2.5, 0.0), out); },
         notOfContext("mult", "plaintext")},
        {"negate", [&](Plaintext &out) { eval.negate(twin_pt, out); },
         notOfContext("negate", "plaintext")},
        {"multInteger", [&](Plaintext &out) { eval.multInteger(twin_pt, 3, out); },
         notOfContext("multInteger", "plaintext")},
        {"relevel", [&](Plaintext &out) { eval.relevel(twin_pt, 5, out); },
         notOfContext("relevel", "plaintext")},
        {"leftRotate of another context", [&](Plaintext &out) { eval.leftRotate(twin_pt, 1, out); },
         notOfContext("leftRotate", "plaintext")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Plaintext out = encoder.encode(Message(getLogFullSlots(context()), 0.25), level, 0);
        const Plaintext before = out;
        expectThrowsMessage([&] { row.call(out); }, row.message);
        EXPECT_EQ(wordsOf(out.getMx()), wordsOf(before.getMx()));
        EXPECT_EQ(out.getLevel(), before.getLevel());
    }
}

// The same refusals on a ring of degree 2^10: a second context of the same
// degree and chain length over other primes, and operands in coefficient
// form.
TEST(HomEvaluatorOperandChecksWideTest, OperandsOfAnotherContextOrFormAreRefused) {
    const auto ctx = makeContext(10, 8, 40, 40, 50, 2);
    const auto other = makeContext(10, 8, 42, 42, 50, 2);
    ASSERT_NE(getPrimeList(ctx), getPrimeList(other));
    const HomEvaluator eval(ctx);
    const RingKey key(ctx), other_key(other);
    const Message m(getLogFullSlots(ctx), 0.25);
    RingCt ct(ctx, false, true), foreign(other, false, true);
    Encryptor(ctx).encrypt(m, key, ct, 6, 0);
    Encryptor(other).encrypt(m, other_key, foreign, 6, 0);
    const Plaintext foreign_pt = EnDecoder(other).encode(m, 6, 0);
    RingCt coeff = ct;
    coeff.backwardNTT();
    const Plaintext pt_coeff = EnDecoder(ctx).encodeWithoutNTT(m, 6, 0);
    struct Row {
        std::string name;
        std::function<void(RingCt &)> call;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"add", [&](RingCt &out) { eval.add(ct, foreign, out); },
         notOfContext("add", "second ciphertext")},
        {"sub", [&](RingCt &out) { eval.sub(foreign, ct, out); },
         notOfContext("sub", "first ciphertext")},
        {"mult by a constant", [&](RingCt &out) { eval.mult(foreign, Complex(1.5, 0.0), out); },
         notOfContext("mult", "ciphertext")},
        {"add of a plaintext", [&](RingCt &out) { eval.add(ct, foreign_pt, out); },
         notOfContext("add", "plaintext")},
        {"multWithoutRescale by a plaintext",
         [&](RingCt &out) { eval.multWithoutRescale(ct, foreign_pt, out); },
         notOfContext("multWithoutRescale", "plaintext")},
        {"add in different forms", [&](RingCt &out) { eval.add(coeff, ct, out); },
         formsDiffer("add", "second ciphertext", "NTT", "first ciphertext", "coefficient")},
        {"add of a coefficient-form plaintext", [&](RingCt &out) { eval.add(ct, pt_coeff, out); },
         formsDiffer("add", "plaintext", "coefficient", "ciphertext", "NTT")},
        {"multWithoutRescale by a coefficient-form plaintext",
         [&](RingCt &out) { eval.multWithoutRescale(ct, pt_coeff, out); },
         needsNTT("multWithoutRescale", "plaintext")},
        {"mult of a coefficient-form ciphertext",
         [&](RingCt &out) { eval.mult(coeff, Message(getLogFullSlots(ctx), 0.5), out); },
         needsNTT("mult", "ciphertext")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        RingCt out = ct;
        const auto before = ciphertextWords(out);
        expectThrowsMessage([&] { row.call(out); }, row.message);
        EXPECT_EQ(ciphertextWords(out), before);
    }
    RingCt x = foreign;
    expectThrowsMessage([&] { eval.rescale(x); }, notOfContext("rescale", "ciphertext"));
    EXPECT_EQ(ciphertextWords(x), ciphertextWords(foreign));
}

// A route through held keys finds all its keys first: with one key file of
// the route unreadable, the rotation refuses and the output stays as it was,
// whichever step of the route that key serves.
TEST_F(HomEvaluatorOperandChecksTest, ARouteWithAnUnreadableKeyLeavesTheOutput) {
    for (const u64 spoiled : {u64{1}, u64{2}}) {
        SCOPED_TRACE(spoiled);
        const TempDirectory temp("route");
        const std::filesystem::path &dir = temp.path();
        packWith({1, 2}).save(dir.string());
        KeyPack pack(context(), dir.string());
        pack.computeRotationKeyDecomposition(false);
        ASSERT_EQ(pack.getRotKeyDecomposition(3).size(), 2u);
        const auto file = dir / "PK" / ("RotKey" + std::to_string(spoiled) + ".bin");
        std::filesystem::resize_file(file, std::filesystem::file_size(file) / 2);
        const HomEvaluator routed(context(), pack);
        RingCt out = encrypt(Message(getLogFullSlots(context()), 0.25));
        const auto before = ciphertextWords(out);
        EXPECT_ANY_THROW(routed.leftRotate(ct, 3, out));
        EXPECT_EQ(ciphertextWords(out), before);
    }
}

// rotSum brings terms above the lowest level down as add does: FX levels 12
// and 5 give the sum of the rotations as exactly as add of the rotations.
TEST_F(HomEvaluatorOperandChecksTest, RotSumAlignsLevelsAsAdd) {
    const HomEvaluator rotating(context(), packWith({1, 3}));
    const Message a = randomMessage(), b = randomMessage();
    const RingCt high = encrypt(a);
    RingCt low = fresh();
    rotating.levelDown(encrypt(b), 5, low);
    for (const std::vector<u64> &idxs : {std::vector<u64>{1, 3}, std::vector<u64>{0, 3},
                                         std::vector<u64>{1, 0}, std::vector<u64>{0, 0}}) {
        SCOPED_TRACE(std::to_string(idxs[0]) + "," + std::to_string(idxs[1]));
        RingCt sum = fresh();
        rotating.rotSum({high, low}, idxs, sum);
        EXPECT_EQ(sum.getLevel(), 5u);
        const Message want = slotSum(rotatedLeft(a, idxs[0]), rotatedLeft(b, idxs[1]));
        // The same terms rotated one by one and added.
        RingCt ra = fresh(), rb = fresh(), added = fresh();
        rotating.leftRotate(high, idxs[0], ra);
        rotating.leftRotate(low, idxs[1], rb);
        rotating.add(ra, rb, added);
        const double error = maxError(decrypt(sum), want);
        EXPECT_LT(error, 1e-8);
        EXPECT_LT(error, 16 * maxError(decrypt(added), want) + 1e-10);
        RecordProperty("largest_error_log2_" + std::to_string(idxs[0]) + std::to_string(idxs[1]),
                       std::to_string(std::log2(error)));
        // The lower term first, out being one of the terms.
        std::vector<RingCt> terms = {low, high};
        rotating.rotSum(terms, {idxs[1], idxs[0]}, terms[1]);
        EXPECT_LT(maxError(decrypt(terms[1]), want), 1e-8);
    }
    // A term that levelDown refuses is refused as by add.
    RingCt counted = high;
    counted.setRescaleCounter(1);
    RingCt counted_low = low;
    counted_low.setRescaleCounter(1);
    RingCt out = fresh();
    const auto before = ciphertextWords(out);
    expectThrowsMessage(
        [&] {
            rotating.rotSum({counted, counted_low}, {1, 3}, out);
        },
        Impl::kRescaleCounterNotZero);
    EXPECT_EQ(ciphertextWords(out), before);
}

// A plaintext above the ciphertext's level serves a product when its level
// has the same scale factor: on this degree-2^10 context levels 6 and 7 share
// one. mult re-encodes a plaintext of another level and so serves them all.
TEST(HomEvaluatorPlaintextLevelsTest, AboveWithTheSameScaleServesAndMultReencodes) {
    const auto ctx = makeContext(10, 8, 40, 40, 50, 2);
    const std::vector<double> &factors = ctx->getScaleFactors().getFactors();
    ASSERT_EQ(factors[6], factors[7]);
    ASSERT_NE(factors[5], factors[6]);
    const HomEvaluator eval(ctx);
    const RingKey key(ctx);
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> dist(-0.5, 0.5);
    Message x(getLogFullSlots(ctx)), w(getLogFullSlots(ctx));
    for (u64 i = 0; i < x.getSize(); ++i) {
        x[i] = {dist(rng), dist(rng)};
        w[i] = {dist(rng), dist(rng)};
    }
    const Message want = slotProduct(x, w);
    auto decrypted = [&](const RingCt &c) {
        Message out;
        Decryptor(ctx).decrypt(c, key, out);
        return out;
    };
    auto error = [&](const Message &got) {
        double worst = 0.0;
        for (u64 i = 0; i < got.getSize(); ++i)
            worst = std::max(worst, std::abs(got[i] - want[i]));
        return worst;
    };
    RingCt ct6(ctx, false, true), ct5(ctx, false, true);
    Encryptor(ctx).encrypt(x, key, ct6, 6, 0);
    Encryptor(ctx).encrypt(x, key, ct5, 5, 0);
    const Plaintext w7 = encoder.encode(w, 7, 0);
    const Plaintext w6 = encoder.encode(w, 6, 0);
    const Plaintext w4 = encoder.encode(w, 4, 0);

    RingCt at_own(ctx, false, true), from_above(ctx, false, true);
    eval.multWithoutRescale(ct6, w6, at_own);
    eval.multWithoutRescale(ct6, w7, from_above);
    EXPECT_EQ(ciphertextWords(from_above), ciphertextWords(at_own));
    eval.rescale(from_above);
    EXPECT_EQ(from_above.getLevel(), 5u);
    EXPECT_LT(error(decrypted(from_above)), 1e-6);
    const std::vector<Plaintext> pts = {w7};
    const std::vector<RingCt> cts = {ct6};
    RingCt summed(ctx, false, true);
    eval.innerProduct(pts.cbegin(), pts.cend(), cts.cbegin(), summed);
    EXPECT_EQ(ciphertextWords(summed), ciphertextWords(at_own));

    // Level 6's scale is not level 5's; level 4 is below.
    RingCt out(ctx, false, true);
    expectThrowsMessage([&] { eval.multWithoutRescale(ct5, w6, out); }, Impl::kPlaintextOtherScale);
    expectThrowsMessage([&] { eval.multWithoutRescale(ct5, w4, out); }, Impl::kPlaintextBelow);
    // mult takes either to the ciphertext's level first.
    for (const Plaintext *p : {&w6, &w4, &w7}) {
        eval.mult(ct5, *p, out);
        EXPECT_EQ(out.getLevel(), 4u);
        EXPECT_LT(error(decrypted(out)), 1e-6);
    }
}

// Sums in coefficient form keep working: two ciphertexts in coefficient form,
// and a ciphertext with a plaintext in coefficient form at another level (the
// plaintext encoded again in that form).
TEST_F(HomEvaluatorOperandChecksTest, SumsInCoefficientFormStayCorrect) {
    const Message b = randomMessage();
    RingCt other = encrypt(b);
    other.backwardNTT();
    RingCt out = fresh();
    eval.add(coeff, other, out);
    EXPECT_LT(maxError(decrypt(out), slotSum(m, b)), 1e-8);
    RingCt other5 = fresh();
    eval.levelDown(encrypt(b), 5, other5);
    other5.backwardNTT();
    eval.add(coeff, other5, out);
    EXPECT_EQ(out.getLevel(), 5u);
    EXPECT_LT(maxError(decrypt(out), slotSum(m, b)), 1e-8);

    for (const u64 pt_level : {level, u64{20}, u64{5}}) {
        SCOPED_TRACE(pt_level);
        const Plaintext p = encoder.encodeWithoutNTT(y, pt_level, 0);
        eval.add(coeff, p, out);
        EXPECT_EQ(out.getLevel(), level);
        EXPECT_LT(maxError(decrypt(out), slotSum(m, y)), 1e-8);
        eval.sub(out, p, out);
        EXPECT_LT(maxError(decrypt(out), m), 1e-8);
    }
}

} // namespace
} // namespace Quelt::test
