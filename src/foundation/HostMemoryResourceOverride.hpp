#pragma once

// A seam for tests that measure what an operation allocates: while a
// resource is installed, getPerDeviceMemoryResource hands it out for the host
// device instead of the host resource. Arrays keep the resource they were
// allocated from, so the installed resource must outlive every array made
// while it was installed, and should pass blocks on to the host resource.

namespace Quelt {

class MemoryResource;

namespace detail {

// Installs `resource` (nullptr: the host resource again) and returns the one
// installed before. Not for concurrent use with allocations on other
// threads.
MemoryResource *exchangeHostMemoryResourceOverride(MemoryResource *resource);

} // namespace detail

} // namespace Quelt
