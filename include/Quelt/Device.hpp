#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace Quelt {

// Where a block of memory lives. Type 0 is the host processor, 1 a CUDA
// accelerator and 3 pinned host memory; the host is used with id 0.
struct Device {
    std::int32_t type = 0;
    std::int32_t id = 0;

    constexpr Device() = default;
    constexpr Device(std::int32_t type_, std::int32_t id_) : type(type_), id(id_) {}

    static constexpr std::int32_t kHost = 0;
    static constexpr std::int32_t kCuda = 1;
    static constexpr std::int32_t kPinned = 3;

    constexpr bool isHost() const { return type == kHost; }

    friend constexpr bool operator==(const Device &a, const Device &b) {
        return a.type == b.type && a.id == b.id;
    }
    friend constexpr bool operator!=(const Device &a, const Device &b) { return !(a == b); }
    // Devices order by id first, then by type: {1, 0} sorts before {0, 1}.
    friend constexpr bool operator<(const Device &a, const Device &b) {
        return a.id != b.id ? a.id < b.id : a.type < b.type;
    }
};

inline constexpr Device kHostDevice{0, 0};

// Non-owning handle of an accelerator stream; host code passes the null handle.
struct CudaStreamView {
    std::uint64_t handle = 0;
    constexpr CudaStreamView() = default;
    constexpr explicit CudaStreamView(std::uint64_t h) : handle(h) {}
    friend constexpr bool operator==(const CudaStreamView &a, const CudaStreamView &b) {
        return a.handle == b.handle;
    }
};

CudaStreamView getDefaultStream();

// Owning stream: holds one handle cell with the value 0. No real stream exists
// in a host-only build.
class CudaStream {
public:
    CudaStream();
    ~CudaStream();
    CudaStream(const CudaStream &) = delete;
    CudaStream &operator=(const CudaStream &) = delete;
    CudaStreamView view() const { return CudaStreamView(*cell_); }

private:
    std::uint64_t *cell_;
};

// Accelerator queries. This build has no accelerator runtime: every query gives
// the inert answer and every setter does nothing.
namespace CudaTools {
bool isAvailable();
int cudaGetDeviceCount();
int cudaGetDevice();
void cudaSetDevice(int id);
void cudaDeviceSynchronize();
void nvtxPush(const char *label);
void nvtxPop();
std::pair<std::uint64_t, std::uint64_t> getCudaMemoryInfo();
} // namespace CudaTools

// {1, cudaGetDevice()}.
Device getCurrentCudaDevice();
void setCurrentCudaDevice(int id);
// The ids of the accelerator devices of a set, in the set's order.
std::set<int> deviceSet2CudaDeviceIds(const std::set<Device> &devices);

// Message of an operation that only an accelerator build provides:
// "Cannot support the function '<name>' in the current build configuration".
std::string unsupportedFunctionMessage(const std::string &name);
// Throws RuntimeException with unsupportedFunctionMessage(name).
[[noreturn]] void throwUnsupportedFunction(const std::string &name);

// Copies between host and accelerator memory; they always throw
// "Not supported. Build with QUELT_CUDA flag." in this build.
void heteroDeviceCopy(const void *source, std::uint64_t bytes, void *target, CudaStreamView stream);
void deviceToDeviceCopy(int source_id, const void *source, std::uint64_t bytes, int target_id,
                        void *target, CudaStreamView stream);

inline constexpr const char *kNotSupportedBuildCuda = "Not supported. Build with QUELT_CUDA flag.";

} // namespace Quelt
