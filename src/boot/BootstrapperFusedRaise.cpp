// The fused modulus raise of a full-slot bootstrap. Instead of lifting the
// whole level-0 ciphertext to the top of the chain before CoeffToSlot, the
// mask is raised to level L + 1 (L the chain length: the chain's primes and
// its first two temporary primes) and each body is only widened to the fused
// prime set {q_0, q_(L+1)}. The first CoeffToSlot step then multiplies its
// diagonals into the small bodies over the fused set, and the rotated mask
// into the fused rotation keys, whose bodies carry q_L sigma(s) times the
// same diagonals; two rescales (by q_(L+1), then q_L) finish the raise.
//
// Representation: the raised mask and the mask products are plain
// polynomials over the prime list q_0 .. q_(L+1) (Polynomial::overPrimes),
// used with the context's PrimeModuli, which holds the temporary primes
// after the chain, so limb i is always prime i; the rescales of the
// evaluator divide by q_(L+1) and q_L with rounding exactly as at any other
// level. The bodies are polynomials over the two-prime list {q_0, q_(L+1)},
// used with the fused PrimeModuli of the bootstrapper. Between the raise and
// the first step a ciphertext thus holds polynomials of two shapes (and two
// levels); only the fused first step reads it. Its result is an ordinary
// ciphertext of the chain again.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyPack.hpp"
#include "arith/Modulus.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "boot/SparseSecretSwitch.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;

// The primes q_0 .. q_(L+1) of the raised mask.
std::vector<u64> raisedPrimes(const std::shared_ptr<ContextContent> &context, u64 chain_length) {
    const PrimeModuli &chain = context->getPrimeModuli();
    if (chain.getModuli().size() < chain_length + 2)
        throw RuntimeException(BootConstants::kFusedPrimeMessage);
    std::vector<u64> primes(chain_length + 2);
    for (u64 i = 0; i < primes.size(); ++i)
        primes[i] = chain.getModulus(i).getPrime();
    return primes;
}

std::vector<u64> fusedPrimes(const PrimeModuli &fused) {
    return {fused.getModulus(0).getPrime(), fused.getModulus(1).getPrime()};
}

// A polynomial over the raised or fused primes after its rescales, copied
// into an ordinary polynomial of the chain at the same level.
Polynomial toChainShape(const std::shared_ptr<ContextContent> &context, const Polynomial &p) {
    Polynomial out(context, false, p.isNTT());
    out.setLevel(p.getLevel());
    out.allocate(p.getDevice());
    std::copy_n(p.getLimb(0), (p.getLevel() + 1) * p.getDegree(), out.getLimb(0));
    return out;
}

} // namespace

// ---- Preparation ---------------------------------------------------------------------

template <EncryptionType ET>
void BootstrapperImpl::prepareFusedRaise(CiphertextBase<ET> &ct) const {
    if (!fuse_prime_moduli_)
        throw RuntimeException(kNoFusedRaiseMessage);
    if (ct.getLevel() != 0)
        throw RuntimeException(kRecoverLevelMessage);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kRecoverCounterMessage);
    const u64 k = ct.getNumPoly() - 1;
    for (u64 i = 0; i <= k; ++i)
        if (ct.getPoly(i).isNTT())
            throw RuntimeException(kRecoverNTTMessage);
    const u64 L = context_->getParameter().chain_length;
    const PrimeModuli &chain = context_->getPrimeModuli();
    const PrimeModuli &fused = *fuse_prime_moduli_;
    const std::vector<u64> fused_primes = fusedPrimes(fused);

    // Bodies: the residues mod q_0, lifted centred to {q_0, q_(L+1)}.
    for (u64 i = 0; i < k; ++i) {
        const Polynomial &body = ct.getPoly(i);
        Polynomial source = Polynomial::overPrimes(context_, fused_primes, false);
        source.setLevel(0);
        source.allocate(body.getDevice());
        std::copy_n(body.getLimb(0), body.getDegree(), source.getLimb(0));
        Polynomial widened = Polynomial::overPrimes(context_, fused_primes, false);
        fused.normalizeMod(widened, source, 0, 1);
        fused.forwardNTT<OutputModulusBoundValidator, 1>(widened, widened,
                                                         OutputModulusBoundValidator(0, 2));
        ct.getPoly(i) = std::move(widened);
    }
    // Mask: lifted centred to every prime of the chain and the first two
    // temporary primes.
    Polynomial raised = Polynomial::overPrimes(context_, raisedPrimes(context_, L), false);
    chain.normalizeMod(raised, ct.getPoly(k), 0, L + 1);
    chain.forwardNTT<OutputModulusBoundValidator, 1>(raised, raised,
                                                     OutputModulusBoundValidator(0, L + 2));
    ct.getPoly(k) = std::move(raised);
}

template <EncryptionType ET>
void BootstrapperImpl::multiplyFusedByWord(CiphertextBase<ET> &ct, u64 factor) const {
    if (factor == 1)
        return;
    if (!fuse_prime_moduli_)
        throw RuntimeException(kNoFusedRaiseMessage);
    const u64 k = ct.getNumPoly() - 1;
    for (u64 i = 0; i < k; ++i)
        fuse_prime_moduli_->constMult(ct.getPoly(i), factor, ct.getPoly(i));
    context_->getPrimeModuli().constMult(ct.getPoly(k), factor, ct.getPoly(k));
}

template <EncryptionType ET>
void BootstrapperImpl::raiseFused(CiphertextBase<ET> &r) const {
    if (isSparseSecretEncapsulationSupported(context_)) {
        if (!key_switcher_sparse_)
            throw RuntimeException(kNoSparseContextMessage);
        // Onto the sparse secret, in coefficient form, before the raise.
        switchKeyDTS(context_, *key_switcher_sparse_, eval_->getKeyPack(), r, r, false);
    } else if (r.getPoly(0).isNTT()) {
        r.backwardNTT();
    }
    prepareFusedRaise(r);
}

// ---- The fused first step of CoeffToSlot ---------------------------------------------

template <EncryptionType ET>
void BootstrapperImpl::firstStepOfC2S(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const {
    if (!fuse_prime_moduli_)
        throw RuntimeException(kNoFusedRaiseMessage);
    const Device device = in.getDevice();
    const RadixDecomposition rd = boot_param_.getRadixDecForC2S(getLogFullSlots(context_));
    if (rd.num_radices == 0 || rd.radices.empty() || rd.strides.empty() || rd.radices[0] == 0)
        throw RuntimeException(kStepShapeMessage);
    const u64 r = rd.radices[0];
    const u64 stride = rd.strides[0];
    const u64 k = in.getNumSecret();
    const u64 L = context_->getParameter().chain_length;
    const u64 N = getDegree(context_);
    const PrimeModuli &chain = context_->getPrimeModuli();
    const PrimeModuli &fused = *fuse_prime_moduli_;
    const std::vector<u64> fused_primes = fusedPrimes(fused);
    const std::vector<u64> raised_primes = raisedPrimes(context_, L);

    // The shapes the raise leaves: k bodies over the fused set at level 1 and
    // the mask at level L + 1, all in NTT form.
    if (in.getNumPoly() != k + 1)
        throw RuntimeException(kFusedInputMessage);
    for (u64 i = 0; i <= k; ++i) {
        const Polynomial &p = in.getPoly(i);
        const u64 limbs = i < k ? 2 : L + 2;
        if (!p.isNTT() || p.isModUp() || p.getLevel() != limbs - 1 || p.getSize() != limbs ||
            p.getData().size() < limbs * N)
            throw RuntimeException(kFusedInputMessage);
    }

    // Bodies: acc_i = sum_j C_j * sigma_(j stride)(b_i) over {q_0, q_(L+1)},
    // then divided by q_(L+1) and lifted centred from q_0 to the primes of
    // level L - 1 (the value is far below q_0 / 2).
    std::vector<Polynomial> acc;
    acc.reserve(k);
    Polynomial tmp = Polynomial::overPrimes(context_, fused_primes, true);
    for (u64 i = 0; i < k; ++i) {
        const Polynomial &b = in.getPoly(i);
        // The constants' mutex is held for the look-up only.
        const std::vector<Polynomial> &C = fuse_mod_raise_constants_.at(device);
        if (C.size() < r)
            throw RuntimeException(kDiagonalCountMessage);
        Polynomial sum = Polynomial::overPrimes(context_, fused_primes, true);
        fused.hadamardMult(C[0], b, sum);
        for (u64 j = 1; j < r; ++j) {
            // The context's table mutex is held for the look-up only.
            const auto &powers = context_->getFFT().getPowers().at(device);
            const u64 amount = j * stride;
            if (powers.size() == 0 || amount >= powers.size())
                throw RuntimeException(kStepShapeMessage);
            fused.frobeniusMapInNTT<false>(b, static_cast<std::int64_t>(powers[amount]), tmp);
            fused.hadamardMultAndAdd(tmp, C[j], sum);
        }
        acc.push_back(std::move(sum));
    }
    for (Polynomial &sum : acc) {
        fused.backwardNTT<OutputModulusBoundValidator, 1>(sum, sum,
                                                          OutputModulusBoundValidator(0, 2));
        fused.rescale(sum);
        Polynomial lifted(context_, false, false);
        chain.normalizeMod(lifted, sum, 0, L - 1);
        chain.forwardNTT<OutputModulusBoundValidator, 1>(lifted, lifted,
                                                         OutputModulusBoundValidator(0, L));
        sum = std::move(lifted);
    }

    // Mask: sum_j K_j * sigma_(j stride)(a) over q_0 .. q_(L+1); the key
    // polynomials span L + 2 limbs that the products read directly.
    const Polynomial a = in.getPoly(k);
    Polynomial rot = Polynomial::overPrimes(context_, raised_primes, true);
    CiphertextBase<ET> res(context_, false, true);
    res.setNumPoly(k + 1);
    for (u64 l = 0; l <= k; ++l) {
        res.getPoly(l) = Polynomial::overPrimes(context_, raised_primes, true);
        res.getPoly(l).allocate(device);
    }
    rot.allocate(device);
    const KeyPack &pack = eval_->getKeyPack();
    for (u64 j = 0; j < r; ++j) {
        const u64 idx = j * stride;
        eval_->rotatePoly(a, idx, rot);
        const std::shared_ptr<FuseRotationKey> key = pack.getFuseRotKey(idx);
        if (!key)
            throw RuntimeException(kFuseKeyMissingPrefix + std::to_string(idx));
        key->copyTo(device);
        for (u64 l = 0; l <= k; ++l) {
            const Polynomial &kp = key->getPoly(device, l);
            if (kp.getDegree() != N || kp.getData().size() < (L + 2) * N)
                throw RuntimeException(kFusedKeyShapeMessage);
            Polynomial &target = res.getPoly(l);
            for (u64 t = 0; t < L + 2; ++t) {
                const Modulus &q = chain.getModulus(t);
                if (j == 0)
                    q.mulVector(target.getLimb(t), kp.getLimb(t), rot.getLimb(t), N);
                else
                    q.mulAddVector(target.getLimb(t), kp.getLimb(t), rot.getLimb(t));
            }
        }
    }

    res.setLogSlots(in.getLogSlots());
    res.setEncodingType(in.getEncodingType());
    res.setRescaleCounter(2);
    // Divided by q_(L+1) and then q_L: the keys carry q_L and the diagonals
    // the scale q_(L+1).
    res.backwardNTT();
    eval_->rescale(res);
    eval_->rescale(res);
    for (u64 l = 0; l <= k; ++l)
        res.getPoly(l) = toChainShape(context_, res.getPoly(l));
    res.forwardNTT();
    for (u64 i = 0; i < k; ++i)
        chain.add(res.getPoly(i), acc[i], res.getPoly(i));
    out = std::move(res);
}

template void BootstrapperImpl::raiseFused(CiphertextBase<EncryptionType::RLWE> &) const;
template void BootstrapperImpl::raiseFused(CiphertextBase<EncryptionType::MSRLWE> &) const;
template void BootstrapperImpl::prepareFusedRaise(CiphertextBase<EncryptionType::RLWE> &) const;
template void BootstrapperImpl::prepareFusedRaise(CiphertextBase<EncryptionType::MSRLWE> &) const;
template void BootstrapperImpl::multiplyFusedByWord(CiphertextBase<EncryptionType::RLWE> &,
                                                    u64) const;
template void BootstrapperImpl::multiplyFusedByWord(CiphertextBase<EncryptionType::MSRLWE> &,
                                                    u64) const;
template void BootstrapperImpl::firstStepOfC2S(const CiphertextBase<EncryptionType::RLWE> &,
                                               CiphertextBase<EncryptionType::RLWE> &) const;
template void BootstrapperImpl::firstStepOfC2S(const CiphertextBase<EncryptionType::MSRLWE> &,
                                               CiphertextBase<EncryptionType::MSRLWE> &) const;

} // namespace Quelt
