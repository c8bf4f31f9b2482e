#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "Quelt/Plaintext.hpp"
#include "boot/RadixDecomposition.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

class ContextContent;
struct BootParameter;

// A copy of `message` whose slot i has moved to slot (i + k) mod n, n the slot
// count; a negative k rotates to the left. An empty message stays empty.
Message rightRotate(const Message &message, std::int64_t k);

// What the matrix products need to know about one radix step of a custom
// split, cached under its bit range.
struct RadixDecompositionElement {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint64_t radix = 0;
    std::uint64_t stride = 0;
    std::uint64_t baby_step = 0;
    std::uint64_t giant_step = 0;
    // Signed rotation amounts carried in 64-bit words (a negative amount is a
    // left rotation by the slot count minus its size), without min_key.
    std::vector<std::uint64_t> baby_rot_indices;
    std::vector<std::uint64_t> giant_rot_indices;
};

// The messages of BootConstants (also those of the stage matrices and
// diagonals of DftMatrices.hpp).
struct BootConstantsMessages {
    static constexpr const char *kLogSlotsTooLargeMessage =
        "[BootConstants] log_slots should not exceed the full log slot count ";
    static constexpr const char *kLevelCostMessage =
        "[BootConstants] The level cost of a DFT should be positive";
    static constexpr const char *kScaleMessage =
        "[BootConstants] The scale of the DFT matrices should be a finite positive number";
    static constexpr const char *kDftSizesMessage =
        "[BootConstants] The DFT sizes should be a non-decreasing list ending at log_slots";
    static constexpr const char *kLevelsMessage =
        "[BootConstants] The levels list should hold one level per radix step";
    static constexpr const char *kBabyStepMessage =
        "[BootConstants] The baby-step count of a radix step should be positive";
    static constexpr const char *kFusedPrimeMessage =
        "[BootConstants] The fused modulus raise needs two temporary primes";
};

// The plaintext diagonals of the homomorphic DFT of bootstrapping for one log
// slot count: SlotToCoeff (V0) and CoeffToSlot (InvV0), one factor per radix
// step, each factor cut into the scaled, pre-rotated diagonals that the
// baby-step giant-step products consume.
//
// The matrices and the diagonals of a radix step are those of
// DftMatrices.hpp.
//
// Encodings are keyed by (bit range, level). SlotToCoeff step j sits at level
// j + 1 (encoded at j + 1 plus the encryption level under coefficient
// bootstrapping); CoeffToSlot step j at L - 1 - j, or, on a context that fuses
// the modulus raise, L + 1 for step 0 and L - j for the others (L the chain
// length). Plaintexts are encoded in the mod-up form on contexts with double
// hoisting.
//
// Thread safety: the maps are guarded by the constants mutex, each entry's
// per-device copies by the entry's own mutex, always taken in that order.
// References handed out stay valid while the object lives, except that
// removeExcept drops the copies of other devices and a list-form generator
// replaces the entry it regenerates.
class BootConstants : public BootConstantsMessages {
public:
    using BitRange = std::pair<std::uint64_t, std::uint64_t>;
    using EncodingKey = std::pair<BitRange, std::uint64_t>;
    using EncodingMap = std::map<EncodingKey, MultipleDevice<std::vector<Plaintext>>>;

    // Builds the constants of log_slots: the CoeffToSlot encodings unless the
    // context has the small-parameter flag, the SlotToCoeff encodings unless
    // the parameter is outsourced. Throws RuntimeException "[Context] The
    // context is null", "[BootConstants] log_slots should not exceed the full
    // log slot count <count>", the generators' messages and the encoder's.
    BootConstants(std::uint64_t log_slots, const std::shared_ptr<ContextContent> &context,
                  const BootParameter &bp);

    BootConstants(const BootConstants &) = delete;
    BootConstants &operator=(const BootConstants &) = delete;

    std::uint64_t getLogSlots() const { return log_slots_; }
    std::uint64_t getNumSlots() const { return num_slots_; }
    const RadixDecomposition &getS2CDecomposition() const { return s2c_decomposition_; }
    const RadixDecomposition &getC2SDecomposition() const { return c2s_decomposition_; }

    // ---- Generators -----------------------------------------------------
    // Every generator computes all its plaintexts before it stores any, so a
    // throw leaves the maps as they were. Step factors are the scale's root by
    // the level cost; RuntimeException "[BootConstants] The level cost of a
    // DFT should be positive" and "[BootConstants] The scale of the DFT
    // matrices should be a finite positive number" refuse a zero cost and a
    // factor that is not finite and positive.

    // CoeffToSlot encodings with factor (c2s_scale / 2^(full - log_slots))^(1
    // / c2s_level_cost). Throws "[BootConstants] The fused modulus raise needs
    // two temporary primes" on a fused context without a prime L + 1.
    void generateDFTEncodingsForC2S(const BootParameter &bp);
    // SlotToCoeff encodings with factor s2c_scale^(1 / s2c_level_cost).
    void generateDFTEncodingsForS2C(const BootParameter &bp);
    // SlotToCoeff encodings of the split given by running totals of bit
    // positions (last total log_slots), step j at levels[j] (plus the
    // encryption level under coefficient bootstrapping), factor (scale or
    // s2c_scale)^(1 / number of steps); the split is registered. An entry
    // that exists is replaced. Throws "[BootConstants] The DFT sizes should be
    // a non-decreasing list ending at log_slots", "[BootConstants] The levels
    // list should hold one level per radix step" (fewer levels than steps)
    // and the decomposition's messages.
    void generateDFTEncodingsForS2C(const BootParameter &bp,
                                    const std::vector<std::uint64_t> &log_dft_sizes,
                                    const std::vector<std::uint64_t> &levels,
                                    std::optional<double> scale);
    // The same diagonals as messages (factor s2c_scale^(1 / number of
    // steps)), stored by bit range in place of any earlier ones; the split is
    // registered. Same split checks.
    void generateDFTMessagesForS2C(const BootParameter &bp,
                                   const std::vector<std::uint64_t> &log_dft_sizes);
    // Caches the element of every step under its bit range, keeping elements
    // already there.
    void registerRadixDecompElem(const RadixDecomposition &rd);

    // ---- Look-ups ---------------------------------------------------------
    // The plaintexts of SlotToCoeff step j (key: its bit range and j + 1) or
    // of a given key on a device. std::out_of_range ("map::at") for a missing
    // step, key or device.
    const std::vector<Plaintext> &getV0(const Device &device, std::uint64_t step) const;
    const std::vector<Plaintext> &getV0(const Device &device, BitRange range,
                                        std::uint64_t level) const;
    // The same for CoeffToSlot, step j keyed at its level.
    const std::vector<Plaintext> &getInvV0(const Device &device, std::uint64_t step) const;
    const std::vector<Plaintext> &getInvV0(const Device &device, BitRange range,
                                           std::uint64_t level) const;
    // std::out_of_range ("map::at") when the range was never registered.
    const RadixDecompositionElement &getRadixDecompElem(BitRange range) const;
    // The number of registered steps chained from bit position `begin` up to
    // log_slots, each the registered step that starts where the previous
    // one ends (the one ending first when several do); the chain stops at a
    // position where no step starts.
    std::uint64_t countRegisteredSteps(std::uint64_t begin) const;
    // Copies of the message diagonals of the steps (0, p_0), (p_0, p_1), ...
    // std::out_of_range ("map::at") for a step without messages.
    std::vector<std::vector<Message>>
    getMsgV0(const std::vector<std::uint64_t> &log_dft_sizes) const;

    // True when every entry of both maps has a copy on the device. isIn takes
    // the constants mutex; isIn_ takes none, for a caller that already
    // excludes concurrent changes of the maps.
    bool isIn(const Device &device) const;
    bool isIn_(const Device &device) const;

    // ---- Device copies ------------------------------------------------------
    // Every entry without a copy on the device gets one, made from its first
    // stored copy (RuntimeException "Value-device map is empty." for an entry
    // with none). copyToIfNotExists does SlotToCoeff, then CoeffToSlot.
    void copyToIfNotExistsV0(const Device &device);
    void copyToIfNotExistsInvV0(const Device &device);
    void copyToIfNotExists(const Device &device);
    // Makes sure of the device's copy, then drops those of all other devices.
    void removeExceptV0(const Device &device);
    void removeExceptInvV0(const Device &device);

private:
    using PendingEncodings = std::vector<std::pair<EncodingKey, std::vector<Plaintext>>>;

    // The level under which CoeffToSlot step j is keyed.
    std::uint64_t c2sLevel(std::uint64_t step) const;
    // The split of a list of running totals, checked against log_slots.
    RadixDecomposition decompositionOfDftSizes(const std::vector<std::uint64_t> &sizes) const;
    // The SlotToCoeff diagonals of every step of rd with one factor.
    std::vector<std::vector<Message>> s2cDiagonals(const RadixDecomposition &rd,
                                                   double factor) const;
    // Encodes the SlotToCoeff diagonals of rd, step j under levels[j].
    PendingEncodings encodeS2C(const RadixDecomposition &rd, double factor,
                               const std::vector<std::uint64_t> &levels) const;
    // Stores encodings, replacing entries that exist (their copies on other
    // devices included).
    void store(EncodingMap &map, PendingEncodings &&pending);
    // The device copies of every entry of one map, under the constants mutex.
    void copyToIfNotExists(EncodingMap &map, const Device &device);
    void removeExcept(EncodingMap &map, const Device &device);
    static const std::vector<Plaintext> &lookUp(const EncodingMap &map, const Device &device,
                                                const EncodingKey &key);

    std::uint64_t log_slots_;
    std::uint64_t num_slots_;
    std::shared_ptr<ContextContent> context_;
    std::map<BitRange, std::vector<Message>> s2c_messages_;
    EncodingMap v0_;
    EncodingMap inv_v0_;
    std::map<BitRange, RadixDecompositionElement> radix_elements_;
    RadixDecomposition s2c_decomposition_;
    RadixDecomposition c2s_decomposition_;
    mutable std::mutex mutex_;
};

} // namespace Quelt
