#pragma once

namespace Quelt {

// Number of rescalings a plaintext or ciphertext still owes; never negative.
class RescaleCounter {
public:
    // Throws RuntimeException "Rescale counter should be greater than or equal
    // to zero" when value < 0.
    explicit RescaleCounter(int value);

    int getValue() const { return value_; }
    // Stores value; a negative value throws as the constructor and the counter
    // keeps its former value.
    void setValue(int value);

    // Returns when value >= 0, otherwise throws as the constructor.
    static void isValidRescaleCounter(int value);

private:
    int value_;
};

} // namespace Quelt
