#pragma once

#include <cstdint>

namespace Quelt {

// Prime-index validators: they decide, for each prime index of a walk over the
// limbs of an RNS polynomial, whether an operation of the prime chain processes
// that limb. The chain's operations are templates over the validator type and
// take it by value, so with the concrete (final) types below the test is
// inlined into the limb loop; the common base only serves code that needs one
// interface for several kinds.
//
// Prime indices follow the chain order: 0 is the base prime, then the quantize
// primes, then the temporary primes of key switching. All tests use unsigned
// comparison.

class ValidatorBase {
public:
    // True when the limb of prime index `index` is to be processed.
    virtual bool validate(std::uint64_t index) const = 0;

protected:
    // Validators are small values that are copied, never deleted through the
    // base, so the destructor is neither public nor virtual.
    ValidatorBase() = default;
    ValidatorBase(const ValidatorBase &) = default;
    ValidatorBase &operator=(const ValidatorBase &) = default;
    ~ValidatorBase() = default;
};

// Accepts the half-open range [begin, end); {k, k} accepts nothing.
class OutputModulusBoundValidator final : public ValidatorBase {
public:
    OutputModulusBoundValidator(std::uint64_t begin_, std::uint64_t end_)
        : begin(begin_), end(end_) {}

    bool validate(std::uint64_t index) const override { return begin <= index && index < end; }

    std::uint64_t begin;
    std::uint64_t end;
};

// Walk of a polynomial in mod-up form: the base and quantize primes up to
// `level` and every temporary prime (indices from `first_tp_index` on).
class ModUpOutputModulusBoundEvalValidator final : public ValidatorBase {
public:
    ModUpOutputModulusBoundEvalValidator(std::uint64_t level_, std::uint64_t first_tp_index_)
        : level(level_), first_tp_index(first_tp_index_) {}

    bool validate(std::uint64_t index) const override {
        return index <= level || index >= first_tp_index;
    }

    std::uint64_t level;
    std::uint64_t first_tp_index;
};

// Accepts the indices at most `low_limit` or above `high_limit`, except those
// in the excluded range [excluded_begin, excluded_end), which are always
// rejected. Used only where its type is known at compile time, hence no base.
class ModUpOutputModulusBoundValidator final {
public:
    ModUpOutputModulusBoundValidator(std::uint64_t excluded_begin_, std::uint64_t excluded_end_,
                                     std::uint64_t low_limit_, std::uint64_t high_limit_)
        : excluded_begin(excluded_begin_), excluded_end(excluded_end_), low_limit(low_limit_),
          high_limit(high_limit_) {}

    bool validate(std::uint64_t index) const {
        const bool excluded = excluded_begin <= index && index < excluded_end;
        return !excluded && (index <= low_limit || index > high_limit);
    }

    std::uint64_t excluded_begin;
    std::uint64_t excluded_end;
    std::uint64_t low_limit;
    std::uint64_t high_limit;
};

// Accepts every index: constant products and transforms over all limbs.
class AlwaysValidator final : public ValidatorBase {
public:
    AlwaysValidator() = default;

    bool validate(std::uint64_t) const override { return true; }
};

} // namespace Quelt
