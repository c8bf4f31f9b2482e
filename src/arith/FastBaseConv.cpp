#include "arith/FastBaseConv.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/NTT.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"

#include <algorithm>
#include <cstring>

namespace Quelt {

namespace {

namespace kk = keyswitch_kernels;

// Coefficients converted together: the source words of one block (alpha or K
// limbs of it) stay in the first-level cache while every target limb is
// written.
constexpr u64 kBlock = 256;

using utils::mulMod;

// Inverse by Fermat's little theorem (p prime, a not a multiple of p).
u64 invModExact(u64 a, u64 p) { return utils::powMod(a, p - 2, p); }

u64 ceilDiv(u64 a, u64 b) { return a / b + (a % b != 0 ? 1 : 0); }

// The base, quantize and temporary moduli of a context's chain.
std::vector<Modulus> chainModuli(const std::shared_ptr<ContextContent> &context) {
    const u64 count = getLength(context) + getNumTP(context);
    const std::vector<Modulus> &all = context->getPrimeModuli().getModuli();
    return std::vector<Modulus>(all.begin(), all.begin() + std::min<u64>(count, all.size()));
}

} // namespace

FastBaseConv::FastBaseConv(const std::shared_ptr<ContextContent> &context)
    : FastBaseConv(chainModuli(context), getLength(context), getGadgetRank(context)) {
    context_ = context;
}

FastBaseConv::FastBaseConv(std::vector<Modulus> moduli, std::uint64_t length,
                           std::uint64_t gadget_rank) {
    if (length == 0)
        throw RuntimeException(kNoBasePrimeMessage);
    if (gadget_rank == 0)
        throw RuntimeException(kNoGadgetRankMessage);
    if (moduli.size() <= length)
        throw RuntimeException(kNoTemporaryPrimeMessage);
    const u64 degree = moduli.front().getDegree();
    for (const Modulus &modulus : moduli) {
        if (!modulus.getNTT() || modulus.getDegree() != degree || degree == 0)
            throw RuntimeException(kNoTransformMessage);
    }

    moduli_ = std::move(moduli);
    degree_ = degree;
    num_base_primes_ = length;
    num_all_primes_ = moduli_.size();
    primes_per_digit_ = ceilDiv(length, gadget_rank);
    buildTables();
    buildFastPathConstants();
}

std::uint64_t FastBaseConv::getNumDigits(std::uint64_t level) const {
    return level / primes_per_digit_ + 1;
}

const DeviceSpecificArray<std::uint64_t> &FastBaseConv::getDigitHatInvModQ() const {
    return digit_hat_inv_mod_q_.at(kHostDevice);
}
const DeviceSpecificArray2D<std::uint64_t> &FastBaseConv::getDigitHatModQP() const {
    return digit_hat_mod_qp_.at(kHostDevice);
}
const DeviceSpecificArray<std::uint64_t> &FastBaseConv::getPHatInvModP() const {
    return p_hat_inv_mod_p_.at(kHostDevice);
}
const DeviceSpecificArray2D<std::uint64_t> &FastBaseConv::getPHatModQ() const {
    return p_hat_mod_q_.at(kHostDevice);
}
const DeviceSpecificArray<std::uint64_t> &FastBaseConv::getPInvModQ() const {
    return p_inv_mod_q_.at(kHostDevice);
}

void FastBaseConv::buildTables() {
    const u64 L = num_base_primes_;
    const u64 LK = num_all_primes_;
    const u64 K = LK - L;
    const u64 alpha = primes_per_digit_;
    auto prime = [this](u64 i) { return moduli_[i].getPrime(); };

    DeviceSpecificArray<u64> digit_hat_inv(L);
    DeviceSpecificArray2D<u64> digit_hat(L, LK);
    for (u64 i = 0; i < L; ++i) {
        const u64 s = (i / alpha) * alpha;
        const u64 e = std::min(s + alpha, L);
        u64 product = 1;
        for (u64 m = s; m < e; ++m)
            if (m != i)
                product = mulMod(product, prime(m) % prime(i), prime(i));
        digit_hat_inv[i] = invModExact(product, prime(i));
        for (u64 j = 0; j < LK; ++j) {
            if (s <= j && j < e)
                continue;
            u64 hat = 1 % prime(j);
            for (u64 m = s; m < e; ++m)
                if (m != i)
                    hat = mulMod(hat, prime(m) % prime(j), prime(j));
            digit_hat.at(i, j) = hat;
        }
    }

    DeviceSpecificArray<u64> p_hat_inv(K);
    for (u64 m = 0; m < K; ++m) {
        const u64 pm = prime(L + m);
        u64 product = 1;
        for (u64 n = 0; n < K; ++n)
            if (n != m)
                product = mulMod(product, prime(L + n) % pm, pm);
        p_hat_inv[m] = invModExact(product, pm);
    }

    DeviceSpecificArray2D<u64> p_hat(K, L);
    for (u64 m = 0; m < K; ++m)
        for (u64 j = 0; j < L; ++j) {
            u64 product = 1 % prime(j);
            for (u64 n = 0; n < K; ++n)
                if (n != m)
                    product = mulMod(product, prime(L + n) % prime(j), prime(j));
            p_hat.at(m, j) = product;
        }

    DeviceSpecificArray<u64> p_inv(L);
    p_mod_q_.assign(L, 0);
    for (u64 i = 0; i < L; ++i) {
        u64 product = 1;
        for (u64 n = 0; n < K; ++n)
            product = mulMod(product, prime(L + n) % prime(i), prime(i));
        p_mod_q_[i] = product;
        p_inv[i] = invModExact(product, prime(i));
    }

    digit_hat_inv_mod_q_.set(kHostDevice, std::move(digit_hat_inv));
    digit_hat_mod_qp_.set(kHostDevice, std::move(digit_hat));
    p_hat_inv_mod_p_.set(kHostDevice, std::move(p_hat_inv));
    p_hat_mod_q_.set(kHostDevice, std::move(p_hat));
    // The factors of the key switch fused with a rescale: row l holds
    // [P^-1 q_l^-1]_{q_i} for i < l.
    p_inv_top_inv_.assign(L * L, 0);
    for (u64 i = 0; i < L; ++i) {
        for (u64 l = i + 1; l < L; ++l)
            p_inv_top_inv_[l * L + i] =
                mulMod(p_inv[i], invModExact(prime(l) % prime(i), prime(i)), prime(i));
    }

    p_inv_mod_q_.set(kHostDevice, std::move(p_inv));
}

void FastBaseConv::buildFastPathConstants() {
    fold_.clear();
    fold_bias_.clear();
    u64 max_prime = 0;
    for (const Modulus &modulus : moduli_) {
        fold_.push_back(kk::FoldConstants::of(modulus));
        fold_bias_.push_back(kk::foldBias(modulus.getPrime()));
        max_prime = std::max(max_prime, modulus.getPrime());
    }
    // A centred source value is at most half its prime in magnitude, a
    // factor below the target prime.
    terms_per_fold_ = kk::signedTermsPerFold(static_cast<u128>(max_prime / 2 + 1) * max_prime);
}

void FastBaseConv::convertDigit(const std::uint64_t *t, std::uint64_t digit, std::uint64_t level,
                                std::uint64_t *out) const {
    // t holds the digit's centred source limbs at their own prime indices
    // (it may be `out` itself: only limbs outside the digit are written).
    const u64 N = degree_;
    const u64 L = num_base_primes_;
    const u64 LK = num_all_primes_;
    const u64 m0 = digit * primes_per_digit_;
    const u64 digit_end = std::min(m0 + primes_per_digit_, L);
    std::vector<u64> targets;
    std::vector<u64 *> outs;
    targets.reserve(LK);
    for (u64 j = 0; j < LK; ++j)
        if ((j <= level && (j < m0 || j >= digit_end)) || j >= L) {
            targets.push_back(j);
            outs.push_back(out + j * N);
        }
    convertDigitTargets(t, digit, level, targets.data(), targets.size(), outs.data());
}

void FastBaseConv::convertDigitTargets(const std::uint64_t *t, std::uint64_t digit,
                                       std::uint64_t level, const std::uint64_t *targets,
                                       std::uint64_t num_targets,
                                       std::uint64_t *const *outs) const {
    const u64 N = degree_;
    const u64 alpha = primes_per_digit_;
    const u64 m0 = digit * alpha;
    const u64 m1 = std::min(m0 + alpha, level + 1);
    const u64 count = m1 - m0;

    if (alpha == 1) {
        const u64 q = moduli_[m0].getPrime();
        for (u64 k = 0; k < num_targets; ++k)
            moduli_[targets[k]].normalizeModVector(outs[k], t + m0 * N, q, N);
        return;
    }

    const DeviceSpecificArray2D<u64> &hat = getDigitHatModQP();
    std::vector<const std::int64_t *> sources(count);
    u64 largest = 0;
    for (u64 m = m0; m < m1; ++m) {
        sources[m - m0] = reinterpret_cast<const std::int64_t *>(t + m * N);
        largest = std::max(largest, moduli_[m].getPrime());
    }
    std::vector<std::int64_t> factors(num_targets * count);
    std::vector<kk::ConversionTarget> conversion(num_targets);
    for (u64 k = 0; k < num_targets; ++k) {
        const u64 j = targets[k];
        for (u64 m = m0; m < m1; ++m)
            factors[k * count + (m - m0)] = static_cast<std::int64_t>(hat.at(m, j));
        conversion[k] = {factors.data() + k * count, fold_[j], fold_bias_[j], outs[k]};
    }
    const u64 block = std::min(kBlock, N);
    for (u64 b = 0; b < N; b += block)
        kk::convertBlock(sources.data(), count, largest / 2 + 1, conversion.data(),
                         conversion.size(), terms_per_fold_, b, std::min(block, N - b));
}

void FastBaseConv::prepareSource(const std::uint64_t *in, std::uint64_t m, bool in_ntt,
                                 const std::uint64_t *factors, std::uint64_t *tm) const {
    // t_m = [a_m f_m (Q_d / q_m)^-1]_{q_m} in coefficient form. Both
    // constants are applied as one, and for an NTT-form input by the inverse
    // transform's last stage: the residues are exact, so
    // (a f mod q) h mod q = a (f h mod q) mod q whatever the order.
    const u64 N = degree_;
    const u64 q = moduli_[m].getPrime();
    const u64 f = factors == nullptr ? 1 : factors[m];
    const u64 c = primes_per_digit_ == 1 ? f : mulMod(f, getDigitHatInvModQ()[m], q);
    if (in_ntt) {
        std::memcpy(tm, in, N * sizeof(u64));
        if (c == 1)
            moduli_[m].getNTT()->computeBackward<1>(tm);
        else
            moduli_[m].getNTT()->computeBackwardScaled(tm, c);
    } else if (c == 1) {
        std::memcpy(tm, in, N * sizeof(u64));
    } else {
        moduli_[m].constMult<1>(in, c, tm, N);
    }
    // The conversion reads centred values (signed words); one-prime digits
    // keep residues for normalizeModVector.
    if (primes_per_digit_ != 1)
        kk::centredLift(tm, q, N);
}

void FastBaseConv::modUpLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                              std::uint64_t *const *outs) const {
    modUpLimbs(in, level, in_ntt, nullptr, outs);
}

void FastBaseConv::modUpLimbs(const std::uint64_t *in, std::uint64_t level, bool in_ntt,
                              const std::uint64_t *factors, std::uint64_t *const *outs) const {
    const u64 L = num_base_primes_;
    const u64 LK = num_all_primes_;
    if (level >= L)
        throw RuntimeException(kLevelMessage);
    const u64 N = degree_;
    const u64 alpha = primes_per_digit_;
    const u64 D = getNumDigits(level);

    for (u64 d = 0; d < D; ++d) {
        u64 *out = outs[d];
        const u64 m0 = d * alpha;
        const u64 digit_end = std::min(m0 + alpha, L);
        const u64 m1 = std::min(digit_end, level + 1);
        // t_m = [a_m (Q_d / q_m)^-1]_{q_m} in coefficient form, held in the
        // digit's own limbs of the output until the input replaces them.
        for (u64 m = m0; m < m1; ++m)
            prepareSource(in + m * N, m, in_ntt, factors, out + m * N);
        convertDigit(out, d, level, out);
        for (u64 j = 0; j <= level; ++j)
            if (j < m0 || j >= digit_end)
                moduli_[j].getNTT()->computeForward<1>(out + j * N);
        for (u64 j = L; j < LK; ++j)
            moduli_[j].getNTT()->computeForward<1>(out + j * N);
        // The digit's own limbs are the input's (times the factors).
        for (u64 m = m0; m < m1; ++m) {
            if (factors == nullptr)
                std::memcpy(out + m * N, in + m * N, N * sizeof(u64));
            else
                moduli_[m].constMult<1>(in + m * N, factors[m], out + m * N, N);
            if (!in_ntt)
                moduli_[m].getNTT()->computeForward<1>(out + m * N);
        }
    }
}

void FastBaseConv::modDownLimbs(const std::uint64_t *in, std::uint64_t level, std::uint64_t *out,
                                bool ntt) const {
    if (level >= num_base_primes_)
        throw RuntimeException(kLevelMessage);
    DeviceSpecificArray<u64> scratch(modDownScratchWords(ntt));
    modDownWithScratch(in, level, out, ntt, scratch.getData());
}

void FastBaseConv::modDownLimbs(const std::uint64_t *in, std::uint64_t level, std::uint64_t *out,
                                bool ntt, std::uint64_t *scratch) const {
    if (level >= num_base_primes_)
        throw RuntimeException(kLevelMessage);
    modDownWithScratch(in, level, out, ntt, scratch);
}

std::uint64_t FastBaseConv::modDownScratchWords(bool ntt) const {
    return (num_all_primes_ - num_base_primes_ + (ntt ? 0 : 1)) * degree_;
}

void FastBaseConv::prepareTemporary(const std::uint64_t *temporary, std::uint64_t *T) const {
    // T_m = [a_{L+m} (P / p_m)^-1]_{p_m} in coefficient form (centred when
    // several temporary primes are combined).
    const u64 L = num_base_primes_;
    const u64 K = num_all_primes_ - L;
    const u64 N = degree_;
    const DeviceSpecificArray<u64> &p_hat_inv = getPHatInvModP();
    for (u64 m = 0; m < K; ++m) {
        u64 *tm = T + m * N;
        if (tm != temporary + m * N)
            std::memcpy(tm, temporary + m * N, N * sizeof(u64));
        const Modulus &modulus = moduli_[L + m];
        if (K == 1) {
            modulus.getNTT()->computeBackward<1>(tm);
            continue;
        }
        // The factor joins the transform's last stage: the residues are
        // exact, so the words are those of the transform and a product after.
        modulus.getNTT()->computeBackwardScaled(tm, p_hat_inv[m] % modulus.getPrime());
        kk::centredLift(tm, modulus.getPrime(), N);
    }
}

void FastBaseConv::convertTemporary(const std::uint64_t *T, const std::uint64_t *targets,
                                    std::uint64_t num_targets, std::uint64_t *const *outs,
                                    const std::int64_t *lifted) const {
    const u64 L = num_base_primes_;
    const u64 K = num_all_primes_ - L;
    const u64 N = degree_;
    if (K == 1) {
        const u64 p0 = moduli_[L].getPrime();
        for (u64 k = 0; k < num_targets; ++k)
            moduli_[targets[k]].normalizeModVector(outs[k], T, p0, N);
        return;
    }
    // The lifted source, when given, is one more term with the factor P.
    const u64 count = lifted != nullptr ? K + 1 : K;
    const DeviceSpecificArray2D<u64> &p_hat = getPHatModQ();
    std::vector<const std::int64_t *> sources(count);
    u64 largest = 0;
    for (u64 m = 0; m < K; ++m) {
        sources[m] = reinterpret_cast<const std::int64_t *>(T + m * N);
        largest = std::max(largest, moduli_[L + m].getPrime());
    }
    // The lifted source is a centred limb of a base prime.
    if (lifted != nullptr) {
        sources[K] = lifted;
        for (u64 i = 0; i < L; ++i)
            largest = std::max(largest, moduli_[i].getPrime());
    }
    std::vector<std::int64_t> factors(num_targets * count);
    std::vector<kk::ConversionTarget> conversion(num_targets);
    for (u64 k = 0; k < num_targets; ++k) {
        const u64 i = targets[k];
        for (u64 m = 0; m < K; ++m)
            factors[k * count + m] = static_cast<std::int64_t>(p_hat.at(m, i));
        if (lifted != nullptr)
            factors[k * count + K] = static_cast<std::int64_t>(p_mod_q_[i]);
        conversion[k] = {factors.data() + k * count, fold_[i], fold_bias_[i], outs[k]};
    }
    const u64 block = std::min(kBlock, N);
    for (u64 b = 0; b < N; b += block)
        kk::convertBlock(sources.data(), count, largest / 2 + 1, conversion.data(),
                         conversion.size(), terms_per_fold_, b, std::min(block, N - b));
}

void FastBaseConv::modDownWithScratch(const std::uint64_t *in, std::uint64_t level,
                                      std::uint64_t *out, bool ntt, std::uint64_t *scratch) const {
    const u64 L = num_base_primes_;
    const u64 LK = num_all_primes_;
    const u64 K = LK - L;
    const u64 N = degree_;
    const DeviceSpecificArray<u64> &p_inv = getPInvModQ();

    // T_m in coefficient form; one more limb holds a base limb in
    // coefficient form when the output wants that.
    u64 *T = scratch;
    prepareTemporary(in + L * N, T);

    // C_i = X mod q_i, written into the output limbs block by block.
    std::vector<u64> targets(level + 1);
    std::vector<u64 *> outs(level + 1);
    for (u64 i = 0; i <= level; ++i) {
        targets[i] = i;
        outs[i] = out + i * N;
    }
    convertTemporary(T, targets.data(), targets.size(), outs.data());

    u64 *base = ntt ? nullptr : T + K * N;
    for (u64 i = 0; i <= level; ++i) {
        const Modulus &modulus = moduli_[i];
        u64 *c = out + i * N;
        const u64 *b = in + i * N;
        if (ntt) {
            modulus.getNTT()->computeForward<1>(c);
        } else {
            const u64 q = modulus.getPrime();
            for (u64 k = 0; k < N; ++k)
                c[k] = kk::reduceOnce(kk::reduceOnce(c[k], 2 * q), q);
            std::memcpy(base, b, N * sizeof(u64));
            modulus.getNTT()->computeBackward<1>(base);
            b = base;
        }
        modulus.subAndConstMult<1>(b, c, p_inv[i], c, N);
    }
}

} // namespace Quelt
