#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Message.hpp"
#include "boot/BootConstants.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace Quelt {

class ContextContent;
struct BootParameter;

// The DFT constants of a bootstrapper per log slot count, made on demand
// from the context and its bootstrapping settings (`boot_param`, which the
// owning bootstrapper keeps and which outlives the cache). Entry 0 always
// exists and holds no constants (a null pointer). The messages are those of
// BootstrapperMessages.
//
// Nothing here takes a lock: the cache must not change while another thread
// bootstraps. Each BootConstants guards its per-device copies itself.
class BootConstantsCache {
public:
    using u64 = std::uint64_t;

    BootConstantsCache(std::shared_ptr<ContextContent> context, const BootParameter &boot_param);

    bool isBootstrapReady(u64 log_slots) const;
    // The constants of log_slots, or nothing (also for log_slots 0).
    const BootConstants *findBootConstants(u64 log_slots) const;

    // The constants of log_slots, unless they exist. Throws
    // kLogSlotsTooLargeMessage above the full slot count and
    // kFusedSparseSlotsMessage below it on a context that fuses the raise.
    void makeBootConstants(u64 log_slots);
    // The SlotToCoeff encodings of a registered split of existing constants
    // (kDftSizesMismatchMessage unless the split ends at log_slots).
    void makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes,
                           const std::vector<u64> &levels, std::optional<double> scale);
    std::vector<std::vector<Message>> getMessageV0Diagonals(u64 log_slots,
                                                            const std::vector<u64> &log_dft_sizes);

    // The placement family: nothing for log_slots 0, the missing-constants
    // message (kMissingConstantsPrefix) for absent constants.
    void loadBootConstants(u64 log_slots, const Device &device);
    void loadS2CConstants(u64 log_slots, const Device &device);
    void loadC2SConstants(u64 log_slots, const Device &device);
    void removeExceptS2CConstants(u64 log_slots, const Device &device);
    void removeExceptC2SConstants(u64 log_slots, const Device &device);
    // The constants of log_slots placed on the device for one transform
    // (SlotToCoeff with s2c, CoeffToSlot otherwise); nothing for 0.
    const BootConstants *placedConstants(u64 log_slots, const Device &device, bool s2c) const;

private:
    // The constants of log_slots for the list forms: the split's last total
    // must be log_slots and the entry must exist.
    BootConstants &constantsForList(u64 log_slots, const std::vector<u64> &log_dft_sizes);
    // The constants of log_slots for the placement family (null for 0).
    BootConstants *constantsForPlacement(u64 log_slots) const;

    std::shared_ptr<ContextContent> context_;
    const BootParameter &boot_param_;
    std::map<u64, std::unique_ptr<BootConstants>> constants_;
};

} // namespace Quelt
