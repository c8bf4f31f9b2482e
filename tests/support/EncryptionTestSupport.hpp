#pragma once

// Keys, contexts and oracles for encrypt-then-decrypt tests: a secret key with
// a key pack holding the encryption key made from it, the residue rows of a
// polynomial in coefficient form, the check that a decryption differs from
// its plaintext by one small integer polynomial, and products of residue rows
// computed without the library's kernels.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/BigInteger.hpp"
#include "support/ModularReference.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {

using Rows = std::vector<std::vector<std::uint64_t>>;
using Context = std::shared_ptr<ContextContent>;
using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
using MlweCiphertext = CiphertextBase<EncryptionType::MLWE>;
using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using RlweKey = SecretKeyBase<EncryptionType::RLWE>;
using MlweKey = SecretKeyBase<EncryptionType::MLWE>;
using MsKey = SecretKeyBase<EncryptionType::MSRLWE>;

// N = 1024: four base and quantize primes (50 and 40 bits), two temporary
// primes; encryption level 3.
inline std::shared_ptr<ContextContent> degreeTenContext() {
    static const auto ctx = makeContext(10, 4, 50, 40, 50, 2);
    return ctx;
}
// The small context (N = 64, three 40-bit primes) with two secrets.
inline std::shared_ptr<ContextContent> twoSecretVariant() {
    static const auto ctx = genMultiSecretContext(degree64ThreePrimes(), "SmallNS2", 2);
    return ctx;
}

// A ring secret key and a key pack holding the encryption key made from it.
struct PublicKeys {
    explicit PublicKeys(const std::shared_ptr<ContextContent> &ctx) : secretKey(ctx), pack(ctx) {
        std::stringstream record;
        EncryptionKey(ctx, secretKey).save(record);
        pack.loadEncKey(record);
    }
    SecretKeyBase<EncryptionType::RLWE> secretKey;
    KeyPack pack;
};

inline std::uint64_t primeAt(const std::shared_ptr<ContextContent> &ctx, std::uint64_t i) {
    return ctx->getPrimeModuli().getModulus(i).getPrime();
}

// Rows 0..level of p as they stand.
inline Rows rowsOf(const Polynomial &p, std::uint64_t level) {
    Rows rows;
    const std::uint64_t n = p.getDegree();
    for (std::uint64_t i = 0; i <= level; ++i)
        rows.emplace_back(p.getLimb(i), p.getLimb(i) + n);
    return rows;
}

// Rows 0..level of p in coefficient form (inverse-transformed on a copy when
// p is in NTT form).
inline Rows coefficientRows(const std::shared_ptr<ContextContent> &ctx, const Polynomial &p,
                            std::uint64_t level) {
    if (!p.isNTT())
        return rowsOf(p, level);
    Polynomial copy(p);
    ctx->getPrimeModuli().backwardNTT<OutputModulusBoundValidator, 1>(copy, copy, {0, level + 1});
    return rowsOf(copy, level);
}

// Checks that a - b over rows 0..level is one integer polynomial e with |e_j|
// <= bound: per coefficient the centred lift of the difference is the same
// on every prime, and the big-integer CRT of the residues is that integer
// modulo the product of the primes. Returns max |e_j|.
inline std::int64_t expectSmallDifference(const std::shared_ptr<ContextContent> &ctx,
                                          const Polynomial &a, const Polynomial &b,
                                          std::uint64_t level, std::int64_t bound) {
    const Rows ra = coefficientRows(ctx, a, level);
    const Rows rb = coefficientRows(ctx, b, level);
    std::vector<std::uint64_t> primes;
    for (std::uint64_t i = 0; i <= level; ++i)
        primes.push_back(primeAt(ctx, i));
    const BigInteger modulus = BigInteger::product(primes);
    std::int64_t largest = 0;
    for (std::uint64_t j = 0; j < a.getDegree(); ++j) {
        std::vector<std::uint64_t> residues;
        std::int64_t lift = 0;
        for (std::uint64_t i = 0; i <= level; ++i) {
            const std::uint64_t q = primes[i];
            const std::uint64_t d = subModRef(ra[i][j], rb[i][j], q);
            const std::int64_t value =
                d > q / 2 ? -static_cast<std::int64_t>(q - d) : static_cast<std::int64_t>(d);
            if (i == 0)
                lift = value;
            else if (value != lift) {
                ADD_FAILURE() << "coefficient " << j << " lifts to " << lift << " on prime 0 and "
                              << value << " on prime " << i;
                return bound + 1;
            }
            residues.push_back(d);
        }
        const BigInteger expected =
            lift >= 0 ? BigInteger::fromSigned(lift) : modulus + BigInteger::fromSigned(lift);
        EXPECT_TRUE(BigInteger::fromResidues(residues, primes) == expected) << "coefficient " << j;
        const std::int64_t magnitude = lift < 0 ? -lift : lift;
        largest = std::max(largest, magnitude);
    }
    EXPECT_LE(largest, bound);
    return largest;
}

// Row-wise reference arithmetic on residue rows (entry i modulo prime i).
inline Rows addRows(const Rows &a, const Rows &b, const std::vector<std::uint64_t> &primes) {
    Rows out = a;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < a[i].size(); ++j)
            out[i][j] = addModRef(a[i][j], b[i][j], primes[i]);
    return out;
}
inline Rows subRows(const Rows &a, const Rows &b, const std::vector<std::uint64_t> &primes) {
    Rows out = a;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < a[i].size(); ++j)
            out[i][j] = subModRef(a[i][j], b[i][j], primes[i]);
    return out;
}
// Coefficient-wise products (of NTT-form rows).
inline Rows mulRows(const Rows &a, const Rows &b, const std::vector<std::uint64_t> &primes) {
    Rows out = a;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < a[i].size(); ++j)
            out[i][j] = mulModRef(a[i][j], b[i][j], primes[i]);
    return out;
}
// Negacyclic products (of coefficient-form rows), by the schoolbook rule.
inline Rows ringMulRows(const Rows &a, const Rows &b, const std::vector<std::uint64_t> &primes) {
    Rows out;
    for (std::size_t i = 0; i < a.size(); ++i)
        out.push_back(negacyclicProductRef(a[i], b[i], primes[i]));
    return out;
}

inline std::vector<std::uint64_t> primesUpTo(const std::shared_ptr<ContextContent> &ctx,
                                             std::uint64_t level) {
    std::vector<std::uint64_t> primes;
    for (std::uint64_t i = 0; i <= level; ++i)
        primes.push_back(primeAt(ctx, i));
    return primes;
}

// Secret polynomial `index` of a key as coefficient-form rows 0..level, from
// its integer coefficients (not from the key's residues).
template <EncryptionType ET>
Rows secretRows(const SecretKeyBase<ET> &key, std::uint64_t index, std::uint64_t level) {
    const auto &ctx = key.getContext();
    const std::uint64_t n = getDegree(ctx);
    const int *c = key.getCoefficients() + index * n;
    Rows rows;
    for (std::uint64_t i = 0; i <= level; ++i) {
        const std::uint64_t q = primeAt(ctx, i);
        std::vector<std::uint64_t> row(n);
        for (std::uint64_t j = 0; j < n; ++j)
            row[j] = signedResidueRef(c[j], q);
        rows.push_back(row);
    }
    return rows;
}

} // namespace Quelt::test
