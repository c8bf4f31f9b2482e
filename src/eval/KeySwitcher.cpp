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
#include <array>
#include <atomic>
#include <functional>
#include <optional>

namespace Quelt {

namespace {

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

// Reusable scratch of one key switch (FastBaseConv::keySwitchLimbs).
struct KeySwitcher::Workspace {
    explicit Workspace(u64 words) : scratch(words) {}
    DeviceSpecificArray<u64> scratch;
};

// A few workspace slots taken and refilled by atomic exchanges: a caller
// takes any filled slot or builds a workspace, and puts it back into any
// empty slot or frees it. Memory stays bounded by the slot count plus the
// callers running at once.
class KeySwitcher::WorkspacePool {
public:
    static constexpr std::size_t kSlots = 4;

    WorkspacePool() = default;
    WorkspacePool(const WorkspacePool &) = delete;
    WorkspacePool &operator=(const WorkspacePool &) = delete;
    ~WorkspacePool() {
        for (auto &slot : slots_)
            delete slot.load(std::memory_order_acquire);
    }

    std::unique_ptr<Workspace> take() {
        for (auto &slot : slots_)
            if (Workspace *w = slot.exchange(nullptr, std::memory_order_acq_rel))
                return std::unique_ptr<Workspace>(w);
        return nullptr;
    }

    void give(std::unique_ptr<Workspace> w) {
        for (auto &slot : slots_) {
            Workspace *expected = nullptr;
            if (slot.compare_exchange_strong(expected, w.get(), std::memory_order_acq_rel)) {
                w.release();
                return;
            }
        }
    }

private:
    std::array<std::atomic<Workspace *>, kSlots> slots_{};
};

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
    : context_(context), base_conv_(context), decompose_data_(context),
      primes_(context->getPrimeValues()), pool_(std::make_unique<WorkspacePool>()) {}

KeySwitcher::~KeySwitcher() = default;

void KeySwitcher::checkInput(const Polynomial &in) const {
    if (in.getDevice().type != Device::kHost)
        base_conv_.modUp(in); // throws the accelerator-only failure
    const u64 level = in.getLevel();
    const u64 L = base_conv_.getNumBasePrimes();
    if (level >= L || !fitsChain(in, primes_, base_conv_.getDegree(), L, level + 1))
        throw RuntimeException(kInputShapeMessage);
}

bool KeySwitcher::fitsExtendedBasis(const Polynomial &p) const {
    return p.isModUp() && p.getDevice() == kHostDevice &&
           fitsChain(p, primes_, base_conv_.getDegree(), base_conv_.getNumBasePrimes(),
                     base_conv_.getNumAllPrimes());
}

void KeySwitcher::modUpPQ(const Polynomial &in, std::vector<Polynomial> &out) const {
    checkInput(in);
    const u64 level = in.getLevel();
    const u64 D = base_conv_.getNumDigits(level);
    // Digits already of the right shape keep their storage: a caller that
    // reuses its vector touches no fresh memory.
    bool reuse = out.size() == D;
    for (u64 d = 0; reuse && d < D; ++d)
        reuse = fitsExtendedBasis(out[d]) && &out[d] != &in;
    std::vector<Polynomial> fresh;
    std::vector<Polynomial> &digits = reuse ? out : fresh;
    if (!reuse) {
        fresh.reserve(D);
        for (u64 d = 0; d < D; ++d)
            fresh.emplace_back(context_, true, true);
    }
    std::vector<u64 *> limbs(D);
    for (u64 d = 0; d < D; ++d) {
        digits[d].disableGerm();
        digits[d].setLevel(level);
        digits[d].setNTT(true);
        limbs[d] = digits[d].getLimb(0);
    }
    base_conv_.modUpLimbs(in.getLimb(0), level, in.isNTT(),
                          decompose_data_.getHatQInvMod(kHostDevice), limbs.data());
    if (!reuse)
        out = std::move(fresh);
}

std::uint64_t KeySwitcher::prepareKey(const std::vector<Polynomial> &digits, EvaluationKey &key,
                                      const Device &device) const {
    key.copyTo(device);
    const u64 masks = detail::EvaluationKeyAccess::ax(key, device).size();
    const u64 bodies = detail::EvaluationKeyAccess::bx(key, device).size();
    if (masks < digits.size() || bodies < digits.size())
        throw RuntimeException(kKeyDigitsMessage);
    const u64 level = digits.front().getLevel();
    for (const Polynomial &digit : digits)
        if (digit.getLevel() != level || !digit.isModUp() ||
            !fitsChain(digit, primes_, base_conv_.getDegree(), base_conv_.getNumBasePrimes(),
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
    if (numSecret > getNumSecret(context_))
        throw RuntimeException(kSecretCountMessage);
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

void KeySwitcher::shapeOutput(Polynomial &p, std::uint64_t level) const {
    const u64 L = base_conv_.getNumBasePrimes();
    const auto &primes = p.getPrimes();
    if (p.isModUp() || p.getDevice() != kHostDevice || p.getDegree() != base_conv_.getDegree() ||
        p.getChainLength() != L || p.getSize() != L || primes.size() != L ||
        !std::equal(primes.begin(), primes.end(), primes_.begin()))
        p = Polynomial(context_, false, true);
    p.disableGerm();
    p.setLevel(level);
    p.setNTT(true);
}

void KeySwitcher::hostKeyParts(EvaluationKey &key, std::uint64_t D,
                               std::vector<const std::uint64_t *> &mask_parts,
                               std::vector<const std::uint64_t *> &body_parts) const {
    key.copyTo(kHostDevice);
    const auto &masks = detail::EvaluationKeyAccess::ax(key, kHostDevice);
    const auto &bodies = detail::EvaluationKeyAccess::bx(key, kHostDevice);
    if (masks.size() < D || bodies.size() < D)
        throw RuntimeException(kKeyDigitsMessage);
    for (u64 d = 0; d < D; ++d)
        if (!fitsExtendedBasis(masks[d]) || !fitsExtendedBasis(bodies[d]))
            throw RuntimeException(kKeyShapeMessage);
    mask_parts.resize(D);
    body_parts.resize(D);
    for (u64 d = 0; d < D; ++d) {
        mask_parts[d] = masks[d].getLimb(0);
        body_parts[d] = bodies[d].getLimb(0);
    }
}

std::unique_ptr<KeySwitcher::Workspace> KeySwitcher::takeWorkspace() const {
    std::unique_ptr<Workspace> ws = pool_->take();
    if (!ws)
        ws = std::make_unique<Workspace>(
            base_conv_.keySwitchScratchWords(base_conv_.getNumBasePrimes() - 1));
    return ws;
}

void KeySwitcher::keySwitchDigits(const std::vector<Polynomial> &digits,
                                  const std::uint32_t *permutation, EvaluationKey &key,
                                  Polynomial &body, Polynomial &mask) const {
    if (digits.empty())
        throw RuntimeException(kDigitShapeMessage);
    const u64 level = digits.front().getLevel();
    if (level >= base_conv_.getNumBasePrimes() || digits.size() != base_conv_.getNumDigits(level))
        throw RuntimeException(kDigitShapeMessage);
    for (const Polynomial &digit : digits) {
        if (digit.getLevel() != level || !fitsExtendedBasis(digit))
            throw RuntimeException(kDigitShapeMessage);
        if (&digit == &body || &digit == &mask)
            throw RuntimeException(kSameOutputMessage);
    }
    if (&body == &mask)
        throw RuntimeException(kSameOutputMessage);
    std::vector<const u64 *> mask_parts, body_parts;
    hostKeyParts(key, digits.size(), mask_parts, body_parts);

    std::vector<const u64 *> digit_limbs(digits.size());
    for (u64 d = 0; d < digits.size(); ++d)
        digit_limbs[d] = digits[d].getLimb(0);
    std::unique_ptr<Workspace> ws = takeWorkspace();
    shapeOutput(body, level);
    shapeOutput(mask, level);
    base_conv_.keySwitchDigitsLimbs(digit_limbs.data(), level, permutation, mask_parts.data(),
                                    body_parts.data(), body.getLimb(0), mask.getLimb(0),
                                    ws->scratch.getData());
    pool_->give(std::move(ws));
}

void KeySwitcher::keySwitch(const Polynomial &in, EvaluationKey &key, Polynomial &body,
                            Polynomial &mask) const {
    checkInput(in);
    if (&body == &mask)
        throw RuntimeException(kSameOutputMessage);
    const u64 level = in.getLevel();
    const u64 D = base_conv_.getNumDigits(level);
    std::vector<const u64 *> mask_parts, body_parts;
    hostKeyParts(key, D, mask_parts, body_parts);

    // An output that is the input gets its new shape only after the input
    // was copied.
    std::optional<Polynomial> copy;
    if (&in == &body || &in == &mask)
        copy.emplace(in);
    const Polynomial &source = copy ? *copy : in;

    std::unique_ptr<Workspace> ws = takeWorkspace();
    shapeOutput(body, level);
    shapeOutput(mask, level);
    base_conv_.keySwitchLimbs(source.getLimb(0), level, source.isNTT(),
                              decompose_data_.getHatQInvMod(kHostDevice), mask_parts.data(),
                              body_parts.data(), body.getLimb(0), mask.getLimb(0),
                              ws->scratch.getData());
    pool_->give(std::move(ws));
}

void KeySwitcher::keySwitchRescale(const Polynomial &in, EvaluationKey &key,
                                   const Polynomial &add_body, const Polynomial &add_mask,
                                   Polynomial &body, Polynomial &mask) const {
    checkInput(in);
    // Operands that are outputs are copied first: the outputs get their new
    // shape before the operands are read.
    auto apart = [&](const Polynomial &p, std::optional<Polynomial> &copy) -> const Polynomial & {
        if (&p == &body || &p == &mask)
            copy.emplace(p);
        return copy ? *copy : p;
    };
    std::optional<Polynomial> in_copy, body_copy, mask_copy;
    const Polynomial &source = apart(in, in_copy);
    const Polynomial &addend_body = apart(add_body, body_copy);
    const Polynomial &addend_mask = apart(add_mask, mask_copy);
    keySwitchSum(
        in.getLevel(), 1, [&](std::uint64_t) -> const Polynomial & { return source; }, {&key},
        &addend_body, &addend_mask, true, body, mask);
}

void KeySwitcher::keySwitchSum(std::uint64_t level, std::uint64_t count,
                               const std::function<const Polynomial &(std::uint64_t)> &input,
                               const std::vector<EvaluationKey *> &keys, const Polynomial *add_body,
                               const Polynomial *add_mask, bool rescale, Polynomial &body,
                               Polynomial &mask) const {
    const u64 L = base_conv_.getNumBasePrimes();
    if (count == 0 || keys.size() != count || level >= L || (rescale && level == 0) ||
        (add_body == nullptr) != (add_mask == nullptr) || (rescale && add_body == nullptr))
        throw RuntimeException(kInputShapeMessage);
    if (add_body != nullptr)
        for (const Polynomial *addend : {add_body, add_mask})
            if (addend->getDevice().type != Device::kHost || addend->getLevel() != level ||
                !addend->isNTT() ||
                !fitsChain(*addend, primes_, base_conv_.getDegree(), L, level + 1) ||
                addend == &body || addend == &mask)
                throw RuntimeException(kInputShapeMessage);
    if (&body == &mask)
        throw RuntimeException(kSameOutputMessage);
    const u64 D = base_conv_.getNumDigits(level);
    std::vector<std::vector<const u64 *>> mask_parts(count), body_parts(count);
    for (u64 c = 0; c < count; ++c)
        hostKeyParts(*keys[c], D, mask_parts[c], body_parts[c]);
    std::unique_ptr<Workspace> ws = takeWorkspace();
    shapeOutput(body, rescale ? level - 1 : level);
    shapeOutput(mask, rescale ? level - 1 : level);
    for (u64 c = 0; c < count; ++c) {
        const Polynomial &in = input(c);
        checkInput(in);
        if (in.getLevel() != level || &in == &body || &in == &mask)
            throw RuntimeException(kInputShapeMessage);
        FastBaseConv::Step step;
        step.first = c == 0;
        step.last = c + 1 == count;
        if (add_body != nullptr) {
            step.add_body = add_body->getLimb(0);
            step.add_mask = add_mask->getLimb(0);
        }
        step.rescale = rescale;
        base_conv_.keySwitchSumLimbs(in.getLimb(0), level, in.isNTT(),
                                     decompose_data_.getHatQInvMod(kHostDevice),
                                     mask_parts[c].data(), body_parts[c].data(), step,
                                     body.getLimb(0), mask.getLimb(0), ws->scratch.getData());
    }
    pool_->give(std::move(ws));
}

void KeySwitcher::modPackKeySwitch(const std::vector<const Polynomial *> &inputs,
                                   const ModPackKeyBundle &bundle) const {
    const u64 *table = decompose_data_.getHatQInvMod(kHostDevice);
    base_conv_.modPackKeySwitch(inputs, bundle, reinterpret_cast<u64>(table));
}

} // namespace Quelt
