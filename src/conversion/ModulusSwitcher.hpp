#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

#include <cstdint>
#include <vector>

namespace Quelt {

// Moves a ring ciphertext from the prime chain of its context onto the chain
// of another context of the same degree, scaling its value by the ratio of
// the two moduli in residue form. No state: callers make one on the stack,
// and calls on different outputs may run in parallel.
//
// Notation of one call: the input has level Lin over q_0 .. q_Lin, the output
// context's primes are p_0 .. p_level, and c is the first index at which q_i
// and p_i differ. The shared primes A = {0 .. c-1} are kept, the input primes
// B = {c .. Lin} (product Q_B) removed and the output primes C = {c ..
// level} (product P_C) added: each polynomial x becomes round(x P_C / Q_B),
// computed as (x P_C - y) Q_B^-1 modulo every output prime, y the centred
// reconstruction of x P_C modulo Q_B.
class ModulusSwitcher {
public:
    using Ciphertext = CiphertextBase<EncryptionType::RLWE>;

    static constexpr const char *kIdenticalModuli =
        "[ModulusSwitcher] The parameters use identical moduli";
    static constexpr const char *kInequalDegree =
        "[ModulusSwitcher] The parameters use inequal degree";
    static constexpr const char *kTwoPolynomials =
        "[ModulusSwitcher] The input ciphertext should hold two polynomials";
    static constexpr const char *kLevelOutsideChain =
        "[ModulusSwitcher] The level is outside the chain of the output context";
    static constexpr const char *kSharedRemovedPrime =
        "[ModulusSwitcher] A prime added to the output is also removed from the input";
    static constexpr const char *kShortInputList =
        "[ModulusSwitcher] The input list holds fewer ciphertexts than the output list";

    // out (which already carries the target context) receives in's message at
    // `level` of that context: two polynomials in NTT form, in's log slot
    // count, rescale counter and encoding type. in is read on a copy (taken
    // out of NTT form when it is in it) and never changed. Throws
    // RuntimeException, in this order and before out changes:
    //   "Cannot support the function 'switchModulusGPUImpl' in the current
    //   build configuration" for a ciphertext on an accelerator, the same
    //   with 'switchModulus' for any other device that is not the host;
    //   kTwoPolynomials (in has another number of polynomials);
    //   kLevelOutsideChain (level not below the output chain length);
    //   kIdenticalModuli (primes 0 .. min(level, Lin) agree, whatever the
    //   degrees); kInequalDegree; kSharedRemovedPrime (an added output prime
    //   equals a removed input prime, so that Q_B has no inverse there);
    //   the rescale-counter messages when in's counter does not suit level.
    void switchModulus(const Ciphertext &ctxt_in, Ciphertext &ctxt_out, std::uint64_t level) const;
    // switchModulus(ctxts_in[i], ctxts_out[i], level) for every output i in
    // order; the output list decides the count. Throws kShortInputList when
    // ctxts_in holds fewer entries, before any output changes; a failure at
    // entry i leaves the entries before it switched.
    void switchModulus(const std::vector<Ciphertext> &ctxts_in, std::vector<Ciphertext> &ctxts_out,
                       std::uint64_t level) const;

    // out := in copied into out's context by the copy-into-context
    // constructor (same polynomials, flags, level, words, log slot count,
    // rescale counter and encoding type); no arithmetic. The constructor's
    // messages come first ("The size of a ciphertext should be greater than
    // 1", "The level of input ciphertext does not fit in current context",
    // ...); then primes the ciphertext uses that differ between the two
    // contexts throw "[setContext] Input context is not compatible with the
    // ciphertext.". out is unchanged on every failure.
    template <EncryptionType ET>
    void embed(const CiphertextBase<ET> &ctxt_in, CiphertextBase<ET> &ctxt_out) const;

    // The host back end: out receives the switched ciphertext in coefficient
    // form. Runs the checks of switchModulus (after the device ones) first;
    // an input in NTT form is read through a coefficient-form copy.
    void switchModulusCPUImpl(const Ciphertext &ctxt_in, Ciphertext &ctxt_out,
                              std::uint64_t level) const;
    // The accelerator back end, absent from this build: always throws
    // "Cannot support the function 'switchModulusGPUImpl' in the current
    // build configuration".
    [[noreturn]] void switchModulusGPUImpl(const Ciphertext &ctxt_in, Ciphertext &ctxt_out,
                                           std::uint64_t level) const;
};

extern template void
ModulusSwitcher::embed<EncryptionType::RLWE>(const CiphertextBase<EncryptionType::RLWE> &,
                                             CiphertextBase<EncryptionType::RLWE> &) const;
extern template void
ModulusSwitcher::embed<EncryptionType::MSRLWE>(const CiphertextBase<EncryptionType::MSRLWE> &,
                                               CiphertextBase<EncryptionType::MSRLWE> &) const;

} // namespace Quelt
