#include "foundation/DeviceArraySerialization.hpp"

namespace Quelt::detail {

// cereal reports a short read as "... Read <n>"; recover n so that a piecewise
// read can report the totals of the whole array.
std::uint64_t bytesReadFromCerealMessage(const std::string &message) {
    const auto pos = message.rfind("Read ");
    if (pos == std::string::npos)
        return 0;
    std::uint64_t value = 0;
    for (std::size_t i = pos + 5; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i)
        value = value * 10 + static_cast<std::uint64_t>(message[i] - '0');
    return value;
}

} // namespace Quelt::detail
