#include "context/CiphertextImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "keys/Serialize.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

// Polynomials of a new ciphertext: one per part of the secret (rank x number
// of secrets) plus one.
std::uint64_t newPolyCount(const std::shared_ptr<ContextContent> &context,
                           const char *multiSecretMLWE) {
    const std::uint64_t rank = getRank(context);
    const std::uint64_t secrets = getNumSecret(context);
    if (rank != 1 && secrets != 1)
        throw RuntimeException(multiSecretMLWE);
    return rank * secrets + 1;
}

// The prime indices a polynomial of this shape uses: 0..level, and in mod-up
// form the temporary primes chainLength..size-1.
std::vector<std::uint64_t> indicesInUse(const Polynomial &poly) {
    std::vector<std::uint64_t> indices;
    for (std::uint64_t i = 0; i <= poly.getLevel(); ++i)
        indices.push_back(i);
    if (poly.isModUp())
        for (std::uint64_t i = poly.getChainLength(); i < poly.getSize(); ++i)
            indices.push_back(i);
    return indices;
}

// True when both lists have an entry at every index and the entries agree.
template <typename T>
bool agreeAt(const std::vector<T> &a, const std::vector<T> &b,
             const std::vector<std::uint64_t> &indices) {
    return std::all_of(indices.begin(), indices.end(), [&](std::uint64_t i) {
        return i < a.size() && i < b.size() && a[i] == b[i];
    });
}

} // namespace

template <EncryptionType ET>
CiphertextImpl<ET>::CiphertextImpl(const std::shared_ptr<ContextContent> &context, bool modUp,
                                   bool isNTT)
    : context_(context), log_slots_(getLogFullSlots(context)), rescale_counter_(0),
      encoding_type_(EncodingType::SLOT),
      polys_(context, newPolyCount(context, kMultiSecretMLWE), modUp, isNTT) {}

template <EncryptionType ET>
CiphertextImpl<ET>::CiphertextImpl(const std::shared_ptr<ContextContent> &context,
                                   const CiphertextImpl &other)
    : context_(context), log_slots_(getLogFullSlots(context)), rescale_counter_(0),
      encoding_type_(other.encoding_type_), polys_(context, 0, false, false) {
    const PolynomialVector &source = other.polys_;
    const bool modUp = source.isModUp();
    const bool ntt = source.isNTT();
    const std::uint64_t count = source.getSize();
    if (count < 2)
        throw RuntimeException(kSizeTooSmall);
    const std::uint64_t level = source.getLevel();
    const std::uint64_t length = getLength(context);
    if (level >= length)
        throw RuntimeException(kLevelDoesNotFit);
    // The residues are taken word for word, so the new context must serve the
    // same ring with the same transforms at every prime they use. (Prime
    // values themselves are allowed to differ.)
    const std::uint64_t degree = Quelt::getDegree(context);
    // Only the limbs in use travel: limbs 0..level, or the whole mod-up
    // layout. A source array may hold more (a polynomial regenerated from its
    // seed below its top level spans every prime of its own chain).
    const std::uint64_t words = (modUp ? length + getNumTP(context) : level + 1) * degree;
    for (const Polynomial &poly : source.getPolys()) {
        if (poly.getDegree() != degree)
            throw RuntimeException(kDegreeMismatch);
        if (modUp &&
            (poly.getChainLength() != length || poly.getSize() != length + getNumTP(context)))
            throw RuntimeException(kModUpChainMismatch);
        if (poly.getData().size() < words)
            throw RuntimeException(kMissingLimbs);
    }
    if (!agreeAt(other.context_->getNttTypes(), context->getNttTypes(),
                 indicesInUse(source.getPoly(0))))
        throw RuntimeException(kTransformMismatch);
    checkRescaleCounter(other.getRescaleCounter(), level);

    PolynomialVector copy(context, count, modUp, ntt);
    copy.setLevel(level);
    copy.to(source.getDevice());
    for (std::uint64_t i = 0; i < count; ++i) {
        DeviceSpecificArray<std::uint64_t> &target = copy.getPoly(i).getData();
        const DeviceSpecificArray<std::uint64_t> &from = source.getPoly(i).getData();
        detail::copyBetweenDevices(target.getData(), target.getDevice(), from.getData(),
                                   from.getDevice(), words * sizeof(std::uint64_t),
                                   target.getStream());
    }
    polys_ = std::move(copy);
    log_slots_ = other.log_slots_;
    rescale_counter_.setValue(other.getRescaleCounter());
}

template <EncryptionType ET>
CiphertextImpl<ET> &CiphertextImpl<ET>::operator=(const CiphertextImpl &other) {
    if (this == &other)
        return *this;
    polys_ = other.polys_;
    context_ = other.context_;
    log_slots_ = other.log_slots_;
    rescale_counter_ = other.rescale_counter_;
    encoding_type_ = other.encoding_type_;
    return *this;
}

template <EncryptionType ET>
void CiphertextImpl<ET>::setContext(const std::shared_ptr<ContextContent> &context) {
    if (context == context_)
        return;
    if (!context)
        throw RuntimeException(kIncompatibleContext);
    // Equal prime values alone do not make a context fit: presets of other
    // degrees share prime lists, and variants of a preset change only the
    // transforms.
    const Polynomial &first = polys_.getPoly(0);
    const std::uint64_t level = polys_.getLevel();
    const std::uint64_t length = getLength(context);
    bool compatible = Quelt::getDegree(context) == Quelt::getDegree(context_) && level < length;
    if (compatible && polys_.isModUp())
        compatible = length == getLength(context_) && getNumTP(context) == getNumTP(context_);
    if (compatible) {
        const std::vector<std::uint64_t> indices = indicesInUse(first);
        compatible = agreeAt(context->getPrimeValues(), context_->getPrimeValues(), indices) &&
                     agreeAt(context->getNttTypes(), context_->getNttTypes(), indices);
    }
    if (!compatible)
        throw RuntimeException(kIncompatibleContext);

    PolynomialVector rebound(context, 0, false, false);
    std::swap(rebound.getPolys(), polys_.getPolys());
    polys_ = std::move(rebound);
    context_ = context;
}

template <EncryptionType ET>
ParameterPreset CiphertextImpl<ET>::getParameterPreset() const {
    return Quelt::getParameterPreset(context_);
}

template <EncryptionType ET>
std::uint64_t CiphertextImpl<ET>::getGadgetRank() const {
    return Quelt::getGadgetRank(context_);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::setNumPoly(std::uint64_t n) {
    if (n <= 1)
        throw RuntimeException(kSizeTooSmall);
    polys_.setSize(n);
}

template <EncryptionType ET>
std::uint64_t *CiphertextImpl<ET>::getPolyData(std::uint64_t i, std::uint64_t j) const {
    // The limbs belong to this ciphertext; kernels write through the pointer.
    return const_cast<std::uint64_t *>(polys_.getPoly(i).getLimb(j));
}

template <EncryptionType ET>
std::uint64_t CiphertextImpl<ET>::getNumberOfSlots() const {
    if (log_slots_ >= 64)
        throw RuntimeException(kLogSlotsTooLarge);
    return std::uint64_t{1} << log_slots_;
}

template <EncryptionType ET>
std::uint64_t CiphertextImpl<ET>::getNumSecret() const {
    const std::uint64_t polys = polys_.getSize();
    return std::min(Quelt::getNumSecret(context_), polys == 0 ? 0 : polys - 1);
}

template <EncryptionType ET>
std::uint64_t CiphertextImpl<ET>::getCurrentPrime() const {
    return context_->getPrimeModuli().getModulus(getLevel()).getPrime();
}

template <EncryptionType ET>
double CiphertextImpl<ET>::getCurrentScaleFactor() const {
    return context_->getScaleFactors().getScaleFactor(getLevel());
}

template <EncryptionType ET>
void CiphertextImpl<ET>::checkRescaleCounter(int value, std::uint64_t level) {
    if (level != 0 && static_cast<std::int64_t>(value) > static_cast<std::int64_t>(level))
        throw RuntimeException(kRescaleCounterAboveLevel);
    RescaleCounter::isValidRescaleCounter(value);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::setRescaleCounter(int value) {
    checkRescaleCounter(value, getLevel());
    rescale_counter_.setValue(value);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::transformAll(bool toNTT) {
    // Every polynomial is checked before the first one changes, so a refusal
    // leaves the ciphertext as it was.
    for (const Polynomial &poly : polys_.getPolys())
        if (poly.isNTT() == toNTT)
            throw RuntimeException(toNTT ? kAlreadyNTT : kAlreadyINTT);
    polys_.getDevice(); // the polynomials must share one device
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (Polynomial &poly : polys_.getPolys()) {
        const std::uint64_t bound = poly.isModUp() ? poly.getSize() : poly.getLevel() + 1;
        const OutputModulusBoundValidator validator(0, bound);
        if (toNTT)
            chain.forwardNTT<OutputModulusBoundValidator, 1>(poly, poly, validator);
        else
            chain.backwardNTT<OutputModulusBoundValidator, 1>(poly, poly, validator);
    }
}

template <EncryptionType ET>
void CiphertextImpl<ET>::forwardNTT() {
    transformAll(true);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::backwardNTT() {
    transformAll(false);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::save(const std::string &path) const {
    Serialize::save(path, *this);
}
template <EncryptionType ET>
void CiphertextImpl<ET>::save(std::ostream &stream) const {
    Serialize::save(stream, *this);
}
template <EncryptionType ET>
void CiphertextImpl<ET>::load(const std::string &path) {
    Serialize::load(path, *this);
}
template <EncryptionType ET>
void CiphertextImpl<ET>::load(std::istream &stream) {
    Serialize::load(stream, *this);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::save(cereal::PortableBinaryOutputArchive &archive) const {
    Verifier::save(archive, context_->getHash(), ObjectCode::CIPHERTEXT);
    archive(log_slots_, static_cast<std::int32_t>(rescale_counter_.getValue()),
            static_cast<std::uint32_t>(encoding_type_));
    archive(static_cast<std::uint64_t>(polys_.getSize()));
    for (const Polynomial &poly : polys_.getPolys())
        poly.save(archive);
}

template <EncryptionType ET>
void CiphertextImpl<ET>::load(cereal::PortableBinaryInputArchive &archive) {
    Verifier::load(archive, context_->getHash(), ObjectCode::CIPHERTEXT);
    std::uint64_t logSlots = 0;
    std::int32_t counter = 0;
    std::uint32_t encoding = 0;
    std::uint64_t count = 0;
    archive(logSlots, counter, encoding, count);
    if (encoding > static_cast<std::uint32_t>(EncodingType::COEFFICIENT))
        throw RuntimeException(kUnknownEncodingType);
    if (count < 2)
        throw RuntimeException(kSizeTooSmall);

    // The polynomials arrive in a vector of their own, each checked against
    // the context as it is read. The list grows only as records actually
    // arrive, so a damaged count runs into the end of the stream instead of
    // reserving memory for it.
    PolynomialVector fresh(context_, 0, false, false);
    for (std::uint64_t i = 0; i < count; ++i) {
        Polynomial poly(context_, false, false);
        poly.load(archive, context_);
        fresh.getPolys().push_back(std::move(poly));
    }
    fresh.isModUp();
    fresh.isNTT();
    checkRescaleCounter(counter, fresh.getLevel());

    polys_ = std::move(fresh);
    log_slots_ = logSlots;
    rescale_counter_.setValue(counter);
    encoding_type_ = static_cast<EncodingType>(encoding);
}

template class CiphertextImpl<EncryptionType::MLWE>;
template class CiphertextImpl<EncryptionType::RLWE>;
template class CiphertextImpl<EncryptionType::MSRLWE>;

} // namespace Quelt
