#pragma once

#include <stdexcept>
#include <string>

namespace Quelt {

// The one exception type of the library. Every check throws it with a fixed
// English sentence; the sentences are part of the interface.
class RuntimeException : public std::runtime_error {
public:
    explicit RuntimeException(const std::string &message) : std::runtime_error(message) {}
    explicit RuntimeException(const char *message) : std::runtime_error(message) {}
};

} // namespace Quelt
