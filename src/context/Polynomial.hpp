#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "context/PolyGerm.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt {

class ContextContent;

// One element of Z_Q[X]/(X^N + 1) in residue form: one limb of N residues per
// prime it spans, limb i (prime index i of the context's chain) at words
// i * N .. i * N + N - 1 of the array, in coefficient or NTT form.
//
// A polynomial at level l uses limbs 0..l. In mod-up form it also spans the
// temporary primes: size = chainLength + number of temporary primes, and it
// uses limbs 0..l and chainLength..size-1; the limbs between are allocated but
// unused. Invariants: primes holds size values, level < chainLength <= size.
//
// The one exception is the fused shape of a fused rotation key (makeFused):
// level chainLength + 1 with limbs chainLength and chainLength + 1 on the
// chain's first two temporary primes, while size and primes stay at the
// chainLength base and quantize primes. Only makeFused and readFused make it.
//
// A polynomial over a prime list of its own (overPrimes) serves the fused
// modulus raise of bootstrapping: its limb i holds the residues of the i-th
// prime of that list, its chain length and size are the list's length, and it
// is used with a PrimeModuli over the same list (or over a chain whose first
// primes are that list).
//
// A uniformly random polynomial may carry a germ from which its residues are
// regenerated; every other polynomial has none.
class Polynomial {
public:
    // A polynomial at the top level (chainLength - 1) of the context; in mod-up
    // form it spans the temporary primes too. The array holds size * N words
    // on the host, not initialised.
    Polynomial(const std::shared_ptr<ContextContent> &context, bool modUp, bool isNTT);

    Polynomial(const Polynomial &) = default;
    Polynomial(Polynomial &&) noexcept = default;
    // Deep copy of the header, primes, germ and array. The array block and the
    // prime list keep their storage when it is large enough (and, for the
    // array, on the same device and stream), so assigning a polynomial of the
    // same shape allocates nothing. If the copy throws (allocation), this
    // polynomial is unchanged.
    Polynomial &operator=(const Polynomial &other);
    Polynomial &operator=(Polynomial &&) noexcept = default;
    ~Polynomial() = default;

    std::uint64_t getDegree() const { return degree_; }
    std::uint64_t getChainLength() const { return chain_length_; }
    std::uint64_t getSize() const { return size_; }
    std::uint64_t getLevel() const { return level_; }
    bool isModUp() const { return mod_up_; }
    bool isNTT() const { return ntt_; }
    void setNTT(bool ntt) { ntt_ = ntt; }

    // Sets the level. A polynomial not in mod-up form resizes its array to
    // (level + 1) * N words (capacity kept); a mod-up one keeps its array.
    // Throws RuntimeException "[Polynomial] Level exceeds the prime chain"
    // when level >= chainLength, leaving the polynomial unchanged.
    void setLevel(std::uint64_t level);
    // Throws what setLevel(level) would throw, changing nothing.
    void checkLevel(std::uint64_t level) const;

    // A polynomial with the header, flags and primes of `shape`, no germ, and
    // an array of as many words on its device and stream, not initialised.
    static Polynomial shapedLike(const Polynomial &shape);

    // Prime values of the size primes it spans, in chain order.
    const std::vector<std::uint64_t> &getPrimes() const { return primes_; }
    std::uint64_t getPrime(std::uint64_t i) const { return primes_.at(i); }

    // Index of the highest limb in use: size - 1 in mod-up form, else level.
    std::uint64_t getTopIndex() const { return mod_up_ ? size_ - 1 : level_; }

    bool hasGerm() const { return germ_.has_value(); }
    std::optional<PolyGerm> &getGerm() { return germ_; }
    const std::optional<PolyGerm> &getGerm() const { return germ_; }
    // Forgets the germ; the residues stay.
    void disableGerm() { germ_.reset(); }

    DeviceSpecificArray<std::uint64_t> &getData() { return data_; }
    const DeviceSpecificArray<std::uint64_t> &getData() const { return data_; }
    // First word of the limb of prime index i (not range-checked).
    std::uint64_t *getLimb(std::uint64_t i) { return data_.getData() + i * degree_; }
    const std::uint64_t *getLimb(std::uint64_t i) const { return data_.getData() + i * degree_; }
    const Device &getDevice() const { return data_.getDevice(); }

    // Moves the residues to the device (default stream).
    void to(const Device &device);
    // Gives the polynomial an array of the same element count on the device,
    // contents not carried over; nothing happens when it is already there.
    void allocate(const Device &device);
    // Exchanges the array with the argument, which receives the former array.
    // The header is not changed.
    void setData(DeviceSpecificArray<std::uint64_t> &&array);

    // Serialised form: degree, chainLength, size, level (8 bytes each), modUp
    // and ntt (1 byte each), the prime count and primes (8 bytes each), then a
    // germ-absent byte and either the 1024 germ bytes (never byte-swapped) or
    // the array (element count and words). A seeded polynomial therefore
    // takes 8 * (5 + primes) + 3 + 1024 bytes whatever its degree.
    // Saving the array of a polynomial not on the host throws as the array
    // serialiser does.
    void save(cereal::PortableBinaryOutputArchive &ar) const;

    // Reads the serialised form into this polynomial: read(ar, context), then
    // installed. Any failure leaves this polynomial unchanged.
    void load(cereal::PortableBinaryInputArchive &ar,
              const std::shared_ptr<ContextContent> &context);

    // Reads one serialised polynomial into a new host polynomial. The header
    // must fit the context before anything is allocated: degree, chain length,
    // size (chain length, plus the temporary primes in mod-up form), level
    // below the chain length, prime values equal to the context's chain, flag
    // bytes 0 or 1, and an array of whole limbs covering every limb in use and
    // at most size limbs. A seeded form takes its stored germ (nothing is
    // drawn from any generator) and regenerates the residues. Throws
    // RuntimeException
    // "[Polynomial::load] ..." naming the field, or the archive's short-read
    // exception.
    static Polynomial read(cereal::PortableBinaryInputArchive &ar,
                           const std::shared_ptr<ContextContent> &context);

    // What a reader does with a seeded polynomial: regenerate its residues at
    // once, or leave them for later (the polynomial then holds its germ and an
    // empty array until regenerateDeferred), so that a record of several
    // polynomials can be checked whole before anything large is allocated.
    enum class Seeded { Regenerate, Defer };
    static Polynomial read(cereal::PortableBinaryInputArchive &ar,
                           const std::shared_ptr<ContextContent> &context, Seeded seeded);
    static Polynomial readWithoutContext(cereal::PortableBinaryInputArchive &ar, Seeded seeded);
    // True for a seeded polynomial read with Seeded::Defer whose residues are
    // not yet regenerated.
    bool isRegenerationDeferred() const { return germ_.has_value() && data_.size() == 0; }
    // The words such a polynomial takes once regenerated (size x degree).
    std::uint64_t getRegeneratedWords() const { return size_ * degree_; }
    // Regenerates the residues of a deferred polynomial from its germ; does
    // nothing for any other.
    void regenerateDeferred();

    // Reads one serialised polynomial that no context vouches for (keys held
    // without a context), checking the record's own consistency before
    // allocating: flag bytes 0 or 1, a power-of-two degree not above
    // 2^kMaxLogDegree, a level below the chain length, a size equal to the
    // chain length unless mod-up (and not below it), as many non-zero primes
    // as the size, and an array of whole limbs covering every limb in use and
    // at most size limbs. Counts are bounded by the stream: memory grows only
    // as stored words arrive. Throws as read.
    static Polynomial readWithoutContext(cereal::PortableBinaryInputArchive &ar);

    // A polynomial of a fused rotation key over the context (see the class
    // comment): level L + 1, not mod-up, NTT form, the L base and quantize
    // primes of the chain in its prime list, and a host array of (L + 2) x N
    // words, not initialised. The context must have at least two temporary
    // primes (the caller checks).
    static Polynomial makeFused(const std::shared_ptr<ContextContent> &context);

    // A plain polynomial over `primes` (at least one, listed in limb order):
    // the context's degree, chain length and size primes.size(), top level
    // primes.size() - 1, the given form, and a host array of
    // primes.size() x N words, not initialised. Throws RuntimeException
    // kNoPrimesMessage for an empty list.
    static Polynomial overPrimes(const std::shared_ptr<ContextContent> &context,
                                 std::vector<std::uint64_t> primes, bool isNTT);
    static constexpr const char *kNoPrimesMessage =
        "[Polynomial] A polynomial needs at least one prime";

    // Reads one serialised polynomial of the fused shape over the context: the
    // context's degree and chain length L, size L, level L + 1, not mod-up,
    // the chain's first L primes, no seed and exactly (L + 2) x N words.
    // Throws as read.
    static Polynomial readFused(cereal::PortableBinaryInputArchive &ar,
                                const std::shared_ptr<ContextContent> &context);

private:
    Polynomial() = default;
    friend void populateUniformPoly(Polynomial &poly, bool newGerm);

    enum class Reader { Context, WithoutContext, Fused };
    static Polynomial readStored(cereal::PortableBinaryInputArchive &ar,
                                 const std::shared_ptr<ContextContent> *context, Reader reader,
                                 Seeded seeded = Seeded::Regenerate);

    std::uint64_t degree_ = 0;
    std::uint64_t chain_length_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t level_ = 0;
    bool mod_up_ = false;
    bool ntt_ = false;
    std::vector<std::uint64_t> primes_;
    std::optional<PolyGerm> germ_;
    DeviceSpecificArray<std::uint64_t> data_;
};

// Non-owning view of one polynomial's residues: limb i is the degree words at
// data + i * degree.
struct PolynomialView {
    std::uint64_t *data = nullptr;
    std::uint64_t degree = 0;

    PolynomialView() = default;
    PolynomialView(std::uint64_t *data_, std::uint64_t degree_) : data(data_), degree(degree_) {}
    explicit PolynomialView(Polynomial &poly)
        : data(poly.getData().getData()), degree(poly.getDegree()) {}
    std::uint64_t *getLimb(std::uint64_t i) const { return data + i * degree; }
};

// Regenerates uniform residues for every prime the polynomial spans (also the
// temporary primes of a mod-up polynomial and the limbs above its level) from
// its germ: word k of the unkeyed BLAKE3 extendable output of the 1024 germ
// bytes, read little-endian. With N = degree and S = size, words i*N..i*N+N-1
// are the candidates of prime i; a candidate below 2^64 mod q_i is replaced by
// the next spare word, the spares of prime i starting at word S*N + i*N and
// running on as far as needed. The residue is the accepted word mod q_i.
// With newGerm a fresh germ (128 words of the calling thread's generator)
// replaces the old one first. The result is a fresh host array of S * N words;
// header and flags are unchanged. Without a germ, std::bad_optional_access is
// thrown and the polynomial is unchanged.
void populateUniformPoly(Polynomial &poly, bool newGerm);

// True when every limb the polynomial uses is all zero: limbs 0..level, and in
// mod-up form also the temporary limbs chainLength..size-1 (the unused limbs
// between are not read). Host only: a polynomial on an accelerator throws
// "Cannot support the function 'isZeroCUDA' in the current build
// configuration", on any other device the same with 'isZero'. Throws
// RuntimeException "[isZero] The polynomial does not fit the context" when its
// degree differs from the context's or its array lacks a limb in use.
bool isZero(const std::shared_ptr<ContextContent> &context, const Polynomial &poly);

// The walk of both isZeros (this one and PrimeModuli::isZero): true when the
// limbs in use, as above, are all zero. No checks: the caller has made sure
// the array holds every limb in use.
bool limbsInUseAreZero(const Polynomial &poly);

namespace detail {
// The residues populateUniformPoly derives from a germ for the given degree
// and primes (each non-zero), as a fresh host array of primes.size() * degree
// words.
DeviceSpecificArray<std::uint64_t>
regenerateUniformResidues(const PolyGerm &germ, std::uint64_t degree,
                          const std::vector<std::uint64_t> &primes);
} // namespace detail

} // namespace Quelt
