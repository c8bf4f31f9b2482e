#pragma once

// Encrypt-operate-decrypt support for evaluator tests: for each encryption
// type a secret key with encryption and decryption of one message per secret
// (RLWE and MLWE: one), slot arithmetic on messages for the expected values,
// and comparisons of decrypted messages and of ciphertext words.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/Polynomial.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {

using Messages = std::vector<Message>;

// A secret key of the type's context and the two directions of encryption.
template <EncryptionType ET>
struct SchemeKeys {
    explicit SchemeKeys(const std::shared_ptr<ContextContent> &ctx) : context(ctx), key(ctx) {}

    // One message per secret.
    std::uint64_t secrets() const {
        return ET == EncryptionType::MSRLWE ? getNumSecret(context) : 1;
    }

    CiphertextBase<ET> encrypt(const Messages &m, std::uint64_t level, int counter = 0) const {
        CiphertextBase<ET> ct(context, false, true);
        if constexpr (ET == EncryptionType::MSRLWE)
            Encryptor(context).encrypt(m, key, ct, level, counter);
        else
            Encryptor(context).encrypt(m.at(0), key, ct, level, counter);
        return ct;
    }

    Messages decrypt(const CiphertextBase<ET> &ct) const {
        if constexpr (ET == EncryptionType::MSRLWE) {
            Messages out;
            Decryptor(context).decrypt(ct, key, out);
            return out;
        } else {
            Message out;
            Decryptor(context).decrypt(ct, key, out);
            return {out};
        }
    }

    std::shared_ptr<ContextContent> context;
    SecretKeyBase<ET> key;
};

// Slots with both parts uniform in [-1, 1], one message per secret.
inline Messages randomMessages(std::uint64_t log_slots, std::uint64_t count, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Messages out;
    for (std::uint64_t k = 0; k < count; ++k) {
        Message m(log_slots);
        for (auto &slot : m)
            slot = {dist(rng), dist(rng)};
        out.push_back(m);
    }
    return out;
}

// The largest slot distance between two lists of messages.
inline double largestSlotError(const Messages &got, const Messages &want) {
    double largest = 0.0;
    EXPECT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < std::min(got.size(), want.size()); ++k) {
        EXPECT_EQ(got[k].getSize(), want[k].getSize());
        for (std::uint64_t j = 0; j < std::min(got[k].getSize(), want[k].getSize()); ++j)
            largest = std::max(largest, std::abs(got[k][j] - want[k][j]));
    }
    return largest;
}

// The words of every limb in use (0..level) of every polynomial, with the
// header fields that must agree for two ciphertexts to be the same.
template <EncryptionType ET>
std::vector<std::vector<std::uint64_t>> ciphertextWords(const CiphertextBase<ET> &ct) {
    std::vector<std::vector<std::uint64_t>> words;
    words.push_back({ct.getNumPoly(), ct.getLevel(),
                     static_cast<std::uint64_t>(ct.getRescaleCounter()), ct.getLogSlots(),
                     static_cast<std::uint64_t>(ct.getEncodingType())});
    for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i) {
        const Polynomial &p = ct.getPoly(i);
        words.push_back({p.getLevel(), p.isNTT() ? 1u : 0u, p.isModUp() ? 1u : 0u});
        words.emplace_back(p.getLimb(0), p.getLimb(0) + (p.getLevel() + 1) * p.getDegree());
    }
    return words;
}

} // namespace Quelt::test
