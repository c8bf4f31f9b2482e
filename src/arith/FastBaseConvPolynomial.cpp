// The polynomial layer of fast base conversion: shape checks, device
// dispatch and the accelerator twins around the limb-level conversions.

#include "arith/FastBaseConv.hpp"

#include "Quelt/Exception.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/DeviceDispatch.hpp"

namespace Quelt {

namespace {} // namespace

bool FastBaseConv::fitsChain(const Polynomial &p, std::uint64_t limbs) const {
    if (p.getDegree() != degree_ || p.getChainLength() != num_base_primes_ ||
        p.getData().size() / degree_ < limbs || p.getPrimes().size() < limbs)
        return false;
    for (u64 i = 0; i < limbs; ++i)
        if (p.getPrimes()[i] != moduli_[i].getPrime())
            return false;
    return true;
}

void FastBaseConv::checkModUpInput(const Polynomial &in) const {
    const u64 level = in.getLevel();
    if (level >= num_base_primes_ || !fitsChain(in, level + 1))
        throw RuntimeException(kInputShapeMessage);
}

std::vector<Polynomial> FastBaseConv::modUp(const Polynomial &in) const {
    const Device device = in.getDevice();
    dispatchDevice(device, "modUpGPUImpl", "modUp");
    return modUpCPUImpl(in);
}

std::vector<Polynomial> FastBaseConv::modUpCPUImpl(const Polynomial &in) const {
    if (!context_)
        throw RuntimeException(kNoContextMessage);
    checkModUpInput(in);
    const u64 level = in.getLevel();
    const u64 D = getNumDigits(level);
    std::vector<Polynomial> out;
    out.reserve(D);
    std::vector<u64 *> limbs;
    for (u64 d = 0; d < D; ++d) {
        out.emplace_back(context_, true, true);
        out.back().setLevel(level);
        limbs.push_back(out.back().getLimb(0));
    }
    modUpLimbs(in.getLimb(0), level, in.isNTT(), limbs.data());
    return out;
}

std::vector<Polynomial> FastBaseConv::modUpGPUImpl(const Polynomial &) const {
    throwUnsupportedFunction("modUpGPUImpl");
}

void FastBaseConv::modDown(const PolynomialVector &in, PolynomialVector &out, bool ntt) const {
    const Device device = in.getDevice();
    out.setSize(in.getSize());
    dispatchDevice(device, "modDownGPUImpl", "modDown");
    modDownCPUImpl(in.getPolys().data(), in.getSize(), out.getPolys().data(), ntt);
}

void FastBaseConv::modDown(const Polynomial &in, Polynomial &out, bool ntt) const {
    const Device device = in.getDevice();
    dispatchDevice(device, "modDownGPUImpl", "modDown");
    modDownCPUImpl(&in, 1, &out, ntt);
}

void FastBaseConv::modDownCPUImpl(const Polynomial *in, std::uint64_t count, Polynomial *out,
                                  bool ntt) const {
    if (count == 0)
        return;
    const u64 level = in[0].getLevel();
    for (u64 k = 0; k < count; ++k) {
        if (level >= num_base_primes_ || !fitsChain(in[k], num_all_primes_))
            throw RuntimeException(kInputShapeMessage);
        // A plain output is resized to the level; a mod-up one must hold it.
        if (!fitsChain(out[k], out[k].isModUp() ? level + 1 : 0) ||
            out[k].getPrimes().size() < level + 1)
            throw RuntimeException(kOutputShapeMessage);
        // An output may only share its array with its own input, which is
        // read completely before it is written.
        for (u64 j = 0; j < count; ++j)
            if (j != k && out[k].getData().getData() == in[j].getData().getData() &&
                in[j].getData().getData() != nullptr)
                throw RuntimeException(kSharedOutputMessage);
    }

    DeviceSpecificArray<u64> scratch(modDownScratchWords(ntt));
    DeviceSpecificArray<u64> own_input;
    for (u64 k = 0; k < count; ++k) {
        const u64 *source = in[k].getLimb(0);
        if (out[k].getData().getData() == in[k].getData().getData()) {
            own_input = DeviceSpecificArray<u64>(in[k].getData());
            source = own_input.getData();
        }
        out[k].setLevel(level);
        modDownWithScratch(source, level, out[k].getLimb(0), ntt, scratch.getData());
        out[k].setNTT(ntt);
    }
}

void FastBaseConv::modDownGPUImpl(const Polynomial *, std::uint64_t, Polynomial *, bool) const {
    throwUnsupportedFunction("modDownGPUImpl");
}

void FastBaseConv::modPackKeySwitch(const std::vector<const Polynomial *> &operands,
                                    const ModPackKeyBundle &keys, std::uint64_t hat_q_inv) const {
    if (operands.empty())
        throw RuntimeException(kEmptyOperandMessage);
    for (const Polynomial *operand : operands)
        if (operand == nullptr)
            throw RuntimeException(kNullOperandMessage);
    const Device device = operands.front()->getDevice();
    for (const Polynomial *operand : operands)
        if (operand->getDevice() != device)
            throw RuntimeException(kOperandDevicesMessage);
    if (isAccelerator(device))
        modPackKeySwitchGPUImpl(operands, keys, hat_q_inv);
    throwUnsupportedFunction("modPackKeySwitch");
}

void FastBaseConv::modPackKeySwitchGPUImpl(const std::vector<const Polynomial *> &,
                                           const ModPackKeyBundle &, std::uint64_t) const {
    throwUnsupportedFunction("modPackKeySwitchGPUImpl");
}

} // namespace Quelt
