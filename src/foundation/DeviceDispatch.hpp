#pragma once

// The one place that tells an accelerator device from the host. This build
// has no accelerator, so an operation asked to run off the host reports the
// entry it would have taken: the accelerator twin on an accelerator, its own
// name on any other device that is not the host.

#include "Quelt/Device.hpp"

namespace Quelt {

// True on an accelerator device (type Device::kCuda).
inline bool isAccelerator(const Device &device) { return device.type == Device::kCuda; }

// Throws RuntimeException "Cannot support the function '<twin>' in the
// current build configuration" on an accelerator, the same with `own` on any
// other device (the host included).
[[noreturn]] inline void throwUnsupportedOn(const Device &device, const char *twin,
                                            const char *own) {
    throwUnsupportedFunction(isAccelerator(device) ? twin : own);
}

// Returns on the host; elsewhere throws as throwUnsupportedOn.
inline void dispatchDevice(const Device &device, const char *twin, const char *own) {
    if (!device.isHost())
        throwUnsupportedOn(device, twin, own);
}

} // namespace Quelt
