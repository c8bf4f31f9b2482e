// Example 05: polynomial evaluation, inner products and a matrix product.
//
// - evaluatePolynomial computes p(x) slot by slot; a polynomial with S
//   coefficients costs about log2(S) levels.
// - An encrypted dot product: a slot-wise product, then the sum of all slots
//   by leftRotateReduce (log2(n) rotations).
// - innerProduct: a sum of ciphertexts weighted slot-wise by plaintexts, with
//   one rescale for the whole sum.
// - blockMatMul1DBSGS: a matrix times an encrypted vector, from the matrix's
//   diagonals, with baby-step giant-step rotations.
#include "ExampleCheck.hpp"

#include <Quelt/Quelt.hpp>

#include <complex>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace Quelt;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using SecretKey = SecretKeyBase<EncryptionType::RLWE>;
using Complex = std::complex<double>;
using u64 = std::uint64_t;

int main() {
    example::Checks checks;

    // Degree 2^10, 7 levels; NOT secure (see docs/presets.md for presets).
    const auto ctx = makeContext(10, 8, 58, 42, 58, 2);
    const u64 log_n = 4, n = u64{1} << log_n; // vectors of 16 slots

    const SecretKey secret_key(ctx);
    KeyPack pack(ctx);
    const KeyGenerator keygen(ctx, secret_key, pack);
    keygen.genEncKey();
    keygen.genMultKey();
    // Rotations of the dot product (1, 2, 4, 8) and of the matrix product
    // (baby steps 1, 2, 3; giant steps 4, 8, 12).
    for (const u64 amount : {1, 2, 3, 4, 8, 12})
        keygen.genLeftRotKey(amount);

    const EnDecoder encoder(ctx);
    const Encryptor encryptor(ctx);
    const Decryptor decryptor(ctx);
    const HomEvaluator eval(ctx, pack);
    const auto decrypt = [&](const Ciphertext &ct) {
        Message m;
        decryptor.decrypt(ct, secret_key, m);
        return m;
    };

    Message x(log_n), y(log_n);
    for (u64 i = 0; i < n; ++i) {
        x[i] = {-0.9 + 0.12 * static_cast<double>(i), 0.1};
        y[i] = {0.3, 0.05 * static_cast<double>(i) - 0.4};
    }
    Ciphertext cx(ctx, false, true), cy(ctx, false, true);
    encryptor.encrypt(x, pack, cx);
    encryptor.encrypt(y, pack, cy);

    // p(x) = exp(x) to degree 7: coefficients of x^0 .. x^7, baby step 4.
    std::vector<Complex> coeffs;
    double factorial = 1.0;
    for (int k = 0; k < 8; ++k) {
        factorial *= k > 0 ? k : 1;
        coeffs.emplace_back(1.0 / factorial);
    }
    Ciphertext px(ctx, false, true);
    evaluatePolynomial(eval, cx, coeffs, px, 1.0, 4);
    Message want(log_n);
    for (u64 i = 0; i < n; ++i) { // Horner's rule on the plain values
        Complex acc = 0.0;
        for (auto c = coeffs.rbegin(); c != coeffs.rend(); ++c)
            acc = acc * x[i] + *c;
        want[i] = acc;
    }
    std::printf("p(x) of degree 7 used %llu levels\n",
                static_cast<unsigned long long>(cx.getLevel() - px.getLevel()));
    checks.expectClose("exp(x) to degree 7", example::maxError(decrypt(px), want), 1e-6);

    // Dot product <x, y> = sum of x_i y_i (no conjugation), in every slot.
    Ciphertext dot(ctx, false, true);
    eval.mult(cx, cy, dot);
    eval.leftRotateReduce(dot, 1, n, dot);
    Complex plain_dot = 0.0;
    for (u64 i = 0; i < n; ++i)
        plain_dot += x[i] * y[i];
    checks.expectClose("encrypted dot product", std::abs(decrypt(dot)[0] - plain_dot), 1e-5);

    // Plaintext weights: w0 * x + w1 * y, one rescale at the end.
    Message w0(log_n), w1(log_n);
    for (u64 i = 0; i < n; ++i) {
        w0[i] = static_cast<double>(i) / 16.0;
        w1[i] = {0.0, 1.0 - static_cast<double>(i) / 16.0};
    }
    const std::vector<Plaintext> weights{encoder.encode(w0, cx.getLevel(), 0),
                                         encoder.encode(w1, cx.getLevel(), 0)};
    const std::vector<Ciphertext> terms{cx, cy};
    Ciphertext weighted(ctx, false, true);
    eval.innerProduct(weights.begin(), weights.end(), terms.begin(), weighted);
    eval.rescale(weighted); // the counter was 1
    for (u64 i = 0; i < n; ++i)
        want[i] = w0[i] * x[i] + w1[i] * y[i];
    checks.expectClose("innerProduct w0 x + w1 y", example::maxError(decrypt(weighted), want),
                       1e-6);

    // y = M x for a 16 x 16 matrix M. Diagonal d holds M[i][(i + d) mod 16];
    // with baby step 4, diagonal d = 4 j + b is used after the giant
    // rotation by 4 j, so it is handed over rotated right by 4 j.
    std::vector<std::vector<Complex>> M(n, std::vector<Complex>(n));
    for (u64 i = 0; i < n; ++i)
        for (u64 j = 0; j < n; ++j)
            M[i][j] = {static_cast<double>((3 * i + 5 * j) % 7) / 7.0 - 0.4,
                       static_cast<double>((i * j) % 5) / 10.0};
    const u64 baby = 4;
    std::vector<Message> diagonals;
    for (u64 d = 0; d < n; ++d) {
        Message diagonal(log_n);
        for (u64 i = 0; i < n; ++i)
            diagonal[i] = M[i][(i + d) % n];
        eval.rightRotate(diagonal, (d / baby) * baby, diagonal);
        diagonals.push_back(diagonal);
    }
    Ciphertext product(ctx, false, true);
    blockMatMul1DBSGS(eval, cx, diagonals, product, baby, n, 1);
    for (u64 i = 0; i < n; ++i) {
        want[i] = 0.0;
        for (u64 j = 0; j < n; ++j)
            want[i] += M[i][j] * x[j];
    }
    checks.expectClose("matrix times encrypted vector", example::maxError(decrypt(product), want),
                       1e-5);
    return checks.finish();
}
