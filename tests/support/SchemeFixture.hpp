#pragma once

// A fixture for encrypt-operate-decrypt tests: the FX context (degree 64), a
// ring secret key and a key pack holding its encryption, multiplication and
// conjugation keys. The keys are made once per test binary, on first use, and
// shared read-only by every test that derives from the fixture.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {

class SchemeFixture : public testing::Test {
protected:
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
    using RingSecretKey = SecretKeyBase<EncryptionType::RLWE>;

    static const std::shared_ptr<ContextContent> &context() { return fxContext(); }
    static const RingSecretKey &secretKey() { return keys().secret_key; }
    // Holds the encryption, multiplication and conjugation keys.
    static const KeyPack &keyPack() { return keys().pack; }
    // A fresh pack with the encryption and conjugation keys of the fixture's
    // secret and the left-rotation keys of `indices`.
    static KeyPack rotationPack(const std::vector<std::uint64_t> &indices) {
        KeyPack pack(context());
        const KeyGenerator generator(context(), secretKey(), pack);
        generator.genEncKey();
        generator.genConjKey();
        for (const std::uint64_t idx : indices)
            generator.genLeftRotKey(idx);
        return pack;
    }

    // A message on every slot of the context, both parts uniform in
    // [-bound, bound].
    Message randomMessage(double bound = 0.5) {
        std::uniform_real_distribution<double> dist(-bound, bound);
        Message m(getLogFullSlots(context()));
        for (auto &slot : m)
            slot = {dist(rng), dist(rng)};
        return m;
    }

    // Public-key encryption at the encryption level, rescale counter 0.
    RingCiphertext encrypt(const Message &m) const {
        RingCiphertext ct(context(), false, true);
        encryptor.encrypt(m, keyPack(), ct);
        return ct;
    }

    Message decrypt(const RingCiphertext &ct) const {
        Message out;
        decryptor.decrypt(ct, secretKey(), out);
        return out;
    }

    // m with slot i + idx moved to slot i (idx modulo the size).
    static Message rotatedLeft(const Message &m, std::uint64_t idx) {
        Message out = m;
        std::rotate(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(idx % m.getSize()),
                    out.end());
        return out;
    }

    // The largest distance between two messages' slots; infinite when their
    // sizes differ.
    static double maxError(const Message &got, const Message &want) {
        if (got.getSize() != want.getSize())
            return INFINITY;
        double worst = 0.0;
        for (std::uint64_t i = 0; i < got.getSize(); ++i)
            worst = std::max(worst, std::abs(got[i] - want[i]));
        return worst;
    }

    // Fails unless `call` throws RuntimeException with exactly `message` and
    // leaves the output it is handed (an encryption of 0.25 in every slot)
    // word for word as it was.
    void expectRefusedKeepingOutput(const std::function<void(RingCiphertext &)> &call,
                                    const std::string &message) const {
        RingCiphertext out = encrypt(Message(getLogFullSlots(context()), 0.25));
        const RingCiphertext before = out;
        expectThrowsMessage([&] { call(out); }, message);
        for (std::uint64_t p = 0; p < out.getNumPoly(); ++p)
            EXPECT_EQ(wordsOf(out.getPoly(p)), wordsOf(before.getPoly(p)));
    }

    std::mt19937_64 rng{20240611};
    const EnDecoder encoder{context()};
    const Encryptor encryptor{context()};
    const Decryptor decryptor{context()};

private:
    struct Keys {
        explicit Keys(const std::shared_ptr<ContextContent> &ctx) : secret_key(ctx), pack(ctx) {
            const KeyGenerator generator(ctx, secret_key, pack);
            generator.genEncKey();
            generator.genMultKey();
            generator.genConjKey();
        }
        RingSecretKey secret_key;
        KeyPack pack;
    };

    static const Keys &keys() {
        static const Keys shared(context());
        return shared;
    }
};

} // namespace Quelt::test
