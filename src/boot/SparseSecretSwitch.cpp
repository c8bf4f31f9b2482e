#include "boot/SparseSecretSwitch.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SparseSecretEncapsulationKey.hpp"
#include "arith/FastBaseConv.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/KeySwitcher.hpp"

#include <string>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;

template <EncryptionType ET>
void checkSize(const CiphertextBase<ET> &in, u64 secrets, const char *message) {
    if (in.getNumPoly() != secrets + 1)
        throw RuntimeException(message + std::to_string(secrets + 1));
}

std::shared_ptr<SparseSecretEncapsulationKey> requireKey(const KeyPack &pack) {
    std::shared_ptr<SparseSecretEncapsulationKey> key = pack.getSparseSecretEncapsulationKey();
    if (!key)
        throw RuntimeException(kNoSparseSecretEncapsulationKeyMessage);
    return key;
}

// Primes 0 .. level of both chains agree, else the ciphertext would be
// re-tagged with residues of other primes.
void requireSharedPrimes(const std::shared_ptr<ContextContent> &a,
                         const std::shared_ptr<ContextContent> &b, u64 level) {
    const PrimeModuli &ca = a->getPrimeModuli();
    const PrimeModuli &cb = b->getPrimeModuli();
    bool shared = level < getLength(a) && level < getLength(b);
    for (u64 i = 0; shared && i <= level; ++i)
        shared = ca.getModulus(i).getPrime() == cb.getModulus(i).getPrime();
    if (!shared)
        throw RuntimeException(kIncompatibleContextMessage);
}

// The switched parts of the mask, over the extended basis.
template <EncryptionType ET>
CiphertextBase<ET> switchedMask(const KeySwitcher &switcher, const std::vector<Polynomial> &digits,
                                EvaluationKey &part, u64 secrets) {
    if constexpr (ET == EncryptionType::RLWE)
        return switcher.multEvalKey(digits, part);
    else
        return switcher.multEvalKeyMSRLWE(digits, part, secrets);
}

// out body i += body, the body first brought into the form of the output.
void addBody(const PrimeModuli &chain, Polynomial &body, Polynomial &out, bool ntt_out) {
    const OutputModulusBoundValidator all{0, body.getLevel() + 1};
    if (ntt_out && !body.isNTT())
        chain.forwardNTT<OutputModulusBoundValidator, 1>(body, body, all);
    else if (!ntt_out && body.isNTT())
        chain.backwardNTT<OutputModulusBoundValidator, 1>(body, body, all);
    chain.add(out, body, out);
}

} // namespace

template <EncryptionType ET>
void switchKeyDTS(const std::shared_ptr<ContextContent> &context,
                  const KeySwitcher &sparse_switcher, const KeyPack &pack,
                  const CiphertextBase<ET> &in, CiphertextBase<ET> &out, bool ntt_out) {
    const u64 secrets = getNumSecret(context);
    checkSize(in, secrets, kSwitchKeyDTSSizeMessage);
    const std::shared_ptr<SparseSecretEncapsulationKey> key = requireKey(pack);
    const std::shared_ptr<ContextContent> &sparse = sparse_switcher.getContext();
    // The ciphertext written over the sparse chain, whose first primes are
    // the ones it uses.
    requireSharedPrimes(context, sparse, in.getLevel());
    CiphertextBase<ET> t(sparse, in);

    std::vector<Polynomial> digits;
    sparse_switcher.modUpPQ(t.getPoly(secrets), digits);
    const CiphertextBase<ET> s =
        switchedMask<ET>(sparse_switcher, digits, key->getDTSPart(), secrets);
    CiphertextBase<ET> result(sparse, false, ntt_out);
    result.setNumPoly(secrets + 1);
    sparse_switcher.getFastBaseConv().modDown(s.getPolyVector(), result.getPolyVector(), ntt_out);
    const PrimeModuli &chain = sparse->getPrimeModuli();
    for (u64 i = 0; i < secrets; ++i)
        addBody(chain, t.getPoly(i), result.getPoly(i), ntt_out);
    CiphertextBase<ET> back(context, result);
    back.setLogSlots(in.getLogSlots());
    back.setRescaleCounter(in.getRescaleCounter());
    back.setEncodingType(in.getEncodingType());
    out = std::move(back);
}

template <EncryptionType ET>
void switchKeySTD(const KeySwitcher &main_switcher, const KeyPack &pack,
                  const CiphertextBase<ET> &in, CiphertextBase<ET> &out, bool ntt_out) {
    const std::shared_ptr<ContextContent> &context = main_switcher.getContext();
    const u64 secrets = getNumSecret(context);
    const u64 log_slots = in.getLogSlots();
    const int rescale_counter = in.getRescaleCounter();
    checkSize(in, secrets, kSwitchKeySTDSizeMessage);
    const std::shared_ptr<SparseSecretEncapsulationKey> key = requireKey(pack);
    // The bodies are copied first: out may be in.
    std::vector<Polynomial> bodies;
    for (u64 i = 0; i < secrets; ++i)
        bodies.push_back(in.getPoly(i));

    std::vector<Polynomial> digits;
    main_switcher.modUpPQ(in.getPoly(secrets), digits);
    const CiphertextBase<ET> s =
        switchedMask<ET>(main_switcher, digits, key->getSTDPart(), secrets);
    CiphertextBase<ET> result(out.getContext(), false, ntt_out);
    result.setNumPoly(secrets + 1);
    main_switcher.getFastBaseConv().modDown(s.getPolyVector(), result.getPolyVector(), ntt_out);
    const PrimeModuli &chain = context->getPrimeModuli();
    for (u64 i = 0; i < secrets; ++i)
        addBody(chain, bodies[i], result.getPoly(i), ntt_out);
    result.setEncodingType(out.getEncodingType());
    result.setLogSlots(log_slots);
    result.setRescaleCounter(rescale_counter);
    out = std::move(result);
}

template void switchKeyDTS<EncryptionType::RLWE>(const std::shared_ptr<ContextContent> &,
                                                 const KeySwitcher &, const KeyPack &,
                                                 const CiphertextBase<EncryptionType::RLWE> &,
                                                 CiphertextBase<EncryptionType::RLWE> &, bool);
template void switchKeyDTS<EncryptionType::MSRLWE>(const std::shared_ptr<ContextContent> &,
                                                   const KeySwitcher &, const KeyPack &,
                                                   const CiphertextBase<EncryptionType::MSRLWE> &,
                                                   CiphertextBase<EncryptionType::MSRLWE> &, bool);
template void switchKeySTD<EncryptionType::RLWE>(const KeySwitcher &, const KeyPack &,
                                                 const CiphertextBase<EncryptionType::RLWE> &,
                                                 CiphertextBase<EncryptionType::RLWE> &, bool);
template void switchKeySTD<EncryptionType::MSRLWE>(const KeySwitcher &, const KeyPack &,
                                                   const CiphertextBase<EncryptionType::MSRLWE> &,
                                                   CiphertextBase<EncryptionType::MSRLWE> &, bool);

} // namespace Quelt
