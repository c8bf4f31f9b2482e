#pragma once

// Contexts and case tables for the tests of the multi-secret operations: a
// ring of degree 256 over five 40-bit primes (levels 0 .. 4) with its
// multi-secret variants on the same primes, variants of 2, 3 and 16 secrets
// of a degree-1024 ring and of the FX preset, and tables of calls that must
// each throw one message.

#include "Quelt/Context.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Quelt::test {

inline const std::shared_ptr<ContextContent> &msBaseContext() {
    static const auto ctx = makeContext(8, 5, 40, 40, 40, 2);
    return ctx;
}
// Two and three secrets over msBaseContext's primes.
inline const std::shared_ptr<ContextContent> &msTwoSecrets() {
    static const auto ctx = genMultiSecretContext(msBaseContext(), "MsTestNS2", 2);
    return ctx;
}
inline const std::shared_ptr<ContextContent> &msThreeSecrets() {
    static const auto ctx = genMultiSecretContext(msBaseContext(), "MsTestNS3", 3);
    return ctx;
}

// Degree 1024 over five 40-bit primes, gadget rank 2.
inline const std::shared_ptr<ContextContent> &msBase1024() {
    static const auto ctx = makeContext(10, 5, 40, 40, 40, 2);
    return ctx;
}

// The multi-secret variant of `base` with `secrets` secrets, one per pair.
inline std::shared_ptr<ContextContent> msVariant(const std::shared_ptr<ContextContent> &base,
                                                 const std::string &name, std::uint64_t secrets) {
    static std::mutex mutex;
    static std::map<std::pair<const ContextContent *, std::uint64_t>,
                    std::shared_ptr<ContextContent>>
        made;
    const std::lock_guard<std::mutex> lock(mutex);
    auto &slot = made[{base.get(), secrets}];
    if (!slot)
        slot = genMultiSecretContext(base, name + "NS" + std::to_string(secrets), secrets);
    return slot;
}

// FX (degree 64) under the multi-secret constructor of the preset.
inline std::shared_ptr<ContextContent> fxMultiSecret(std::uint64_t secrets) {
    static std::mutex mutex;
    static std::map<std::uint64_t, std::shared_ptr<ContextContent>> made;
    const std::lock_guard<std::mutex> lock(mutex);
    auto &slot = made[secrets];
    if (!slot)
        slot = makeContext(ParameterPreset::FX, "FXNS" + std::to_string(secrets), secrets, false,
                           false);
    return slot;
}

// The contexts of the result tests: 2 and 3 secrets at degree 256, 2, 3 and
// 16 secrets at degree 1024 and on FX.
inline std::vector<std::shared_ptr<ContextContent>> msResultContexts() {
    std::vector<std::shared_ptr<ContextContent>> all = {msTwoSecrets(), msThreeSecrets()};
    for (std::uint64_t k : {2, 3, 16})
        all.push_back(msVariant(msBase1024(), "Ms1024", k));
    for (std::uint64_t k : {2, 3, 16})
        all.push_back(fxMultiSecret(k));
    return all;
}

// A call and the message it must throw.
struct ThrowCase {
    std::string name;
    std::function<void()> call;
    std::string message;
};

inline void expectCases(const std::vector<ThrowCase> &cases) {
    for (const ThrowCase &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.call, c.message);
    }
}

} // namespace Quelt::test
