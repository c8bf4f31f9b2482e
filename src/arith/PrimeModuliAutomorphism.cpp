// Galois automorphisms in NTT form, monomial shifts, the index reversal of
// LWE vectors and the half-degree embedding.

#include "arith/KeySwitchKernels.hpp"
#include "arith/PrimeModuli.hpp"

#include "Quelt/Exception.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <bit>
#include <map>
#include <mutex>

namespace Quelt {

namespace {

constexpr const char *kConjugateInvertIndexMessage =
    "[PrimeModuli] The index of conjugateInvert must be below the dimension.";
constexpr const char *kConjugateInvertCountMessage =
    "[PrimeModuli] conjugateInvertBatch takes at most as many outputs as the dimension, none "
    "of them null.";

// k reduced into [0, 2N); 2N is a power of two, so the unsigned wrap of a
// negative k already is a multiple of 2N away from it.
u64 reduceExponent(std::int64_t k, u64 two_n) { return static_cast<u64>(k) & (two_n - 1); }

} // namespace

// Tables of X -> X^k by exponent. Lookups and insertions hold the mutex;
// building a table does not, so two callers may build the same table once
// each (the first one stored wins).
class PrimeModuli::FrobeniusCache {
public:
    // About 64 MiB of tables: at degree 2^16, 256 exponents.
    static constexpr std::size_t kMaxWords = std::size_t{1} << 24;

    std::shared_ptr<const std::vector<std::uint32_t>> find(u64 k) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = tables_.find(k);
        return it == tables_.end() ? nullptr : it->second;
    }

    std::shared_ptr<const std::vector<std::uint32_t>>
    keep(u64 k, std::shared_ptr<const std::vector<std::uint32_t>> table) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = tables_.find(k);
        if (it != tables_.end())
            return it->second;
        if (words_ + table->size() <= kMaxWords) {
            words_ += table->size();
            tables_.emplace(k, table);
        }
        return table;
    }

private:
    std::mutex mutex_;
    std::map<u64, std::shared_ptr<const std::vector<std::uint32_t>>> tables_;
    std::size_t words_ = 0;
};

std::shared_ptr<PrimeModuli::FrobeniusCache> PrimeModuli::makeFrobeniusCache() {
    return std::make_shared<FrobeniusCache>();
}

std::shared_ptr<const std::vector<std::uint32_t>>
PrimeModuli::frobeniusTable(std::int64_t k) const {
    const u64 n = degree_;
    const u64 two_n = 2 * n;
    const u64 kk = reduceExponent(k, two_n);
    if (frobenius_cache_)
        if (auto cached = frobenius_cache_->find(kk))
            return cached;
    const unsigned bits = static_cast<unsigned>(std::countr_zero(n));
    // Bit reversals of 0..N-1, each from the one of j / 2.
    std::vector<std::uint32_t> rev(n, 0);
    for (u64 j = 1; j < n; ++j)
        rev[j] = static_cast<std::uint32_t>((rev[j >> 1] >> 1) | ((j & 1) << (bits - 1)));
    auto table = std::make_shared<std::vector<std::uint32_t>>(n);
    // Slot j holds the value at zeta^(2 rev(j) + 1); X -> X^k moves it to the
    // slot of the exponent (2 rev(j) + 1) k mod 2N.
    for (u64 j = 0; j < n; ++j) {
        const u64 t = ((2 * u64{rev[j]} + 1) * kk) & (two_n - 1);
        (*table)[j] = rev[(t - 1) / 2];
    }
    if (!frobenius_cache_)
        return table;
    return frobenius_cache_->keep(kk, std::move(table));
}

template <bool Accumulate>
void PrimeModuli::frobeniusMapInNTT(const Polynomial &in, std::int64_t k, Polynomial &out) const {
    if ((k & 1) == 0)
        throw RuntimeException(kEvenFrobeniusMessage);
    const u64 two_n = 2 * degree_;
    const u64 kk = reduceExponent(k, two_n);
    if (kk != 1)
        checkOutputApart(&out, {&in});
    const Device device = in.getDevice();
    checkDeviceSupported(device);
    dispatch(device, "frobeniusMapInNTTCUDA", "frobeniusMapInNTT");
    checkOperand(in);

    if (kk == 1) {
        if constexpr (Accumulate) {
            add(in, out, out);
        } else if (&in != &out) {
            out = in;
        }
        return;
    }

    // Accumulating keeps only what both hold; a plain map takes in's level.
    u64 level = in.getLevel();
    if constexpr (Accumulate) {
        checkOperand(out);
        if (out.getDevice() != device)
            throw RuntimeException(kDifferentDevicesMessage);
        level = std::min(level, out.getLevel());
    }
    checkOutput(out, level);
    const bool all_mod_up = in.isModUp() && out.isModUp();
    shapeOutput(out, level, device);
    const u64 top = std::min(in.getTopIndex(), out.getTopIndex());

    const u64 n = degree_;
    const std::shared_ptr<const std::vector<std::uint32_t>> table =
        kk == two_n - 1 ? nullptr : frobeniusTable(static_cast<std::int64_t>(kk));
    std::vector<u64> scratch(Accumulate ? n : 0);
    auto map_limb = [&](u64 i) {
        const u64 *src = in.getLimb(i);
        u64 *dst = Accumulate ? scratch.data() : out.getLimb(i);
        if (!table) {
            std::reverse_copy(src, src + n, dst);
        } else {
            keyswitch_kernels::permuteWords(src, table->data(), dst, n);
        }
        if constexpr (Accumulate)
            moduli_[i].addVector(out.getLimb(i), out.getLimb(i), scratch.data(), n);
    };
    for (u64 i = 0; i <= std::min(level, top); ++i)
        map_limb(i);
    if (all_mod_up)
        for (u64 i = out.getChainLength(); i <= top; ++i)
            map_limb(i);
    out.setNTT(true);
}

template void PrimeModuli::frobeniusMapInNTT<false>(const Polynomial &, std::int64_t,
                                                    Polynomial &) const;
template void PrimeModuli::frobeniusMapInNTT<true>(const Polynomial &, std::int64_t,
                                                   Polynomial &) const;

void PrimeModuli::multMonomial(const Polynomial &in, Polynomial &out, std::int64_t k) const {
    checkOutputApart(&out, {&in});
    const Device device = in.getDevice();
    dispatch(device, "multMonomialCUDA", "multMonomial");
    checkOperand(in);
    const u64 level = in.getLevel();
    checkOutput(out, level);
    checkSameModUp(in, out);
    shapeOutput(out, level, device);
    out.setNTT(false);
    // X^(2N) = 1, so k is taken modulo 2N and then into [-N, N], where the
    // kernel negates what wraps past X^N.
    const u64 n = degree_;
    const std::int64_t two_n = static_cast<std::int64_t>(2 * n);
    std::int64_t shift = static_cast<std::int64_t>(reduceExponent(k, 2 * n));
    if (shift > static_cast<std::int64_t>(n))
        shift -= two_n;
    const u64 top = std::min(in.getTopIndex(), out.getTopIndex());
    for (u64 i = 0; i <= top; ++i)
        moduli_[i].multMonomial(in.getLimb(i), out.getLimb(i), n, shift);
}

namespace {

// Throws unless the vector has the chain's dimension and holds its limbs.
void checkVector(const LevelledVector &v, u64 dimension, u64 num_primes) {
    if (v.getDimension() != dimension || dimension == 0 || v.getLevel() >= num_primes ||
        v.getData().size() / dimension <= v.getLevel())
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
}

void shapeVector(LevelledVector &out, u64 level, const Device &device) {
    out.setLevel(level);
    out.getData().resize(out.getDimension() * (level + 1));
    out.allocate(device);
}

} // namespace

void PrimeModuli::conjugateInvert(const LevelledVector &in, LevelledVector &out, u64 k) const {
    checkOutputApart(&out, {&in});
    const Device device = in.getDevice();
    dispatch(device, "conjugateInvertCUDA", "conjugateInvert");
    checkVector(in, degree_, moduli_.size());
    if (out.getDimension() != degree_)
        throw RuntimeException(kShapeMismatchMessage);
    if (k >= degree_)
        throw RuntimeException(kConjugateInvertIndexMessage);
    const u64 level = in.getLevel();
    shapeVector(out, level, device);
    for (u64 i = 0; i <= level; ++i)
        moduli_[i].conjugateInvert(in.getLimb(i), out.getLimb(i), degree_, k);
}

void PrimeModuli::conjugateInvertBatch(const LevelledVector &in,
                                       const std::vector<LevelledVector *> &outs) const {
    const Device device = in.getDevice();
    dispatch(device, "conjugateInvertBatchCUDA", "conjugateInvertBatch");
    checkVector(in, degree_, moduli_.size());
    if (outs.size() > degree_)
        throw RuntimeException(kConjugateInvertCountMessage);
    for (const LevelledVector *out : outs) {
        if (out == nullptr)
            throw RuntimeException(kConjugateInvertCountMessage);
        checkOutputApart(out, {&in});
        if (out->getDimension() != degree_)
            throw RuntimeException(kShapeMismatchMessage);
    }
    const u64 level = in.getLevel();
    for (LevelledVector *out : outs)
        shapeVector(*out, level, device);
    for (u64 k = 0; k < outs.size(); ++k)
        for (u64 i = 0; i <= level; ++i)
            moduli_[i].conjugateInvert(in.getLimb(i), outs[k]->getLimb(i), degree_, k);
}

void PrimeModuli::checkEmbedPolynomial(const Polynomial &in, const Polynomial &out,
                                       u64 level) const {
    const u64 n_out = out.getDegree();
    if (n_out == 0 || in.getDegree() != 2 * n_out)
        throw RuntimeException(kHalfDegreeMessage);
    if (&in == &out || in.getLevel() != level || in.getData().size() / in.getDegree() <= level ||
        level >= out.getChainLength())
        throw RuntimeException(kShapeMismatchMessage);
    // Limb i of both must be residues modulo the same prime.
    for (u64 i = 0; i <= level; ++i)
        if (in.getPrimes().size() <= i || out.getPrimes().size() <= i ||
            in.getPrimes()[i] != out.getPrimes()[i])
            throw RuntimeException(kShapeMismatchMessage);
    // A mod-up output keeps its array, which must hold every limb it spans.
    if (out.isModUp() && out.getData().size() / n_out < out.getSize())
        throw RuntimeException(kShapeMismatchMessage);
}

void PrimeModuli::embedPolynomial(const Polynomial &in, Polynomial &out) const {
    const u64 n_out = out.getDegree();
    const u64 level = in.getLevel();
    shapeOutput(out, level, in.getDevice());
    for (u64 i = 0; i <= level; ++i) {
        const u64 *src = in.getLimb(i);
        u64 *dst = out.getLimb(i);
        for (u64 j = 0; j < n_out; ++j)
            dst[j] = src[2 * j];
    }
}

void PrimeModuli::multMonomialBatch(const std::vector<const Polynomial *> &ins,
                                    std::vector<Polynomial *> &, std::int64_t) const {
    const bool any = !ins.empty() && ins.front() != nullptr;
    throwUnsupportedOn(any ? ins.front()->getDevice() : kHostDevice, "multMonomialBatchCUDA",
                       "multMonomialBatch");
}

} // namespace Quelt
