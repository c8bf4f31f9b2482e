#pragma once

#include <memory>

namespace Quelt::LWE {

class ContextContent;
class Ciphertext;
class SecretKey;

// Decryption of LWE ciphertexts to real numbers. Holds only the context.
class Decryptor {
public:
    // Throws RuntimeException "[Context] The context is null" for an empty
    // pointer.
    explicit Decryptor(const std::shared_ptr<ContextContent> &context);

    // x = b + <a, s> modulo each prime of ct's level l, rescaled r times
    // (r = ct's rescale counter; each rescale divides by the top prime of the
    // level, rounding). The element then stands at level l - r and carries
    // the scale 2^sf[l - r]. Its signed value is taken from residue 0 alone
    // at level 0 (centred modulo q_0), otherwise from residues 0 and 1
    // (centred modulo q_0 q_1; the higher residues are not read), and out is
    // that value times 2^-sf[l - r].
    //
    // Throws RuntimeException, before out is written: "Operands have
    // different levels." when ct's mask and body disagree; "Rescale counter
    // should be less than or equal to the level" when r > l;
    // "[ScaleFactors] The scale factor for given level is not valid" when
    // l - r has no scale factor; "[decrypt] ctxt and sk have different
    // dimension"; "[LWE] The ciphertext does not fit the context" when ct
    // belongs to a context of other sizes, primes or scale factors than this
    // decryptor's (contexts equal in all of them are interchangeable);
    // "[decrypt] The secret key does not fit the context" for such a key;
    // and the chain's messages when the key holds fewer limbs than ct or the
    // operands are on different devices.
    void decrypt(const Ciphertext &ct, const SecretKey &sk, double &out) const;

private:
    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt::LWE
