// The cache of a bootstrapper's DFT constants: making them per log slot
// count, the S2C encodings of registered splits, and their placement on
// devices.

#include "boot/BootConstantsCache.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperMessages.hpp"
#include "context/ContextContent.hpp"

#include <string>
#include <utility>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using M = BootstrapperMessages;

std::string missingConstantsMessage(u64 log_slots) {
    return M::kMissingConstantsPrefix + std::to_string(log_slots) + M::kMissingConstantsSuffix;
}

} // namespace

BootConstantsCache::BootConstantsCache(std::shared_ptr<ContextContent> context,
                                       const BootParameter &boot_param)
    : context_(std::move(context)), boot_param_(boot_param) {
    constants_[0].reset();
}

bool BootConstantsCache::isBootstrapReady(u64 log_slots) const {
    return log_slots == 0 || constants_.count(log_slots) != 0;
}

const BootConstants *BootConstantsCache::findBootConstants(u64 log_slots) const {
    const auto it = constants_.find(log_slots);
    return it == constants_.end() ? nullptr : it->second.get();
}

void BootConstantsCache::makeBootConstants(u64 log_slots) {
    if (log_slots == 0) {
        constants_[0].reset();
        return;
    }
    const u64 full = getLogFullSlots(context_);
    if (log_slots > full)
        throw RuntimeException(M::kLogSlotsTooLargeMessage + std::to_string(full));
    // The fused modulus raise multiplies the first CoeffToSlot step of the
    // full slot count into the raised ciphertext; constants of fewer slots
    // would be built but give wrong results.
    if (log_slots < full && isFuseModRaiseSupported(context_))
        throw RuntimeException(M::kFusedSparseSlotsMessage + std::to_string(full) +
                               M::kFusedSparseSlotsSuffix);
    if (constants_.count(log_slots) != 0)
        return;
    auto constants = std::make_unique<BootConstants>(log_slots, context_, boot_param_);
    constants_.emplace(log_slots, std::move(constants));
}

BootConstants &BootConstantsCache::constantsForList(u64 log_slots,
                                                    const std::vector<u64> &log_dft_sizes) {
    if (log_dft_sizes.empty() || log_dft_sizes.back() != log_slots)
        throw RuntimeException(M::kDftSizesMismatchMessage);
    const auto it = constants_.find(log_slots);
    if (it == constants_.end() || !it->second)
        throw RuntimeException(missingConstantsMessage(log_slots));
    return *it->second;
}

void BootConstantsCache::makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes,
                                           const std::vector<u64> &levels,
                                           std::optional<double> scale) {
    constantsForList(log_slots, log_dft_sizes)
        .generateDFTEncodingsForS2C(boot_param_, log_dft_sizes, levels, scale);
}

std::vector<std::vector<Message>>
BootConstantsCache::getMessageV0Diagonals(u64 log_slots, const std::vector<u64> &log_dft_sizes) {
    BootConstants &constants = constantsForList(log_slots, log_dft_sizes);
    constants.generateDFTMessagesForS2C(boot_param_, log_dft_sizes);
    return constants.getMsgV0(log_dft_sizes);
}

BootConstants *BootConstantsCache::constantsForPlacement(u64 log_slots) const {
    if (log_slots == 0)
        return nullptr;
    const auto it = constants_.find(log_slots);
    if (it == constants_.end() || !it->second)
        throw RuntimeException(missingConstantsMessage(log_slots));
    return it->second.get();
}

void BootConstantsCache::loadBootConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->copyToIfNotExists(device);
}

void BootConstantsCache::loadS2CConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->copyToIfNotExistsV0(device);
}

void BootConstantsCache::loadC2SConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->copyToIfNotExistsInvV0(device);
}

void BootConstantsCache::removeExceptS2CConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->removeExceptV0(device);
}

void BootConstantsCache::removeExceptC2SConstants(u64 log_slots, const Device &device) {
    if (BootConstants *constants = constantsForPlacement(log_slots))
        constants->removeExceptInvV0(device);
}

const BootConstants *BootConstantsCache::placedConstants(u64 log_slots, const Device &device,
                                                         bool s2c) const {
    // The entry guards its device copies with its own mutex.
    BootConstants *constants = constantsForPlacement(log_slots);
    if (!constants)
        return nullptr;
    if (s2c)
        constants->copyToIfNotExistsV0(device);
    else
        constants->copyToIfNotExistsInvV0(device);
    return constants;
}

} // namespace Quelt
