#pragma once

// Helpers the evaluator's source files share: pools of scratch objects, shaping an output ciphertext,
// running a kernel over every polynomial of a ciphertext and re-encoding a plaintext at a level.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace Quelt::detail {

// A few objects kept for the next call (one per concurrent caller, up to
// kKept), so that repeated calls touch no fresh memory once the objects have
// their shape. take() gives null when none is kept.
template <typename T>
class ScratchPool {
public:
    std::unique_ptr<T> take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (kept_.empty())
            return nullptr;
        std::unique_ptr<T> object = std::move(kept_.back());
        kept_.pop_back();
        return object;
    }
    void give(std::unique_ptr<T> object) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (kept_.size() < kKept)
            kept_.push_back(std::move(object));
    }

private:
    static constexpr std::size_t kKept = 4;
    std::mutex mutex_;
    std::vector<std::unique_ptr<T>> kept_;
};

// Gives `out` n polynomials. An output that is not an input of the call
// (aliased false) and belongs to another context than `shape`, or differs
// from it in mod-up state, is first replaced by a fresh ciphertext of shape's
// context, so that the kernels never meet polynomials of another chain.
template <EncryptionType ET>
void prepareOutput(const CiphertextBase<ET> &shape, CiphertextBase<ET> &out, std::uint64_t n,
                   bool aliased) {
    if (!aliased && (out.getContext() != shape.getContext() || out.isModUp() != shape.isModUp()))
        out = CiphertextBase<ET>(shape.getContext(), shape.isModUp(), true);
    if (out.getNumPoly() != n)
        out.setNumPoly(n);
}

// Runs two(in0, in1, out0, out1) on a two-polynomial ciphertext, so that the
// kernels that treat both polynomials in one pass serve the common case, and
// one(in_i, out_i) on every polynomial otherwise. out must already hold as
// many polynomials as ct.
template <EncryptionType ET, typename Two, typename One>
void forEachPoly(const CiphertextBase<ET> &ct, CiphertextBase<ET> &out, Two &&two, One &&one) {
    const std::uint64_t n = ct.getNumPoly();
    if (n == 2) {
        two(ct.getPoly(0), ct.getPoly(1), out.getPoly(0), out.getPoly(1));
        return;
    }
    for (std::uint64_t i = 0; i < n; ++i)
        one(ct.getPoly(i), out.getPoly(i));
}

// The plaintext encoded again at `level` with `counter`, in its own form
// (NTT or coefficients), when its level is another; otherwise nothing (the
// caller uses ptxt).
inline std::optional<Plaintext>
reencodeIfLevelDiffers(const std::shared_ptr<ContextContent> &context, const Plaintext &ptxt,
                       std::uint64_t level, int counter) {
    if (ptxt.getLevel() == level)
        return std::nullopt;
    const EnDecoder encoder(context);
    const Message msg = encoder.decode(ptxt);
    if (ptxt.getMx().isNTT())
        return encoder.encode(msg, level, counter);
    return encoder.encodeWithoutNTT(msg, level, counter);
}

} // namespace Quelt::detail
