#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/SecretKey.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class KeyPack;

// Typical use:
//
//   Message m(3);             // 2^3 = 8 complex slots
//   m[0] = {0.5, -1.0};
//   CiphertextBase<EncryptionType::RLWE> ct(ctx, false, true);
//   Encryptor(ctx).encrypt(m, pack, ct);  // public key (KeyGenerator::genEncKey)
//   Encryptor(ctx).encrypt(m, sk, ct);    // or with the secret key
//   Message back;
//   Decryptor(ctx).decrypt(ct, sk, back); // m, up to a small error
//
// Fresh ciphertexts are at the context's encryption level with rescale
// counter 0; the encrypt forms with (level, rescaleCounter) choose others.

// Turns plaintexts, messages and real vectors into fresh ciphertexts of its
// context, with the public encryption key of a KeyPack (RLWE) or with a secret
// key (RLWE, MLWE, and MSRLWE: several secrets sharing one mask).
//
// Layouts written (all polynomials at the plaintext's level l):
//   public key: (c0, c1) = (b v + e1 + m, a v + e0), (a, b) the key, v a
//     ternary polynomial (0 with probability 1/2, +-1 with 1/4 each), e0, e1
//     Gaussian errors;
//   secret key, RLWE or MLWE of rank k (the key's context's rank): (c0, c1,
//     ..., ck) with uniform masks ci and c0 = e + m - sum ci s(i-1);
//   secret key, MSRLWE with s secrets (the key's context's number of
//     secrets): (c0, ..., c(s-1), cs) with the uniform common mask cs last and
//     ci = ei + mi - cs si.
// Errors are rounded Gaussians of the context's width (3.2), at most 21 in
// magnitude; an error is added to the plaintext in the plaintext's form and
// then transformed. The ciphertext takes the (first) plaintext's level, log
// slot count and rescale counter, is in NTT form, and carries slot encoding;
// the real-vector forms give coefficient encoding and (unless told to keep
// NTT form) coefficient form.
//
// Randomness comes only from the calling thread's generator, in a fixed
// order that is part of the interface, so that the same seed (setSeed) and
// the same calls give the same ciphertexts: public key v, e0, e1; secret key
// the masks c1..ck, then e; MSRLWE the mask, then e0, e1, ... in order.
//
// Every call replaces the whole output ciphertext (context, polynomials,
// level, log slots, rescale counter, encoding type); what it held before
// never matters. Every check below runs before the first draw, and a call
// that throws then leaves the output as it was. The plaintexts of encryption
// must be on the host (another device throws "Not supported. Build with
// QUELT_CUDA flag." before anything is drawn).
//
// Every member is const and the encryptor holds nothing but its context, so
// one encryptor may serve any number of threads.
class Encryptor {
public:
    using u64 = std::uint64_t;

    // Keeps the context. Throws RuntimeException "[Context] The context is
    // null" for an empty pointer.
    explicit Encryptor(const std::shared_ptr<ContextContent> &context);

    // ---- Public key ---------------------------------------------------------

    // Public-key encryption of a plaintext with the pack's encryption key.
    // Throws RuntimeException, in this order:
    //   the pack holds no encryption key: "[encrypt] Failed to load the
    //     encryption key";
    //   plaintext and key on different devices: "Operands are in different
    //     devices.";
    //   a level above the context's encryption level: "[encrypt] Level of an
    //     input Plaintext cannot be greater than encryption level.";
    //   a key whose polynomials do not hold the context's primes 0..l (or
    //     another degree): "[encrypt] The key does not match the context of
    //     the Encryptor";
    //   a plaintext that does not: "[encrypt] The plaintext does not match
    //     the context of the Encryptor";
    //   a plaintext spanning the temporary primes: "Operands have different
    //     mod-up states.";
    //   a rescale counter above the plaintext's level (other than 0), which a
    //     plaintext whose level was lowered may carry: "Rescale counter
    //     should be less than or equal to the level".
    void encrypt(const Plaintext &plaintext, const KeyPack &keyPack,
                 CiphertextBase<EncryptionType::RLWE> &out) const;
    // Encodes the message in coefficient form (EnDecoder::encodeWithoutNTT)
    // at `level` with `rescaleCounter`, then encrypts it as above. The missing
    // key and the device are checked before encoding, the encoder's checks
    // come next, then those of plaintext encryption.
    void encrypt(const Message &message, const KeyPack &keyPack,
                 CiphertextBase<EncryptionType::RLWE> &out, u64 level, int rescaleCounter) const;
    // The same at the context's encryption level with rescale counter 0.
    void encrypt(const Message &message, const KeyPack &keyPack,
                 CiphertextBase<EncryptionType::RLWE> &out) const;

    // ---- Secret key, RLWE and MLWE -----------------------------------------

    // Secret-key encryption of a plaintext: rank + 1 polynomials. Throws
    // RuntimeException, in this order: "[encrypt] Level of an input Plaintext
    // cannot be greater than encryption level" (no final period); then the
    // key, plaintext, mod-up and rescale-counter checks of public-key
    // encryption.
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void encrypt(const Plaintext &plaintext,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        CiphertextBase<ET> &out) const;
    // Encodes the message (EnDecoder::encodeWithoutNTT, with its checks),
    // then encrypts it as above.
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void encrypt(const Message &message,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        CiphertextBase<ET> &out, u64 level,
                                                        int rescaleCounter) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void encrypt(const Message &message,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        CiphertextBase<ET> &out) const;
    // Coefficient encoding of the values (EnDecoder::encodeWithoutNTT), then
    // secret-key encryption; the result has coefficient encoding and is in
    // coefficient form. Throws first "[encode] Cannot encode a message with a
    // size less than 2" for fewer than 2 values and "[encode] The message
    // size should be a power of two", then the encoder's and the encryption's
    // messages.
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void encrypt(const std::vector<double> &values,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        CiphertextBase<ET> &out, u64 level,
                                                        int rescaleCounter) const;
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void encrypt(const std::vector<double> &values,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        CiphertextBase<ET> &out) const;

    // ---- Secret key, MSRLWE --------------------------------------------------

    // One plaintext per secret: the first s are encrypted, any further ones
    // are ignored. The first gives the level, log slot count and rescale
    // counter. Throws RuntimeException, in this order: fewer than s
    // plaintexts: "[encrypt] The vector size is less than the number of
    // secret."; the secret-key level message; "[encrypt] The plaintexts are
    // not at one level" when one of the s plaintexts is at another level than
    // the first; then the key, plaintext, mod-up and rescale-counter checks.
    void encrypt(const std::vector<Plaintext> &plaintexts,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 CiphertextBase<EncryptionType::MSRLWE> &out) const;
    // The count check, then the first s messages encoded as in the RLWE
    // message form, then encrypted as above.
    void encrypt(const std::vector<Message> &messages,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 CiphertextBase<EncryptionType::MSRLWE> &out, u64 level, int rescaleCounter) const;
    void encrypt(const std::vector<Message> &messages,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 CiphertextBase<EncryptionType::MSRLWE> &out) const;
    // The count check, then the first s vectors coefficient-encoded (with the
    // encoder's checks), encrypted, given coefficient encoding and brought to
    // coefficient form.
    void encrypt(const std::vector<std::vector<double>> &values,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 CiphertextBase<EncryptionType::MSRLWE> &out, u64 level, int rescaleCounter) const;
    void encrypt(const std::vector<std::vector<double>> &values,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 CiphertextBase<EncryptionType::MSRLWE> &out) const;

    // ---- Explicit scale ------------------------------------------------------

    // Coefficient encoding with `scale` as the multiplier and rescale counter
    // 0 (EnDecoder::encodeWithScale), then encryption at `level`. The result
    // has coefficient encoding; it stays in NTT form when keepNTT is set and
    // is brought to coefficient form otherwise. Throws the two size messages
    // of the real-vector form first, then the encoder's and the encryption's.
    template <EncryptionType ET>
    requires(ET == EncryptionType::RLWE) void encryptWithScale(const std::vector<double> &values,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               CiphertextBase<ET> &out, u64 level,
                                                               double scale, bool keepNTT) const;
    // The same with the pack's encryption key: the size checks, the
    // encoder's checks, then those of public-key encryption.
    template <EncryptionType ET>
    requires(ET == EncryptionType::RLWE) void encryptWithScale(const std::vector<double> &values,
                                                               const KeyPack &keyPack,
                                                               CiphertextBase<ET> &out, u64 level,
                                                               double scale, bool keepNTT) const;
    // One vector per secret: the count message first, then each of the first
    // s vectors gets the two size checks and is encoded; further vectors are
    // ignored.
    template <EncryptionType ET>
    requires(ET == EncryptionType::MSRLWE) void encryptWithScale(
        const std::vector<std::vector<double>> &values, const SecretKeyBase<ET> &secretKey,
        CiphertextBase<ET> &out, u64 level, double scale, bool keepNTT) const;

private:
    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt
