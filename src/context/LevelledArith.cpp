// Arithmetic of the prime chain on levelled elements (one residue per prime)
// and levelled vectors (one limb of residues per prime).

#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliDetail.hpp"

#include "Quelt/Exception.hpp"
#include "context/LevelledElement.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <initializer_list>

namespace Quelt {

namespace {

using detail::checkElement;
using detail::elementTop;

// Equal levels are tested first, before the devices.
void checkEqualLevels(u64 a, u64 b) {
    if (a != b)
        throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
}

void checkVector(const LevelledVector &v, u64 dimension, u64 num_primes) {
    if (v.getDimension() != dimension || dimension == 0 || v.getLevel() >= num_primes ||
        v.getData().size() / dimension <= v.getLevel())
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
}

// The output takes the level; its array holds size words when mod-up, else
// level + 1; the storage moves to the operands' device.
void shapeElement(LevelledElement &out, u64 level, const Device &device) {
    out.setLevel(level);
    out.getData().resize(out.isModUp() ? out.getSize() : level + 1);
    out.allocate(device);
}

void shapeVector(LevelledVector &out, u64 level, const Device &device) {
    out.setLevel(level);
    out.getData().resize(out.getDimension() * (level + 1));
    out.allocate(device);
}

} // namespace

u64 PrimeModuli::inverseModPrime(u64 value, u64 prime_index) const {
    // Fermat: value^(p - 2) is the inverse of value modulo the prime p.
    const u64 p = moduli_[prime_index].getPrime();
    return utils::powMod(value, p - 2, p);
}

// ---------------------------------------------------------------------------
// Levelled elements
// ---------------------------------------------------------------------------

void PrimeModuli::negate(const LevelledElement &a, LevelledElement &out) const {
    const Device device = a.getDevice();
    dispatch(device, "negateCUDA", "negate");
    checkElement(a, moduli_.size());
    if (a.getLevel() >= out.getSize() || (out.isModUp() && out.getSize() > moduli_.size()))
        throw RuntimeException(kShapeMismatchMessage);
    const u64 input_top = elementTop(a);
    shapeElement(out, a.getLevel(), device);
    const u64 top = std::min(input_top, elementTop(out));
    const u64 *x = a.getData().getData();
    u64 *y = out.getData().getData();
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].negateVector(&y[i], &x[i], 1);
}

namespace {

// Frame of the two-operand element operations: levels, devices, device set.
template <typename Kernel>
void elementBinary(const PrimeModuli &chain, const LevelledElement &a, const LevelledElement &b,
                   LevelledElement &out, const char *twin, const char *own, Kernel &&kernel) {
    checkEqualLevels(a.getLevel(), b.getLevel());
    const Device device = chain.getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    PrimeModuli::dispatch(device, twin, own);
    const u64 num_primes = chain.getNumPrimes();
    checkElement(a, num_primes);
    checkElement(b, num_primes);
    if (a.getLevel() >= out.getSize() || (out.isModUp() && out.getSize() > num_primes))
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
    const u64 input_top = std::min(elementTop(a), elementTop(b));
    shapeElement(out, a.getLevel(), device);
    const u64 top = std::min(input_top, elementTop(out));
    const u64 *x = a.getData().getData();
    const u64 *y = b.getData().getData();
    u64 *z = out.getData().getData();
    for (u64 i = 0; i <= top; ++i)
        kernel(chain.getModuli()[i], &z[i], &x[i], &y[i]);
}

} // namespace

void PrimeModuli::add(const LevelledElement &a, const LevelledElement &b,
                      LevelledElement &out) const {
    elementBinary(
        *this, a, b, out, "addCUDA", "add",
        [](const Modulus &m, u64 *z, const u64 *x, const u64 *y) { m.addVector(z, x, y, 1); });
}

void PrimeModuli::sub(const LevelledElement &a, const LevelledElement &b,
                      LevelledElement &out) const {
    elementBinary(
        *this, a, b, out, "subCUDA", "sub",
        [](const Modulus &m, u64 *z, const u64 *x, const u64 *y) { m.subVector(z, x, y, 1); });
}

void PrimeModuli::mult(const LevelledElement &a, const LevelledElement &b,
                       LevelledElement &out) const {
    elementBinary(
        *this, a, b, out, "multCUDA", "mult",
        [](const Modulus &m, u64 *z, const u64 *x, const u64 *y) { m.mulVector(z, x, y, 1); });
}

void PrimeModuli::rescale(LevelledElement &a) const {
    dispatch(a.getDevice(), "rescaleCUDA", "rescale");
    checkElement(a, moduli_.size());
    const u64 level = a.getLevel();
    if (level == 0)
        throw RuntimeException(kRescaleBottomMessage);
    u64 *x = a.getData().getData();
    const u64 top_prime = moduli_[level].getPrime();
    for (u64 i = 0; i < level; ++i) {
        const Modulus &modulus = moduli_[i];
        u64 lift = 0;
        modulus.normalizeModVector(&lift, &x[level], top_prime, 1);
        modulus.subAndConstMult<1>(&x[i], &lift, inverseModPrime(top_prime, i), &x[i], 1);
    }
    a.setLevel(level - 1);
    a.getData().resize(a.isModUp() ? a.getSize() : level);
}

// ---------------------------------------------------------------------------
// Levelled vectors
// ---------------------------------------------------------------------------

void PrimeModuli::negate(const LevelledVector &a, LevelledVector &out) const {
    const Device device = a.getDevice();
    dispatch(device, "negateCUDA", "negate");
    checkVector(a, degree_, moduli_.size());
    if (out.getDimension() != degree_)
        throw RuntimeException(kShapeMismatchMessage);
    const u64 level = a.getLevel();
    shapeVector(out, level, device);
    for (u64 i = 0; i <= level; ++i)
        moduli_[i].negateVector(out.getLimb(i), a.getLimb(i), degree_);
}

namespace {

template <typename Kernel>
void vectorBinary(const PrimeModuli &chain, const LevelledVector &a, const LevelledVector &b,
                  LevelledVector &out, const char *twin, const char *own, Kernel &&kernel) {
    checkEqualLevels(a.getLevel(), b.getLevel());
    const Device device = chain.getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    PrimeModuli::dispatch(device, twin, own);
    const u64 n = chain.getDegree();
    checkVector(a, n, chain.getNumPrimes());
    checkVector(b, n, chain.getNumPrimes());
    if (out.getDimension() != n)
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
    const u64 level = a.getLevel();
    shapeVector(out, level, device);
    for (u64 i = 0; i <= level; ++i)
        kernel(chain.getModuli()[i], out.getLimb(i), a.getLimb(i), b.getLimb(i), n);
}

} // namespace

void PrimeModuli::add(const LevelledVector &a, const LevelledVector &b, LevelledVector &out) const {
    vectorBinary(*this, a, b, out, "addCUDA", "add",
                 [](const Modulus &m, u64 *z, const u64 *x, const u64 *y, u64 n) {
                     m.addVector(z, x, y, n);
                 });
}

void PrimeModuli::sub(const LevelledVector &a, const LevelledVector &b, LevelledVector &out) const {
    vectorBinary(*this, a, b, out, "subCUDA", "sub",
                 [](const Modulus &m, u64 *z, const u64 *x, const u64 *y, u64 n) {
                     m.subVector(z, x, y, n);
                 });
}

void PrimeModuli::constMult(const LevelledVector &v, const LevelledElement &c,
                            LevelledVector &out) const {
    checkEqualLevels(v.getLevel(), c.getLevel());
    const Device device = getCommonDeviceAndCheck({&v.getDevice(), &c.getDevice()});
    dispatch(device, "constMultCUDA", "constMult");
    checkVector(v, degree_, moduli_.size());
    checkElement(c, moduli_.size());
    if (out.getDimension() != degree_)
        throw RuntimeException(kShapeMismatchMessage);
    const u64 level = v.getLevel();
    // Read before shaping: out may be v.
    const u64 *values = c.getData().getData();
    shapeVector(out, level, device);
    for (u64 i = 0; i <= level; ++i)
        moduli_[i].constMult<1>(v.getLimb(i), values[i], out.getLimb(i), degree_);
}

void PrimeModuli::rescale(LevelledVector &v) const {
    dispatch(v.getDevice(), "rescaleCUDA", "rescale");
    checkVector(v, degree_, moduli_.size());
    const u64 level = v.getLevel();
    if (level == 0)
        throw RuntimeException(kRescaleBottomMessage);
    DeviceSpecificArray<u64> lift(degree_);
    const u64 *top = v.getLimb(level);
    const u64 top_prime = moduli_[level].getPrime();
    for (u64 i = 0; i < level; ++i) {
        const Modulus &modulus = moduli_[i];
        modulus.normalizeModVector(lift.getData(), top, top_prime, degree_);
        modulus.subAndConstMult<1>(v.getLimb(i), lift.getData(), inverseModPrime(top_prime, i),
                                   v.getLimb(i), degree_);
    }
    v.setLevel(level - 1);
    v.getData().resize(degree_ * level);
}

void PrimeModuli::innerProduct(const LevelledVector &a, const LevelledVector &b,
                               LevelledElement &out) const {
    const Device device = getCommonDeviceAndCheck({&a.getDevice(), &b.getDevice()});
    dispatch(device, "innerProductCUDA", "innerProduct");
    checkVector(a, degree_, moduli_.size());
    checkVector(b, degree_, moduli_.size());
    const u64 level = std::min(a.getLevel(), b.getLevel());
    if (level >= out.getSize() || (out.isModUp() && out.getSize() > moduli_.size()))
        throw RuntimeException(kShapeMismatchMessage);
    shapeElement(out, level, device);
    u64 *z = out.getData().getData();
    for (u64 i = 0; i <= level; ++i)
        moduli_[i].innerProduct(a.getLimb(i), b.getLimb(i), &z[i], degree_);
}

} // namespace Quelt
