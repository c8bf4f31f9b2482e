// Residue encoding of scaled real values and signed integer coefficients,
// and the two level-0 roundings of the base prime.

#include "arith/PrimeModuli.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace Quelt {

using u64 = std::uint64_t;
using i128 = __int128;
using u128 = unsigned __int128;

namespace {

constexpr const char *kPolyVectorSizeMessage =
    "[coefficientsToPolyVector] Input slot size should be equal to the dimension of the "
    "polynomial vector.";
constexpr const char *kLevelledVectorSizeMessage =
    "[coefficientsToLevelledVector] Input slot size should be equal to the dimension of "
    "levelled vector.";
constexpr const char *kEmbeddingGpuMessage = "[embeddingToN] not yet implemented on GPU";
constexpr const char *kDiscretizeShiftMessage =
    "[discretize] The number of bits should be between 1 and 64.";
constexpr const char *kSwitchModulusMessage =
    "[baseModulusSwitch] The target modulus should be at least 1 and the count should fit "
    "both polynomials.";

// Half away from zero into a signed 128-bit integer. The caller has checked
// that x is finite and below 2^126 in magnitude.
i128 roundScaled(double x) { return static_cast<i128>(x > 0 ? x + 0.5 : x - 0.5); }

bool fitsScaled(double x) { return std::isfinite(x) && std::fabs(x) < 0x1p126; }

// z mod q in [0, q) for a signed 128-bit z: the magnitude h 2^64 + l is
// reduced as (h mod q) (2^64 mod q) + (l mod q).
u64 residue(const Modulus &modulus, i128 z) {
    const u128 magnitude =
        z < 0 ? static_cast<u128>(0) - static_cast<u128>(z) : static_cast<u128>(z);
    const u64 high = modulus.barrettProduct(modulus.reduceWord(static_cast<u64>(magnitude >> 64)),
                                            modulus.getWordResidue());
    const u64 low = modulus.reduceWord(static_cast<u64>(magnitude));
    u64 r = 0;
    modulus.addVector(&r, &high, &low, 1);
    return (z < 0 && r != 0) ? modulus.getPrime() - r : r;
}

// A signed 32-bit coefficient modulo q, for primes of any size.
u64 residue(const Modulus &modulus, int c) {
    if (c >= 0)
        return modulus.reduceWord(static_cast<u64>(c));
    const u64 r = modulus.reduceWord(static_cast<u64>(-static_cast<std::int64_t>(c)));
    return r == 0 ? 0 : modulus.getPrime() - r;
}

} // namespace

void PrimeModuli::embeddingToN(const Message &msg, double scale, Polynomial &out,
                               bool extended) const {
    const Device device = getCommonDeviceAndCheck({&msg.getDevice(), &out.getDevice()});
    dispatch(device, "embeddingToNCUDA", "embeddingToN");
    const u64 n = msg.getSize();
    const u64 half = degree_ / 2;
    if (n == 0 || !std::has_single_bit(n) || n > half)
        throw RuntimeException(kEmbeddingCountMessage);
    checkOperand(out);
    std::vector<i128> rounded(2 * n);
    for (u64 k = 0; k < n; ++k) {
        const double re = scale * msg[k].real();
        const double im = scale * msg[k].imag();
        if (!fitsScaled(re) || !fitsScaled(im))
            throw RuntimeException(kEmbeddingValueMessage);
        rounded[k] = roundScaled(re);
        rounded[n + k] = roundScaled(im);
    }
    out.setNTT(false);
    const u64 gap = half / n;
    // The extended walk of a mod-up output zeroes its whole array, so the
    // limbs between the level and the chain length read 0 afterwards; a plain
    // output's array ends at its level.
    const bool temporary = extended && out.isModUp();
    const u64 zeroed = temporary ? out.getSize() : out.getLevel() + 1;
    std::memset(out.getLimb(0), 0, zeroed * degree_ * sizeof(u64));
    auto write_limb = [&](u64 i) {
        u64 *limb = out.getLimb(i);
        for (u64 t = 0; t < 2 * n; ++t)
            limb[t * gap] = residue(moduli_[i], rounded[t]);
    };
    for (u64 i = 0; i <= out.getLevel(); ++i)
        write_limb(i);
    if (temporary)
        for (u64 i = out.getChainLength(); i < out.getSize(); ++i)
            write_limb(i);
}

void PrimeModuli::embeddingToN(const double *values, u64 n, double scale, Polynomial &out) const {
    const Device device = out.getDevice();
    if (device.type == Device::kCuda)
        throw RuntimeException(kEmbeddingGpuMessage);
    dispatch(device, "embeddingToNCUDA", "embeddingToN");
    const u64 degree = out.getDegree();
    if (n == 0 || degree % n != 0)
        throw RuntimeException(kEmbeddingDivisorMessage);
    checkOperand(out);
    std::vector<i128> rounded(n);
    for (u64 k = 0; k < n; ++k) {
        const double x = scale * values[k];
        if (!fitsScaled(x))
            throw RuntimeException(kEmbeddingValueMessage);
        rounded[k] = roundScaled(x);
    }
    out.setNTT(false);
    const u64 gap = degree / n;
    for (u64 i = 0; i <= out.getLevel(); ++i) {
        u64 *limb = out.getLimb(i);
        std::memset(limb, 0, degree * sizeof(u64));
        for (u64 k = 0; k < n; ++k)
            limb[k * gap] = residue(moduli_[i], rounded[k]);
    }
}

void PrimeModuli::coefficientsToPolyVector(const DeviceSpecificArray<int> &coeffs,
                                           PolynomialVector &out) const {
    const u64 m = out.getSize();
    if (m == 0)
        throw RuntimeException(kPolyVectorSizeMessage);
    const u64 n = out.getPoly(0).getDegree();
    if (coeffs.size() != m * n || n == 0)
        throw RuntimeException(kPolyVectorSizeMessage);
    if (coeffs.getDevice().type != Device::kHost)
        throw RuntimeException(kDifferentDevicesMessage);
    for (u64 p = 0; p < m; ++p) {
        const Polynomial &poly = out.getPoly(p);
        checkOperand(poly);
        if (poly.getDegree() != n)
            throw RuntimeException(kShapeMismatchMessage);
        for (u64 i = 0; i <= poly.getTopIndex(); ++i)
            if (!moduli_[i].getNTT())
                throw RuntimeException(kShapeMismatchMessage);
        dispatch(poly.getDevice(), "execNttBatch", "coefficientsToPolyVector");
    }
    const int *values = coeffs.getData();
    for (u64 p = 0; p < m; ++p) {
        Polynomial &poly = out.getPoly(p);
        poly.setNTT(false);
        const u64 top = poly.getTopIndex();
        for (u64 i = 0; i <= top; ++i) {
            u64 *limb = poly.getLimb(i);
            for (u64 j = 0; j < n; ++j)
                limb[j] = residue(moduli_[i], values[p * n + j]);
        }
        forwardNTT<OutputModulusBoundValidator, 1>(poly, poly, {0, top + 1});
    }
}

void PrimeModuli::coefficientsToLevelledVector(const DeviceSpecificArray<int> &coeffs,
                                               LevelledVector &out) const {
    const u64 n = out.getDimension();
    if (coeffs.size() != n || n == 0)
        throw RuntimeException(kLevelledVectorSizeMessage);
    if (coeffs.getDevice().type != Device::kHost)
        throw RuntimeException(kDifferentDevicesMessage);
    const u64 level = out.getLevel();
    if (level >= moduli_.size() || out.getData().size() / n <= level)
        throw RuntimeException(kShapeMismatchMessage);
    dispatch(out.getDevice(), "coefficientsToLevelledVector", "coefficientsToLevelledVector");
    const int *values = coeffs.getData();
    for (u64 i = 0; i <= level; ++i) {
        u64 *limb = out.getLimb(i);
        for (u64 j = 0; j < n; ++j)
            limb[j] = residue(moduli_[i], values[j]);
    }
}

void PrimeModuli::discretize(Polynomial &p, const std::shared_ptr<ContextContent> &ctx,
                             u64 s) const {
    if (p.getLevel() != 0)
        throw RuntimeException(kLevelZeroMessage);
    if (p.isNTT())
        throw RuntimeException(kNotInNTTMessage);
    dispatch(p.getDevice(), "discretizeCUDA", "discretize");
    if (s == 0 || s > 64)
        throw RuntimeException(kDiscretizeShiftMessage);
    checkOperand(p);
    const u64 n = Quelt::getDegree(ctx);
    if (n != degree_)
        throw RuntimeException(kShapeMismatchMessage);
    const u64 q = moduli_[0].getPrime();
    const u128 half_q = q / 2;
    const u128 half_step = static_cast<u128>(1) << (s - 1);
    u64 *limb = p.getLimb(0);
    for (u64 j = 0; j < n; ++j) {
        // c 2^s rounded to a multiple m q of q, then m q / 2^s rounded: at
        // most q, which is stored as 0.
        const u128 w = (static_cast<u128>(limb[j]) << s) + half_q;
        const u128 u = w - w % q + half_step;
        const u64 c = static_cast<u64>(u >> s);
        limb[j] = c >= q ? c - q : c;
    }
}

void PrimeModuli::baseModulusSwitch(const Polynomial &in, u64 n, u64 t, Polynomial &out) const {
    if (in.getLevel() != 0)
        throw RuntimeException(kLevelZeroMessage);
    if (in.isNTT())
        throw RuntimeException(kNotInNTTMessage);
    const Device device = in.getDevice();
    dispatch(device, "baseModulusSwitchCUDA", "baseModulusSwitch");
    checkOperand(in);
    if (t == 0 || n > degree_ || n > out.getData().size())
        throw RuntimeException(kSwitchModulusMessage);
    out.allocate(device);
    const u64 q = moduli_[0].getPrime();
    const u64 *src = in.getLimb(0);
    u64 *dst = out.getData().getData();
    for (u64 j = 0; j < n; ++j) {
        // At most t, reached only when in[j] rounds up to q, that is to 0.
        const u64 v = static_cast<u64>((static_cast<u128>(src[j]) * t + q / 2) / q);
        dst[j] = v >= t ? v - t : v;
    }
    out.setNTT(false);
}

} // namespace Quelt
