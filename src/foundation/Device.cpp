#include "Quelt/Device.hpp"

#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/Exception.hpp"
#include "foundation/DeviceDispatch.hpp"
#include "foundation/WordReduction.hpp"

#include <cstring>

namespace Quelt {

CudaStreamView getDefaultStream() { return CudaStreamView(0); }

CudaStream::CudaStream() : cell_(new std::uint64_t(0)) {}
CudaStream::~CudaStream() { delete cell_; }

namespace CudaTools {
bool isAvailable() { return false; }
int cudaGetDeviceCount() { return 0; }
int cudaGetDevice() { return 0; }
void cudaSetDevice(int) {}
void cudaDeviceSynchronize() {}
void nvtxPush(const char *) {}
void nvtxPop() {}
std::pair<std::uint64_t, std::uint64_t> getCudaMemoryInfo() { return {0, 0}; }
} // namespace CudaTools

Device getCurrentCudaDevice() { return Device(Device::kCuda, CudaTools::cudaGetDevice()); }

void setCurrentCudaDevice(int id) { CudaTools::cudaSetDevice(id); }

std::set<int> deviceSet2CudaDeviceIds(const std::set<Device> &devices) {
    std::set<int> ids;
    for (const auto &device : devices)
        if (isAccelerator(device))
            ids.insert(device.id);
    return ids;
}

std::string unsupportedFunctionMessage(const std::string &name) {
    return "Cannot support the function '" + name + "' in the current build configuration";
}

void throwUnsupportedFunction(const std::string &name) {
    throw RuntimeException(unsupportedFunctionMessage(name));
}

void heteroDeviceCopy(const void *, std::uint64_t, void *, CudaStreamView) {
    throw RuntimeException(kNotSupportedBuildCuda);
}

void deviceToDeviceCopy(int, const void *, std::uint64_t, int, void *, CudaStreamView) {
    throw RuntimeException(kNotSupportedBuildCuda);
}

namespace detail {

CudaDeviceGuard::CudaDeviceGuard(const Device &device)
    : active_(isAccelerator(device)), previous_(0) {
    if (active_) {
        previous_ = getCurrentCudaDevice().id;
        setCurrentCudaDevice(device.id);
    }
}

CudaDeviceGuard::~CudaDeviceGuard() {
    if (active_)
        setCurrentCudaDevice(previous_);
}

void copyBetweenDevices(void *target, const Device &target_device, const void *source,
                        const Device &source_device, std::uint64_t bytes, CudaStreamView stream) {
    if (target_device.isHost() && source_device.isHost()) {
        if (bytes != 0)
            std::memmove(target, source, bytes);
        return;
    }
    if (isAccelerator(target_device) && isAccelerator(source_device)) {
        deviceToDeviceCopy(source_device.id, source, bytes, target_device.id, target, stream);
        return;
    }
    heteroDeviceCopy(source, bytes, target, stream);
}

std::uint64_t checkedByteCount(std::uint64_t count, std::uint64_t width) {
    const std::optional<std::uint64_t> bytes = utils::checkedProduct(count, width);
    if (!bytes)
        throw RuntimeException("[DeviceSpecificArray] Requested size is too large.");
    return *bytes;
}

} // namespace detail

template class DeviceSpecificArray<std::uint64_t>;
template class DeviceSpecificArray<std::uint64_t *>;
template class DeviceSpecificArray<double>;
template class DeviceSpecificArray<std::complex<double>>;
template class DeviceSpecificArray<int>;
template class DeviceSpecificArray<bool>;
template class DeviceSpecificArray<unsigned __int128>;
template class DeviceSpecificArray<__int128>;

} // namespace Quelt
