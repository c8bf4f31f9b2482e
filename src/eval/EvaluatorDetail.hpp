#pragma once

// Helpers the evaluator's source files share: shaping an output ciphertext
// and running a kernel over every polynomial of a ciphertext.

#include "Quelt/Ciphertext.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>

namespace Quelt::detail {

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

} // namespace Quelt::detail
