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

// Turns ciphertexts of its context back into plaintexts with a secret key
// and, through the decoder (EnDecoder), into messages or real vectors.
//
// Layouts read (c0, ..., c(n-1) the ciphertext's polynomials):
//   RLWE: any n >= 2, decrypting to c0 + c1 s + ... + c(n-1) s^(n-1), s the
//     key's first polynomial (Horner's rule);
//   MLWE: exactly rank + 1 polynomials (rank of the ciphertext's context),
//     decrypting to c0 + c1 s0 + ... + c(rank) s(rank-1);
//   MSRLWE: exactly s + 1 polynomials (s the ciphertext's context's number of
//     secrets), the common mask cs last; per secret i the plaintext is
//     ci + cs si, in the general form cs + c0 s0 + ... + c(s-1) s(s-1).
// Products are taken in NTT form over primes 0..l, l the ciphertext's level.
// Every polynomial of the ciphertext that is in coefficient form is first
// transformed on a copy (the input is never changed), whatever the operation
// or a with-scale operation's NTT-form flag, so a ciphertext decrypts the
// same in either form.
//
// A plaintext written here is a plaintext of the decryptor's context at the
// ciphertext's level, in NTT form, with its log slot count and rescale
// counter (the level is set first). Outputs are replaced only once every
// check has passed, and are replaced whole: what they held never matters.
//
// Checks shared by every operation, after the operation's own (encoding type,
// polynomial count): polynomials of the ciphertext at different levels or on
// different devices throw the ciphertext's messages ("Polynomials have
// different levels", "Polynomials are in different devices"); a ciphertext
// not on the host throws "Not supported. Build with QUELT_CUDA flag."; a
// ciphertext whose polynomials do not hold rows 0..l over the context's
// primes (or have another degree) throws "[decrypt] The ciphertext does not
// match the context of the Decryptor"; a key short of the polynomials the
// layout needs or not covering those rows throws "[decrypt] The key does not
// match the context of the Decryptor" ("[partialDecrypt] ..." for
// partialDecrypt); a rescale counter the output cannot take at the level
// (above it for a plaintext, as a ciphertext at level 0 may carry; above a
// level other than 0 for the ciphertext of partialDecrypt, as one whose level
// was lowered may carry) throws "Rescale counter should be less than or equal
// to the level".
//
// Every member is const and the decryptor holds nothing but its context, so
// one decryptor may serve any number of threads.
class Decryptor {
public:
    // Keeps the context. Throws RuntimeException "[Context] The context is
    // null" for an empty pointer.
    explicit Decryptor(const std::shared_ptr<ContextContent> &context);

    // ---- RLWE and MLWE -------------------------------------------------------

    // The plaintext of a slot-encoded ciphertext. Throws RuntimeException "The
    // operand have to encode the message on its slots" for a
    // coefficient-encoded one, then (MLWE) "[decrypt] Number of polynomials of
    // MLWE ciphertext is invalid" unless it has rank + 1 polynomials.
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void decrypt(const CiphertextBase<ET> &ciphertext,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        Plaintext &out) const;
    // The same, decoded (EnDecoder::decode, with its messages).
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void decrypt(const CiphertextBase<ET> &ciphertext,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        Message &out) const;
    // The real values of a coefficient-encoded ciphertext
    // (EnDecoder::decodeWithoutFFT: rescaled by the rescale counter, scaled by
    // the context's scale factor). Throws "The operand have to encode the
    // message on its coefficients" for a slot-encoded one, then the MLWE count.
    template <EncryptionType ET>
    requires(ET != EncryptionType::MSRLWE) void decrypt(const CiphertextBase<ET> &ciphertext,
                                                        const SecretKeyBase<ET> &secretKey,
                                                        std::vector<double> &out) const;

    // The real values divided by `scale` (EnDecoder::decodeWithoutFFTWithScale:
    // the rescale counter and the scale factors are not consulted). Throws the
    // coefficients message for a slot-encoded ciphertext. `nttForm` tells
    // whether the caller holds the ciphertext in NTT form; the polynomials'
    // own forms decide, so the flag changes nothing.
    template <EncryptionType ET>
    requires(ET == EncryptionType::RLWE) void decryptWithScale(const CiphertextBase<ET> &ciphertext,
                                                               const SecretKeyBase<ET> &secretKey,
                                                               std::vector<double> &out,
                                                               double scale, bool nttForm) const;
    // decryptWithScale, then every value v below -0.5 / t becomes v + 1.0
    // (values at or above it stay). t = 0 (or NaN) changes no value.
    template <EncryptionType ET>
    requires(ET ==
             EncryptionType::RLWE) void torusDecryptWithScale(const CiphertextBase<ET> &ciphertext,
                                                              const SecretKeyBase<ET> &secretKey,
                                                              std::vector<double> &out,
                                                              double scale, double t) const;

    // A noisy decryption of a two-polynomial ciphertext: out = (c1 s + c0 + e,
    // c1) with one fresh Gaussian error e (drawn from the calling thread's
    // generator), at c's level, log slot count, rescale counter and encoding
    // type, in NTT form. Throws the slots message for a coefficient-encoded
    // input, then "[partialDecrypt] Size of Ciphertext should be 2". out may
    // be the input.
    void partialDecrypt(const CiphertextBase<EncryptionType::RLWE> &ciphertext,
                        const SecretKeyBase<EncryptionType::RLWE> &secretKey,
                        CiphertextBase<EncryptionType::RLWE> &out) const;

    // ---- MSRLWE --------------------------------------------------------------

    // One plaintext per secret; out ends with exactly s elements. Either
    // encoding is accepted. Throws "[decrypt] Number of polynomials of MSRLWE
    // ciphertext is invalid" unless the ciphertext has s + 1 polynomials.
    void decrypt(const CiphertextBase<EncryptionType::MSRLWE> &ciphertext,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 std::vector<Plaintext> &out) const;
    // Decoded per secret. Throws the slots message first, then the count.
    void decrypt(const CiphertextBase<EncryptionType::MSRLWE> &ciphertext,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 std::vector<Message> &out) const;
    // Real values per secret (decodeWithoutFFT). Throws the coefficients
    // message first, then the count.
    void decrypt(const CiphertextBase<EncryptionType::MSRLWE> &ciphertext,
                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                 std::vector<std::vector<double>> &out) const;
    // Real values per secret divided by `scale` (decodeWithoutFFTWithScale).
    // Throws the coefficients message first, then the count; `nttForm` as in
    // the RLWE form.
    template <EncryptionType ET>
    requires(ET ==
             EncryptionType::MSRLWE) void decryptWithScale(const CiphertextBase<ET> &ciphertext,
                                                           const SecretKeyBase<ET> &secretKey,
                                                           std::vector<std::vector<double>> &out,
                                                           double scale, bool nttForm) const;
    // The one plaintext cs + c0 s0 + ... + c(s-1) s(s-1). Either encoding is
    // accepted; throws the MSRLWE count message.
    void generalDecrypt(const CiphertextBase<EncryptionType::MSRLWE> &ciphertext,
                        const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                        Plaintext &out) const;
    // Its real values divided by `scale`. Throws the coefficients message
    // first, then the count; `nttForm` as above.
    void generalDecryptWithScale(const CiphertextBase<EncryptionType::MSRLWE> &ciphertext,
                                 const SecretKeyBase<EncryptionType::MSRLWE> &secretKey,
                                 std::vector<double> &out, double scale, bool nttForm) const;

private:
    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt
