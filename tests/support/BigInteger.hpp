#pragma once

// A small signed big integer for test oracles: magnitude in 64-bit limbs
// (least significant first) and a sign. Only what the oracles need: sums,
// products by words and by big integers, residues, exact division by a word,
// and CRT reconstruction from residues.

#include "foundation/WordArith.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace Quelt::test {

class BigInteger {
public:
    BigInteger() = default;
    BigInteger(u64 value) { // NOLINT: implicit from a word on purpose
        if (value != 0)
            limbs_.push_back(value);
    }
    static BigInteger fromSigned(std::int64_t value) {
        BigInteger r(value < 0 ? u64(0) - static_cast<u64>(value) : static_cast<u64>(value));
        r.negative_ = value < 0;
        return r;
    }

    bool isZero() const { return limbs_.empty(); }
    bool isNegative() const { return negative_; }

    BigInteger operator-() const {
        BigInteger r = *this;
        if (!r.isZero())
            r.negative_ = !r.negative_;
        return r;
    }

    friend BigInteger operator+(const BigInteger &a, const BigInteger &b) {
        if (a.negative_ == b.negative_) {
            BigInteger r;
            r.limbs_ = addMagnitudes(a.limbs_, b.limbs_);
            r.negative_ = a.negative_;
            r.trim();
            return r;
        }
        // Signs differ: subtract the smaller magnitude from the larger.
        const int cmp = compareMagnitudes(a.limbs_, b.limbs_);
        if (cmp == 0)
            return BigInteger();
        BigInteger r;
        if (cmp > 0) {
            r.limbs_ = subMagnitudes(a.limbs_, b.limbs_);
            r.negative_ = a.negative_;
        } else {
            r.limbs_ = subMagnitudes(b.limbs_, a.limbs_);
            r.negative_ = b.negative_;
        }
        r.trim();
        return r;
    }
    friend BigInteger operator-(const BigInteger &a, const BigInteger &b) { return a + (-b); }

    friend BigInteger operator*(const BigInteger &a, const BigInteger &b) {
        BigInteger r;
        if (a.isZero() || b.isZero())
            return r;
        r.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
        for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
            u64 carry = 0;
            for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
                const u128 t =
                    static_cast<u128>(a.limbs_[i]) * b.limbs_[j] + r.limbs_[i + j] + carry;
                r.limbs_[i + j] = static_cast<u64>(t);
                carry = static_cast<u64>(t >> 64);
            }
            r.limbs_[i + b.limbs_.size()] = carry;
        }
        r.negative_ = a.negative_ != b.negative_;
        r.trim();
        return r;
    }

    // The residue in [0, p) (also for negative values).
    u64 mod(u64 p) const {
        u128 r = 0;
        for (std::size_t i = limbs_.size(); i-- > 0;)
            r = ((r << 64) | limbs_[i]) % p;
        const u64 m = static_cast<u64>(r);
        return negative_ && m != 0 ? p - m : m;
    }

    // Exact quotient by a word that divides the value; throws otherwise.
    BigInteger divideExact(u64 d) const {
        BigInteger q;
        q.limbs_.assign(limbs_.size(), 0);
        u128 r = 0;
        for (std::size_t i = limbs_.size(); i-- > 0;) {
            const u128 cur = (r << 64) | limbs_[i];
            q.limbs_[i] = static_cast<u64>(cur / d);
            r = cur % d;
        }
        if (r != 0)
            throw std::logic_error("BigInteger::divideExact: not divisible");
        q.negative_ = negative_;
        q.trim();
        return q;
    }

    friend bool operator==(const BigInteger &a, const BigInteger &b) {
        return a.negative_ == b.negative_ && a.limbs_ == b.limbs_;
    }

    // The integer in [0, q_0 ... q_{n-1}) with the given residues (Garner's
    // mixed-radix form; the moduli are distinct primes).
    static BigInteger fromResidues(const std::vector<u64> &residues,
                                   const std::vector<u64> &primes) {
        std::vector<u64> digits(residues.size());
        for (std::size_t i = 0; i < residues.size(); ++i) {
            const u64 p = primes[i];
            // x_i = (r_i - (d_0 + d_1 q_0 + ...)) / (q_0 ... q_{i-1}) mod p
            u64 value = 0, radix = 1 % p;
            for (std::size_t j = 0; j < i; ++j) {
                value = static_cast<u64>((value + static_cast<u128>(digits[j]) * radix) % p);
                radix = static_cast<u64>(static_cast<u128>(radix) * (primes[j] % p) % p);
            }
            const u64 diff = static_cast<u64>((residues[i] % p + p - value) % p);
            digits[i] = static_cast<u64>(static_cast<u128>(diff) * powMod(radix, p - 2, p) % p);
        }
        BigInteger x, radix(1);
        for (std::size_t i = 0; i < digits.size(); ++i) {
            x = x + radix * BigInteger(digits[i]);
            radix = radix * BigInteger(primes[i]);
        }
        return x;
    }

    static BigInteger product(const std::vector<u64> &factors) {
        BigInteger r(1);
        for (u64 f : factors)
            r = r * BigInteger(f);
        return r;
    }

private:
    static u64 powMod(u64 b, u64 e, u64 p) {
        u64 r = 1 % p;
        b %= p;
        for (; e; e >>= 1) {
            if (e & 1)
                r = static_cast<u64>(static_cast<u128>(r) * b % p);
            b = static_cast<u64>(static_cast<u128>(b) * b % p);
        }
        return r;
    }
    static int compareMagnitudes(const std::vector<u64> &a, const std::vector<u64> &b) {
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        for (std::size_t i = a.size(); i-- > 0;)
            if (a[i] != b[i])
                return a[i] < b[i] ? -1 : 1;
        return 0;
    }
    static std::vector<u64> addMagnitudes(const std::vector<u64> &a, const std::vector<u64> &b) {
        std::vector<u64> r(std::max(a.size(), b.size()) + 1, 0);
        u64 carry = 0;
        for (std::size_t i = 0; i + 1 < r.size(); ++i) {
            const u128 t =
                static_cast<u128>(i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0) + carry;
            r[i] = static_cast<u64>(t);
            carry = static_cast<u64>(t >> 64);
        }
        r.back() = carry;
        return r;
    }
    // |a| >= |b|.
    static std::vector<u64> subMagnitudes(const std::vector<u64> &a, const std::vector<u64> &b) {
        std::vector<u64> r(a.size(), 0);
        u64 borrow = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const u64 bi = i < b.size() ? b[i] : 0;
            const u64 t = a[i] - bi - borrow;
            borrow = (a[i] < bi || (a[i] == bi && borrow)) ? 1 : 0;
            r[i] = t;
        }
        return r;
    }
    void trim() {
        while (!limbs_.empty() && limbs_.back() == 0)
            limbs_.pop_back();
        if (limbs_.empty())
            negative_ = false;
    }

    std::vector<u64> limbs_;
    bool negative_ = false;
};

} // namespace Quelt::test
