#include "Quelt/MemoryResource.hpp"

#include "Quelt/Exception.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace Quelt {

namespace {
constexpr std::align_val_t kHostAlignment{32};
}

void *HostMemoryResource::doAllocate(std::uint64_t bytes, CudaStreamView) {
    if (bytes == 0)
        return nullptr;
    return ::operator new[](bytes, kHostAlignment);
}

void HostMemoryResource::doDeallocate(void *pointer, std::uint64_t, CudaStreamView) {
    ::operator delete[](pointer, kHostAlignment);
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

MemoryResource *getPerDeviceMemoryResource(const Device &device) {
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
