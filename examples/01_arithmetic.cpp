// Example 01: encoding, encryption and arithmetic, with levels and rescaling.
//
// A ciphertext lives on a chain of primes. Its level is the index of the top
// prime it still holds: fresh ciphertexts start at the context's encryption
// level, and every product that is rescaled (divided by the top prime, to keep
// the scale of the numbers constant) costs one level. At level 0 no further
// product is possible; bootstrapping (example 04) brings a ciphertext back up.
//
// The program encrypts two vectors of complex numbers, computes with them and
// checks every result against the same arithmetic on the plain numbers.
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <complex>
#include <cstdint>
#include <cstdio>

using namespace Quelt;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using SecretKey = SecretKeyBase<EncryptionType::RLWE>;

int main() {
    example::Checks checks;

    // A small custom context: degree 2^10 (512 complex slots), a chain of 6
    // primes (a 58-bit base prime, then 42-bit primes, one per level), 58-bit
    // temporary primes for key switching and 2 gadget digits. It is fast but
    // NOT secure; real programs take a preset (docs/presets.md), e.g.
    // makeContext(ParameterPreset::FGb).
    const auto ctx = makeContext(10, 6, 58, 42, 58, 2);
    std::printf("Context: degree %llu, up to 2^%llu slots, levels 0..%llu, "
                "fresh ciphertexts at level %llu\n\n",
                static_cast<unsigned long long>(getDegree(ctx)),
                static_cast<unsigned long long>(getLogFullSlots(ctx)),
                static_cast<unsigned long long>(getLength(ctx) - 1),
                static_cast<unsigned long long>(getEncryptionLevel(ctx)));

    // Keys. The KeyGenerator puts every public key it makes into a KeyPack.
    // Make the pack first and hand it over: the generator offers no getter for
    // a pack it would make itself.
    const SecretKey secret_key(ctx); // sampled from the thread's generator
    KeyPack pack(ctx);
    const KeyGenerator keygen(ctx, secret_key, pack);
    keygen.genEncKey();  // public encryption key
    keygen.genMultKey(); // relinearisation after ciphertext products

    // Messages: Message(log_slots) holds 2^log_slots complex slots, so
    // Message(3) holds 8. Any power of two up to 2^getLogFullSlots(ctx) works.
    Message x(3), y(3);
    for (std::uint64_t i = 0; i < x.getSize(); ++i) {
        x[i] = {0.1 * static_cast<double>(i + 1), -0.05 * static_cast<double>(i)};
        y[i] = {0.5 - 0.1 * static_cast<double>(i), 0.2};
    }

    // Encoding alone: a plaintext at the encryption level with rescale
    // counter 0 (the number of rescalings the value still owes).
    const EnDecoder encoder(ctx);
    const Plaintext plain = encoder.encode(x);
    std::printf("Plaintext of %llu slots at level %llu, rescale counter %d\n",
                static_cast<unsigned long long>(plain.getNumberOfSlots()),
                static_cast<unsigned long long>(plain.getLevel()), plain.getRescaleCounter());
    checks.expectClose("encode then decode", example::maxError(encoder.decode(plain), x), 1e-9);

    // Encryption: with the public key in the pack, or with the secret key
    // itself. The ciphertext constructor's flags are (modUp, isNTT): an
    // ordinary ciphertext is (false, true); the encryptor replaces the whole
    // ciphertext anyway.
    const Encryptor encryptor(ctx);
    const Decryptor decryptor(ctx);
    Ciphertext cx(ctx, false, true), cy(ctx, false, true);
    encryptor.encrypt(x, pack, cx);       // public key
    encryptor.encrypt(y, secret_key, cy); // secret key
    std::printf("Fresh ciphertexts at level %llu\n\n",
                static_cast<unsigned long long>(cx.getLevel()));

    const auto decrypt = [&](const Ciphertext &ct) {
        Message m;
        decryptor.decrypt(ct, secret_key, m);
        return m;
    };
    // The plain reference: the evaluator computes on messages as well.
    const HomEvaluator eval(ctx, pack);
    const auto printLevel = [](const char *what, const Ciphertext &ct) {
        std::printf("%-34s level %llu, rescale counter %d\n", what,
                    static_cast<unsigned long long>(ct.getLevel()), ct.getRescaleCounter());
    };

    // Addition keeps the level.
    Ciphertext sum(ctx, false, true);
    eval.add(cx, cy, sum);
    Message want(3);
    eval.add(x, y, want);
    printLevel("x + y:", sum);
    checks.expectClose("x + y", example::maxError(decrypt(sum), want), 1e-6);

    // A product of two ciphertexts, relinearised and rescaled: one level
    // less, rescale counter back to 0.
    Ciphertext prod(ctx, false, true);
    eval.mult(cx, cy, prod);
    eval.mult(x, y, want);
    printLevel("x * y:", prod);
    checks.expectClose("x * y", example::maxError(decrypt(prod), want), 1e-6);

    // The same in two steps: without rescaling the level stays and the
    // counter records the owed division; rescale pays it. Summing several
    // unrescaled products before one rescale saves work.
    Ciphertext lazy(ctx, false, true);
    eval.multWithoutRescale(cx, cy, lazy);
    printLevel("x * y, not rescaled:", lazy);
    eval.rescale(lazy);
    printLevel("  then rescaled:", lazy);
    checks.expectClose("x * y in two steps", example::maxError(decrypt(lazy), want), 1e-6);

    // Constants: an integer multiple is exact and free; any other constant is
    // encoded at the ciphertext's scale and costs a level.
    Ciphertext tripled(ctx, false, true), scaled(ctx, false, true);
    eval.multInteger(cx, 3, tripled);
    eval.mult(cx, HomEvaluator::Complex(0.25, 0.5), scaled);
    printLevel("3 x:", tripled);
    printLevel("(0.25 + 0.5i) x:", scaled);
    eval.mult(x, HomEvaluator::Complex(3.0), want);
    checks.expectClose("3 x", example::maxError(decrypt(tripled), want), 1e-6);
    eval.mult(x, HomEvaluator::Complex(0.25, 0.5), want);
    checks.expectClose("(0.25 + 0.5i) x", example::maxError(decrypt(scaled), want), 1e-6);

    // Operands at different levels: add and mult bring the higher one down
    // first (levelDown does it explicitly).
    Ciphertext poly(ctx, false, true);
    eval.mult(prod, cx, poly);     // x^2 y, level 3
    eval.add(poly, tripled, poly); // x^2 y + 3x: 3x is brought down to level 3
    printLevel("x^2 y + 3 x:", poly);
    Message x2y(3), plain3x(3);
    eval.mult(x, y, x2y);
    eval.mult(x2y, x, x2y);
    eval.mult(x, HomEvaluator::Complex(3.0), plain3x);
    eval.add(x2y, plain3x, want);
    checks.expectClose("x^2 y + 3 x", example::maxError(decrypt(poly), want), 1e-6);

    Ciphertext low(ctx, false, true);
    eval.levelDown(cx, 1, low);
    printLevel("x brought down:", low);
    checks.expectClose("levelDown keeps the value", example::maxError(decrypt(low), x), 1e-6);

    // Squaring until the levels run out: at level 0 the evaluator refuses.
    Ciphertext power = cx;
    Message plain_power = x;
    while (power.getLevel() > 0) {
        eval.square(power, power);
        eval.mult(plain_power, plain_power, plain_power);
    }
    printLevel("x^32:", power);
    checks.expectClose("x^32", example::maxError(decrypt(power), plain_power), 1e-6);
    try {
        eval.square(power, power);
        checks.expectTrue("a product at level 0 is refused", false);
    } catch (const RuntimeException &e) {
        std::printf("At level 0: \"%s\"\n", e.what());
        checks.expectTrue("a product at level 0 is refused", true);
    }
    return checks.finish();
}
