#include "context/RescaleCounter.hpp"

#include "Quelt/Exception.hpp"

namespace Quelt {

namespace {
constexpr const char *kNegativeCounter = "Rescale counter should be greater than or equal to zero";
}

RescaleCounter::RescaleCounter(int value) : value_(value) { isValidRescaleCounter(value); }

void RescaleCounter::setValue(int value) {
    isValidRescaleCounter(value);
    value_ = value;
}

void RescaleCounter::isValidRescaleCounter(int value) {
    if (value < 0)
        throw RuntimeException(kNegativeCounter);
}

} // namespace Quelt
