// Products and sums of polynomials with integer, levelled and complex
// constants.

#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliDetail.hpp"

#include "Quelt/Exception.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <cstring>

namespace Quelt {

namespace {

constexpr const char *kConjugateInvariantAddMessage =
    "[PrimeModuli] A complex constant cannot be added to a conjugate-invariant polynomial in "
    "coefficient form.";

using detail::checkElement;
using detail::elementTop;

} // namespace

DeviceSpecificArray<u64> PrimeModuli::computeConstantCoefficients(const LevelledElement &re) const {
    return re.getData();
}

DeviceSpecificArray<u64> PrimeModuli::computeConstantCoefficients(const LevelledElement &re,
                                                                  const LevelledElement &im) const {
    const Device device = getCommonDeviceAndCheck({&re.getDevice(), &im.getDevice()});
    dispatch(device, "computeConstantCoefficients", "computeConstantCoefficients");
    checkElement(re, moduli_.size());
    checkElement(im, moduli_.size());
    const u64 top = std::min(elementTop(re), elementTop(im));
    if (i_coefficients_.size() < 2 * (top + 1))
        throw RuntimeException(kShapeMismatchMessage);
    DeviceSpecificArray<u64> table(2 * (top + 1));
    const u64 *re_data = re.getData().getData();
    const u64 *im_data = im.getData().getData();
    const u64 *i_coeffs = i_coefficients_.getData();
    u64 *out = table.getData();
    for (u64 j = 0; j <= top; ++j) {
        const Modulus &modulus = moduli_[j];
        const u64 r = modulus.reduceWord(re_data[j]);
        const u64 t = modulus.barrettProduct(modulus.reduceWord(im_data[j]), i_coeffs[2 * j]);
        modulus.addVector(&out[2 * j], &r, &t, 1);
        modulus.subVector(&out[2 * j + 1], &r, &t, 1);
    }
    return table;
}

template <typename V, bool Complex>
void PrimeModuli::constMultLimbs(const Polynomial &in, const u64 *c, Polynomial &out, u64 top,
                                 V validator) const {
    const u64 half = degree_ / 2;
    for (u64 i = 0; i <= top; ++i) {
        if (!validator.validate(i))
            continue;
        const Modulus &modulus = moduli_[i];
        if constexpr (Complex) {
            modulus.constMult<1>(in.getLimb(i), c[2 * i], out.getLimb(i), half);
            modulus.constMult<1>(in.getLimb(i) + half, c[2 * i + 1], out.getLimb(i) + half, half);
        } else {
            modulus.constMult<1>(in.getLimb(i), c[i], out.getLimb(i), degree_);
        }
    }
}

template <typename V, bool Complex>
void PrimeModuli::constMult(const Polynomial &in, const u64 *c, Polynomial &out,
                            V validator) const {
    const Device device = getCommonDeviceAndCheck({&in.getDevice(), &out.getDevice()});
    dispatch(device, "constMultBatchCUDA", "constMult");
    checkOperand(in);
    checkOperand(out);
    constMultLimbs<V, Complex>(in, c, out, std::min(in.getTopIndex(), out.getTopIndex()),
                               validator);
}

template void PrimeModuli::constMult<OutputModulusBoundValidator, false>(
    const Polynomial &, const u64 *, Polynomial &, OutputModulusBoundValidator) const;
template void PrimeModuli::constMult<OutputModulusBoundValidator, true>(
    const Polynomial &, const u64 *, Polynomial &, OutputModulusBoundValidator) const;
template void PrimeModuli::constMult<AlwaysValidator, false>(const Polynomial &, const u64 *,
                                                             Polynomial &, AlwaysValidator) const;
template void PrimeModuli::constMult<AlwaysValidator, true>(const Polynomial &, const u64 *,
                                                            Polynomial &, AlwaysValidator) const;

void PrimeModuli::constAdd(const Polynomial &in, const LevelledElement &c, Polynomial &out) const {
    const Device device = in.getDevice();
    dispatch(device, "constAddBatchCUDA", "constAdd");
    checkOperand(in);
    checkElement(c, moduli_.size());
    const u64 level = std::min(c.getLevel(), in.getLevel());
    const bool ntt = in.isNTT();
    checkOutput(out, level);
    const u64 input_top = std::min(in.getTopIndex(), elementTop(c));
    shapeOutput(out, level, device);
    const u64 top = std::min(input_top, out.getTopIndex());
    const u64 *values = c.getData().getData();
    for (u64 i = 0; i <= top; ++i) {
        if (ntt) {
            // Every NTT slot holds the value of the polynomial: add everywhere.
            moduli_[i].constAdd(in.getLimb(i), values[i], out.getLimb(i), degree_);
        } else {
            // In coefficient form a constant is the coefficient of X^0.
            if (out.getLimb(i) != in.getLimb(i))
                std::memcpy(out.getLimb(i), in.getLimb(i), degree_ * sizeof(u64));
            moduli_[i].constAdd(in.getLimb(i), values[i], out.getLimb(i), 1);
        }
    }
    out.setNTT(ntt);
}

void PrimeModuli::constAdd(const Polynomial &in, const LevelledElement &re,
                           const LevelledElement &im, Polynomial &out) const {
    const bool ntt = in.isNTT();
    if (!ntt)
        for (const Modulus &modulus : moduli_)
            if (modulus.getNttType() == NttType::CONJUGATE_INVARIANT)
                throw RuntimeException(kConjugateInvariantAddMessage);
    const DeviceSpecificArray<u64> table = computeConstantCoefficients(re, im);
    const Device device = in.getDevice();
    dispatch(device, "constAddBatchCUDA", "constAdd");
    checkOperand(in);
    const u64 level = std::min({re.getLevel(), im.getLevel(), in.getLevel()});
    checkOutput(out, level);
    const u64 input_top = std::min({in.getTopIndex(), table.size() / 2 - 1});
    shapeOutput(out, level, device);
    const u64 top = std::min(input_top, out.getTopIndex());
    const u64 half = degree_ / 2;
    const u64 *c = table.getData();
    for (u64 i = 0; i <= top; ++i) {
        const Modulus &modulus = moduli_[i];
        if (ntt) {
            modulus.constAdd(in.getLimb(i), c[2 * i], out.getLimb(i), half);
            modulus.constAdd(in.getLimb(i) + half, c[2 * i + 1], out.getLimb(i) + half, half);
        } else {
            // re + i im with i = X^(N/2): the first half of the slots of X^(N/2)
            // is the I-coefficient and the second half its negation.
            if (out.getLimb(i) != in.getLimb(i))
                std::memcpy(out.getLimb(i), in.getLimb(i), degree_ * sizeof(u64));
            modulus.constAdd(in.getLimb(i), re.getData().getData()[i], out.getLimb(i), 1);
            modulus.constAdd(in.getLimb(i) + half, im.getData().getData()[i], out.getLimb(i) + half,
                             1);
        }
    }
    out.setNTT(ntt);
}

void PrimeModuli::constMult(const Polynomial &in, const LevelledElement &c, Polynomial &out) const {
    const Device device = in.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "constMultBatchCUDA", "constMult");
    checkOperand(in);
    checkElement(c, moduli_.size());
    const u64 level = std::min(c.getLevel(), in.getLevel());
    const bool ntt = in.isNTT();
    checkOutput(out, level);
    const u64 input_top = std::min(in.getTopIndex(), elementTop(c));
    shapeOutput(out, level, device);
    constMultLimbs<AlwaysValidator, false>(in, c.getData().getData(), out,
                                           std::min(input_top, out.getTopIndex()), {});
    out.setNTT(ntt);
}

void PrimeModuli::constMult(const Polynomial &in, const LevelledElement &re,
                            const LevelledElement &im, Polynomial &out) const {
    if (!in.isNTT())
        throw RuntimeException(kNotNTTMessage);
    const DeviceSpecificArray<u64> table = computeConstantCoefficients(re, im);
    const Device device = in.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "constMultBatchCUDA", "constMult");
    checkOperand(in);
    const u64 level = std::min({re.getLevel(), im.getLevel(), in.getLevel()});
    checkOutput(out, level);
    const u64 input_top = std::min(in.getTopIndex(), table.size() / 2 - 1);
    shapeOutput(out, level, device);
    constMultLimbs<AlwaysValidator, true>(in, table.getData(), out,
                                          std::min(input_top, out.getTopIndex()), {});
    out.setNTT(true);
}

void PrimeModuli::constMult(const Polynomial &in, u64 x, Polynomial &out) const {
    const Device device = in.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "constMultBatchCUDA", "constMult");
    checkOperand(in);
    const u64 level = in.getLevel();
    const bool ntt = in.isNTT();
    checkOutput(out, level);
    const u64 input_top = in.getTopIndex();
    shapeOutput(out, level, device);
    const u64 top = std::min(input_top, out.getTopIndex());
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].constMult<1>(in.getLimb(i), x, out.getLimb(i), degree_);
    out.setNTT(ntt);
}

void PrimeModuli::constMultTwo(const Polynomial &a, const Polynomial &b, const LevelledElement &c,
                               Polynomial &out1, Polynomial &out2) const {
    // Limb i of out1 is written before limb i of b is read.
    checkOutputApart(&out1, {&b, &out2});
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "constMultTwoBatchCUDA", "constMultTwo");
    checkOperand(a);
    checkOperand(b);
    checkElement(c, moduli_.size());
    const u64 level = std::min({a.getLevel(), b.getLevel(), c.getLevel()});
    const bool ntt_a = a.isNTT();
    const bool ntt_b = b.isNTT();
    checkOutput(out1, level);
    checkOutput(out2, level);
    const u64 input_top = std::min({a.getTopIndex(), b.getTopIndex(), elementTop(c)});
    shapeOutput(out1, level, device);
    shapeOutput(out2, level, device);
    const u64 top = std::min({input_top, out1.getTopIndex(), out2.getTopIndex()});
    constMultLimbs<AlwaysValidator, false>(a, c.getData().getData(), out1, top, {});
    constMultLimbs<AlwaysValidator, false>(b, c.getData().getData(), out2, top, {});
    out1.setNTT(ntt_a);
    out2.setNTT(ntt_b);
}

void PrimeModuli::constMultTwo(const Polynomial &a, const Polynomial &b, const LevelledElement &re,
                               const LevelledElement &im, Polynomial &out1,
                               Polynomial &out2) const {
    checkOutputApart(&out1, {&b, &out2});
    if (!a.isNTT() || !b.isNTT())
        throw RuntimeException(kNotNTTMessage);
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    const DeviceSpecificArray<u64> table = computeConstantCoefficients(re, im);
    dispatch(device, "constMultTwoBatchCUDA", "constMultTwo");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min({re.getLevel(), im.getLevel(), a.getLevel(), b.getLevel()});
    checkOutput(out1, level);
    checkOutput(out2, level);
    const u64 input_top = std::min({a.getTopIndex(), b.getTopIndex(), table.size() / 2 - 1});
    shapeOutput(out1, level, device);
    shapeOutput(out2, level, device);
    const u64 top = std::min({input_top, out1.getTopIndex(), out2.getTopIndex()});
    constMultLimbs<AlwaysValidator, true>(a, table.getData(), out1, top, {});
    constMultLimbs<AlwaysValidator, true>(b, table.getData(), out2, top, {});
    out1.setNTT(true);
    out2.setNTT(true);
}

void PrimeModuli::constMultTwo(const Polynomial &a, const Polynomial &b, u64 x, Polynomial &out1,
                               Polynomial &out2) const {
    checkOutputApart(&out1, {&b, &out2});
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "constMultTwoBatchCUDA", "constMultTwo");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    const bool ntt_a = a.isNTT();
    const bool ntt_b = b.isNTT();
    checkOutput(out1, level);
    checkOutput(out2, level);
    const u64 input_top = std::min(a.getTopIndex(), b.getTopIndex());
    shapeOutput(out1, level, device);
    shapeOutput(out2, level, device);
    const u64 top = std::min({input_top, out1.getTopIndex(), out2.getTopIndex()});
    for (u64 i = 0; i <= top; ++i) {
        moduli_[i].constMult<1>(a.getLimb(i), x, out1.getLimb(i), degree_);
        moduli_[i].constMult<1>(b.getLimb(i), x, out2.getLimb(i), degree_);
    }
    out1.setNTT(ntt_a);
    out2.setNTT(ntt_b);
}

void PrimeModuli::subAndConstMult(const Polynomial &a, const Polynomial &b, const u64 *c,
                                  Polynomial &out) const {
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "subAndConstMultCUDA", "subAndConstMult");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    const bool ntt = a.isNTT();
    const bool all_mod_up = a.isModUp() && b.isModUp();
    checkOutput(out, level);
    shapeOutput(out, level, device);
    const u64 top = std::min({a.getTopIndex(), b.getTopIndex(), out.getTopIndex()});
    auto limb = [&](u64 i) {
        moduli_[i].subAndConstMult<1>(a.getLimb(i), b.getLimb(i), c[i], out.getLimb(i), degree_);
    };
    for (u64 i = 0; i <= std::min(level, top); ++i)
        limb(i);
    if (all_mod_up && out.isModUp())
        for (u64 i = out.getChainLength(); i <= top; ++i)
            limb(i);
    out.setNTT(ntt);
}

} // namespace Quelt
