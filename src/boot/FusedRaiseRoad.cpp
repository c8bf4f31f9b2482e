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

#include "boot/FusedRaiseRoad.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyPack.hpp"
#include "arith/Modulus.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

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

FusedRaiseRoad::FusedRaiseRoad(std::shared_ptr<ContextContent> context,
                               std::shared_ptr<HomEvaluatorImpl> eval)
    : context_(std::move(context)), eval_(std::move(eval)) {}

// ---- Installation --------------------------------------------------------------------

std::shared_ptr<PrimeModuli> FusedRaiseRoad::makePrimeSet() const {
    const u64 chain_length = context_->getParameter().chain_length;
    const PrimeModuli &chain = context_->getPrimeModuli();
    if (chain.getModuli().size() <= chain_length + 1)
        throw RuntimeException(BootConstants::kFusedPrimeMessage);
    return std::make_shared<PrimeModuli>(
        std::vector<Modulus>{chain.getModulus(0), chain.getModulus(chain_length + 1)},
        getDegree(context_), context_->getDevices());
}

void FusedRaiseRoad::install(std::shared_ptr<PrimeModuli> prime_set,
                             const std::vector<Plaintext> &diagonals) {
    const u64 chain_length = context_->getParameter().chain_length;
    const PrimeModuli &chain = context_->getPrimeModuli();
    // Every constant is a polynomial over the fused prime set, limb 0 and
    // limb 1 holding primes 0 and L + 1 of the plaintext, which the fused
    // step multiplies into the widened bodies.
    const Polynomial shape = Polynomial::overPrimes(
        context_, {chain.getModulus(0).getPrime(), chain.getModulus(chain_length + 1).getPrime()},
        true);
    std::vector<Polynomial> constants;
    constants.reserve(diagonals.size());
    const u64 degree = getDegree(context_);
    for (const Plaintext &pt : diagonals) {
        const Polynomial &mx = pt.getMx();
        if (mx.getSize() <= chain_length + 1)
            throw RuntimeException(BootConstants::kFusedPrimeMessage);
        Polynomial poly = Polynomial::shapedLike(shape);
        std::copy_n(mx.getLimb(0), degree, poly.getLimb(0));
        std::copy_n(mx.getLimb(chain_length + 1), degree, poly.getLimb(1));
        constants.push_back(std::move(poly));
    }
    prime_moduli_ = std::move(prime_set);
    constants_.set(kHostDevice, std::move(constants));
}

// ---- Preparation ---------------------------------------------------------------------

template <EncryptionType ET>
void FusedRaiseRoad::prepare(CiphertextBase<ET> &ct) const {
    if (!prime_moduli_)
        throw RuntimeException(kNoFusedRaiseMessage);
    if (ct.getLevel() != 0)
        throw RuntimeException(BootstrapperImpl::kRecoverLevelMessage);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(BootstrapperImpl::kRecoverCounterMessage);
    const u64 k = ct.getNumPoly() - 1;
    for (u64 i = 0; i <= k; ++i)
        if (ct.getPoly(i).isNTT())
            throw RuntimeException(BootstrapperImpl::kRecoverNTTMessage);
    const u64 L = context_->getParameter().chain_length;
    const PrimeModuli &chain = context_->getPrimeModuli();
    const PrimeModuli &fused = *prime_moduli_;
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
void FusedRaiseRoad::multiplyByWord(CiphertextBase<ET> &ct, u64 factor) const {
    if (factor == 1)
        return;
    if (!prime_moduli_)
        throw RuntimeException(kNoFusedRaiseMessage);
    const u64 k = ct.getNumPoly() - 1;
    for (u64 i = 0; i < k; ++i)
        prime_moduli_->constMult(ct.getPoly(i), factor, ct.getPoly(i));
    context_->getPrimeModuli().constMult(ct.getPoly(k), factor, ct.getPoly(k));
}

// ---- The fused first step of CoeffToSlot ---------------------------------------------

template <EncryptionType ET>
void FusedRaiseRoad::firstStepOfC2S(const CiphertextBase<ET> &in, CiphertextBase<ET> &out,
                                    const BootParameter &boot_param) const {
    if (!prime_moduli_)
        throw RuntimeException(kNoFusedRaiseMessage);
    const RadixDecomposition rd = boot_param.getRadixDecForC2S(getLogFullSlots(context_));
    if (rd.num_radices == 0 || rd.radices.empty() || rd.strides.empty() || rd.radices[0] == 0)
        throw RuntimeException(BootstrapperImpl::kStepShapeMessage);
    const u64 r = rd.radices[0];
    const u64 stride = rd.strides[0];
    const u64 k = in.getNumSecret();
    checkPrepared(in);
    const std::vector<Polynomial> acc = bodyProducts(in, r, stride);
    CiphertextBase<ET> res = maskProducts(in, r, stride);

    res.setLogSlots(in.getLogSlots());
    res.setEncodingType(in.getEncodingType());
    res.setRescaleCounter(2);
    // Divided by q_(L+1) and then q_L: the keys carry q_L and the diagonals
    // the scale q_(L+1).
    res.backwardNTT();
    eval_->levels().rescale(res);
    eval_->levels().rescale(res);
    for (u64 l = 0; l <= k; ++l)
        res.getPoly(l) = toChainShape(context_, res.getPoly(l));
    res.forwardNTT();
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (u64 i = 0; i < k; ++i)
        chain.add(res.getPoly(i), acc[i], res.getPoly(i));
    out = std::move(res);
}

template <EncryptionType ET>
void FusedRaiseRoad::checkPrepared(const CiphertextBase<ET> &in) const {
    const u64 k = in.getNumSecret();
    const u64 L = context_->getParameter().chain_length;
    const u64 N = getDegree(context_);
    if (in.getNumPoly() != k + 1)
        throw RuntimeException(kFusedInputMessage);
    for (u64 i = 0; i <= k; ++i) {
        const Polynomial &p = in.getPoly(i);
        const u64 limbs = i < k ? 2 : L + 2;
        if (!p.isNTT() || p.isModUp() || p.getLevel() != limbs - 1 || p.getSize() != limbs ||
            p.getData().size() < limbs * N)
            throw RuntimeException(kFusedInputMessage);
    }
}

// Bodies: acc_i = sum_j C_j * sigma_(j stride)(b_i) over {q_0, q_(L+1)},
// then divided by q_(L+1) and lifted centred from q_0 to the primes of
// level L - 1 (the value is far below q_0 / 2).
template <EncryptionType ET>
std::vector<Polynomial> FusedRaiseRoad::bodyProducts(const CiphertextBase<ET> &in, u64 r,
                                                     u64 stride) const {
    const Device device = in.getDevice();
    const u64 k = in.getNumSecret();
    const u64 L = context_->getParameter().chain_length;
    const PrimeModuli &chain = context_->getPrimeModuli();
    const PrimeModuli &fused = *prime_moduli_;
    const std::vector<u64> fused_primes = fusedPrimes(fused);
    std::vector<Polynomial> acc;
    acc.reserve(k);
    Polynomial tmp = Polynomial::overPrimes(context_, fused_primes, true);
    for (u64 i = 0; i < k; ++i) {
        const Polynomial &b = in.getPoly(i);
        // The constants' mutex is held for the look-up only.
        const std::vector<Polynomial> &C = constants_.at(device);
        if (C.size() < r)
            throw RuntimeException(BootstrapperImpl::kDiagonalCountMessage);
        Polynomial sum = Polynomial::overPrimes(context_, fused_primes, true);
        fused.hadamardMult(C[0], b, sum);
        for (u64 j = 1; j < r; ++j) {
            // The context's table mutex is held for the look-up only.
            const auto &powers = context_->getFFT().getPowers().at(device);
            const u64 amount = j * stride;
            if (powers.size() == 0 || amount >= powers.size())
                throw RuntimeException(BootstrapperImpl::kStepShapeMessage);
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
    return acc;
}

// Mask: sum_j K_j * sigma_(j stride)(a) over q_0 .. q_(L+1); the key
// polynomials span L + 2 limbs that the products read directly.
template <EncryptionType ET>
CiphertextBase<ET> FusedRaiseRoad::maskProducts(const CiphertextBase<ET> &in, u64 r,
                                                u64 stride) const {
    const Device device = in.getDevice();
    const u64 k = in.getNumSecret();
    const u64 L = context_->getParameter().chain_length;
    const u64 N = getDegree(context_);
    const PrimeModuli &chain = context_->getPrimeModuli();
    const std::vector<u64> raised_primes = raisedPrimes(context_, L);
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
        eval_->rotations().rotatePoly(a, idx, rot);
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
    return res;
}

template void FusedRaiseRoad::prepare(CiphertextBase<EncryptionType::RLWE> &) const;
template void FusedRaiseRoad::prepare(CiphertextBase<EncryptionType::MSRLWE> &) const;
template void FusedRaiseRoad::multiplyByWord(CiphertextBase<EncryptionType::RLWE> &, u64) const;
template void FusedRaiseRoad::multiplyByWord(CiphertextBase<EncryptionType::MSRLWE> &, u64) const;
template void FusedRaiseRoad::firstStepOfC2S(const CiphertextBase<EncryptionType::RLWE> &,
                                             CiphertextBase<EncryptionType::RLWE> &,
                                             const BootParameter &) const;
template void FusedRaiseRoad::firstStepOfC2S(const CiphertextBase<EncryptionType::MSRLWE> &,
                                             CiphertextBase<EncryptionType::MSRLWE> &,
                                             const BootParameter &) const;

} // namespace Quelt
