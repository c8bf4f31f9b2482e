// Residue encoding of scaled real values and signed integer coefficients, the
// factors and the centred lift that encoders and decoders need, and the two
// level-0 roundings of the base prime.

#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliDetail.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "arith/NTT.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

namespace Quelt {

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

// Half away from zero (x + 0.5 truncated above zero, x - 0.5 otherwise) into
// T. The caller has checked that x is finite and fits T.
template <typename T>
T roundScaled(double x) {
    return static_cast<T>(x > 0 ? x + 0.5 : x - 0.5);
}

bool fitsScaled(double x) { return std::isfinite(x) && std::fabs(x) < 0x1p126; }

// z mod q in [0, q) for a signed 128-bit z: its magnitude reduced by the
// fold, negated for a negative z.
u64 residue(const Modulus &modulus, i128 z) {
    const u128 magnitude =
        z < 0 ? static_cast<u128>(0) - static_cast<u128>(z) : static_cast<u128>(z);
    const u64 r = word::reduceWide(magnitude, modulus.getFoldConstants());
    return (z < 0 && r != 0) ? modulus.getPrime() - r : r;
}

// A signed 32-bit coefficient modulo q, for primes of any size.
u64 residue(const Modulus &modulus, int c) {
    return word::signedResidue(c, modulus.getPrime(), modulus.getWordQuotient());
}

// The scaled values of one embedding, rounded once and then written into
// every limb. Values below 2^63 in magnitude (all of them, in any sensible
// encoding) are kept in 64 bits, so that a limb costs one word reduction or
// Shoup product per value, or a conditional addition when they are also
// below the prime; a larger value sends the whole set through the 128-bit
// reduction.
class RoundedValues {
public:
    // value(k) for k < count is the unscaled value k. Throws
    // kEmbeddingValueMessage, before anything is written anywhere, when a
    // scaled value is not finite or not below 2^126 in magnitude.
    template <typename Value>
    RoundedValues(u64 count, double scale, Value value) : narrow_(count) {
        bool wide = false;
        for (u64 k = 0; k < count; ++k) {
            const double x = scale * value(k);
            if (!fitsScaled(x))
                throw RuntimeException(PrimeModuli::kEmbeddingValueMessage);
            if (std::fabs(x) < 0x1p63) {
                const auto r = roundScaled<std::int64_t>(x);
                narrow_[k] = r;
                bound_ =
                    std::max(bound_, r < 0 ? u64{0} - static_cast<u64>(r) : static_cast<u64>(r));
            } else {
                wide = true;
            }
        }
        if (wide) {
            wide_.resize(count);
            for (u64 k = 0; k < count; ++k)
                wide_[k] = roundScaled<i128>(scale * value(k));
        }
    }

    // Limb of N = degree words: zero, then value k times factor (mod the
    // limb's prime) at coefficient k * gap.
    void writeLimb(const Modulus &modulus, u64 factor, u64 *limb, u64 degree, u64 gap) const {
        // With gap 1 every coefficient is written below.
        if (gap != 1)
            std::memset(limb, 0, degree * sizeof(u64));
        const u64 count = narrow_.size();
        if (wide_.empty()) {
            modulus.signedConstMult(narrow_.data(), bound_, factor, limb, count, gap);
            return;
        }
        const u64 w = modulus.reduceWord(factor);
        for (u64 k = 0; k < count; ++k)
            limb[k * gap] = modulus.barrettProduct(residue(modulus, wide_[k]), w);
    }

private:
    std::vector<std::int64_t> narrow_;
    std::vector<i128> wide_;
    // Largest magnitude among the narrow values.
    u64 bound_ = 0;
};

} // namespace

void PrimeModuli::embeddingToN(const Message &msg, double scale, Polynomial &out, bool extended,
                               const u64 *factors) const {
    const Device device = getCommonDeviceAndCheck({&msg.getDevice(), &out.getDevice()});
    dispatch(device, "embeddingToNCUDA", "embeddingToN");
    const u64 n = msg.getSize();
    const u64 half = degree_ / 2;
    if (n == 0 || !std::has_single_bit(n) || n > half)
        throw RuntimeException(kEmbeddingCountMessage);
    checkOperand(out);
    // Real parts first, then imaginary parts: value t lands at t * gap, and
    // n * gap = N/2.
    const std::complex<double> *slots = msg.begin();
    const RoundedValues rounded(
        2 * n, scale, [slots, n](u64 t) { return t < n ? slots[t].real() : slots[t - n].imag(); });
    out.setNTT(false);
    const u64 gap = half / n;
    // Every limb written below is zeroed by `writeLimb` first; the limbs
    // between the level and the chain length of an extended mod-up output are
    // cleared here, so that they read 0 afterwards. A plain output's array
    // ends at its level.
    const bool temporary = extended && out.isModUp();
    const u64 first_skipped = out.getLevel() + 1;
    if (temporary && out.getChainLength() > first_skipped)
        std::memset(out.getLimb(first_skipped), 0,
                    (out.getChainLength() - first_skipped) * degree_ * sizeof(u64));
    auto write_limb = [&](u64 i) {
        rounded.writeLimb(moduli_[i], factors ? factors[i] : 1, out.getLimb(i), degree_, gap);
    };
    for (u64 i = 0; i <= out.getLevel(); ++i)
        write_limb(i);
    if (temporary)
        for (u64 i = out.getChainLength(); i < out.getSize(); ++i)
            write_limb(i);
}

void PrimeModuli::embeddingToN(const double *values, u64 n, double scale, Polynomial &out,
                               const u64 *factors) const {
    const Device device = out.getDevice();
    if (isAccelerator(device))
        throw RuntimeException(kEmbeddingGpuMessage);
    dispatch(device, "embeddingToNCUDA", "embeddingToN");
    const u64 degree = out.getDegree();
    if (n == 0 || degree % n != 0)
        throw RuntimeException(kEmbeddingDivisorMessage);
    checkOperand(out);
    const RoundedValues rounded(n, scale, [values](u64 k) { return values[k]; });
    out.setNTT(false);
    const u64 gap = degree / n;
    for (u64 i = 0; i <= out.getLevel(); ++i)
        rounded.writeLimb(moduli_[i], factors ? factors[i] : 1, out.getLimb(i), degree, gap);
}

std::vector<u64> PrimeModuli::topPrimeProducts(u64 level, u64 count) const {
    if (level >= moduli_.size() || count > level)
        throw RuntimeException(kShapeMismatchMessage);
    std::vector<u64> products(level + 1);
    for (u64 i = 0; i <= level; ++i) {
        const Modulus &modulus = moduli_[i];
        u64 acc = 1;
        for (u64 j = level; j + count > level; --j)
            acc = modulus.barrettProduct(acc, modulus.reduceWord(moduli_[j].getPrime()));
        products[i] = acc;
    }
    return products;
}

void PrimeModuli::liftToReal(const Polynomial &p, u64 count, u64 stride, double *out) const {
    const Device device = p.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "liftToReal", "liftToReal");
    checkOperand(p);
    const u64 limbs = p.getLevel() == 0 ? 1 : 2;
    for (u64 i = 0; i < limbs; ++i)
        if (p.getPrimes().size() <= i || p.getPrime(i) != moduli_[i].getPrime() ||
            (p.isNTT() && !moduli_[i].getNTT()))
            throw RuntimeException(kShapeMismatchMessage);
    if (stride == 0 || (count > 0 && count - 1 > (degree_ - 1) / stride))
        throw RuntimeException(kShapeMismatchMessage);
    if (count == 0)
        return;

    // Only the limbs read are copied, and transformed when in NTT form.
    DeviceSpecificArray<u64> scratch(limbs * degree_);
    for (u64 i = 0; i < limbs; ++i) {
        u64 *limb = scratch.getData() + i * degree_;
        std::memcpy(limb, p.getLimb(i), degree_ * sizeof(u64));
        if (p.isNTT())
            moduli_[i].getNTT()->computeBackward<1>(limb);
    }
    const u64 *a0 = scratch.getData();
    if (limbs == 1) {
        const detail::CentredLift lift(moduli_[0]);
        for (u64 k = 0; k < count; ++k)
            out[k] = lift(a0[k * stride]);
        return;
    }
    const u64 *a1 = a0 + degree_;
    const detail::CentredLift lift(moduli_[0], moduli_[1]);
    for (u64 k = 0; k < count; ++k)
        out[k] = lift(a0[k * stride], a1[k * stride]);
}

double PrimeModuli::liftToReal(const LevelledElement &x) const {
    dispatch(x.getDevice(), "liftToReal", "liftToReal");
    detail::checkElement(x, moduli_.size());
    const u64 *r = x.getData().getData();
    if (x.getLevel() == 0)
        return detail::CentredLift(moduli_[0])(r[0]);
    return detail::CentredLift(moduli_[0], moduli_[1])(r[0], r[1]);
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
