#pragma once

// The checks that the ring packer's operations share.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "conversion/RingSwitcher.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace Quelt::detail {

inline constexpr const char *kCoefficientEncodingMessage =
    "The operand have to encode the message on its coefficients";
inline constexpr const char *kNullCiphertextMessage = "[RingPacker] A ciphertext is null.";

template <EncryptionType ET>
void checkCoefficientEncoded(const CiphertextBase<ET> &ct) {
    if (ct.getEncodingType() != EncodingType::COEFFICIENT)
        throw RuntimeException(kCoefficientEncodingMessage);
}

inline void checkNotNull(const void *p) {
    if (p == nullptr)
        throw RuntimeException(kNullCiphertextMessage);
}

inline constexpr const char *kRepeatedOutputMessage =
    "[RingPacker] An output ciphertext is listed more than once.";

// Each output of a list receives its own part; an object listed twice would
// keep only the last part written to it and silently lose the other.
template <typename T>
void checkDistinct(const std::vector<T *> &outs) {
    std::vector<const T *> sorted(outs.begin(), outs.end());
    std::sort(sorted.begin(), sorted.end(), std::less<const T *>());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        throw RuntimeException(kRepeatedOutputMessage);
}

// What every ciphertext the packer makes carries: the full log slot count
// of its context, the input's counter, coefficient encoding.
template <EncryptionType ET>
void setPackedMetaData(CiphertextBase<ET> &out, int rescale_counter) {
    out.setLogSlots(getLogFullSlots(out.getContext()));
    out.setRescaleCounter(rescale_counter);
    out.setEncodingType(EncodingType::COEFFICIENT);
}

// The base and quantize primes of a ring context (the temporary primes left
// out), or every prime of an LWE context.
inline std::vector<std::uint64_t> chainPrimes(const std::shared_ptr<ContextContent> &ctx) {
    std::vector<std::uint64_t> primes = getPrimeList(ctx);
    primes.resize(getLength(ctx));
    return primes;
}
inline std::vector<std::uint64_t> chainPrimes(const std::shared_ptr<LWE::ContextContent> &ctx) {
    return LWE::getPrimeList(ctx);
}

// Residues at primes 0 .. level may move between the two chains only when
// both hold those primes with equal values.
inline void checkPrimesAgree(const std::vector<std::uint64_t> &a,
                             const std::vector<std::uint64_t> &b, std::uint64_t level) {
    if (a.size() <= level || b.size() <= level)
        throw RuntimeException(RingSwitcher::kIncompatibleContextMessage);
    for (std::uint64_t i = 0; i <= level; ++i)
        if (a[i] != b[i])
            throw RuntimeException(RingSwitcher::kIncompatibleContextMessage);
}

template <typename A, typename B>
void checkContextsAgree(const std::shared_ptr<A> &a, const std::shared_ptr<B> &b,
                        std::uint64_t level) {
    if constexpr (std::is_same_v<A, B>)
        if (a == b) {
            if (chainPrimes(a).size() <= level)
                throw RuntimeException(RingSwitcher::kIncompatibleContextMessage);
            return;
        }
    checkPrimesAgree(chainPrimes(a), chainPrimes(b), level);
}

} // namespace Quelt::detail
