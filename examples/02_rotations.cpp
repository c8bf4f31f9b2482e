// Example 02: rotations and conjugation of encrypted slots.
//
// A left rotation by k moves slot i + k to slot i (cyclically). Each rotation
// amount needs its own rotation key, made by the KeyGenerator from the secret
// key; an amount without a key is reached through a chain of held keys when
// one exists (slower: one key switch per step). Conjugation needs the
// conjugation key. Keys cost memory (docs/presets.md gives their sizes), so
// make keys for the amounts the program uses.
//
// Shown: single rotations, a rotation without its own key, conjugation,
// hoisted rotations (several amounts from one ciphertext, sharing the costly
// first step), rotSum (a sum of rotated ciphertexts with one final division)
// and leftRotateReduce (the sum of all slots in log2(n) rotations).
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <complex>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace Quelt;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using SecretKey = SecretKeyBase<EncryptionType::RLWE>;

int main() {
    example::Checks checks;

    // Degree 2^10, so 512 slots; small and NOT secure, for a quick run.
    const auto ctx = makeContext(10, 4, 58, 42, 58, 2);
    const std::uint64_t log_slots = getLogFullSlots(ctx);

    const SecretKey secret_key(ctx);
    KeyPack pack(ctx);
    const KeyGenerator keygen(ctx, secret_key, pack);
    keygen.genEncKey();
    keygen.genConjKey();
    // Keys for chosen amounts: left by 1 and 4, right by 1 (stored as the
    // left rotation by 511).
    keygen.genLeftRotKey(1);
    keygen.genLeftRotKey(4);
    keygen.genRightRotKey(1);
    // genRotKeyBundle() would make every power of two in both directions;
    // genRotKeysForBootstrap(log_slots, min_key) the set bootstrapping needs.

    Message x(log_slots);
    for (std::uint64_t i = 0; i < x.getSize(); ++i)
        x[i] = {static_cast<double>(i % 16) / 16.0, 0.25 - static_cast<double>(i % 8) / 32.0};

    const Encryptor encryptor(ctx);
    const Decryptor decryptor(ctx);
    const HomEvaluator eval(ctx, pack);
    Ciphertext cx(ctx, false, true);
    encryptor.encrypt(x, pack, cx);
    const auto decrypt = [&](const Ciphertext &ct) {
        Message m;
        decryptor.decrypt(ct, secret_key, m);
        return m;
    };
    // The evaluator rotates messages too: the plain reference.
    Message want;

    Ciphertext out(ctx, false, true);
    eval.leftRotate(cx, 4, out);
    eval.leftRotate(x, 4, want);
    checks.expectClose("left by 4 (own key)", example::maxError(decrypt(out), want), 1e-6);

    eval.rightRotate(cx, 1, out);
    eval.rightRotate(x, 1, want);
    checks.expectClose("right by 1 (own key)", example::maxError(decrypt(out), want), 1e-6);

    // No key for 5: the evaluator finds the route 4 + 1 through the held keys
    // (KeyPack::getRotKeyDecomposition shows it). An amount that no route
    // reaches throws "[getRotKeyDecomposition] Can not reach to such
    // rotation idx using given rot keys."; make its key with genLeftRotKey.
    const std::vector<std::uint64_t> route = pack.getRotKeyDecomposition(5);
    std::printf("  rotation by 5 runs as %zu steps:", route.size());
    for (const std::uint64_t step : route)
        std::printf(" %llu", static_cast<unsigned long long>(step));
    std::printf("\n");
    eval.leftRotate(cx, 5, out);
    eval.leftRotate(x, 5, want);
    checks.expectClose("left by 5 (through 4 and 1)", example::maxError(decrypt(out), want), 1e-6);

    // Complex conjugation of every slot.
    eval.conjugate(cx, out);
    eval.conjugate(x, want);
    checks.expectClose("conjugate", example::maxError(decrypt(out), want), 1e-6);

    // Hoisted rotations: one ciphertext rotated by several amounts (each
    // with its own key) sharing one decomposition of the ciphertext.
    const std::vector<std::uint64_t> amounts{1, 4, 511};
    std::vector<Ciphertext> rotated;
    eval.leftRotate(cx, amounts, rotated);
    double hoisted_error = 0.0;
    for (std::size_t k = 0; k < amounts.size(); ++k) {
        eval.leftRotate(x, amounts[k], want);
        hoisted_error = std::max(hoisted_error, example::maxError(decrypt(rotated[k]), want));
    }
    checks.expectClose("hoisted rotations by 1, 4, 511", hoisted_error, 1e-6);

    // rotSum: x rotated by 1 plus x rotated by 4 plus x itself, with one
    // division by the key-switching modulus for the whole sum instead of one
    // per term.
    const std::vector<Ciphertext> terms{cx, cx, cx};
    const std::vector<std::uint64_t> term_amounts{0, 1, 4};
    eval.rotSum(terms, term_amounts, out);
    Message r1, r4;
    eval.leftRotate(x, 1, r1);
    eval.leftRotate(x, 4, r4);
    eval.add(x, r1, want);
    eval.add(want, r4, want);
    checks.expectClose("rotSum of amounts 0, 1, 4", example::maxError(decrypt(out), want), 1e-6);

    // The sum of 16 neighbouring slots (gap 1) into every slot takes
    // log2(16) = 4 rotations, by 1, 2, 4 and 8: make the missing keys first
    // (genRotKeyIfNotExist skips held ones).
    for (const std::int64_t amount : {1, 2, 4, 8})
        keygen.genRotKeyIfNotExist(amount);
    eval.leftRotateReduce(cx, 1, 16, out);
    eval.leftRotateReduce(x, 1, 16, want);
    checks.expectClose("sum of 16 neighbours", example::maxError(decrypt(out), want), 1e-5);
    std::printf("  slot 0 holds the sum of slots 0..15: %.4f%+.4fi\n", decrypt(out)[0].real(),
                decrypt(out)[0].imag());

    return checks.finish();
}
