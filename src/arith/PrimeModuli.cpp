#include "arith/PrimeModuli.hpp"

#include "Quelt/Exception.hpp"
#include "arith/NTT.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeLists.hpp"
#include "context/Parameter.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <string>
#include <utility>

namespace Quelt {

namespace {

constexpr const char *kPrimeTooBig = "[PrimeModuli] Prime size is too big. It should be < 62";
constexpr const char *kBaseBelowQuantize =
    "[PrimeModuli] Base prime should be greater than quantize primes";
constexpr const char *kQuantizeTooSmall =
    "[PrimeModuli] Quantize primes should be greater than or equal to 36 bit";
constexpr const char *kTemporaryTooSmall = "[PrimeModuli] log_tpsize should be greater than "
                                           "log_qpsize + (log_bpsize - log_qpsize)/numTP";
constexpr const char *kZeroChainLength = "[PrimeModuli] chain_length should be at least 1";
constexpr const char *kZeroGadgetRank = "[PrimeModuli] gadget_rank should be at least 1";
constexpr const char *kDegreeTooBig = "[PrimeModuli] log_degree is too big. It should be < 62";
constexpr const char *kCustomPreset = "Custom parameter preset cannot be constructed in this way";
constexpr const char *kEmptyModuli = "[PrimeModuli] The list of moduli is empty";

// Largest bit size of a searched prime: every prime stays below 2^62, where
// the lazily reduced values of the kernels (below 4p) still fit in a word.
constexpr u64 kMaxPrimeBits = 61;

std::string toDecimal(u128 value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

// Checks shared by the ring and LWE size constructors, in their fixed order.
void checkBaseAndQuantizeSizes(u64 log_bpsize, u64 log_qpsize) {
    if (log_qpsize > kMaxPrimeBits || log_bpsize > kMaxPrimeBits)
        throw RuntimeException(kPrimeTooBig);
    if (log_bpsize < log_qpsize)
        throw RuntimeException(kBaseBelowQuantize);
    if (log_qpsize < 36)
        throw RuntimeException(kQuantizeTooSmall);
}

// The first `count` primes of exactly `bits` bits met in the candidate order
// 2^bits + 1 - k * step, k = 1, 2, ... (descending, every candidate 1 modulo
// step; 2^bits + 1 itself is never tested). This is the downward order of
// utils::seekPrimes, bounded below by 2^(bits - 1): an unbounded search could
// leave the bit size or wrap around zero into huge 64-bit candidates.
std::vector<u64> seekPrimesOfSize(u64 bits, u64 step, u128 count) {
    // Candidates k * step <= 2^(bits - 1); none when the size is empty or the
    // step does not fit in the upper half of the range.
    const u64 candidates = (bits == 0 || step == 0) ? 0 : (u64{1} << (bits - 1)) / step;
    const auto fail = [&] {
        throw RuntimeException("[PrimeModuli] Cannot find " + toDecimal(count) + " primes of " +
                               std::to_string(bits) + " bits congruent to 1 modulo " +
                               std::to_string(step));
    };
    if (count > candidates)
        fail();
    std::vector<u64> primes;
    primes.reserve(static_cast<std::size_t>(std::min<u128>(count, 1024)));
    const u64 top = (u64{1} << bits) + 1;
    for (u64 k = 1; k <= candidates && primes.size() < count; ++k) {
        const u64 candidate = top - k * step;
        if (utils::isPrime(candidate))
            primes.push_back(candidate);
    }
    if (primes.size() < count)
        fail();
    return primes;
}

// A repeated prime breaks the residue number system (the inverse-prime table
// would hold q^-1 mod q, which does not exist).
void checkDistinct(std::vector<u64> primes) {
    std::sort(primes.begin(), primes.end());
    const auto repeated = std::adjacent_find(primes.begin(), primes.end());
    if (repeated != primes.end())
        throw RuntimeException("[PrimeModuli] The prime " + std::to_string(*repeated) +
                               " occurs more than once in the chain");
}

std::vector<Modulus> makeModuli(const std::vector<u64> &primes, u64 degree, NttType type) {
    std::vector<Modulus> moduli;
    moduli.reserve(primes.size());
    for (const u64 p : primes)
        moduli.emplace_back(degree, p, type);
    return moduli;
}

// base^exponent mod m for m below 2^62, products in 128 bits.
u64 powMod(u64 base, u64 exponent, u64 m) {
    u64 result = 1 % m;
    base %= m;
    while (exponent != 0) {
        if (exponent & 1)
            result = static_cast<u64>(static_cast<u128>(result) * base % m);
        base = static_cast<u64>(static_cast<u128>(base) * base % m);
        exponent >>= 1;
    }
    return result;
}

ParameterPreset foldPresetAlias(ParameterPreset preset) {
    const auto value = static_cast<std::uint32_t>(preset);
    if (value == 4)
        return static_cast<ParameterPreset>(3);
    if (value >= 6 && value <= 11)
        return static_cast<ParameterPreset>(5);
    if (value >= 31 && value <= 37)
        return static_cast<ParameterPreset>(25);
    return preset;
}

void checkListLength(u64 count, std::size_t list_length) {
    if (count != list_length)
        throw RuntimeException("[PrimeModuli] The preset has " + std::to_string(list_length) +
                               " primes, but " + std::to_string(count) + " were requested");
}

} // namespace

PrimeModuli::PrimeModuli(u64 log_degree, u64 chain_length, u64 log_bpsize, u64 log_qpsize,
                         u64 log_tpsize, u64 gadget_rank, std::set<Device> devices)
    : devices_(std::move(devices)) {
    const u64 L = chain_length;
    const u64 d = gadget_rank;
    const u64 b = log_bpsize;
    const u64 q = log_qpsize;
    const u64 t = log_tpsize;

    if (t > kMaxPrimeBits)
        throw RuntimeException(kPrimeTooBig);
    checkBaseAndQuantizeSizes(b, q);
    if (L == 0)
        throw RuntimeException(kZeroChainLength);
    if (d == 0)
        throw RuntimeException(kZeroGadgetRank);
    // 128-bit arithmetic: the same result as 64-bit whenever that does not
    // overflow, and no wrap-around for absurd chain lengths. The right side
    // multiplies before it divides, so it may exceed K * t; equality passes.
    const u128 K = (static_cast<u128>(L) + d - 1) / d;
    if (b + (K - 1) * q > (static_cast<u128>(L) + d - 1) * t / d)
        throw RuntimeException(kTemporaryTooSmall);
    if (log_degree > kMaxPrimeBits)
        throw RuntimeException(kDegreeTooBig);

    const u64 N = u64{1} << log_degree;
    const u64 step = 2 * N;
    std::vector<u64> primes;
    if (b == q && q == t) {
        // One search; the chain takes the primes ascending.
        primes = seekPrimesOfSize(t, step, static_cast<u128>(L) + K);
        std::reverse(primes.begin(), primes.end());
    } else if (b == q) {
        primes = seekPrimesOfSize(q, step, L);
        const std::vector<u64> temporary = seekPrimesOfSize(t, step, K);
        primes.insert(primes.end(), temporary.begin(), temporary.end());
    } else {
        primes = seekPrimesOfSize(b, step, 1);
        const std::vector<u64> quantize = seekPrimesOfSize(q, step, L - 1);
        primes.insert(primes.end(), quantize.begin(), quantize.end());
        // The first prime of the temporary size is skipped: with t = b it is
        // the base prime.
        const std::vector<u64> temporary = seekPrimesOfSize(t, step, K + 1);
        primes.insert(primes.end(), temporary.begin() + 1, temporary.end());
    }
    checkDistinct(primes);

    moduli_ = makeModuli(primes, N, NttType::NEGACYCLIC);
    degree_ = N;
    initICoefficients();
    handOverToAccelerator();
    initInvPrimeData();
}

PrimeModuli::PrimeModuli(std::vector<Modulus> moduli, u64 degree, std::set<Device> devices)
    : devices_(std::move(devices)), degree_(degree) {
    if (moduli.empty())
        throw RuntimeException(kEmptyModuli);
    std::vector<u64> primes;
    primes.reserve(moduli.size());
    for (std::size_t i = 0; i < moduli.size(); ++i) {
        const Modulus &modulus = moduli[i];
        if (modulus.getNttType() == NttType::NONE || !modulus.getNTT())
            throw RuntimeException("[PrimeModuli] Modulus " + std::to_string(i) +
                                   " of the list has no transform");
        if (modulus.getDegree() != degree)
            throw RuntimeException(
                "[PrimeModuli] Modulus " + std::to_string(i) + " of the list has degree " +
                std::to_string(modulus.getDegree()) + " instead of " + std::to_string(degree));
        primes.push_back(modulus.getPrime());
    }
    checkDistinct(primes);

    moduli_ = std::move(moduli);
    initICoefficients();
    initInvPrimeData();
    handOverToAccelerator();
}

PrimeModuli::PrimeModuli(ParameterPreset const &preset, u64 count, u64 degree,
                         std::set<Device> devices, bool conj_invariant, bool force_negacyclic)
    : devices_(std::move(devices)), degree_(degree) {
    if (preset == ParameterPreset::CUSTOM)
        throw RuntimeException(kCustomPreset);
    const std::vector<u64> &primes = getPrimeList(foldPresetAlias(preset));
    checkListLength(count, primes.size());

    NttType type = NttType::NEGACYCLIC;
    if (conj_invariant)
        type = NttType::CONJUGATE_INVARIANT;
    else if (!force_negacyclic && Parameter(preset).re_remove_i)
        type = NttType::NEGACYCLIC_SQUARE_4N;

    moduli_ = makeModuli(primes, degree, type);
    initICoefficients();
    initInvPrimeData();
    handOverToAccelerator();
}

PrimeModuli::PrimeModuli(u64 dimension, u64 chain_length, u64 log_bpsize, u64 log_qpsize,
                         std::set<Device> devices)
    : devices_(std::move(devices)), degree_(dimension) {
    checkBaseAndQuantizeSizes(log_bpsize, log_qpsize);
    if (chain_length == 0)
        throw RuntimeException(kZeroChainLength);

    std::vector<u64> primes = seekPrimesOfSize(log_bpsize, 2, 1);
    const std::vector<u64> quantize = seekPrimesOfSize(log_qpsize, 2, chain_length - 1);
    primes.insert(primes.end(), quantize.begin(), quantize.end());
    checkDistinct(primes);

    moduli_ = makeModuli(primes, dimension, NttType::NONE);
    handOverToAccelerator();
}

PrimeModuli::PrimeModuli(LWE::ParameterPreset const &preset, u64 count, u64 dimension,
                         std::set<Device> devices)
    : devices_(std::move(devices)), degree_(dimension) {
    if (preset == LWE::ParameterPreset::CUSTOM)
        throw RuntimeException(kCustomPreset);
    const std::vector<u64> &primes = getPrimeList(preset);
    checkListLength(count, primes.size());

    moduli_ = makeModuli(primes, dimension, NttType::NONE);
    handOverToAccelerator();
}

const std::vector<u64> &PrimeModuli::getPrimeList(ParameterPreset preset) {
    return getPresetPrimeList(static_cast<std::uint32_t>(preset));
}

const std::vector<u64> &PrimeModuli::getPrimeList(LWE::ParameterPreset preset) {
    return getLWEPresetPrimeList(static_cast<std::uint32_t>(preset));
}

void PrimeModuli::toDevice() { throwUnsupportedFunction("toDevice"); }

void PrimeModuli::handOverToAccelerator() {
    if (CudaTools::isAvailable())
        toDevice();
}

void PrimeModuli::initICoefficients() {
    const u64 M = moduli_.size();
    const u64 N = degree_;
    DeviceSpecificArray<u64> table(2 * M, kHostDevice, getDefaultStream());
    std::swap(i_coefficients_, table);

    // X^(N/2); its image at position 0 of the transform domain of every prime.
    std::vector<u64> monomial(N, 0);
    monomial[N / 2] = 1;
    std::vector<u64> image(N);
    for (u64 j = 0; j < M; ++j) {
        const Modulus &modulus = moduli_[j];
        std::copy(monomial.begin(), monomial.end(), image.begin());
        modulus.getNTT()->template computeForward<1>(image.data());
        i_coefficients_[2 * j] = image[0];
        i_coefficients_[2 * j + 1] = modulus.getPrime() - image[0];
    }
}

void PrimeModuli::initInvPrimeData() {
    const u64 M = moduli_.size();
    DeviceSpecificArray<u64> &table = inv_prime_data_.at(kHostDevice);
    table.resize(M * M);
    for (u64 i = 0; i < M; ++i) {
        const u64 q_i = moduli_[i].getPrime();
        for (u64 j = 0; j < M; ++j) {
            // Fermat: q_i^(q_j - 2) is the inverse of q_i modulo the prime q_j.
            // Only the lower triangle is used; the rest is kept defined.
            const u64 q_j = moduli_[j].getPrime();
            table[i * M + j] = j < i ? powMod(q_i, q_j - 2, q_j) : 0;
        }
    }
}

} // namespace Quelt
