// Ciphertext-level members of the prime chain.

#include "arith/PrimeModuli.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Plaintext.hpp"
#include "context/Polynomial.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/WordArith.hpp"

namespace Quelt {

using Rlwe = CiphertextBase<EncryptionType::RLWE>;

void PrimeModuli::embedCiphertext(const Rlwe &in, Rlwe &out) const {
    const Device device = in.getDevice();
    dispatch(device, "embedPolynomialCUDA", "embedCiphertext");
    const u64 level = in.getLevel();
    const u64 count = in.getNumPoly();
    const Polynomial &target = out.getPoly(0);
    if (target.getDegree() == 0 || in.getPoly(0).getDegree() != 2 * target.getDegree())
        throw RuntimeException(kHalfDegreeMessage);
    // Limb i of both sides must be residues modulo the same prime.
    const std::vector<u64> target_primes = Quelt::getPrimeList(out.getContext());
    if (level >= Quelt::getLength(out.getContext()))
        throw RuntimeException(kShapeMismatchMessage);
    for (u64 i = 0; i <= level; ++i)
        if (in.getPoly(0).getPrimes().size() <= i ||
            in.getPoly(0).getPrimes()[i] != target_primes[i])
            throw RuntimeException(kShapeMismatchMessage);
    // Every polynomial pair is checked before out changes. Polynomials that
    // setNumPoly adds take the shape of out's polynomial 0.
    for (u64 p = 0; p < count; ++p)
        checkEmbedPolynomial(in.getPoly(p), out.getPoly(p < out.getNumPoly() ? p : 0), level);
    // in's rescale counter obeys the ciphertext rule at this very level, so
    // setting it on out cannot fail.
    out.setNumPoly(count);
    out.setLevel(level);
    out.setRescaleCounter(in.getRescaleCounter());
    for (u64 p = 0; p < count; ++p)
        embedPolynomial(in.getPoly(p), out.getPoly(p));
}

void PrimeModuli::rotMulAdd(Rlwe &, const Rlwe &in, const Plaintext &, u64) const {
    throwUnsupportedOn(in.getDevice(), "rotMulAddCUDA", "rotMulAdd");
}

void PrimeModuli::modReduct(Rlwe &ct) const {
    throwUnsupportedOn(ct.getDevice(), "modReductCUDA", "modReduct");
}

} // namespace Quelt
