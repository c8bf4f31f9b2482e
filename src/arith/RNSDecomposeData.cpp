#include "arith/RNSDecomposeData.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"

#include <algorithm>

namespace Quelt {

namespace {

u64 mulModExact(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }

u64 invModExact(u64 a, u64 p) {
    u64 result = 1 % p, base = a % p;
    for (u64 e = p - 2; e != 0; e >>= 1) {
        if (e & 1)
            result = mulModExact(result, base, p);
        base = mulModExact(base, base, p);
    }
    return result;
}

std::vector<Modulus> chainModuli(const std::shared_ptr<ContextContent> &context) {
    const u64 count = getLength(context) + getNumTP(context);
    const std::vector<Modulus> &all = context->getPrimeModuli().getModuli();
    return std::vector<Modulus>(all.begin(), all.begin() + std::min<u64>(count, all.size()));
}

} // namespace

RNSDecomposeData::RNSDecomposeData(const std::shared_ptr<ContextContent> &context)
    : RNSDecomposeData(chainModuli(context), getLength(context), getGadgetRank(context)) {}

RNSDecomposeData::RNSDecomposeData(const std::vector<Modulus> &moduli, std::uint64_t length,
                                   std::uint64_t gadget_rank) {
    if (length == 0 || moduli.size() < length)
        throw RuntimeException(kNoBasePrimeMessage);
    if (gadget_rank == 0)
        throw RuntimeException(kNoGadgetRankMessage);

    const u64 L = length;
    const u64 alpha = L / gadget_rank + (L % gadget_rank != 0 ? 1 : 0);
    auto prime = [&moduli](u64 i) { return moduli[i].getPrime(); };

    DeviceSpecificArray<u64> p_mod(L), hat_q(L), hat_q_inv(L);
    for (u64 i = 0; i < L; ++i) {
        const u64 q = prime(i);
        u64 product = 1 % q;
        for (u64 m = L; m < moduli.size(); ++m)
            product = mulModExact(product, prime(m) % q, q);
        p_mod[i] = product;

        const u64 s = (i / alpha) * alpha;
        const u64 e = std::min(s + alpha, L);
        u64 hat = 1 % q;
        for (u64 m = 0; m < s; ++m)
            hat = mulModExact(hat, prime(m) % q, q);
        for (u64 m = e; m < L; ++m)
            hat = mulModExact(hat, prime(m) % q, q);
        hat_q[i] = hat;
        hat_q_inv[i] = invModExact(hat, q);
    }
    p_mod_.at(kHostDevice) = std::move(p_mod);
    hat_q_mod_.at(kHostDevice) = std::move(hat_q);
    hat_q_inv_mod_.at(kHostDevice) = std::move(hat_q_inv);
}

const std::uint64_t *RNSDecomposeData::getPMod(const Device &device) const {
    return p_mod_.at(device).getData();
}
const std::uint64_t *RNSDecomposeData::getHatQMod(const Device &device) const {
    return hat_q_mod_.at(device).getData();
}
const std::uint64_t *RNSDecomposeData::getHatQInvMod(const Device &device) const {
    return hat_q_inv_mod_.at(device).getData();
}

} // namespace Quelt
