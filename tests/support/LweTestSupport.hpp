#pragma once

// LWE contexts by preset, the stored forms of LWE objects as byte strings,
// and the independent reconstruction of what an LWE ciphertext decrypts to.

#include "Quelt/LWE/Ciphertext.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "context/LevelledElement.hpp"
#include "lwe/LWEContext.hpp"
#include "support/CrtReference.hpp"
#include "support/ModularReference.hpp"
#include "support/PolyTestSupport.hpp"

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {

// One shared context per preset (contexts are immutable and thread-safe).
inline std::shared_ptr<LWE::ContextContent> lweContext(LWE::ParameterPreset preset) {
    static std::mutex mutex;
    static std::map<LWE::ParameterPreset, std::shared_ptr<LWE::ContextContent>> contexts;
    const std::lock_guard<std::mutex> lock(mutex);
    auto &slot = contexts[preset];
    if (!slot)
        slot = LWE::makeContext(preset);
    return slot;
}

// b + <a, s> modulo q_0 (and q_1 when ct's level is at least 1), from the key's
// integer coefficients, reconstructed by CRT and centred: the signed integer
// the decryptor reads, computed without the library's arithmetic.
inline double centredPhase(const LWE::Ciphertext &ct, const LWE::SecretKey &sk) {
    const std::vector<u64> primes = LWE::getPrimeList(ct.getContext());
    const u64 n = LWE::getDimension(ct.getContext());
    const std::size_t count = ct.getLevel() == 0 ? 1 : 2;
    std::vector<u64> residues(count);
    for (std::size_t i = 0; i < count; ++i) {
        const u64 q = primes[i];
        u64 x = ct.getBxData()[i];
        for (u64 j = 0; j < n; ++j) {
            const int c = sk.getCoefficients()[j];
            const u64 s = c < 0 ? q - static_cast<u64>(-c) : static_cast<u64>(c);
            x = addModRef(x, mulModRef(ct.getAxData(i)[j], s, q), q);
        }
        residues[i] = x;
    }
    const u128 big_q = crtModulus(primes, count);
    const u128 v = crtReconstruct(residues, primes, count);
    return v <= big_q / 2 ? static_cast<double>(v) : -static_cast<double>(big_q - v);
}

} // namespace Quelt::test
