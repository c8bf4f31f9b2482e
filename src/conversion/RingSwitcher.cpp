#include "conversion/RingSwitcher.hpp"

#include "Quelt/Exception.hpp"
#include "arith/NTT.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "foundation/DeviceDispatch.hpp"

#include <algorithm>
#include <cstring>

namespace Quelt {

namespace {

using u64 = std::uint64_t;

// Side of the tiles of combineBatch: 256 words of 256 sources stay in the
// first cache levels while both sides are walked in short runs.
constexpr u64 kTile = 256;

// Limbs a polynomial of this shape uses in a copy: all of them in mod-up
// form, else 0 .. level.
u64 walkLimbs(const Polynomial &p) { return p.isModUp() ? p.getSize() : p.getLevel() + 1; }

// Throws unless p's array holds `limbs` limbs.
void checkHolds(const Polynomial &p, u64 limbs) {
    if (p.getData().size() / std::max<u64>(p.getDegree(), 1) < limbs)
        throw RuntimeException(RingSwitcher::kShapeMessage);
}

void checkNotNull(const void *p) {
    if (p == nullptr)
        throw RuntimeException(RingSwitcher::kNullOperandMessage);
}

void checkApart(const void *out, const void *in) {
    if (out == in)
        throw RuntimeException(RingSwitcher::kAliasedOutputMessage);
}

void checkNotNTT(const Polynomial &p) {
    if (p.isNTT())
        throw RuntimeException(RingSwitcher::kNotNTTMessage);
}

// An output about to take level `level` and the mod-up state of the input
// whose walk covers `limbs` limbs: the same mod-up state, a level within its
// chain (the polynomial's own message), and in mod-up form the same size
// with an array holding it.
void checkOutput(const Polynomial &out, u64 level, bool mod_up, u64 limbs) {
    if (out.isModUp() != mod_up)
        throw RuntimeException(RingSwitcher::kShapeMessage);
    out.checkLevel(level);
    if (mod_up) {
        if (out.getSize() != limbs)
            throw RuntimeException(RingSwitcher::kShapeMessage);
        checkHolds(out, limbs);
    }
}

// Storage on the device, then the level (a plain array becomes (level + 1)
// x degree words; a mod-up one keeps its size).
void shapeOutput(Polynomial &out, u64 level, const Device &device) {
    out.allocate(device);
    out.setLevel(level);
}

// An element about to receive `limbs` residues at `level`.
void checkElement(const LevelledElement &e, u64 level) {
    if (level >= e.getSize())
        throw RuntimeException(RingSwitcher::kShapeMessage);
}

void shapeElement(LevelledElement &e, u64 level, u64 limbs, const Device &device) {
    e.allocate(device);
    e.setLevel(level);
    if (!e.isModUp() || e.getData().size() < limbs)
        e.getData().resize(limbs);
}

// Device of every entry of a list (none null), checked to be one.
template <typename T>
Device commonDevice(const std::vector<const T *> &list) {
    for (const T *p : list)
        checkNotNull(p);
    const Device device = list.front()->getDevice();
    for (const T *p : list)
        if (!(p->getDevice() == device))
            throw RuntimeException(RingSwitcher::kDifferentDevicesMessage);
    return device;
}

// Primes 0 .. limbs - 1 of p are those of the chain.
void checkPrimes(const Polynomial &p, const PrimeModuli &chain, u64 limbs) {
    if (p.getPrimes().size() < limbs || chain.getNumPrimes() < limbs)
        throw RuntimeException(RingSwitcher::kIncompatibleContextMessage);
    for (u64 i = 0; i < limbs; ++i)
        if (p.getPrimes()[i] != chain.getModulus(i).getPrime())
            throw RuntimeException(RingSwitcher::kIncompatibleContextMessage);
}

// The strided copy of embed on one limb: out = 0 except out[j m] = in[j].
void embedLimb(const u64 *in, u64 n, u64 m, u64 *out) {
    std::fill(out, out + n * m, 0);
    for (u64 j = 0; j < n; ++j)
        out[j * m] = in[j];
}

// The checks of a copy from one polynomial into another whose degrees
// relate by a whole ratio (`small` divides `big`), in the order of the
// messages: divisibility, coefficient form when asked, device, then the
// shapes. Returns the number of limbs the copy walks.
u64 checkPair(const Polynomial &in, const Polynomial &out, u64 small, u64 big, bool refuse_ntt,
              const char *twin, const char *own) {
    if (small == 0 || big % small != 0)
        throw RuntimeException(RingSwitcher::kNotDivideMessage);
    if (refuse_ntt)
        checkNotNTT(in);
    dispatchDevice(in.getDevice(), twin, own);
    checkApart(&out, &in);
    const u64 limbs = walkLimbs(in);
    checkHolds(in, limbs);
    checkOutput(out, in.getLevel(), in.isModUp(), limbs);
    return limbs;
}

// out takes in's level, device and form.
void shapeLike(const Polynomial &in, Polynomial &out) {
    shapeOutput(out, in.getLevel(), in.getDevice());
    out.setNTT(in.isNTT());
}

} // namespace

void RingSwitcher::split(const Polynomial &in, std::vector<Polynomial *> &outs) const {
    const u64 N = in.getDegree();
    u64 total = 0;
    for (const Polynomial *out : outs) {
        checkNotNull(out);
        total += out->getDegree();
    }
    if (total != N)
        throw RuntimeException(kTotalDimensionMessage);
    checkNotNTT(in);
    const u64 n = outs.front()->getDegree();
    for (const Polynomial *out : outs)
        if (out->getDegree() != n)
            throw RuntimeException(kUnequalDegreesMessage);
    dispatchDevice(in.getDevice(), "splitCUDA", "split");
    const u64 limbs = walkLimbs(in);
    checkHolds(in, limbs);
    for (const Polynomial *out : outs) {
        checkApart(out, &in);
        checkOutput(*out, in.getLevel(), in.isModUp(), limbs);
    }
    const u64 m = N / n;
    for (Polynomial *out : outs) {
        shapeOutput(*out, in.getLevel(), in.getDevice());
        out->setNTT(in.isNTT());
    }
    for (u64 l = 0; l < limbs; ++l) {
        const u64 *src = in.getLimb(l);
        for (u64 k = 0; k < outs.size(); ++k) {
            u64 *dst = outs[k]->getLimb(l);
            for (u64 j = 0; j < n; ++j)
                dst[j] = src[k + j * m];
        }
    }
}

void RingSwitcher::split(const Polynomial &in, std::vector<LevelledElement *> &outs) const {
    if (outs.size() != in.getDegree())
        throw RuntimeException(kTotalDimensionMessage);
    checkNotNTT(in);
    dispatchDevice(in.getDevice(), "splitCUDA", "split");
    const u64 limbs = walkLimbs(in);
    checkHolds(in, limbs);
    for (LevelledElement *out : outs) {
        checkNotNull(out);
        checkElement(*out, in.getLevel());
    }
    for (LevelledElement *out : outs)
        shapeElement(*out, in.getLevel(), limbs, in.getDevice());
    const u64 N = in.getDegree();
    for (u64 l = 0; l < limbs; ++l) {
        const u64 *src = in.getLimb(l);
        for (u64 k = 0; k < N; ++k)
            (*outs[k])[l] = src[k];
    }
}

void RingSwitcher::split(const Polynomial &in, LevelledVector &out) const {
    const u64 N = in.getDegree();
    if (out.getDimension() != N)
        throw RuntimeException(kTotalDimensionMessage);
    checkNotNTT(in);
    dispatchDevice(in.getDevice(), "splitCUDA", "split");
    const u64 limbs = walkLimbs(in);
    checkHolds(in, limbs);
    out.allocate(in.getDevice());
    out.setLevel(in.getLevel());
    out.getData().resize(limbs * N);
    std::memcpy(out.getData().getData(), in.getData().getData(), limbs * N * sizeof(u64));
}

void RingSwitcher::combine(const std::vector<const Polynomial *> &ins, Polynomial &out) const {
    const u64 N = out.getDegree();
    if (ins.empty())
        throw RuntimeException(N != 0 ? kTotalDimensionMessage : kEmptyOperandMessage);
    u64 total = 0;
    for (const Polynomial *in : ins) {
        checkNotNull(in);
        total += in->getDegree();
    }
    if (total != N)
        throw RuntimeException(kTotalDimensionMessage);
    for (const Polynomial *in : ins)
        checkNotNTT(*in);
    const Device device = commonDevice(ins);
    const u64 n = ins.front()->getDegree();
    for (const Polynomial *in : ins)
        if (in->getDegree() != n)
            throw RuntimeException(kUnequalDegreesMessage);
    dispatchDevice(device, "combineCUDA", "combine");
    const Polynomial &first = *ins.front();
    const u64 level = first.getLevel();
    for (const Polynomial *in : ins)
        checkApart(&out, in);
    out.checkLevel(level);
    const u64 limbs = out.isModUp() ? out.getSize() : level + 1;
    if (out.isModUp())
        checkHolds(out, limbs);
    for (const Polynomial *in : ins)
        checkHolds(*in, limbs);
    shapeOutput(out, level, device);
    out.setNTT(first.isNTT());
    const u64 c = ins.size();
    for (u64 l = 0; l < limbs; ++l) {
        u64 *dst = out.getLimb(l);
        for (u64 t = 0; t < c; ++t) {
            const u64 *src = ins[t]->getLimb(l);
            for (u64 j = 0; j < n; ++j)
                dst[j * c + t] = src[j];
        }
    }
}

void RingSwitcher::combine(const std::vector<const LevelledElement *> &ins, Polynomial &out) const {
    const u64 N = out.getDegree();
    if (ins.empty())
        throw RuntimeException(N != 0 ? kTotalDimensionMessage : kEmptyOperandMessage);
    if (ins.size() != N)
        throw RuntimeException(kTotalDimensionMessage);
    const Device device = commonDevice(ins);
    dispatchDevice(device, "combineCUDA", "combine");
    const u64 level = ins.front()->getLevel();
    out.checkLevel(level);
    const u64 limbs = out.isModUp() ? out.getSize() : level + 1;
    if (out.isModUp())
        checkHolds(out, limbs);
    for (const LevelledElement *in : ins)
        if (in->getData().size() < limbs)
            throw RuntimeException(kShapeMessage);
    shapeOutput(out, level, device);
    out.setNTT(false);
    for (u64 l = 0; l < limbs; ++l) {
        u64 *dst = out.getLimb(l);
        for (u64 k = 0; k < N; ++k)
            dst[k] = (*ins[k])[l];
    }
}

void RingSwitcher::combineBatch(const std::vector<const LevelledVector *> &ins,
                                std::vector<Polynomial *> &outs) const {
    if (ins.empty())
        throw RuntimeException(kEmptyOperandMessage);
    const Device device = commonDevice(ins);
    if (outs.empty())
        throw RuntimeException(kEmptyOutputsMessage);
    for (const Polynomial *out : outs)
        checkNotNull(out);
    const u64 N = ins.size();
    for (const Polynomial *out : outs)
        if (out->getDegree() != N)
            throw RuntimeException(kVectorCountMessage);
    const u64 d = ins.front()->getDimension();
    for (const LevelledVector *in : ins)
        if (in->getDimension() != d || outs.size() != d)
            throw RuntimeException(kPolynomialCountMessage);
    dispatchDevice(device, "combineBatchCUDA", "combineBatch");
    const u64 level = ins.front()->getLevel();
    for (const Polynomial *out : outs) {
        out->checkLevel(level);
        if (out->isModUp())
            throw RuntimeException(kShapeMessage);
    }
    const u64 limbs = level + 1;
    for (const LevelledVector *in : ins)
        if (in->getData().size() < limbs * d)
            throw RuntimeException(kShapeMessage);
    for (Polynomial *out : outs) {
        shapeOutput(*out, level, device);
        out->setNTT(false);
    }
    // The limb pointers of one tile's sources are looked up once per tile.
    std::vector<const u64 *> src(kTile);
    for (u64 l = 0; l < limbs; ++l)
        for (u64 k0 = 0; k0 < N; k0 += kTile) {
            const u64 k1 = std::min(N, k0 + kTile);
            for (u64 k = k0; k < k1; ++k)
                src[k - k0] = ins[k]->getLimb(l);
            for (u64 t0 = 0; t0 < d; t0 += kTile) {
                const u64 t1 = std::min(d, t0 + kTile);
                for (u64 t = t0; t < t1; ++t) {
                    u64 *dst = outs[t]->getLimb(l) + k0;
                    for (u64 k = 0; k < k1 - k0; ++k)
                        dst[k] = src[k][t];
                }
            }
        }
}

void RingSwitcher::embed(const Polynomial &in, Polynomial &out) const {
    const u64 n = in.getDegree();
    const u64 N = out.getDegree();
    const u64 limbs = checkPair(in, out, n, N, true, "embedCUDA", "embed");
    shapeLike(in, out);
    for (u64 l = 0; l < limbs; ++l)
        embedLimb(in.getLimb(l), n, N / n, out.getLimb(l));
}

void RingSwitcher::embed(const LevelledElement &in, Polynomial &out) const {
    dispatchDevice(in.getDevice(), "embedCUDA", "embed");
    const u64 level = in.getLevel();
    out.checkLevel(level);
    const u64 limbs = out.isModUp() ? out.getSize() : level + 1;
    if (out.isModUp())
        checkHolds(out, limbs);
    if (in.getData().size() < limbs)
        throw RuntimeException(kShapeMessage);
    shapeOutput(out, level, in.getDevice());
    out.setNTT(false);
    const u64 N = out.getDegree();
    for (u64 l = 0; l < limbs; ++l) {
        u64 *dst = out.getLimb(l);
        std::fill(dst, dst + N, 0);
        if (N != 0)
            dst[0] = in[l];
    }
}

std::vector<bool>
RingSwitcher::embedThroughCoefficients(const std::shared_ptr<ContextContent> &from,
                                       const std::shared_ptr<ContextContent> &to, u64 top) {
    if (!from || !to)
        throw RuntimeException(kIncompatibleContextMessage);
    const PrimeModuli &small = from->getPrimeModuli();
    const PrimeModuli &big = to->getPrimeModuli();
    if (small.getNumPrimes() <= top || big.getNumPrimes() <= top)
        throw RuntimeException(kIncompatibleContextMessage);
    std::vector<bool> through(top + 1, false);
    for (u64 i = 0; i <= top; ++i) {
        const std::shared_ptr<NTT> &s = small.getModulus(i).getNTT();
        const std::shared_ptr<NTT> &b = big.getModulus(i).getNTT();
        if (!s || !b)
            throw RuntimeException(kNoTransformMessage);
        through[i] = !sharesEvaluationPoints(*s, *b);
    }
    return through;
}

void RingSwitcher::embedNTT(const std::shared_ptr<ContextContent> &from, const Polynomial &in,
                            const std::shared_ptr<ContextContent> &to, Polynomial &out) const {
    const u64 n = in.getDegree();
    const u64 N = out.getDegree();
    const u64 limbs = checkPair(in, out, n, N, false, "embedNTTCUDA", "embedNTT");
    if (!from || !to || from->getPrimeModuli().getDegree() != n ||
        to->getPrimeModuli().getDegree() != N)
        throw RuntimeException(kIncompatibleContextMessage);
    checkPrimes(in, from->getPrimeModuli(), limbs);
    checkPrimes(out, to->getPrimeModuli(), limbs);
    const std::vector<bool> through =
        in.isNTT() ? embedThroughCoefficients(from, to, limbs - 1) : std::vector<bool>(limbs, true);

    shapeLike(in, out);
    const u64 m = N / n;
    std::vector<u64> scratch(in.isNTT() ? n : 0);
    for (u64 l = 0; l < limbs; ++l) {
        const u64 *src = in.getLimb(l);
        u64 *dst = out.getLimb(l);
        if (!through[l]) {
            // The big ring's points psi^(2 rev(j m + r) + 1) raised to m are
            // the small ring's psi'^(2 rev(j) + 1) for every r.
            for (u64 j = 0; j < n; ++j)
                std::fill(dst + j * m, dst + (j + 1) * m, src[j]);
        } else if (!in.isNTT()) {
            embedLimb(src, n, m, dst);
        } else {
            std::copy(src, src + n, scratch.begin());
            from->getPrimeModuli().getModulus(l).getNTT()->computeBackward<1>(scratch.data());
            embedLimb(scratch.data(), n, m, dst);
            to->getPrimeModuli().getModulus(l).getNTT()->computeForward<1>(dst);
        }
    }
}

void RingSwitcher::extract(const Polynomial &in, Polynomial &out) const {
    const u64 N = in.getDegree();
    const u64 n = out.getDegree();
    const u64 limbs = checkPair(in, out, n, N, true, "extractCUDA", "extract");
    shapeLike(in, out);
    const u64 m = N / n;
    for (u64 l = 0; l < limbs; ++l) {
        const u64 *src = in.getLimb(l);
        u64 *dst = out.getLimb(l);
        for (u64 j = 0; j < n; ++j)
            dst[j] = src[j * m];
    }
}

void RingSwitcher::extract(const Polynomial &in, LevelledElement &out) const {
    checkNotNTT(in);
    dispatchDevice(in.getDevice(), "extractCUDA", "extract");
    const u64 limbs = walkLimbs(in);
    checkHolds(in, limbs);
    checkElement(out, in.getLevel());
    shapeElement(out, in.getLevel(), limbs, in.getDevice());
    for (u64 l = 0; l < limbs; ++l)
        out[l] = in.getDegree() != 0 ? in.getLimb(l)[0] : 0;
}

namespace {

// The common frame of the two conjugate-invariant copies: out takes in's
// level (a plain array is resized, a mod-up one kept) on the host without a
// new allocation; both must hold out's limbs.
u64 shapeConjugateOutput(const Polynomial &in, Polynomial &out) {
    out.checkLevel(in.getLevel());
    const u64 limbs = out.isModUp() ? out.getSize() : in.getLevel() + 1;
    if (out.isModUp())
        checkHolds(out, limbs);
    checkHolds(in, limbs);
    out.setLevel(in.getLevel());
    return limbs;
}

} // namespace

void RingSwitcher::conjInvToCyclic(const Polynomial &in, Polynomial &out) const {
    if (out.getDegree() != (in.getDegree() >> 1))
        throw RuntimeException(kHalfDegreeMessage);
    dispatchDevice(in.getDevice(), "copyCUDA", "conjInvToCyclic");
    checkApart(&out, &in);
    const u64 limbs = shapeConjugateOutput(in, out);
    const u64 n = out.getDegree();
    for (u64 l = 0; l < limbs; ++l) {
        const u64 *src = in.getLimb(l);
        std::copy(src, src + n, out.getLimb(l));
    }
}

void RingSwitcher::cyclicToConjInv(const Polynomial &in, Polynomial &out) const {
    if (in.getDegree() != (out.getDegree() >> 1))
        throw RuntimeException(kTwiceDegreeMessage);
    dispatchDevice(in.getDevice(), "copyReverseCUDA", "cyclicToConjInv");
    checkApart(&out, &in);
    const u64 limbs = shapeConjugateOutput(in, out);
    const u64 n = in.getDegree();
    for (u64 l = 0; l < limbs; ++l) {
        const u64 *src = in.getLimb(l);
        u64 *dst = out.getLimb(l);
        std::copy(src, src + n, dst);
        std::reverse_copy(src, src + n, dst + n);
    }
}

} // namespace Quelt
