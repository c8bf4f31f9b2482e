#include "eval/KeySwitcher.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PolyIter.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "keys/EvaluationKeyAccess.hpp"

#include <algorithm>

namespace Quelt {

namespace {

using u64 = std::uint64_t;

// True when p has the context's degree and chain, and its array and prime
// list hold `limbs` limbs on the chain's primes.
bool fitsChain(const Polynomial &p, const std::vector<u64> &primes, u64 degree, u64 length,
               u64 limbs) {
    if (p.getDegree() != degree || p.getChainLength() != length ||
        p.getData().size() / degree < limbs || p.getPrimes().size() < limbs ||
        primes.size() < limbs)
        return false;
    return std::equal(primes.begin(), primes.begin() + static_cast<std::ptrdiff_t>(limbs),
                      p.getPrimes().begin());
}

} // namespace

namespace utils {

Device getCommonDeviceOrThrow(const std::vector<Polynomial> &v) {
    if (v.empty())
        throw RuntimeException(kEmptyOperandMessage);
    const Device device = v.front().getDevice();
    for (const Polynomial &p : v)
        if (p.getDevice() != device)
            throw RuntimeException(kOperandDevicesMessage);
    return device;
}

std::uint64_t dnum(const std::shared_ptr<ContextContent> &context, std::uint64_t level) {
    const u64 num_tp = getNumTP(context);
    if (num_tp == 0)
        throw RuntimeException(kNoTemporaryPrimeMessage);
    return std::min(level / num_tp + 1, getGadgetRank(context));
}

} // namespace utils

KeySwitcher::KeySwitcher(const std::shared_ptr<ContextContent> &context)
    : context_(context), base_conv_(context), decompose_data_(context) {}

void KeySwitcher::modUpPQ(const Polynomial &in, std::vector<Polynomial> &out) const {
    const Device device = in.getDevice();
    if (device.type != Device::kHost)
        base_conv_.modUp(in); // throws the accelerator-only failure
    const u64 level = in.getLevel();
    const u64 L = base_conv_.getNumBasePrimes();
    if (level >= L ||
        !fitsChain(in, context_->getPrimeValues(), base_conv_.getDegree(), L, level + 1))
        throw RuntimeException(kInputShapeMessage);

    Polynomial scaled(context_, false, in.isNTT());
    scaled.setLevel(level);
    scaled.allocate(device);
    context_->getPrimeModuli().constMult<OutputModulusBoundValidator, false>(
        in, decompose_data_.getHatQInvMod(device), scaled,
        OutputModulusBoundValidator(0, level + 1));
    out = base_conv_.modUp(scaled);
}

std::uint64_t KeySwitcher::prepareKey(const std::vector<Polynomial> &digits, EvaluationKey &key,
                                      const Device &device) const {
    key.copyTo(device);
    const u64 masks = detail::EvaluationKeyAccess::ax(key, device).size();
    const u64 bodies = detail::EvaluationKeyAccess::bx(key, device).size();
    if (masks < digits.size() || bodies < digits.size())
        throw RuntimeException(kKeyDigitsMessage);
    const u64 level = digits.front().getLevel();
    const std::vector<u64> primes = context_->getPrimeValues();
    for (const Polynomial &digit : digits)
        if (digit.getLevel() != level || !digit.isModUp() ||
            !fitsChain(digit, primes, base_conv_.getDegree(), base_conv_.getNumBasePrimes(),
                       base_conv_.getNumAllPrimes()))
            throw RuntimeException(kDigitShapeMessage);
    return bodies;
}

CiphertextBase<EncryptionType::RLWE> KeySwitcher::multEvalKey(const std::vector<Polynomial> &digits,
                                                              EvaluationKey &key) const {
    const Device device = utils::getCommonDeviceOrThrow(digits);
    const u64 level = digits.front().getLevel();
    CiphertextBase<EncryptionType::RLWE> result(context_, true, true);
    if (result.getNumPoly() != 2)
        result.setNumPoly(2);
    result.setLevel(level);

    prepareKey(digits, key, device);

    context_->getPrimeModuli().innerProduct(
        makePolyIter(digits.begin()), makePolyIter(digits.end()),
        makePolyIter(key.getAxIter(device)), makePolyIter(key.getBxIter(device)), result.getPoly(1),
        result.getPoly(0));
    return result;
}

CiphertextBase<EncryptionType::MSRLWE>
KeySwitcher::multEvalKeyMSRLWE(const std::vector<Polynomial> &digits, EvaluationKey &key,
                               std::uint64_t numSecret) const {
    const Device device = utils::getCommonDeviceOrThrow(digits);
    const u64 level = digits.front().getLevel();
    CiphertextBase<EncryptionType::MSRLWE> result(context_, true, true);
    result.setLevel(level);
    const u64 gadget_rank = getGadgetRank(context_);
    u64 secrets = getNumSecret(context_);
    if (numSecret != 0) {
        result.setNumPoly(numSecret + 1);
        secrets = numSecret;
    }

    const u64 bodies = prepareKey(digits, key, device);
    if (bodies / gadget_rank < secrets)
        throw RuntimeException(kKeySecretsMessage);
    if (result.getDevice() != device)
        result.allocate(device);

    context_->getPrimeModuli().innerProductMSRLWE(
        makePolyIter(digits.begin()), makePolyIter(digits.end()),
        makePolyIter(key.getAxIter(device)), makePolyIter(key.getBxIter(device)),
        result.getPolyVector(), secrets, gadget_rank);
    return result;
}

void KeySwitcher::modPackKeySwitch(const std::vector<const Polynomial *> &inputs,
                                   const ModPackKeyBundle &bundle) const {
    const u64 *table = decompose_data_.getHatQInvMod(kHostDevice);
    base_conv_.modPackKeySwitch(inputs, bundle, reinterpret_cast<u64>(table));
}

} // namespace Quelt
