#include "boot/BootConstants.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Exception.hpp"
#include "boot/BootParameter.hpp"
#include "boot/DftMatrices.hpp"
#include "client/ExtendedEncoding.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <string>

namespace Quelt {

namespace {

using i64 = std::int64_t;

// The per-step factor that spreads a DFT's scale over `root` levels.
double stepFactor(double scale, u64 root) {
    if (root == 0)
        throw RuntimeException(BootConstants::kLevelCostMessage);
    const double factor = std::pow(scale, 1.0 / static_cast<double>(root));
    if (!std::isfinite(factor) || !(factor > 0.0))
        throw RuntimeException(BootConstants::kScaleMessage);
    return factor;
}

// Calls use(j, diagonals of step j) for every step of rd, in order, with the
// stages built once.
void forEachStepDiagonals(u64 log_slots, const RadixDecomposition &rd, bool c2s, double factor,
                          bool zero_first_offset,
                          const std::function<void(u64, std::vector<Message> &&)> &use) {
    if (rd.num_radices == 0)
        return;
    std::vector<SparseComplexMatrix> stages;
    if (c2s)
        dftmatrix::buildInvV0(log_slots, stages);
    else
        dftmatrix::buildV0(log_slots, stages);
    for (u64 j = 0; j < rd.num_radices; ++j) {
        const SparseComplexMatrix step = dftmatrix::stepMatrix(stages, rd.bit_ranges[j], c2s);
        use(j, dftmatrix::diagonalsOfStep(step, rd, j, factor, zero_first_offset));
    }
}

BootConstants::EncodingKey keyOf(const RadixDecomposition &rd, u64 step, u64 level) {
    return {rd.bit_ranges[step], level};
}

} // namespace

Message rightRotate(const Message &message, i64 k) {
    const u64 n = message.getSize();
    Message rotated(message);
    if (n == 0)
        return rotated;
    const i64 size = static_cast<i64>(n);
    const u64 shift = static_cast<u64>(((k % size) + size) % size);
    // Slot i moves to i + shift, so slot 0 of the result is slot n - shift.
    std::rotate_copy(message.begin(), message.begin() + (n - shift) % n, message.end(),
                     rotated.begin());
    return rotated;
}

// ---------------------------------------------------------------------------
// Construction and generators
// ---------------------------------------------------------------------------

BootConstants::BootConstants(u64 log_slots, const std::shared_ptr<ContextContent> &context,
                             const BootParameter &bp)
    : log_slots_(log_slots), num_slots_(0), context_(context) {
    if (!context_)
        throw RuntimeException(kNullContextMessage);
    const u64 full = getLogFullSlots(context_);
    if (log_slots > full)
        throw RuntimeException(kLogSlotsTooLargeMessage + std::to_string(full));
    num_slots_ = u64{1} << log_slots;
    s2c_decomposition_ = bp.getRadixDecForS2C(log_slots);
    c2s_decomposition_ = bp.getRadixDecForC2S(log_slots);
    if (!context_->getParameter().small_parameter)
        generateDFTEncodingsForC2S(bp);
    if (!bp.outsourced)
        generateDFTEncodingsForS2C(bp);
}

u64 BootConstants::c2sLevel(u64 step) const {
    const Parameter &parameter = context_->getParameter();
    const u64 chain_length = parameter.chain_length;
    if (!parameter.fuse_mod_raise)
        return chain_length - 1 - step;
    // The fused step 0 multiplies at the raised level L + 1, then two
    // rescales leave the following steps at L - 1, L - 2, ...
    return step == 0 ? chain_length + 1 : chain_length - step;
}

void BootConstants::generateDFTEncodingsForC2S(const BootParameter &bp) {
    const Parameter &parameter = context_->getParameter();
    const u64 full = getLogFullSlots(context_);
    const double scale =
        bp.c2s_scale / std::pow(2.0, static_cast<double>(full) - static_cast<double>(log_slots_));
    const double factor = stepFactor(scale, bp.c2s_level_cost);
    const bool fused = parameter.fuse_mod_raise;
    const bool extended = parameter.double_hoisting;
    const u64 chain_length = parameter.chain_length;
    double fused_scale = 0.0;
    if (fused) {
        const std::vector<u64> primes = getPrimeList(context_);
        if (primes.size() <= chain_length + 1)
            throw RuntimeException(kFusedPrimeMessage);
        fused_scale = static_cast<double>(primes[chain_length + 1]);
    }

    const EnDecoder encoder(context_);
    PendingEncodings pending;
    forEachStepDiagonals(
        log_slots_, c2s_decomposition_, true, factor, fused,
        [&](u64 j, std::vector<Message> &&diagonals) {
            const u64 level = c2sLevel(j);
            std::vector<Plaintext> plaintexts;
            plaintexts.reserve(diagonals.size());
            for (const Message &diagonal : diagonals) {
                if (fused && j == 0) {
                    // The fused raise reads the residues of primes 0 and
                    // L + 1, scaled by prime L + 1. A plaintext cannot sit at
                    // level L + 1, so the mod-up form at the top level holds
                    // every prime of the chain, the temporary ones included.
                    plaintexts.push_back(detail::encodeExtendedWithScale(
                        context_, diagonal, chain_length - 1, fused_scale));
                } else {
                    plaintexts.push_back(
                        encoder.encodeCustomLevel(diagonal, level, level, extended));
                }
            }
            pending.emplace_back(keyOf(c2s_decomposition_, j, level), std::move(plaintexts));
        });
    store(inv_v0_, std::move(pending));
}

void BootConstants::generateDFTEncodingsForS2C(const BootParameter &bp) {
    const double factor = stepFactor(bp.s2c_scale, bp.s2c_level_cost);
    std::vector<u64> levels(s2c_decomposition_.num_radices);
    for (u64 j = 0; j < levels.size(); ++j)
        levels[j] = j + 1;
    store(v0_, encodeS2C(s2c_decomposition_, factor, levels));
}

void BootConstants::generateDFTEncodingsForS2C(const BootParameter &bp,
                                               const std::vector<u64> &log_dft_sizes,
                                               const std::vector<u64> &levels,
                                               std::optional<double> scale) {
    const RadixDecomposition rd = decompositionOfDftSizes(log_dft_sizes);
    if (levels.size() < rd.num_radices)
        throw RuntimeException(kLevelsMessage);
    const double factor = stepFactor(scale.value_or(bp.s2c_scale), rd.num_radices);
    store(v0_, encodeS2C(rd, factor, levels));
    registerRadixDecompElem(rd);
}

void BootConstants::generateDFTMessagesForS2C(const BootParameter &bp,
                                              const std::vector<u64> &log_dft_sizes) {
    const RadixDecomposition rd = decompositionOfDftSizes(log_dft_sizes);
    const double factor = stepFactor(bp.s2c_scale, rd.num_radices);
    std::vector<std::vector<Message>> steps(rd.num_radices);
    forEachStepDiagonals(
        log_slots_, rd, false, factor, false,
        [&](u64 j, std::vector<Message> &&diagonals) { steps[j] = std::move(diagonals); });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (u64 j = 0; j < rd.num_radices; ++j)
            s2c_messages_.insert_or_assign(rd.bit_ranges[j], std::move(steps[j]));
    }
    registerRadixDecompElem(rd);
}

RadixDecomposition
BootConstants::decompositionOfDftSizes(const std::vector<u64> &log_dft_sizes) const {
    const std::optional<std::vector<u64>> log_radices = logRadicesFromDftSizes(log_dft_sizes);
    if (!log_radices || log_dft_sizes.back() != log_slots_)
        throw RuntimeException(kDftSizesMessage);
    return RadixDecomposition(*log_radices);
}

BootConstants::PendingEncodings BootConstants::encodeS2C(const RadixDecomposition &rd,
                                                         double factor,
                                                         const std::vector<u64> &levels) const {
    const Parameter &parameter = context_->getParameter();
    // Under coefficient bootstrapping SlotToCoeff runs last, on a ciphertext
    // above the encryption level; the keys keep the plain step levels.
    const u64 offset = parameter.coeff_boot ? parameter.encryption_level : 0;
    const bool extended = parameter.double_hoisting;
    const EnDecoder encoder(context_);
    PendingEncodings pending;
    forEachStepDiagonals(
        log_slots_, rd, false, factor, false, [&](u64 j, std::vector<Message> &&diagonals) {
            const u64 level = levels[j] + offset;
            pending.emplace_back(keyOf(rd, j, levels[j]),
                                 encoder.encodeCustomLevel(diagonals, level, level, extended));
        });
    return pending;
}

void BootConstants::store(EncodingMap &map, PendingEncodings &&pending) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &[key, plaintexts] : pending) {
        auto [entry, inserted] = map.try_emplace(key);
        entry->second.set(kHostDevice, std::move(plaintexts));
        if (!inserted)
            entry->second.removeExcept(kHostDevice);
    }
}

void BootConstants::registerRadixDecompElem(const RadixDecomposition &rd) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (u64 j = 0; j < rd.num_radices; ++j) {
        if (radix_elements_.count(rd.bit_ranges[j]) != 0)
            continue;
        RadixDecompositionElement element;
        element.begin = rd.bit_ranges[j].first;
        element.end = rd.bit_ranges[j].second;
        element.radix = rd.radices[j];
        element.stride = rd.strides[j];
        element.baby_step = rd.baby_steps[j];
        element.giant_step = rd.giant_steps[j];
        for (i64 amount : rd.getRotIndicesForBabyStep(j, false))
            element.baby_rot_indices.push_back(static_cast<u64>(amount));
        for (i64 amount : rd.getRotIndicesForGiantStep(j, false))
            element.giant_rot_indices.push_back(static_cast<u64>(amount));
        radix_elements_.emplace(rd.bit_ranges[j], std::move(element));
    }
}

// ---------------------------------------------------------------------------
// Look-ups and device copies
// ---------------------------------------------------------------------------

const std::vector<Plaintext> &BootConstants::lookUp(const EncodingMap &map, const Device &device,
                                                    const EncodingKey &key) {
    return map.at(key).at(device);
}

const std::vector<Plaintext> &BootConstants::getV0(const Device &device, u64 step) const {
    if (step >= s2c_decomposition_.num_radices)
        throw std::out_of_range("map::at");
    std::lock_guard<std::mutex> lock(mutex_);
    // SlotToCoeff step j is keyed at j + 1 whatever level it was encoded at.
    return lookUp(v0_, device, keyOf(s2c_decomposition_, step, step + 1));
}

const std::vector<Plaintext> &BootConstants::getV0(const Device &device, BitRange range,
                                                   u64 level) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookUp(v0_, device, {range, level});
}

const std::vector<Plaintext> &BootConstants::getInvV0(const Device &device, u64 step) const {
    if (step >= c2s_decomposition_.num_radices)
        throw std::out_of_range("map::at");
    std::lock_guard<std::mutex> lock(mutex_);
    return lookUp(inv_v0_, device, keyOf(c2s_decomposition_, step, c2sLevel(step)));
}

const std::vector<Plaintext> &BootConstants::getInvV0(const Device &device, BitRange range,
                                                      u64 level) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookUp(inv_v0_, device, {range, level});
}

const RadixDecompositionElement &BootConstants::getRadixDecompElem(BitRange range) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return radix_elements_.at(range);
}

std::uint64_t BootConstants::countRegisteredSteps(std::uint64_t begin) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t steps = 0;
    while (begin < log_slots_) {
        // The registered step that starts at `begin` and ends first.
        const auto it = radix_elements_.lower_bound({begin, begin + 1});
        if (it == radix_elements_.end() || it->first.first != begin)
            break;
        ++steps;
        begin = it->first.second;
    }
    return steps;
}

std::vector<std::vector<Message>>
BootConstants::getMsgV0(const std::vector<u64> &log_dft_sizes) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::vector<Message>> steps;
    u64 begin = 0;
    for (u64 end : log_dft_sizes) {
        steps.push_back(s2c_messages_.at({begin, end}));
        begin = end;
    }
    return steps;
}

bool BootConstants::isIn(const Device &device) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return isIn_(device);
}

bool BootConstants::isIn_(const Device &device) const {
    auto held = [&](const EncodingMap &map) {
        return std::all_of(map.begin(), map.end(),
                           [&](const auto &entry) { return entry.second.contains(device); });
    };
    return held(v0_) && held(inv_v0_);
}

void BootConstants::copyToIfNotExists(EncodingMap &map, const Device &device) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &entry : map)
        entry.second.copyFromAnyDeviceTo(device);
}

void BootConstants::removeExcept(EncodingMap &map, const Device &device) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &entry : map)
        entry.second.removeExcept(device);
}

void BootConstants::copyToIfNotExistsV0(const Device &device) { copyToIfNotExists(v0_, device); }

void BootConstants::copyToIfNotExistsInvV0(const Device &device) {
    copyToIfNotExists(inv_v0_, device);
}

void BootConstants::copyToIfNotExists(const Device &device) {
    copyToIfNotExistsV0(device);
    copyToIfNotExistsInvV0(device);
}

void BootConstants::removeExceptV0(const Device &device) { removeExcept(v0_, device); }

void BootConstants::removeExceptInvV0(const Device &device) { removeExcept(inv_v0_, device); }

} // namespace Quelt
