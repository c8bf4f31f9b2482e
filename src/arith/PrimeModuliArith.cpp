// Operation frame of the prime chain and its element-wise operations.

#include "arith/PrimeModuli.hpp"

#include "Quelt/Exception.hpp"
#include "context/Polynomial.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>

namespace Quelt {

// ---------------------------------------------------------------------------
// Frame
// ---------------------------------------------------------------------------

void PrimeModuli::checkDeviceSupported(const Device &device) const {
    if (device != kHostDevice && devices_.find(device) == devices_.end())
        throw RuntimeException(kUnsupportedDeviceMessage);
}

Device PrimeModuli::getCommonDeviceAndCheck(std::initializer_list<const Device *> devices) const {
    const Device common = **devices.begin();
    for (const Device *device : devices)
        if (*device != common)
            throw RuntimeException(kDifferentDevicesMessage);
    checkDeviceSupported(common);
    return common;
}

void PrimeModuli::dispatch(const Device &device, const char *twin, const char *own) {
    dispatchDevice(device, twin, own);
}

void PrimeModuli::checkSameModUp(const Polynomial &x, const Polynomial &y) {
    if (x.isModUp() != y.isModUp())
        throw RuntimeException(kDifferentModUpMessage);
}

void PrimeModuli::checkOutputApart(const void *out, std::initializer_list<const void *> others) {
    for (const void *other : others)
        if (out == other)
            throw RuntimeException(kAliasedOutputMessage);
}

void PrimeModuli::checkOperand(const Polynomial &p) const {
    const u64 top = p.getTopIndex();
    if (p.getDegree() != degree_ || degree_ == 0 || top >= moduli_.size() ||
        p.getLevel() >= p.getChainLength() || p.getSize() > moduli_.size() ||
        p.getData().size() / degree_ <= top)
        throw RuntimeException(kShapeMismatchMessage);
}

void PrimeModuli::checkOutput(const Polynomial &p, u64 level) const {
    if (p.getDegree() != degree_ || degree_ == 0 || level >= p.getChainLength() ||
        level >= moduli_.size() || p.getSize() > moduli_.size())
        throw RuntimeException(kShapeMismatchMessage);
    // A mod-up output keeps its array, which must hold every limb it spans.
    if (p.isModUp() && p.getData().size() / degree_ < p.getSize())
        throw RuntimeException(kShapeMismatchMessage);
}

void PrimeModuli::shapeOutput(Polynomial &out, u64 level, const Device &device) {
    out.setLevel(level);
    out.allocate(device);
}

u64 PrimeModuli::productTop(std::initializer_list<const Polynomial *> inputs, u64 level,
                            std::initializer_list<const Polynomial *> outputs) {
    // Limbs above the level are only meaningful when every input is mod-up
    // (they are then the temporary limbs, or allocated limbs between them).
    bool all_mod_up = true;
    u64 top = ~u64{0};
    for (const Polynomial *p : inputs) {
        all_mod_up = all_mod_up && p->isModUp();
        top = std::min(top, p->getTopIndex());
    }
    if (!all_mod_up)
        top = level;
    for (const Polynomial *p : outputs)
        top = std::min(top, p->getTopIndex());
    return top;
}

// ---------------------------------------------------------------------------
// Addition, subtraction, negation
// ---------------------------------------------------------------------------

namespace {

// Visits the limbs two operands and an output share: 0..level, and the
// temporary limbs first_tp..top when all are mod-up.
template <typename F>
void forEachSharedLimb(const Polynomial &a, const Polynomial &b, const Polynomial &out, u64 level,
                       F &&f) {
    const u64 top = std::min({a.getTopIndex(), b.getTopIndex(), out.getTopIndex()});
    for (u64 i = 0; i <= std::min(level, top); ++i)
        f(i);
    if (a.isModUp() && b.isModUp() && out.isModUp())
        for (u64 i = out.getChainLength(); i <= top; ++i)
            f(i);
}

} // namespace

template <typename V>
void PrimeModuli::add(const Polynomial &a, const Polynomial &b, Polynomial &out,
                      V validator) const {
    const Device device =
        getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice(), &out.getDevice()});
    dispatch(device, "addCUDA", "add");
    checkOperand(a);
    checkOperand(b);
    checkOperand(out);
    const bool ntt = a.isNTT();
    const u64 top = std::min({a.getTopIndex(), b.getTopIndex(), out.getTopIndex()});
    for (u64 i = 0; i <= top; ++i)
        if (validator.validate(i))
            moduli_[i].addVector(out.getLimb(i), a.getLimb(i), b.getLimb(i), degree_);
    out.setNTT(ntt);
}

template void PrimeModuli::add<OutputModulusBoundValidator>(const Polynomial &, const Polynomial &,
                                                            Polynomial &,
                                                            OutputModulusBoundValidator) const;
template void
PrimeModuli::add<ModUpOutputModulusBoundEvalValidator>(const Polynomial &, const Polynomial &,
                                                       Polynomial &,
                                                       ModUpOutputModulusBoundEvalValidator) const;
template void PrimeModuli::add<AlwaysValidator>(const Polynomial &, const Polynomial &,
                                                Polynomial &, AlwaysValidator) const;

void PrimeModuli::add(const Polynomial &a, const Polynomial &b, Polynomial &out) const {
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    checkSameModUp(a, b);
    dispatch(device, "addCUDA", "add");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    const bool mod_up = a.isModUp();
    checkOutput(out, level);
    shapeOutput(out, level, device);
    if (!mod_up)
        add(a, b, out, OutputModulusBoundValidator(0, level + 1));
    else
        add(a, b, out, ModUpOutputModulusBoundEvalValidator(level, out.getChainLength()));
}

void PrimeModuli::sub(const Polynomial &a, const Polynomial &b, Polynomial &out) const {
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "subCUDA", "sub");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    const bool ntt = a.isNTT();
    checkOutput(out, level);
    shapeOutput(out, level, device);
    forEachSharedLimb(a, b, out, level, [&](u64 i) {
        moduli_[i].subVector(out.getLimb(i), a.getLimb(i), b.getLimb(i), degree_);
    });
    out.setNTT(ntt);
}

void PrimeModuli::negate(const Polynomial &a, Polynomial &out) const {
    checkDeviceSupported(a.getDevice());
    const Device device = a.getDevice();
    dispatch(device, "negateCUDA", "negate");
    checkOperand(a);
    const u64 level = a.getLevel();
    const bool ntt = a.isNTT();
    checkOutput(out, level);
    shapeOutput(out, level, device);
    forEachSharedLimb(a, a, out, level, [&](u64 i) {
        moduli_[i].negateVector(out.getLimb(i), a.getLimb(i), degree_);
    });
    out.setNTT(ntt);
}

// ---------------------------------------------------------------------------
// Products
// ---------------------------------------------------------------------------

void PrimeModuli::hadamardMult(const Polynomial &a, const Polynomial &b, Polynomial &out) const {
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "mulVectorCUDA", "hadamardMult");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    checkOutput(out, level);
    // Read before the output is shaped: it may be one of the inputs.
    const u64 input_top = productTop({&a, &b}, level, {});
    shapeOutput(out, level, device);
    const u64 top = std::min(input_top, out.getTopIndex());
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].mulVector(out.getLimb(i), a.getLimb(i), b.getLimb(i), degree_);
    out.setNTT(true);
}

void PrimeModuli::hadamardMultTwo(const Polynomial &a, const Polynomial &b, const Polynomial &c,
                                  Polynomial &out1, Polynomial &out2) const {
    // out1 is written in full before b and c are read for out2.
    checkOutputApart(&out1, {&b, &c, &out2});
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice(), &c.getDevice()});
    dispatch(device, "mulVectorCUDA", "hadamardMultTwo");
    checkOperand(a);
    checkOperand(b);
    checkOperand(c);
    const u64 level = std::min({a.getLevel(), b.getLevel(), c.getLevel()});
    checkOutput(out1, level);
    checkOutput(out2, level);
    const u64 input_top = productTop({&a, &b, &c}, level, {});
    shapeOutput(out1, level, device);
    shapeOutput(out2, level, device);
    const u64 top = std::min({input_top, out1.getTopIndex(), out2.getTopIndex()});
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].mulVector(out1.getLimb(i), out2.getLimb(i), c.getLimb(i), a.getLimb(i),
                             b.getLimb(i));
    out1.setNTT(true);
    out2.setNTT(true);
}

void PrimeModuli::hadamardMultAndAdd(const Polynomial &a, const Polynomial &b,
                                     Polynomial &out) const {
    const Device device =
        getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice(), &out.getDevice()});
    dispatch(device, "mulAddVectorCUDA", "hadamardMultAndAdd");
    checkOperand(a);
    checkOperand(b);
    checkOperand(out);
    const u64 top = std::min({a.getLevel(), b.getLevel(), out.getLevel()});
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].mulAddVector(out.getLimb(i), a.getLimb(i), b.getLimb(i));
}

void PrimeModuli::hadamardMultTwoAndAdd(const Polynomial &a, const Polynomial &b,
                                        const Polynomial &c, Polynomial &out1,
                                        Polynomial &out2) const {
    checkOutputApart(&out1, {&b, &c, &out2});
    const Device device = getCommonDeviceAndCheck(
        {&a.getDevice(), &b.getDevice(), &c.getDevice(), &out1.getDevice(), &out2.getDevice()});
    dispatch(device, "hadamardMultTwoAndAdd", "hadamardMultTwoAndAdd");
    checkOperand(a);
    checkOperand(b);
    checkOperand(c);
    checkOperand(out1);
    checkOperand(out2);
    const u64 top =
        std::min({a.getLevel(), b.getLevel(), c.getLevel(), out1.getLevel(), out2.getLevel()});
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].mulAddVector(out1.getLimb(i), out2.getLimb(i), c.getLimb(i), a.getLimb(i),
                                b.getLimb(i));
}

void PrimeModuli::hadamardMultModUp(const Polynomial &a, const Polynomial &b,
                                    Polynomial &out) const {
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "mulVectorCUDA", "hadamardMultModUp");
    checkOperand(a);
    checkOperand(b);
    const u64 level = std::min(a.getLevel(), b.getLevel());
    const bool extended = a.isModUp();
    if (extended && (!b.isModUp() || !out.isModUp()))
        throw RuntimeException(kDifferentModUpMessage);
    const u64 first_tp = a.getChainLength();
    if (extended && (b.getChainLength() != first_tp || out.getChainLength() != first_tp))
        throw RuntimeException(kShapeMismatchMessage);
    checkOutput(out, level);
    const u64 size = extended ? std::min({a.getSize(), b.getSize(), out.getSize()}) : 0;
    shapeOutput(out, level, device);
    for (u64 i = 0; i <= level; ++i)
        moduli_[i].mulVector(out.getLimb(i), a.getLimb(i), b.getLimb(i), degree_);
    for (u64 i = first_tp; i < size; ++i)
        moduli_[i].mulVector(out.getLimb(i), a.getLimb(i), b.getLimb(i), degree_);
    out.setNTT(true);
}

void PrimeModuli::tensor(const Polynomial &a, const Polynomial &b, const Polynomial &c,
                         const Polynomial &d, Polynomial &e, Polynomial &f, Polynomial &g) const {
    const Device device =
        getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice(), &c.getDevice(), &d.getDevice()});
    dispatch(device, "tensorCUDA", "tensor");
    checkOperand(a);
    checkOperand(b);
    checkOperand(c);
    checkOperand(d);
    const u64 level = std::min({a.getLevel(), b.getLevel(), c.getLevel(), d.getLevel()});
    checkOutput(e, level);
    checkOutput(f, level);
    checkOutput(g, level);
    const u64 input_top = productTop({&a, &b, &c, &d}, level, {});
    shapeOutput(e, level, device);
    shapeOutput(f, level, device);
    shapeOutput(g, level, device);
    const u64 top = std::min({input_top, e.getTopIndex(), f.getTopIndex(), g.getTopIndex()});
    // With (b + a Y)(d + c Y): constant term b d, square term a c, cross term
    // b c + a d; the kernel writes the three outputs of a position together.
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].tensorVector(e.getLimb(i), g.getLimb(i), f.getLimb(i), b.getLimb(i),
                                a.getLimb(i), d.getLimb(i), c.getLimb(i));
    e.setNTT(true);
    f.setNTT(true);
    g.setNTT(true);
}

bool PrimeModuli::isZero(const Polynomial &a) const {
    dispatch(a.getDevice(), "isZeroCUDA", "isZero");
    checkOperand(a);
    return limbsInUseAreZero(a);
}

} // namespace Quelt
