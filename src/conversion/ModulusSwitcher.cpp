#include "conversion/ModulusSwitcher.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/Modulus.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/DeviceDispatch.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using Ciphertext = ModulusSwitcher::Ciphertext;
using utils::mulMod;
using utils::powMod;

u64 primeOf(const std::shared_ptr<ContextContent> &context, u64 i) {
    return context->getPrimeModuli().getModulus(i).getPrime();
}

// The checks of a switch, in the order of their messages; returns c, the
// first index where the two chains differ.
u64 checkSwitch(const Ciphertext &in, const Ciphertext &out, u64 level) {
    if (in.getNumPoly() != 2)
        throw RuntimeException(ModulusSwitcher::kTwoPolynomials);
    const std::shared_ptr<ContextContent> &from = in.getContext();
    const std::shared_ptr<ContextContent> &to = out.getContext();
    if (level >= getLength(to))
        throw RuntimeException(ModulusSwitcher::kLevelOutsideChain);
    const u64 lin = in.getLevel();
    const u64 m = std::min(level, lin);
    u64 c = 0;
    while (c <= m && primeOf(from, c) == primeOf(to, c))
        ++c;
    // Nothing to switch; reported before a degree mismatch on purpose.
    if (c > m)
        throw RuntimeException(ModulusSwitcher::kIdenticalModuli);
    if (getDegree(from) != getDegree(to))
        throw RuntimeException(ModulusSwitcher::kInequalDegree);
    // Q_B must be invertible modulo every added prime.
    for (u64 e = c; e <= level; ++e)
        for (u64 b = c; b <= lin; ++b)
            if (primeOf(to, e) == primeOf(from, b))
                throw RuntimeException(ModulusSwitcher::kSharedRemovedPrime);
    CiphertextImpl<EncryptionType::RLWE>::checkRescaleCounter(in.getRescaleCounter(), level);
    return c;
}

u64 inverseMod(u64 a, u64 p) { return powMod(a, p - 2, p); }

// The constant tables of one switch (see switchModulusCPUImpl).
struct SwitchTables {
    std::vector<u64> t1; // per input prime 0 .. Lin
    std::vector<u64> t2; // (level + 1) x |B|, entry e + (b - c) (level + 1)
    std::vector<u64> t3; // per output prime 0 .. level
};

SwitchTables makeTables(const std::vector<Modulus> &qs, const std::vector<Modulus> &ps, u64 c,
                        u64 lin, u64 level) {
    const u64 removed = lin - c + 1;
    const u64 outputs = level + 1;
    SwitchTables tables{std::vector<u64>(lin + 1), std::vector<u64>(outputs * removed),
                        std::vector<u64>(outputs)};

    // T1[i] = P_C mod q_i.
    for (u64 i = 0; i <= lin; ++i) {
        const u64 q = qs[i].getPrime();
        u64 product = 1 % q;
        for (u64 j = c; j <= level; ++j)
            product = mulMod(product, ps[j].getPrime() % q, q);
        tables.t1[i] = product;
    }

    // Products of the removed primes other than q_b modulo a prime r, from
    // prefix and suffix products: hat[b - c] = (Q_B / q_b) mod r. Returns
    // Q_B mod r.
    std::vector<u64> prefix(removed + 1), suffix(removed + 1), hat(removed);
    auto hats = [&](u64 r) {
        prefix[0] = 1 % r;
        for (u64 k = 0; k < removed; ++k)
            prefix[k + 1] = mulMod(prefix[k], qs[c + k].getPrime() % r, r);
        suffix[removed] = 1 % r;
        for (u64 k = removed; k-- > 0;)
            suffix[k] = mulMod(suffix[k + 1], qs[c + k].getPrime() % r, r);
        for (u64 k = 0; k < removed; ++k)
            hat[k] = mulMod(prefix[k], suffix[k + 1], r);
        return prefix[removed];
    };

    // T1[b] *= (Q_B / q_b)^-1 mod q_b for the removed primes.
    for (u64 b = c; b <= lin; ++b) {
        const u64 q = qs[b].getPrime();
        hats(q);
        tables.t1[b] = mulMod(tables.t1[b], inverseMod(hat[b - c], q), q);
    }

    // T2[e][b] = (Q_B / q_b) mod p_e, negated on the added primes, where
    // x P_C vanishes and only -y remains; T3[e] = Q_B^-1 mod p_e.
    for (u64 e = 0; e <= level; ++e) {
        const u64 p = ps[e].getPrime();
        const u64 qb = hats(p);
        for (u64 k = 0; k < removed; ++k)
            tables.t2[e + k * outputs] = e < c || hat[k] == 0 ? hat[k] : p - hat[k];
        tables.t3[e] = inverseMod(qb, p);
    }
    return tables;
}

// The switch of a checked ciphertext whose two polynomials are in
// coefficient form; `work` is scratch (its residues are overwritten by x
// times T1). out receives a new ciphertext of its context in coefficient
// form.
void switchWorkingCopy(Ciphertext &work, Ciphertext &out, u64 level, u64 c) {
    const std::shared_ptr<ContextContent> &to = out.getContext();
    const std::vector<Modulus> &qs = work.getContext()->getPrimeModuli().getModuli();
    const std::vector<Modulus> &ps = to->getPrimeModuli().getModuli();
    const u64 lin = work.getLevel();
    const u64 n = getDegree(to);
    const u64 outputs = level + 1;
    const SwitchTables tables = makeTables(qs, ps, c, lin, level);

    Ciphertext result(to, false, false);
    result.setNumPoly(2);
    result.setLevel(level);
    for (u64 k = 0; k < 2; ++k) {
        Polynomial &x = work.getPoly(k);
        // t = x P_C, and on the removed primes also times (Q_B / q_b)^-1.
        for (u64 i = 0; i <= lin; ++i)
            qs[i].constMult<1>(x.getLimb(i), tables.t1[i], x.getLimb(i), n);
        Polynomial &y = result.getPoly(k);
        for (u64 e = 0; e <= level; ++e) {
            const Modulus &pe = ps[e];
            u64 *limb = y.getLimb(e);
            // The fast base conversion of the removed part, summed lazily in
            // [0, 2 p_e).
            for (u64 b = c; b <= lin; ++b) {
                const u64 factor = tables.t2[e + (b - c) * outputs];
                if (b == c)
                    pe.normalizeModAndConstMult<false>(x.getLimb(b), factor, qs[b].getPrime(),
                                                       limb);
                else
                    pe.normalizeModAndConstMult<true>(x.getLimb(b), factor, qs[b].getPrime(), limb);
            }
            if (e < c) {
                pe.reduceFromTwicePrime(limb);
                pe.subAndConstMult<1>(x.getLimb(e), limb, tables.t3[e], limb, n);
            } else {
                // The product by T3 takes any word, so the lazy sum needs no
                // reduction first.
                pe.constMult<1>(limb, tables.t3[e], limb, n);
            }
        }
        y.setNTT(false);
    }
    result.setLogSlots(work.getLogSlots());
    result.setRescaleCounter(work.getRescaleCounter());
    result.setEncodingType(work.getEncodingType());
    out = std::move(result);
}

} // namespace

void ModulusSwitcher::switchModulus(const Ciphertext &ctxt_in, Ciphertext &ctxt_out,
                                    u64 level) const {
    const Device device = ctxt_in.getDevice();
    if (isAccelerator(device))
        switchModulusGPUImpl(ctxt_in, ctxt_out, level);
    if (!device.isHost())
        throwUnsupportedFunction("switchModulus");
    const u64 c = checkSwitch(ctxt_in, ctxt_out, level);
    Ciphertext work(ctxt_in);
    if (work.getPoly(0).isNTT())
        work.backwardNTT();
    switchWorkingCopy(work, ctxt_out, level, c);
    ctxt_out.forwardNTT();
}

void ModulusSwitcher::switchModulus(const std::vector<Ciphertext> &ctxts_in,
                                    std::vector<Ciphertext> &ctxts_out, u64 level) const {
    if (ctxts_in.size() < ctxts_out.size())
        throw RuntimeException(kShortInputList);
    for (std::size_t i = 0; i < ctxts_out.size(); ++i)
        switchModulus(ctxts_in[i], ctxts_out[i], level);
}

void ModulusSwitcher::switchModulusCPUImpl(const Ciphertext &ctxt_in, Ciphertext &ctxt_out,
                                           u64 level) const {
    const u64 c = checkSwitch(ctxt_in, ctxt_out, level);
    Ciphertext work(ctxt_in);
    // The tables act on coefficients; a caller's NTT-form input is read in
    // coefficient form rather than switched as if it were one.
    if (work.getPoly(0).isNTT())
        work.backwardNTT();
    switchWorkingCopy(work, ctxt_out, level, c);
}

void ModulusSwitcher::switchModulusGPUImpl(const Ciphertext &, Ciphertext &, u64) const {
    throwUnsupportedFunction("switchModulusGPUImpl");
}

template <EncryptionType ET>
void ModulusSwitcher::embed(const CiphertextBase<ET> &ctxt_in, CiphertextBase<ET> &ctxt_out) const {
    const std::shared_ptr<ContextContent> &from = ctxt_in.getContext();
    const std::shared_ptr<ContextContent> &to = ctxt_out.getContext();
    CiphertextBase<ET> result(to, ctxt_in);
    // The copy compares no prime values; residues of other primes must not be
    // re-tagged silently.
    const u64 level = ctxt_in.getLevel();
    bool compatible = true;
    for (u64 i = 0; i <= level; ++i)
        compatible = compatible && primeOf(from, i) == primeOf(to, i);
    if (ctxt_in.isModUp()) {
        // The constructor made sure both chains have the same length and
        // number of temporary primes.
        const u64 length = getLength(from);
        for (u64 i = length; i < length + getNumTP(from); ++i)
            compatible = compatible && primeOf(from, i) == primeOf(to, i);
    }
    if (!compatible)
        throw RuntimeException(CiphertextImpl<ET>::kIncompatibleContext);
    ctxt_out = std::move(result);
}

template void
ModulusSwitcher::embed<EncryptionType::RLWE>(const CiphertextBase<EncryptionType::RLWE> &,
                                             CiphertextBase<EncryptionType::RLWE> &) const;
template void
ModulusSwitcher::embed<EncryptionType::MSRLWE>(const CiphertextBase<EncryptionType::MSRLWE> &,
                                               CiphertextBase<EncryptionType::MSRLWE> &) const;

} // namespace Quelt
