// Transforms between coefficient and NTT form, rescaling and the centred
// lift of one limb into other primes.

#include "arith/PrimeModuli.hpp"

#include "Quelt/Exception.hpp"
#include "arith/NTT.hpp"
#include "context/Polynomial.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace Quelt {

namespace {

constexpr const char *kNoTransformMessage = "[PrimeModuli] A prime of the walk has no transform.";

// The form check of a transform: throws kNoTransformMessage unless every
// prime index i <= top with walked(i) has a transform.
template <typename Walked>
void checkTransforms(const std::vector<Modulus> &moduli, u64 top, Walked walked) {
    for (u64 i = 0; i <= top; ++i)
        if (walked(i) && !moduli[i].getNTT())
            throw RuntimeException(kNoTransformMessage);
}
constexpr const char *kGpuExpectedMessage = "GPU is expected";

} // namespace

// ---------------------------------------------------------------------------
// Transforms
// ---------------------------------------------------------------------------

namespace {

// Shared body of the two polynomial transforms: checks, shaping, and per
// accepted limb a copy (unless in place) followed by `transform`.
template <typename V, typename Transform>
void transformLimbs(const std::vector<Modulus> &moduli, u64 degree, const Polynomial &in,
                    Polynomial &out, V validator, Transform &&transform) {
    const u64 top = std::min(in.getTopIndex(), out.getTopIndex());
    for (u64 i = 0; i <= top; ++i) {
        if (!validator.validate(i))
            continue;
        u64 *limb = out.getLimb(i);
        if (limb != in.getLimb(i))
            std::memcpy(limb, in.getLimb(i), degree * sizeof(u64));
        transform(*moduli[i].getNTT(), limb);
    }
}

} // namespace

template <typename V, int K>
void PrimeModuli::forwardNTT(const Polynomial &in, Polynomial &out, V validator) const {
    static_assert(K == 1, "transforms of the chain reduce their outputs below the prime");
    const Device device = in.getDevice();
    const bool cyclic = !moduli_.empty() && moduli_[0].getNttType() == NttType::CONJUGATE_INVARIANT;
    dispatch(device, cyclic ? "convertNttBatch" : "execNttBatch", "forwardNTT");
    checkOperand(in);
    checkSameModUp(in, out);
    checkOutput(out, in.getLevel());
    checkTransforms(moduli_, in.getTopIndex(), [&](u64 i) { return validator.validate(i); });
    shapeOutput(out, in.getLevel(), device);
    transformLimbs(moduli_, degree_, in, out, validator,
                   [](const NTT &ntt, u64 *limb) { ntt.computeForward<1>(limb); });
    out.setNTT(true);
}

template <typename V, int K>
void PrimeModuli::backwardNTT(const Polynomial &in, Polynomial &out, V validator) const {
    static_assert(K == 1, "transforms of the chain reduce their outputs below the prime");
    const Device device = in.getDevice();
    dispatch(device, "execiNttBatch", "backwardNTT");
    checkOperand(in);
    checkSameModUp(in, out);
    checkOutput(out, in.getLevel());
    checkTransforms(moduli_, in.getTopIndex(), [&](u64 i) { return validator.validate(i); });
    shapeOutput(out, in.getLevel(), device);
    transformLimbs(moduli_, degree_, in, out, validator,
                   [](const NTT &ntt, u64 *limb) { ntt.computeBackward<1>(limb); });
    out.setNTT(false);
}

template <typename V, int K>
void PrimeModuli::forwardNTT(const Device &device, u64 *, u64, V) const {
    if (!isAccelerator(device))
        throw RuntimeException(kGpuExpectedMessage);
    if (!moduli_.empty() && moduli_[0].getNttType() == NttType::CONJUGATE_INVARIANT)
        convertNttBatch();
    execNttBatch();
}

template <typename V, int K>
void PrimeModuli::backwardNTT(const Device &device, u64 *, u64, V) const {
    if (!isAccelerator(device))
        throw RuntimeException(kGpuExpectedMessage);
    execiNttBatch();
}

template <typename V, int K>
void PrimeModuli::forwardNTTWithSubAndConstMult(const Polynomial &a, const Polynomial &b,
                                                const u64 *c, Polynomial &out, V validator) const {
    static_assert(K == 1, "transforms of the chain reduce their outputs below the prime");
    const Device device =
        getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice(), &out.getDevice()});
    dispatch(device, "execNttBatchWithSubAndConstMult", "forwardNTTWithSubAndConstMult");
    checkOperand(a);
    checkOperand(b);
    checkSameModUp(a, out);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    checkOutput(out, level);
    const u64 input_top = std::min(a.getTopIndex(), b.getTopIndex());
    checkTransforms(moduli_, input_top, [&](u64 i) { return validator.validate(i); });
    shapeOutput(out, level, device);
    // One pass per limb: transform a into out, then out = (b - out) * c while
    // the limb is still in cache.
    const u64 top = std::min(input_top, out.getTopIndex());
    for (u64 i = 0; i <= top; ++i) {
        if (!validator.validate(i))
            continue;
        u64 *limb = out.getLimb(i);
        if (limb != a.getLimb(i))
            std::memcpy(limb, a.getLimb(i), degree_ * sizeof(u64));
        moduli_[i].getNTT()->computeForward<1>(limb);
        moduli_[i].subAndConstMult<1>(b.getLimb(i), limb, c[i], limb, degree_);
    }
    out.setNTT(true);
}

void PrimeModuli::switchingKeyBody(Polynomial &error, const Polynomial &mask,
                                   const Polynomial &target, const Polynomial &source,
                                   const u64 *pmod, const u64 *hatq,
                                   OutputModulusBoundValidator digit, Polynomial &body) const {
    const Device device =
        getCommonDeviceAndCheck({&error.getDevice(), &mask.getDevice(), &target.getDevice(),
                                 &source.getDevice(), &body.getDevice()});
    dispatch(device, "switchingKeyBodyCUDA", "switchingKeyBody");
    const std::initializer_list<const Polynomial *> operands = {&error, &mask, &target, &source,
                                                                &body};
    for (const Polynomial *p : operands)
        if (!p->isModUp())
            throw RuntimeException(kDifferentModUpMessage);
    for (const Polynomial *p : operands)
        if (p->getLevel() != error.getLevel() || p->getSize() != error.getSize() ||
            p->getChainLength() != error.getChainLength())
            throw RuntimeException(kDifferentLevelsMessage);
    for (const Polynomial *p : operands)
        checkOperand(*p);
    const u64 level = error.getLevel();
    const u64 length = error.getChainLength();
    const u64 top = error.getTopIndex();
    auto walked = [&](u64 i) { return i <= level || i >= length; };
    checkTransforms(moduli_, top, walked);

    // One pass per limb while it is in cache: the error's transform, the
    // product with the target and the gadget term of the digit's primes.
    for (u64 i = 0; i <= top; ++i) {
        if (!walked(i))
            continue;
        u64 *e = error.getLimb(i);
        moduli_[i].getNTT()->computeForward<1>(e);
        const bool gadget = i < length && digit.validate(i);
        const u64 g = gadget ? moduli_[i].barrettProduct(pmod[i], hatq[i]) : 0;
        moduli_[i].switchingKeyBody(body.getLimb(i), e, mask.getLimb(i), target.getLimb(i),
                                    gadget ? source.getLimb(i) : nullptr, g, degree_);
    }
    error.setNTT(true);
    body.setNTT(true);
}

template <typename V, int K>
void PrimeModuli::backwardNTTWithConstMult(const Polynomial &in, const u64 *, Polynomial &out,
                                           V) const {
    const Device device = getCommonDeviceAndCheck({&in.getDevice(), &out.getDevice()});
    // The output is marked as coefficient form before the batch transform is
    // asked for, so the host refusal leaves it marked the same way.
    out.setNTT(false);
    throwUnsupportedOn(device, "execiNttBatch", "backwardNTTWithConstMult");
}

#define QUELT_TRANSFORM_INSTANCES(V)                                                               \
    template void PrimeModuli::forwardNTT<V, 1>(const Polynomial &, Polynomial &, V) const;        \
    template void PrimeModuli::forwardNTT<V, 1>(const Device &, u64 *, u64, V) const;
QUELT_TRANSFORM_INSTANCES(AlwaysValidator)
QUELT_TRANSFORM_INSTANCES(OutputModulusBoundValidator)
QUELT_TRANSFORM_INSTANCES(ModUpOutputModulusBoundValidator)
QUELT_TRANSFORM_INSTANCES(ModUpOutputModulusBoundEvalValidator)
#undef QUELT_TRANSFORM_INSTANCES

template void PrimeModuli::backwardNTT<AlwaysValidator, 1>(const Polynomial &, Polynomial &,
                                                           AlwaysValidator) const;
template void
PrimeModuli::backwardNTT<OutputModulusBoundValidator, 1>(const Polynomial &, Polynomial &,
                                                         OutputModulusBoundValidator) const;
template void PrimeModuli::backwardNTT<AlwaysValidator, 1>(const Device &, u64 *, u64,
                                                           AlwaysValidator) const;
template void
PrimeModuli::backwardNTT<OutputModulusBoundValidator, 1>(const Device &, u64 *, u64,
                                                         OutputModulusBoundValidator) const;
template void PrimeModuli::forwardNTTWithSubAndConstMult<OutputModulusBoundValidator, 1>(
    const Polynomial &, const Polynomial &, const u64 *, Polynomial &,
    OutputModulusBoundValidator) const;
template void PrimeModuli::backwardNTTWithConstMult<OutputModulusBoundValidator, 1>(
    const Polynomial &, const u64 *, Polynomial &, OutputModulusBoundValidator) const;

// ---------------------------------------------------------------------------
// Level changes
// ---------------------------------------------------------------------------

void PrimeModuli::rescale(Polynomial &p) const { rescalePolynomials({&p}); }

void PrimeModuli::rescaleTwo(Polynomial &a, Polynomial &b) const {
    if (&a == &b)
        throw RuntimeException(kAliasedOutputMessage);
    rescalePolynomials({&a, &b});
}

void PrimeModuli::rescalePolynomials(std::initializer_list<Polynomial *> polys) const {
    const Polynomial &first = **polys.begin();
    Device device = first.getDevice();
    for (const Polynomial *p : polys)
        device = getCommonDeviceAndCheck({&device, &p->getDevice()});
    dispatch(device, "rescaleCUDA", "rescale");
    const u64 level = first.getLevel();
    for (const Polynomial *p : polys) {
        checkOperand(*p);
        if (p->getLevel() != level)
            throw RuntimeException(kDifferentLevelsMessage);
    }
    if (level == 0)
        throw RuntimeException(kRescaleBottomMessage);
    for (const Polynomial *p : polys)
        if (p->isNTT())
            checkTransforms(moduli_, level, [](u64) { return true; });
    const u64 num_primes = moduli_.size();
    // Host memory of any id reads the host table.
    const DeviceSpecificArray<u64> &inverses =
        getInvPrimeData(device.type == Device::kHost ? kHostDevice : device);
    if (inverses.size() < (level + 1) * num_primes)
        throw RuntimeException(kShapeMismatchMessage);
    // Row `level`: entry i is q_level^-1 mod q_i.
    const u64 *row = inverses.getData() + level * num_primes;
    DeviceSpecificArray<u64> lift(degree_);

    // The top limbs leave the polynomials, so they are brought to coefficient
    // form in place.
    const u64 top_prime = moduli_[level].getPrime();
    for (Polynomial *p : polys)
        if (p->isNTT())
            moduli_[level].getNTT()->computeBackward<1>(p->getLimb(level));
    // Limb by limb, every polynomial in turn: the tables of prime i are
    // loaded once for all of them.
    for (u64 i = 0; i < level; ++i) {
        const Modulus &modulus = moduli_[i];
        for (Polynomial *p : polys) {
            modulus.normalizeModVector(lift.getData(), p->getLimb(level), top_prime, degree_);
            // (x_i - lift) q_level^-1, with the subtraction and the factor
            // joined to the last stage of the lift's transform in NTT form.
            if (p->isNTT())
                modulus.getNTT()->computeForwardSubScale(lift.getData(), p->getLimb(i), row[i],
                                                         p->getLimb(i));
            else
                modulus.subAndConstMult<1>(p->getLimb(i), lift.getData(), row[i], p->getLimb(i),
                                           degree_);
        }
    }
    for (Polynomial *p : polys)
        p->setLevel(level - 1);
}

void PrimeModuli::inverseRescale(Polynomial &p) const {
    const Device device = p.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "constMultBatchCUDA", "constMult");
    checkOperand(p);
    const u64 level = p.getLevel() + 1;
    if (level >= p.getChainLength() || level >= moduli_.size())
        throw RuntimeException(kInverseRescaleTopMessage);
    p.setLevel(level);
    // q_level is 0 modulo itself: the new limb is zero.
    std::memset(p.getLimb(level), 0, degree_ * sizeof(u64));
    const u64 factor = moduli_[level].getPrime();
    for (u64 i = 0; i < level; ++i)
        moduli_[i].constMult<1>(p.getLimb(i), factor, p.getLimb(i), degree_);
    if (p.isModUp())
        for (u64 i = p.getChainLength(); i < p.getSize(); ++i)
            moduli_[i].constMult<1>(p.getLimb(i), factor, p.getLimb(i), degree_);
}

void PrimeModuli::normalizeMod(Polynomial &out, const Polynomial &in, u64 src, u64 level) const {
    checkOutputApart(&out, {&in});
    const Device device = in.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "normalizeModCUDA", "normalizeMod");
    checkOperand(in);
    const bool in_use =
        src <= in.getLevel() || (in.isModUp() && src >= in.getChainLength() && src < in.getSize());
    if (!in_use)
        throw RuntimeException(kShapeMismatchMessage);
    checkOutput(out, level);
    shapeOutput(out, level, device);
    out.setNTT(false);
    const u64 source_prime = moduli_[src].getPrime();
    for (u64 j = 0; j <= level; ++j)
        moduli_[j].normalizeModVector(out.getLimb(j), in.getLimb(src), source_prime, degree_);
}

} // namespace Quelt
