#include "arith/NTT.hpp"

#include "arith/NTTKernels.hpp"
#include "arith/NumberTheoryUtils.hpp"

#include <string>
#include <vector>

namespace Quelt {

namespace {

using utils::mulMod;
using utils::powMod;

using word::shoupCompanion;
using word::shoupReduced;

u64 reverseBits(u64 i, unsigned bits) {
    u64 r = 0;
    for (unsigned b = 0; b < bits; ++b, i >>= 1)
        r = (r << 1) | (i & 1);
    return r;
}

unsigned log2Exact(u64 n) {
    unsigned l = 0;
    while ((u64{1} << l) < n)
        ++l;
    return l;
}

} // namespace

NTT::NTT(std::uint64_t N, std::uint64_t p, NttType type)
    : prime_(p), twice_prime_(2 * p), degree_(N), type_(type) {
    // p must be 1 modulo 2M with M = N (type 0) or 2N (types 1 and 2). 2M is
    // formed in 128 bits so that huge degrees cannot wrap; for N = 0 there is
    // no order to test and the degree check below answers. p must also be a
    // prime (the root and the inverses rely on it) below 2^62, so that the
    // lazily reduced values below 4p fit in a word.
    const u128 two_m = static_cast<u128>(N) * (type == NttType::NEGACYCLIC ? 2 : 4);
    if (p >= (u64{1} << 62) || !utils::isPrime(p) || (two_m != 0 && p % two_m != 1))
        throw RuntimeException("The modulus " + std::to_string(p) + " is not NTT-friendly.");
    if (N == 0 || (N & (N - 1)) != 0)
        throw RuntimeException("[NTT] degree must be a power of two.");

    // Allocated only once the arguments are known to be sound.
    forward_ = DeviceSpecificArray<u64>(N);
    inverse_ = DeviceSpecificArray<u64>(N);
    forward_companions_ = DeviceSpecificArray<u64>(N);
    inverse_companions_ = DeviceSpecificArray<u64>(N);

    const u64 M = static_cast<u64>(two_m / 2);
    const u64 g = utils::findPrimitiveRoot(p);
    const u64 w = 2 * M > p - 1 ? 1 : powMod(g, (p - 1) / (2 * M), p);

    // Smallest of the odd powers w, w^3, ..., w^(2M-1): the smallest primitive
    // 2M-th root of unity, whatever primitive root g was found.
    u64 psi = w;
    {
        const u64 w2 = mulMod(w, w, p);
        u64 current = w;
        for (u64 i = 1; i < M; ++i) {
            current = mulMod(current, w2, p);
            if (current < psi)
                psi = current;
        }
    }
    if (type == NttType::NEGACYCLIC_SQUARE_4N)
        psi = mulMod(psi, psi, p);
    root_ = psi;

    const unsigned log_n = log2Exact(N);
    std::vector<u64> inverse_order(N); // V' in transform order

    if (type != NttType::CONJUGATE_INVARIANT) {
        const u64 psi_inv = powMod(psi, p - 2, p);
        const u64 psi_c = shoupCompanion(psi, p);
        const u64 psi_inv_c = shoupCompanion(psi_inv, p);
        u64 power = 1, inverse_power = 1;
        for (u64 i = 0; i < N; ++i) {
            const u64 r = reverseBits(i, log_n);
            forward_[r] = power;
            inverse_order[r] = inverse_power;
            power = shoupReduced(power, psi, psi_c, p);
            inverse_power = shoupReduced(inverse_power, psi_inv, psi_inv_c, p);
        }
    } else {
        // psi is a primitive 4N-th root: psi^(2N) = -1, omega = psi^4.
        std::vector<u64> powers(2 * N + 1);
        powers[0] = 1;
        for (u64 j = 1; j <= 2 * N; ++j)
            powers[j] = mulMod(powers[j - 1], psi, p);
        twist_ = DeviceSpecificArray<u64>(N);
        inverse_twist_ = DeviceSpecificArray<u64>(N + 1);
        twist_companions_ = DeviceSpecificArray<u64>(N);
        inverse_twist_companions_ = DeviceSpecificArray<u64>(N + 1);
        for (u64 j = 0; j < N; ++j)
            twist_[j] = powers[j];
        inverse_twist_[0] = 1;
        for (u64 j = 1; j <= N; ++j)
            inverse_twist_[j] = p - powers[2 * N - j];

        const u64 half = N / 2;
        const unsigned log_half = log_n == 0 ? 0 : log_n - 1;
        forward_[0] = 1;
        inverse_order[0] = 1;
        for (u64 j = 0; j < half; ++j) {
            const u64 r = reverseBits(j, log_half);
            forward_[half + r] = powers[4 * j];                  // omega^j
            inverse_order[half + r] = p - powers[2 * N - 4 * j]; // omega^-j
        }
        for (u64 L = N / 4; L >= 1; L /= 2) {
            for (u64 i = 0; i < L; ++i) {
                forward_[L + i] = forward_[half + i];
                inverse_order[L + i] = inverse_order[half + i];
            }
        }
        for (u64 j = 0; j < N; ++j)
            twist_companions_[j] = shoupCompanion(twist_[j], p);
        for (u64 j = 0; j <= N; ++j)
            inverse_twist_companions_[j] = shoupCompanion(inverse_twist_[j], p);
    }

    // Inverse twiddles in the order the inverse stages read them.
    inverse_[0] = inverse_order[0];
    u64 position = 1;
    for (u64 m = N / 2; m >= 1; m /= 2)
        for (u64 i = 0; i < m; ++i)
            inverse_[position++] = inverse_order[m + i];

    for (u64 i = 0; i < N; ++i) {
        forward_companions_[i] = shoupCompanion(forward_[i], p);
        inverse_companions_[i] = shoupCompanion(inverse_[i], p);
    }
    degree_inverse_ = powMod(N % p, p - 2, p);
    degree_inverse_companion_ = shoupCompanion(degree_inverse_, p);
    last_twiddle_ = mulMod(degree_inverse_, inverse_[N - 1], p);
    last_twiddle_companion_ = shoupCompanion(last_twiddle_, p);
}

} // namespace Quelt

namespace Quelt {

namespace {
ntt_kernels::Tables tablesOf(const NTT &ntt) {
    return {ntt.getForwardTwiddles().getData(),
            ntt.getForwardTwiddleCompanions().getData(),
            ntt.getInverseTwiddles().getData(),
            ntt.getInverseTwiddleCompanions().getData(),
            ntt.getDegree(),
            ntt.getPrime(),
            ntt.getDegreeInverse(),
            ntt.getDegreeInverseCompanion(),
            ntt.getLastTwiddle(),
            ntt.getLastTwiddleCompanion()};
}

ntt_kernels::Twists twistsOf(const NTT &ntt) {
    return {ntt.getTwistPowers().getData(),
            ntt.getTwistCompanions().getData(),
            ntt.getInverseTwistPowers().getData(),
            ntt.getInverseTwistCompanions().getData(),
            ntt.getDegree(),
            ntt.getPrime()};
}

// The twist tables exist for type 2 only.
constexpr const char *kTwistNeedsType2 =
    "[NTT] conversion and inversion exist only for the conjugate-invariant type.";

// x + q less 2p when at least 2p, for x < 4p and q < 2p. The sum itself can
// pass 2^64 for primes close to 2^62, so 2p is taken off x first when x is
// already that large; the value is the same whenever the plain sum fits.
inline u64 twistSum(u64 x, u64 q, u64 p2) {
    if (x >= p2)
        return (x - p2) + q;
    const u64 s = x + q;
    return word::reduceOnce(s, p2);
}
} // namespace

template <int K>
requires(K == 1 || K == 2 || K == 4) void NTT::computeForward(std::uint64_t *a) const {
    if (type_ == NttType::CONJUGATE_INVARIANT)
        conversion(a, a);
    ntt_kernels::forward(a, tablesOf(*this), K);
}

void NTT::computeForwardSubScale(std::uint64_t *a, const std::uint64_t *b, std::uint64_t factor,
                                 std::uint64_t *out) const {
    if (type_ == NttType::CONJUGATE_INVARIANT)
        conversion(a, a);
    ntt_kernels::forwardSubScale(a, tablesOf(*this),
                                 {b, factor, shoupCompanion(factor, prime_), out});
}

void NTT::computeBackwardScaled(std::uint64_t *a, std::uint64_t factor) const {
    if (degree_ < 2) {
        // No last stage to carry the factor.
        computeBackward<1>(a);
        for (u64 i = 0; i < degree_; ++i)
            a[i] = mulMod(a[i], factor, prime_);
        return;
    }
    // The transform is linear and every word it returns lies below p, so
    // scaling the last stage's constants gives the words of scaling first.
    ntt_kernels::Tables t = tablesOf(*this);
    t.degree_inverse = mulMod(degree_inverse_, factor, prime_);
    t.degree_inverse_companion = shoupCompanion(t.degree_inverse, prime_);
    t.last_twiddle = mulMod(last_twiddle_, factor, prime_);
    t.last_twiddle_companion = shoupCompanion(t.last_twiddle, prime_);
    ntt_kernels::backward(a, t, 1);
    if (type_ == NttType::CONJUGATE_INVARIANT)
        inversion(a, a);
}

template <int K>
requires(K == 1 || K == 2) void NTT::computeBackward(std::uint64_t *a) const {
    ntt_kernels::backward(a, tablesOf(*this), K);
    if (type_ == NttType::CONJUGATE_INVARIANT)
        inversion(a, a);
}

template void NTT::computeForward<1>(std::uint64_t *) const;
template void NTT::computeForward<2>(std::uint64_t *) const;
template void NTT::computeForward<4>(std::uint64_t *) const;
template void NTT::computeBackward<1>(std::uint64_t *) const;
template void NTT::computeBackward<2>(std::uint64_t *) const;

void NTT::computeForwardNativeSingleStep(std::uint64_t *a, std::uint64_t t) const {
    ntt_kernels::forwardStage(a, tablesOf(*this), t);
}

void NTT::computeBackwardNativeSingleStep(std::uint64_t *a, std::uint64_t t) const {
    ntt_kernels::backwardStage(a, tablesOf(*this), t);
}

void NTT::computeBackwardNativeLast(std::uint64_t *a) const {
    ntt_kernels::backwardLast(a, tablesOf(*this));
}

void NTT::conversion(const std::uint64_t *in, std::uint64_t *out) const {
    using ntt_kernels::shoup;
    if (type_ != NttType::CONJUGATE_INVARIANT)
        throw RuntimeException(kTwistNeedsType2);
    if (ntt_kernels::conversionVector(in, out, twistsOf(*this)))
        return;
    const u64 N = degree_, p = prime_, p2 = twice_prime_;
    const u64 *psi = twist_.getData(), *psi_c = twist_companions_.getData();
    const u64 c = inverse_twist_[N], cc = inverse_twist_companions_[N]; // psi^-N
    out[0] = in[0];
    // Positions i and N - i read each other, so both are formed before either
    // is written.
    for (u64 i = 1; i <= N / 2; ++i) {
        const u64 j = N - i;
        const u64 xi = in[i], xj = in[j];
        const u64 si = twistSum(xi, shoup(xj, c, cc, p), p2);
        const u64 sj = twistSum(xj, shoup(xi, c, cc, p), p2);
        out[i] = shoup(si, psi[i], psi_c[i], p);
        if (j != i)
            out[j] = shoup(sj, psi[j], psi_c[j], p);
    }
}

void NTT::inversion(const std::uint64_t *in, std::uint64_t *out) const {
    using ntt_kernels::shoup;
    if (type_ != NttType::CONJUGATE_INVARIANT)
        throw RuntimeException(kTwistNeedsType2);
    if (ntt_kernels::inversionVector(in, out, twistsOf(*this)))
        return;
    const u64 N = degree_, p = prime_, p2 = twice_prime_;
    const u64 *psi = twist_.getData(), *psi_c = twist_companions_.getData();
    const u64 *ipsi = inverse_twist_.getData(), *ipsi_c = inverse_twist_companions_.getData();
    auto halve = [p, p2](u64 s) {
        s = word::reduceOnce(s, p2);
        s = word::reduceOnce(s, p);
        return (s & 1) ? (s + p) / 2 : s / 2; // s + p < 2^63: no overflow
    };
    out[0] = in[0];
    for (u64 i = 1; i <= N / 2; ++i) {
        const u64 j = N - i;
        const u64 xi = in[i], xj = in[j];
        const u64 si = shoup(xi, ipsi[i], ipsi_c[i], p) + shoup(xj, psi[i], psi_c[i], p);
        const u64 sj = shoup(xj, ipsi[j], ipsi_c[j], p) + shoup(xi, psi[j], psi_c[j], p);
        out[i] = halve(si);
        if (j != i)
            out[j] = halve(sj);
    }
}

bool sharesEvaluationPoints(const NTT &small, const NTT &big) {
    const auto negacyclic = [](NttType t) {
        return t == NttType::NEGACYCLIC || t == NttType::NEGACYCLIC_SQUARE_4N;
    };
    const std::uint64_t n = small.getDegree();
    const std::uint64_t N = big.getDegree();
    if (small.getPrime() != big.getPrime() || !negacyclic(small.getType()) ||
        !negacyclic(big.getType()) || n == 0 || N < n || N % n != 0)
        return false;
    return small.getRoot() == utils::powMod(big.getRoot(), N / n, big.getPrime());
}

} // namespace Quelt
