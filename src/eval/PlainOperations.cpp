// The evaluator's operations on plain data: messages slot by slot (their
// rotations included), plaintexts with the ciphertexts' residue arithmetic,
// levels and rescale counters, and the two operations on bare polynomial
// lists.

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "client/ConstantEnDecoder.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/PlaintextImpl.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/PlainChecks.hpp"
#include "eval/PlainEvaluator.hpp"
#include "eval/Precondition.hpp"
#include "foundation/DeviceDispatch.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace Quelt {

using i64 = std::int64_t;
using Complex = std::complex<double>;

// ---- Checks ------------------------------------------------------------------------

namespace utils {

void checkPrecondition(const Message &a, const Message &b) {
    if (a.getLogSlots() != b.getLogSlots() || a.getSize() != b.getSize())
        throw RuntimeException(kDifferentLogSlotsMessage);
    if (a.getDevice() != b.getDevice())
        throw RuntimeException(kDifferentDevicesMessage);
}

void checkPrecondition(const Plaintext &a, const Plaintext &b) {
    if (a.getLogSlots() != b.getLogSlots())
        throw RuntimeException(kDifferentLogSlotsMessage);
    if (a.getRescaleCounter() != b.getRescaleCounter())
        throw RuntimeException(kDifferentRescaleCounterMessage);
    if (a.getDevice() != b.getDevice())
        throw RuntimeException(kDifferentDevicesMessage);
}

void fitOutput(const Message &in, Message &out) {
    if (isAccelerator(in.getDevice()))
        throw RuntimeException(HomEvaluatorImpl::kAcceleratorMessage);
    if (out.getDevice() != in.getDevice())
        out.allocate(in.getDevice());
    // Sizes rather than log slot counts: an empty out and a one-slot input
    // share log slot count 0.
    if (out.getSize() != in.getSize())
        out.resize(in.getSize());
}

} // namespace utils

namespace {

// out_i = f(x_i) over x's slots; out may be x.
template <typename F>
void mapSlots(const Message &x, Message &out, F f) {
    utils::fitOutput(x, out);
    const u64 n = x.getSize();
    const Complex *in = x.begin();
    Complex *target = out.begin();
    for (u64 i = 0; i < n; ++i)
        target[i] = f(in[i]);
}

// out_i = f(a_i, b_i) after the two-message checks; out may be a or b.
template <typename F>
void zipSlots(const Message &a, const Message &b, Message &out, F f) {
    utils::checkPrecondition(a, b);
    utils::fitOutput(a, out);
    const u64 n = a.getSize();
    const Complex *x = a.begin();
    const Complex *y = b.begin();
    Complex *target = out.begin();
    for (u64 i = 0; i < n; ++i)
        target[i] = f(x[i], y[i]);
}

// Builds the result in a copy of `shape` and hands it to out, so that out
// may be an operand, takes shape's context, and stays as it was when a
// kernel refuses.
template <typename F>
void buildPlain(const Plaintext &shape, Plaintext &out, F build) {
    Plaintext result(shape);
    build(result);
    out = std::move(result);
}

// A complex constant or the imaginary unit works on NTT slots.
void throwIfNotNTT(const Plaintext &p) {
    if (!p.getMx().isNTT())
        throw RuntimeException(PrimeModuli::kNotNTTMessage);
}

} // namespace

PlainEvaluator::PlainEvaluator(std::shared_ptr<ContextContent> context)
    : context_(std::move(context)) {}

// ---- Messages --------------------------------------------------------------------

void PlainEvaluator::negate(const Message &m, Message &out) const {
    mapSlots(m, out, [](const Complex &x) { return -x; });
}

void PlainEvaluator::add(const Message &m, const Complex &c, Message &out) const {
    mapSlots(m, out, [c](const Complex &x) { return x + c; });
}

void PlainEvaluator::sub(const Message &m, const Complex &c, Message &out) const {
    mapSlots(m, out, [c](const Complex &x) { return x - c; });
}

void PlainEvaluator::add(const Message &a, const Message &b, Message &out) const {
    zipSlots(a, b, out, [](const Complex &x, const Complex &y) { return x + y; });
}

void PlainEvaluator::sub(const Message &a, const Message &b, Message &out) const {
    zipSlots(a, b, out, [](const Complex &x, const Complex &y) { return x - y; });
}

// The products are std::complex products, whose infinite and NaN parts follow
// the language's rules (the build never enables limited-range arithmetic).
void PlainEvaluator::mult(const Message &m, const Complex &c, Message &out) const {
    mapSlots(m, out, [c](const Complex &x) { return c * x; });
}

void PlainEvaluator::mult(const Message &a, const Message &b, Message &out) const {
    zipSlots(a, b, out, [](const Complex &x, const Complex &y) { return x * y; });
}

void PlainEvaluator::square(const Message &m, Message &out) const {
    mapSlots(m, out, [](const Complex &x) { return x * x; });
}

void PlainEvaluator::multImagUnit(const Message &m, Message &out) const {
    mapSlots(m, out, [](const Complex &x) { return x * Complex(0.0, 1.0); });
}

void PlainEvaluator::conjugate(const Message &m, Message &out) const {
    mapSlots(m, out, [](const Complex &x) { return Complex(x.real(), -x.imag()); });
}

// ---- Message rotations ---------------------------------------------------------------

namespace {

// out = in rotated left by `shift` (already below the size), on the host.
void rotateSlots(const Message &in, u64 shift, Message &out) {
    utils::fitOutput(in, out);
    if (&in != &out)
        std::copy(in.begin(), in.end(), out.begin());
    if (shift != 0)
        std::rotate(out.begin(), out.begin() + shift, out.end());
}

} // namespace

void PlainEvaluator::leftRotate(const Message &m, u64 idx, Message &out) const {
    const u64 n = m.getSize();
    rotateSlots(m, n == 0 ? 0 : idx % n, out);
}

void PlainEvaluator::rightRotate(const Message &m, u64 idx, Message &out) const {
    const u64 n = m.getSize();
    rotateSlots(m, n == 0 ? 0 : (n - idx % n) % n, out);
}

void PlainEvaluator::rotateReduce(const Message &in, u64 gap, u64 n, Message &out,
                                  bool left) const {
    Message sum;
    utils::fitOutput(in, sum);
    std::copy(in.begin(), in.end(), sum.begin());
    Message t;
    for (u64 i = 1; i < n; ++i) {
        if (left)
            leftRotate(in, i * gap, t);
        else
            rightRotate(in, i * gap, t);
        for (u64 k = 0; k < sum.getSize(); ++k)
            sum[k] += t[k];
    }
    out = std::move(sum);
}

void PlainEvaluator::leftRotateReduce(const Message &in, u64 gap, u64 n, Message &out) const {
    rotateReduce(in, gap, n, out, true);
}

void PlainEvaluator::rightRotateReduce(const Message &in, u64 gap, u64 n, Message &out) const {
    rotateReduce(in, gap, n, out, false);
}

// ---- Plaintexts ------------------------------------------------------------------

void PlainEvaluator::negate(const Plaintext &p, Plaintext &out) const {
    utils::requireContext(*context_, p, "negate", "plaintext");
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(p, out, [&](Plaintext &r) { chain.negate(p.getMx(), r.getMx()); });
}

void PlainEvaluator::add(const Plaintext &p, const Complex &c, Plaintext &out) const {
    utils::requireContext(*context_, p, "add", "plaintext");
    const u64 level = p.getLevel();
    const int counter = p.getRescaleCounter();
    const ConstantEnDecoder encoder(context_);
    // The encoder refuses a part that is not finite before anything is built.
    const LevelledElement re = encoder.encodeConst(c.real(), level, counter);
    std::optional<LevelledElement> im;
    if (c.imag() != 0.0) {
        im = encoder.encodeConst(c.imag(), level, counter);
        throwIfNotNTT(p);
    }
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(p, out, [&](Plaintext &r) {
        if (im)
            chain.constAdd(p.getMx(), re, *im, r.getMx());
        else
            chain.constAdd(p.getMx(), re, r.getMx());
    });
}

void PlainEvaluator::sub(const Plaintext &p, const Complex &c, Plaintext &out) const {
    utils::requireContext(*context_, p, "sub", "plaintext");
    add(p, -c, out);
}

void PlainEvaluator::addOrSubPlain(const Plaintext &a, const Plaintext &b, Plaintext &out,
                                   bool subtract) const {
    const char *function = subtract ? "sub" : "add";
    utils::requireContext(*context_, a, function, "first plaintext");
    utils::requireContext(*context_, b, function, "second plaintext");
    utils::requireSameForm(utils::formOf(a), utils::formOf(b), function, "first plaintext",
                           "second plaintext");
    if (a.getLevel() != b.getLevel())
        throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
    utils::checkPrecondition(a, b);
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(a, out, [&](Plaintext &r) {
        if (subtract)
            chain.sub(a.getMx(), b.getMx(), r.getMx());
        else
            chain.add(a.getMx(), b.getMx(), r.getMx());
    });
}

void PlainEvaluator::add(const Plaintext &a, const Plaintext &b, Plaintext &out) const {
    addOrSubPlain(a, b, out, false);
}

void PlainEvaluator::sub(const Plaintext &a, const Plaintext &b, Plaintext &out) const {
    addOrSubPlain(a, b, out, true);
}

void PlainEvaluator::multWithoutRescale(const Plaintext &p, const Complex &c,
                                        Plaintext &out) const {
    utils::requireContext(*context_, p, "multWithoutRescale", "plaintext");
    const u64 level = p.getLevel();
    if (level == 0)
        throw RuntimeException(HomEvaluatorImpl::kLevelZero);
    const int counter = p.getRescaleCounter() + 1;
    PlaintextImpl::checkRescaleCounter(counter, level);
    const ConstantEnDecoder encoder(context_);
    const LevelledElement re = encoder.encodeConst(c.real(), level, 0);
    std::optional<LevelledElement> im;
    if (c.imag() != 0.0) {
        im = encoder.encodeConst(c.imag(), level, 0);
        throwIfNotNTT(p);
    }
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(p, out, [&](Plaintext &r) {
        if (im)
            chain.constMult(p.getMx(), re, *im, r.getMx());
        else
            chain.constMult(p.getMx(), re, r.getMx());
        r.setRescaleCounter(counter);
    });
}

void PlainEvaluator::mult(const Plaintext &p, const Complex &c, Plaintext &out) const {
    utils::requireContext(*context_, p, "mult", "plaintext");
    if (p.getLevel() == 0)
        throw RuntimeException(HomEvaluatorImpl::kLevelZero);
    if (p.getRescaleCounter() != 0)
        throw RuntimeException(HomEvaluatorImpl::kRescaleCounterNotZero);
    // No integer shortcut: every constant costs a level.
    multWithoutRescale(p, c, out);
    rescaleChecked(out);
}

void PlainEvaluator::checkPlainProduct(const Plaintext &a, const Plaintext &b,
                                       const char *function) const {
    // Products of the NTT slots.
    utils::requireNTTOperand(*context_, a, function, &a == &b ? "plaintext" : "first plaintext");
    utils::requireNTTOperand(*context_, b, function, "second plaintext");
    if (a.getLevel() == 0 || b.getLevel() == 0)
        throw RuntimeException(HomEvaluatorImpl::kLevelZero);
    if (a.getLevel() != b.getLevel())
        throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
    if (a.getRescaleCounter() != 0 || b.getRescaleCounter() != 0)
        throw RuntimeException(HomEvaluatorImpl::kRescaleCountersNotZero);
}

void PlainEvaluator::multWithoutRescale(const Plaintext &a, const Plaintext &b,
                                        Plaintext &out) const {
    checkPlainProduct(a, b, "multWithoutRescale");
    utils::checkPrecondition(a, b);
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(a, out, [&](Plaintext &r) {
        chain.hadamardMult(a.getMx(), b.getMx(), r.getMx());
        r.setRescaleCounter(1);
    });
}

void PlainEvaluator::mult(const Plaintext &a, const Plaintext &b, Plaintext &out) const {
    checkPlainProduct(a, b, "mult");
    multWithoutRescale(a, b, out);
    rescaleChecked(out);
}

void PlainEvaluator::square(const Plaintext &p, Plaintext &out) const {
    checkPlainProduct(p, p, "square");
    multWithoutRescale(p, p, out);
    rescaleChecked(out);
}

void PlainEvaluator::multImagUnit(const Plaintext &p, Plaintext &out) const {
    utils::requireContext(*context_, p, "multImagUnit", "plaintext");
    throwIfNotNTT(p);
    const u64 level = p.getLevel();
    const bool mod_up = p.getMx().isModUp();
    const LevelledElement re(0, context_, mod_up, level);
    const LevelledElement im(1, context_, mod_up, level);
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(p, out, [&](Plaintext &r) { chain.constMult(p.getMx(), re, im, r.getMx()); });
}

void PlainEvaluator::multInteger(const Plaintext &p, i64 k, Plaintext &out) const {
    utils::requireContext(*context_, p, "multInteger", "plaintext");
    const PrimeModuli &chain = context_->getPrimeModuli();
    buildPlain(p, out, [&](Plaintext &r) {
        if (k == 1)
            return;
        if (k == -1) {
            chain.negate(p.getMx(), r.getMx());
        } else if (k < -1) {
            const LevelledElement residues(k, context_, p.getMx().isModUp(), p.getLevel());
            chain.constMult(p.getMx(), residues, r.getMx());
        } else {
            chain.constMult(p.getMx(), static_cast<u64>(k), r.getMx());
        }
    });
}

void PlainEvaluator::rescaleChecked(Plaintext &p) const {
    const int counter = p.getRescaleCounter();
    context_->getPrimeModuli().rescale(p.getMx());
    p.setRescaleCounter(counter - 1);
}

void PlainEvaluator::rescale(Plaintext &p) const {
    utils::requireContext(*context_, p, "rescale", "plaintext");
    if (p.getLevel() == 0)
        throw RuntimeException(HomEvaluatorImpl::kLevelZero);
    if (p.getRescaleCounter() <= 0)
        throw RuntimeException(HomEvaluatorImpl::kPlaintextRescaleCounterNotPositive);
    rescaleChecked(p);
}

void PlainEvaluator::inverseRescale(Plaintext &p) const {
    utils::requireContext(*context_, p, "inverseRescale", "plaintext");
    const u64 level = p.getLevel();
    if (level + 1 >= getLength(context_))
        throw RuntimeException(HomEvaluatorImpl::kInverseRescaleAtTop);
    const int counter = p.getRescaleCounter() + 1;
    PlaintextImpl::checkRescaleCounter(counter, level + 1);
    context_->getPrimeModuli().inverseRescale(p.getMx());
    p.setRescaleCounter(counter);
}

void PlainEvaluator::relevel(const Plaintext &p, u64 level, Plaintext &out) const {
    utils::requireContext(*context_, p, "relevel", "plaintext");
    if (level >= getLength(context_))
        throw RuntimeException(HomEvaluatorImpl::kRelevelTooBig);
    const int counter = p.getRescaleCounter();
    // The plaintext rule holds at the target level too.
    PlaintextImpl::checkRescaleCounter(counter, level);
    const EnDecoder encoder(context_);
    out = encoder.encode(encoder.decode(p), level, counter);
}

void PlainEvaluator::conjugate(const Plaintext &p, Plaintext &out) const {
    // The automorphism permutes the NTT slots.
    utils::requireNTTOperand(*context_, p, "conjugate", "plaintext");
    const PrimeModuli &chain = context_->getPrimeModuli();
    // The automorphism needs an output other than its input: the copy.
    buildPlain(p, out,
               [&](Plaintext &r) { chain.frobeniusMapInNTT<false>(p.getMx(), -1, r.getMx()); });
}

// ---- Polynomial lists --------------------------------------------------------------

namespace {

// The device and mod-up checks of the prime-wise kernels for every pair,
// run before the first output is written.
void checkPairs(const PolynomialVector &a, const PolynomialVector &b, u64 count) {
    for (u64 i = 0; i < count; ++i) {
        const Polynomial &x = a.getPoly(i);
        const Polynomial &y = b.getPoly(i);
        if (x.getDevice() != y.getDevice())
            throw RuntimeException(PrimeModuli::kDifferentDevicesMessage);
        if (x.isModUp() != y.isModUp())
            throw RuntimeException(PrimeModuli::kDifferentModUpMessage);
    }
}

// out (not an input) of another context starts afresh over a's.
void adoptContext(const PolynomialVector &a, PolynomialVector &out) {
    if (out.getContext() != a.getContext())
        out = PolynomialVector(a.getContext(), 0, false, true);
}

// out's polynomial takes the layout of the input it receives (mod-up limbs),
// unless it is one of the operands.
void shapeLike(const Polynomial &input, const Polynomial &other, Polynomial &out) {
    if (&out != &input && &out != &other &&
        (out.isModUp() != input.isModUp() || out.getSize() != input.getSize() ||
         out.getChainLength() != input.getChainLength()))
        out = Polynomial::shapedLike(input);
}

} // namespace

void PlainEvaluator::add(const PolynomialVector &a, const PolynomialVector &b,
                         PolynomialVector &out) const {
    const u64 n_a = a.getSize();
    const u64 n_b = b.getSize();
    const u64 common = std::min(n_a, n_b);
    checkPairs(a, b, common);
    if (&out != &a && &out != &b)
        adoptContext(a, out);
    out.setSize(std::max(n_a, n_b));
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (u64 i = 0; i < common; ++i) {
        shapeLike(a.getPoly(i), b.getPoly(i), out.getPoly(i));
        chain.add(a.getPoly(i), b.getPoly(i), out.getPoly(i));
    }
    const PolynomialVector &longer = n_a >= n_b ? a : b;
    if (&out != &longer)
        for (u64 i = common; i < longer.getSize(); ++i)
            out.getPoly(i) = longer.getPoly(i);
}

void PlainEvaluator::multWithoutRescale(const PolynomialVector &a, const Plaintext &p,
                                        PolynomialVector &out) const {
    const Polynomial &mx = p.getMx();
    for (u64 i = 0; i < a.getSize(); ++i) {
        const Polynomial &x = a.getPoly(i);
        if (x.getDevice() != mx.getDevice())
            throw RuntimeException(PrimeModuli::kDifferentDevicesMessage);
        if (x.isModUp() && !mx.isModUp())
            throw RuntimeException(PrimeModuli::kDifferentModUpMessage);
    }
    if (&out != &a)
        adoptContext(a, out);
    out.setSize(a.getSize());
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (u64 i = 0; i < a.getSize(); ++i) {
        shapeLike(a.getPoly(i), mx, out.getPoly(i));
        chain.hadamardMultModUp(a.getPoly(i), mx, out.getPoly(i));
    }
}

} // namespace Quelt
