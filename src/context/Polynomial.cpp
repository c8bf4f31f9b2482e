#include "context/Polynomial.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "foundation/DeviceArraySerialization.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "foundation/WordReduction.hpp"

#include <blake3.h>
#include <cereal/archives/portable_binary.hpp>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace Quelt {

PolyGerm::PolyGerm() {
    std::uint64_t words[kWords];
    UniformRandomBitGenerator::getInstance().getRandomNumbers(words, kWords);
    for (std::size_t k = 0; k < kWords; ++k)
        for (std::size_t b = 0; b < 8; ++b)
            bytes_[8 * k + b] = static_cast<std::uint8_t>(words[k] >> (8 * b));
}

namespace {

constexpr const char *kLevelOutOfChain = "[Polynomial] Level exceeds the prime chain";
constexpr const char *kLoadDegree = "[Polynomial::load] Degree does not match the context";
constexpr const char *kLoadChainLength =
    "[Polynomial::load] Chain length does not match the context";
constexpr const char *kLoadFlag = "[Polynomial::load] Invalid flag byte";
constexpr const char *kLoadSize = "[Polynomial::load] Size does not match the context";
constexpr const char *kLoadLevel = "[Polynomial::load] Level exceeds the prime chain";
constexpr const char *kLoadPrimeCount = "[Polynomial::load] Prime count does not match the size";
constexpr const char *kLoadPrimes = "[Polynomial::load] Primes do not match the context";
constexpr const char *kLoadArrayLength =
    "[Polynomial::load] Array length does not match the header";
constexpr const char *kLoadFreeDegree = "[Polynomial::load] Invalid degree";
constexpr const char *kLoadFreeSize = "[Polynomial::load] Size does not fit the chain length";
constexpr const char *kLoadFreePrimes = "[Polynomial::load] Invalid prime";
constexpr const char *kLoadFusedShape =
    "[Polynomial::load] Not the shape of a fused rotation key polynomial";
constexpr const char *kIsZeroMismatch = "[isZero] The polynomial does not fit the context";
constexpr const char *kPopulatePrimes = "[populateUniformPoly] Invalid prime list";

// Spare words are fetched in runs of this many; most primes need none.
constexpr std::uint64_t kSpareRunWords = 1024;

// Word reader over the unkeyed BLAKE3 extendable output of one germ. The
// output is prefix-stable, so any word can be produced on its own by seeking,
// and the stream has no practical end.
class GermStream {
public:
    explicit GermStream(const PolyGerm &germ) {
        blake3_hasher_init(&hasher_);
        blake3_hasher_update(&hasher_, germ.data(), PolyGerm::kBytes);
    }

    // Words first .. first + n - 1 of the stream, each read little-endian.
    void read(std::uint64_t first, std::uint64_t *out, std::uint64_t n) const {
        if (n == 0)
            return;
        blake3_hasher_finalize_seek(&hasher_, first * sizeof(std::uint64_t),
                                    reinterpret_cast<std::uint8_t *>(out),
                                    static_cast<std::size_t>(n * sizeof(std::uint64_t)));
        if constexpr (std::endian::native == std::endian::big) {
            for (std::uint64_t k = 0; k < n; ++k)
                out[k] = __builtin_bswap64(out[k]);
        }
    }

private:
    blake3_hasher hasher_;
};

} // namespace

namespace detail {

DeviceSpecificArray<std::uint64_t>
regenerateUniformResidues(const PolyGerm &germ, std::uint64_t degree,
                          const std::vector<std::uint64_t> &primes) {
    const std::uint64_t n = degree;
    const std::uint64_t s = primes.size();
    DeviceSpecificArray<std::uint64_t> out(n * s, kHostDevice, getDefaultStream());
    const GermStream stream(germ);
    std::uint64_t spare[kSpareRunWords];
    const std::uint64_t run = std::min(kSpareRunWords, n);

    for (std::uint64_t i = 0; i < s; ++i) {
        const std::uint64_t q = primes[i];
        const std::uint64_t threshold = (std::uint64_t{0} - q) % q;
        const std::uint64_t ratio = word::wordQuotient(q);
        std::uint64_t *limb = out.getData() + i * n;
        stream.read(i * n, limb, n);

        // Spares are fetched lazily, in runs, from the cursor on.
        std::uint64_t cursor = s * n + i * n;
        std::uint64_t held = 0;
        std::uint64_t taken = 0;
        for (std::uint64_t j = 0; j < n; ++j) {
            std::uint64_t x = limb[j];
            while (x < threshold) {
                if (taken == held) {
                    stream.read(cursor, spare, run);
                    cursor += run;
                    held = run;
                    taken = 0;
                }
                x = spare[taken++];
            }
            limb[j] = word::reduceWord(x, q, ratio);
        }
    }
    return out;
}

} // namespace detail

Polynomial::Polynomial(const std::shared_ptr<ContextContent> &context, bool modUp, bool isNTT) {
    const std::uint64_t n = Quelt::getDegree(context);
    const std::uint64_t length = getLength(context);
    const std::uint64_t size = length + (modUp ? getNumTP(context) : 0);
    std::vector<std::uint64_t> primes = getPrimeList(context);
    primes.resize(size);
    degree_ = n;
    chain_length_ = length;
    size_ = size;
    level_ = length - 1;
    mod_up_ = modUp;
    ntt_ = isNTT;
    primes_ = std::move(primes);
    data_ = DeviceSpecificArray<std::uint64_t>(size * n, kHostDevice, getDefaultStream());
}

Polynomial Polynomial::shapedLike(const Polynomial &shape) {
    Polynomial p;
    p.primes_ = shape.primes_;
    p.data_ = DeviceSpecificArray<std::uint64_t>(shape.data_.size(), shape.data_.getDevice(),
                                                 shape.data_.getStream());
    p.degree_ = shape.degree_;
    p.chain_length_ = shape.chain_length_;
    p.size_ = shape.size_;
    p.level_ = shape.level_;
    p.mod_up_ = shape.mod_up_;
    p.ntt_ = shape.ntt_;
    return p;
}

Polynomial &Polynomial::operator=(const Polynomial &other) {
    if (this == &other)
        return *this;
    // A prime list that has room is overwritten in place (no allocation, so
    // nothing can fail after the array is copied); otherwise a new list is
    // built before anything changes.
    const bool reuse_primes = primes_.capacity() >= other.primes_.size();
    std::vector<std::uint64_t> primes;
    if (!reuse_primes)
        primes = other.primes_;
    data_ = other.data_;
    if (reuse_primes)
        primes_.assign(other.primes_.begin(), other.primes_.end());
    else
        primes_ = std::move(primes);
    degree_ = other.degree_;
    chain_length_ = other.chain_length_;
    size_ = other.size_;
    level_ = other.level_;
    mod_up_ = other.mod_up_;
    ntt_ = other.ntt_;
    germ_ = other.germ_;
    return *this;
}

void Polynomial::checkLevel(std::uint64_t level) const {
    if (level >= chain_length_)
        throw RuntimeException(kLevelOutOfChain);
}

void Polynomial::setLevel(std::uint64_t level) {
    checkLevel(level);
    if (!mod_up_)
        data_.resize((level + 1) * degree_);
    level_ = level;
}

void Polynomial::to(const Device &device) { data_.to(device, getDefaultStream()); }

void Polynomial::allocate(const Device &device) {
    if (data_.getDevice() == device)
        return;
    DeviceSpecificArray<std::uint64_t> fresh(data_.size(), device, data_.getStream());
    data_ = std::move(fresh);
}

void Polynomial::setData(DeviceSpecificArray<std::uint64_t> &&array) {
    if (&array == &data_)
        return;
    std::swap(data_, array);
}

void Polynomial::save(cereal::PortableBinaryOutputArchive &ar) const {
    ar(degree_, chain_length_, size_, level_, mod_up_, ntt_);
    const std::uint64_t count = primes_.size();
    ar(count);
    ar(cereal::binary_data(primes_.data(), count * sizeof(std::uint64_t)));
    const std::uint8_t germ_absent = germ_.has_value() ? 0 : 1;
    ar(germ_absent);
    if (germ_.has_value())
        ar(cereal::binary_data(germ_->data(), PolyGerm::kBytes));
    else
        Quelt::save(ar, data_);
}

void Polynomial::load(cereal::PortableBinaryInputArchive &ar,
                      const std::shared_ptr<ContextContent> &context) {
    *this = read(ar, context);
}

Polynomial Polynomial::read(cereal::PortableBinaryInputArchive &ar,
                            const std::shared_ptr<ContextContent> &context) {
    return readStored(ar, &context, Reader::Context);
}

Polynomial Polynomial::readWithoutContext(cereal::PortableBinaryInputArchive &ar) {
    return readStored(ar, nullptr, Reader::WithoutContext);
}

Polynomial Polynomial::read(cereal::PortableBinaryInputArchive &ar,
                            const std::shared_ptr<ContextContent> &context, Seeded seeded) {
    return readStored(ar, &context, Reader::Context, seeded);
}

Polynomial Polynomial::readWithoutContext(cereal::PortableBinaryInputArchive &ar, Seeded seeded) {
    return readStored(ar, nullptr, Reader::WithoutContext, seeded);
}

void Polynomial::regenerateDeferred() {
    if (isRegenerationDeferred())
        data_ = detail::regenerateUniformResidues(*germ_, degree_, primes_);
}

Polynomial Polynomial::readFused(cereal::PortableBinaryInputArchive &ar,
                                 const std::shared_ptr<ContextContent> &context) {
    return readStored(ar, &context, Reader::Fused);
}

Polynomial Polynomial::makeFused(const std::shared_ptr<ContextContent> &context) {
    const std::uint64_t n = Quelt::getDegree(context);
    const std::uint64_t length = getLength(context);
    std::vector<std::uint64_t> primes = getPrimeList(context);
    primes.resize(length);
    Polynomial p;
    p.degree_ = n;
    p.chain_length_ = length;
    p.size_ = length;
    p.level_ = length + 1;
    p.mod_up_ = false;
    p.ntt_ = true;
    p.primes_ = std::move(primes);
    p.data_ = DeviceSpecificArray<std::uint64_t>((length + 2) * n, kHostDevice, getDefaultStream());
    return p;
}

Polynomial Polynomial::overPrimes(const std::shared_ptr<ContextContent> &context,
                                  std::vector<std::uint64_t> primes, bool isNTT) {
    if (primes.empty())
        throw RuntimeException(kNoPrimesMessage);
    const std::uint64_t n = Quelt::getDegree(context);
    const std::uint64_t length = primes.size();
    Polynomial p;
    p.degree_ = n;
    p.chain_length_ = length;
    p.size_ = length;
    p.level_ = length - 1;
    p.mod_up_ = false;
    p.ntt_ = isNTT;
    p.primes_ = std::move(primes);
    p.data_ = DeviceSpecificArray<std::uint64_t>(length * n, kHostDevice, getDefaultStream());
    return p;
}

Polynomial Polynomial::readStored(cereal::PortableBinaryInputArchive &ar,
                                  const std::shared_ptr<ContextContent> *context, Reader reader,
                                  Seeded seeded) {
    std::uint64_t degree = 0, chain_length = 0, size = 0, level = 0;
    std::uint8_t mod_up = 0, ntt = 0;
    ar(degree, chain_length, size, level, mod_up, ntt);
    if (mod_up > 1 || ntt > 1)
        throw RuntimeException(kLoadFlag);

    // The header against the context, or against itself. Either way the
    // array it describes (size x degree words) is bounded before anything is
    // allocated: by the context, or by kMaxLogDegree and the primes that
    // actually arrive.
    std::vector<std::uint64_t> chain;
    if (reader == Reader::WithoutContext) {
        if (degree == 0 || !std::has_single_bit(degree) ||
            degree > (std::uint64_t{1} << kMaxLogDegree))
            throw RuntimeException(kLoadFreeDegree);
        if (level >= chain_length)
            throw RuntimeException(kLoadLevel);
        if (size < chain_length || (mod_up == 0 && size != chain_length) ||
            size > std::numeric_limits<std::uint64_t>::max() / sizeof(std::uint64_t) / degree)
            throw RuntimeException(kLoadFreeSize);
    } else {
        const std::uint64_t length = getLength(*context);
        if (degree != Quelt::getDegree(*context))
            throw RuntimeException(kLoadDegree);
        if (chain_length != length)
            throw RuntimeException(kLoadChainLength);
        if (reader == Reader::Fused) {
            if (mod_up != 0 || size != length || level != length + 1)
                throw RuntimeException(kLoadFusedShape);
        } else {
            if (size != chain_length + (mod_up ? getNumTP(*context) : 0))
                throw RuntimeException(kLoadSize);
            if (level >= chain_length)
                throw RuntimeException(kLoadLevel);
        }
        chain = getPrimeList(*context);
    }

    std::uint64_t count = 0;
    ar(count);
    if (count != size)
        throw RuntimeException(kLoadPrimeCount);
    std::vector<std::uint64_t> primes;
    if (reader == Reader::WithoutContext) {
        DeviceSpecificArray<std::uint64_t> stored;
        loadElements(ar, stored, count);
        primes.assign(stored.begin(), stored.end());
        if (std::find(primes.begin(), primes.end(), 0) != primes.end())
            throw RuntimeException(kLoadFreePrimes);
    } else {
        primes.resize(count);
        ar(cereal::binary_data(primes.data(), count * sizeof(std::uint64_t)));
        if (chain.size() < count || !std::equal(primes.begin(), primes.end(), chain.begin()))
            throw RuntimeException(kLoadPrimes);
    }

    std::uint8_t germ_absent = 0;
    ar(germ_absent);
    if (germ_absent > 1)
        throw RuntimeException(kLoadFlag);

    std::optional<PolyGerm> germ;
    DeviceSpecificArray<std::uint64_t> data(0, kHostDevice, getDefaultStream());
    if (germ_absent == 0) {
        // The fused shape spans two temporary primes its prime list does not
        // hold, so no seed can regenerate it.
        if (reader == Reader::Fused)
            throw RuntimeException(kLoadFusedShape);
        germ.emplace(PolyGerm::NoDrawTag{});
        ar(cereal::binary_data(germ->data(), PolyGerm::kBytes));
        if (seeded == Seeded::Regenerate)
            data = detail::regenerateUniformResidues(*germ, degree, primes);
    } else {
        std::uint64_t words = 0;
        ar(words);
        // Every limb in use must be present: limbs 0..level, and in mod-up
        // form also the temporary limbs at their own indices.
        // A fused polynomial holds exactly its L + 2 limbs.
        const bool fused = reader == Reader::Fused;
        const std::uint64_t most = (fused ? level + 1 : size) * degree;
        const std::uint64_t least = (fused || mod_up == 0 ? level + 1 : size) * degree;
        if (words % degree != 0 || words < least || words > most)
            throw RuntimeException(kLoadArrayLength);
        if (reader == Reader::WithoutContext) {
            loadElements(ar, data, words);
        } else {
            data.resize(words);
            ar(cereal::binary_data(data.getData(), words * sizeof(std::uint64_t)));
        }
    }

    Polynomial p;
    p.degree_ = degree;
    p.chain_length_ = chain_length;
    p.size_ = size;
    p.level_ = level;
    p.mod_up_ = mod_up != 0;
    p.ntt_ = ntt != 0;
    p.primes_ = std::move(primes);
    p.germ_ = germ;
    p.data_ = std::move(data);
    return p;
}

void populateUniformPoly(Polynomial &poly, bool newGerm) {
    // A new germ is installed together with its residues, so that a failure
    // (allocation) never leaves a germ that does not match the residues.
    std::optional<PolyGerm> fresh_germ;
    if (newGerm)
        fresh_germ.emplace();
    const PolyGerm &germ = newGerm ? *fresh_germ : poly.germ_.value();
    if (poly.primes_.size() != poly.size_ ||
        std::find(poly.primes_.begin(), poly.primes_.end(), 0) != poly.primes_.end())
        throw RuntimeException(kPopulatePrimes);
    DeviceSpecificArray<std::uint64_t> data =
        detail::regenerateUniformResidues(germ, poly.degree_, poly.primes_);
    if (newGerm)
        poly.germ_ = fresh_germ;
    poly.data_ = std::move(data);
}

bool isZero(const std::shared_ptr<ContextContent> &context, const Polynomial &poly) {
    const Device &device = poly.getDevice();
    dispatchDevice(device, "isZeroCUDA", "isZero");
    const std::uint64_t n = poly.getDegree();
    if (n != Quelt::getDegree(context) || poly.getData().size() < (poly.getTopIndex() + 1) * n)
        throw RuntimeException(kIsZeroMismatch);
    return limbsInUseAreZero(poly);
}

bool limbsInUseAreZero(const Polynomial &poly) {
    const std::uint64_t n = poly.getDegree();
    for (std::uint64_t i = 0; i <= poly.getLevel(); ++i)
        if (!word::allZero(poly.getLimb(i), n))
            return false;
    if (poly.isModUp())
        for (std::uint64_t i = poly.getChainLength(); i < poly.getSize(); ++i)
            if (!word::allZero(poly.getLimb(i), n))
                return false;
    return true;
}

} // namespace Quelt
