#include "Quelt/MemoryResource.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/HostMemoryResourceOverride.hpp"

#include <atomic>

#include <map>
#include <memory>
#include <mutex>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace Quelt {

namespace {

constexpr std::align_val_t kHostAlignment{32};

// Blocks of this size and more (polynomials and keys of the large rings) are
// aligned to the 2 MiB of a huge page and marked for transparent huge pages
// where the system offers them on request: first touches of fresh memory then
// fault 512 times less often, which dominates the making of large keys on
// virtual machines. The hint changes nothing else.
constexpr std::uint64_t kHugeBlockBytes = std::uint64_t{4} << 20;
constexpr std::align_val_t kHugeAlignment{std::size_t{2} << 20};

std::align_val_t hostAlignmentOf(std::uint64_t bytes) {
    return bytes >= kHugeBlockBytes ? kHugeAlignment : kHostAlignment;
}

std::atomic<MemoryResource *> &hostOverride() {
    static std::atomic<MemoryResource *> resource{nullptr};
    return resource;
}

} // namespace

void *HostMemoryResource::doAllocate(std::uint64_t bytes, CudaStreamView) {
    if (bytes == 0)
        return nullptr;
    void *block = ::operator new[](bytes, hostAlignmentOf(bytes));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= kHugeBlockBytes) {
        // Whole 2 MiB pages only; a refused hint is harmless.
        const std::uint64_t huge = static_cast<std::uint64_t>(kHugeAlignment);
        (void)madvise(block, bytes / huge * huge, MADV_HUGEPAGE);
    }
#endif
    return block;
}

void HostMemoryResource::doDeallocate(void *pointer, std::uint64_t bytes, CudaStreamView) {
    ::operator delete[](pointer, hostAlignmentOf(bytes));
}

void *CudaMemoryResource::doAllocate(std::uint64_t bytes, CudaStreamView) {
    if (bytes == 0)
        return nullptr;
    throwUnsupportedFunction("doAllocate");
}

void CudaMemoryResource::doDeallocate(void *, std::uint64_t, CudaStreamView) {}

void *PinnedMemoryResource::doAllocate(std::uint64_t bytes, CudaStreamView) {
    if (bytes == 0)
        return nullptr;
    throwUnsupportedFunction("doAllocate");
}

void PinnedMemoryResource::doDeallocate(void *, std::uint64_t, CudaStreamView) {}

MemoryResource *detail::exchangeHostMemoryResourceOverride(MemoryResource *resource) {
    return hostOverride().exchange(resource);
}

MemoryResource *getPerDeviceMemoryResource(const Device &device) {
    if (device.type == Device::kHost)
        if (MemoryResource *installed = hostOverride().load())
            return installed;
    // Never destroyed: arrays with static storage may release blocks during
    // process exit, after function-local statics would have been torn down.
    static auto *mr_map = new std::map<Device, std::unique_ptr<MemoryResource>>();
    static auto *m = new std::mutex();
    std::lock_guard<std::mutex> lock(*m);
    auto found = mr_map->find(device);
    if (found != mr_map->end())
        return found->second.get();
    std::unique_ptr<MemoryResource> resource;
    switch (device.type) {
    case Device::kHost:
        resource = std::make_unique<HostMemoryResource>();
        break;
    case Device::kCuda:
        resource = std::make_unique<CudaMemoryResource>();
        break;
    case Device::kPinned:
        resource = std::make_unique<PinnedMemoryResource>();
        break;
    default:
        throw RuntimeException("Cannot find a proper memory resource for the requested device.");
    }
    MemoryResource *raw = resource.get();
    mr_map->emplace(device, std::move(resource));
    return raw;
}

} // namespace Quelt
