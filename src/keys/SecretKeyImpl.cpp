#include "keys/SecretKeyImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/DeviceArraySerialization.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "keys/SecretKeyRecord.hpp"
#include "keys/Serialize.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace Quelt {

namespace {

constexpr const char *kPrimeIndexOutOfRange = "[SecretKey] Prime index out of range";

} // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

template <EncryptionType ET>
SecretKeyImpl<ET>::SecretKeyImpl(const std::shared_ptr<ContextContent> &context)
    : context_(context), is_random_(true), sx_(context, 0, true, true) {
    checkSampledShape();
    // The state before the first draw: sampling again from it gives this key.
    seed_ = UniformRandomBitGenerator::getInstance().getState();
    sampleFromGenerator();
}

template <EncryptionType ET>
SecretKeyImpl<ET>::SecretKeyImpl(const std::shared_ptr<ContextContent> &context,
                                 const int *coefficients)
    : context_(context), is_random_(false), sx_(context, 0, true, true) {
    const std::uint64_t rank = getRank(context_);
    const std::uint64_t secrets = getNumSecret(context_);
    if constexpr (ET == EncryptionType::RLWE) {
        if (rank > 1 || secrets > 1)
            throw RuntimeException(kRLWEShape);
    } else if constexpr (ET == EncryptionType::MLWE) {
        if (secrets > 1)
            throw RuntimeException(kMLWEShape);
    }
    if (coefficients == nullptr)
        throw RuntimeException(kNullCoefficients);
    const std::uint64_t count = coefficientCount();
    coefficients_ = DeviceSpecificArray<int>(count, kHostDevice, getDefaultStream());
    std::copy_n(coefficients, count, coefficients_.getData());
    convertCoefficients();
}

template <EncryptionType ET>
SecretKeyImpl<ET>::SecretKeyImpl(const std::shared_ptr<ContextContent> &context, ShellTag)
    : context_(context), sx_(context, 0, true, true) {
    // A null context is refused before anything is read.
    getDegree(context_);
}

template <EncryptionType ET>
SecretKeyImpl<ET>::SecretKeyImpl(const std::shared_ptr<ContextContent> &context,
                                 std::istream &stream)
    : SecretKeyImpl(context, ShellTag{}) {
    detail::CerealAdaptor<SecretKeyImpl> adaptor(this, std::nullopt);
    Serialize::load(stream, adaptor);
}

template <EncryptionType ET>
SecretKeyImpl<ET>::SecretKeyImpl(const std::shared_ptr<ContextContent> &context,
                                 const std::string &path)
    : SecretKeyImpl(context, ShellTag{}) {
    detail::CerealAdaptor<SecretKeyImpl> adaptor(this, std::nullopt);
    Serialize::load(path, adaptor);
}

template <EncryptionType ET>
SecretKeyImpl<ET> &SecretKeyImpl<ET>::operator=(const SecretKeyImpl &other) {
    if (this == &other)
        return *this;
    std::string seed = other.seed_;
    DeviceSpecificArray<int> coefficients = other.coefficients_;
    PolynomialVector sx = other.sx_;
    context_ = other.context_;
    is_random_ = other.is_random_;
    seed_ = std::move(seed);
    coefficients_ = std::move(coefficients);
    sx_ = std::move(sx);
    enc_type_ = other.enc_type_;
    return *this;
}

template <EncryptionType ET>
std::uint64_t SecretKeyImpl<ET>::polynomialCount() const {
    return getRank(context_) * getNumSecret(context_);
}

template <EncryptionType ET>
std::uint64_t SecretKeyImpl<ET>::coefficientCount() const {
    return polynomialCount() * getDegree(context_);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::checkSampledShape() const {
    if constexpr (ET == EncryptionType::RLWE) {
        if (getRank(context_) > 1)
            throw RuntimeException(kRLWEShape);
    }
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::sampleFromGenerator() {
    // One block of rank x N coefficients per secret, each with exactly h
    // nonzeros; an unreachable weight is refused before anything is drawn.
    RandomSampler().sampleHWT(coefficients_, coefficientCount(), getHammingWeight(context_),
                              getNumSecret(context_));
    convertCoefficients();
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::convertCoefficients() {
    PolynomialVector sx(context_, polynomialCount(), true, true);
    context_->getPrimeModuli().coefficientsToPolyVector(coefficients_, sx);
    sx_ = std::move(sx);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::regenerateFromSeed() {
    SecretKeyRecord::sampleFromState(seed_, [this] { sampleFromGenerator(); });
}

// ---------------------------------------------------------------------------
// Getters
// ---------------------------------------------------------------------------

template <EncryptionType ET>
std::uint64_t *SecretKeyImpl<ET>::getSxData(std::uint64_t i, std::uint64_t j) const {
    const Polynomial &poly = sx_.getPoly(i);
    if (j >= poly.getSize() || (j + 1) * poly.getDegree() > poly.getData().size())
        throw std::out_of_range(kPrimeIndexOutOfRange);
    // The residues belong to this key; kernels write through the pointer.
    return const_cast<std::uint64_t *>(poly.getLimb(j));
}

template <EncryptionType ET>
int *SecretKeyImpl<ET>::getCoefficients() const {
    return const_cast<int *>(coefficients_.getData());
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

template <EncryptionType ET>
void SecretKeyImpl<ET>::saveForm(std::ostream &stream, std::uint32_t option) const {
    const detail::CerealAdaptor<const SecretKeyImpl> adaptor(this, option);
    Serialize::save(stream, adaptor);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::saveForm(const std::string &path, std::uint32_t option) const {
    const detail::CerealAdaptor<const SecretKeyImpl> adaptor(this, option);
    // A secret key file is for its owner alone.
    Serialize::savePrivate(path, adaptor);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::save(const std::string &path) const {
    saveForm(path, kFullForm);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::save(std::ostream &stream) const {
    saveForm(stream, kFullForm);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::saveSeedOnly(const std::string &path) const {
    if (!is_random_)
        throw RuntimeException(kNotRandom);
    saveForm(path, kSeedOnlyForm);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::saveSeedOnly(std::ostream &stream) const {
    if (!is_random_)
        throw RuntimeException(kNotRandom);
    saveForm(stream, kSeedOnlyForm);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::loadFullForm(cereal::PortableBinaryInputArchive &archive) {
    Verifier::load(archive, context_->getHash(), ObjectCode::SECRET_KEY);
    checkSampledShape();

    auto [random, seed] = SecretKeyRecord::loadRandomFlagAndSeed(archive);
    // Every count must be this context's before its data is read, so that a
    // damaged count neither reserves memory nor builds a key of another shape.
    DeviceSpecificArray<int> coefficients =
        SecretKeyRecord::loadCoefficients(archive, coefficientCount());

    std::uint64_t polys = 0;
    archive(polys);
    if (polys != polynomialCount())
        throw RuntimeException(kLoadPolynomialCount);
    PolynomialVector sx(context_, 0, true, true);
    sx.getPolys().reserve(polys);
    const std::uint64_t topLevel = getLength(context_) - 1;
    for (std::uint64_t i = 0; i < polys; ++i) {
        // The record checks degree, chain, primes and array length against
        // the context; a secret polynomial also spans the temporary primes at
        // the top level, in NTT form, and never travels as a seed (refused
        // before anything is regenerated).
        Polynomial poly = Polynomial::read(archive, context_, Polynomial::Seeded::Defer);
        if (!poly.isModUp() || !poly.isNTT() || poly.getLevel() != topLevel || poly.hasGerm())
            throw RuntimeException(kLoadPolynomialShape);
        sx.getPolys().push_back(std::move(poly));
    }

    is_random_ = random;
    seed_ = std::move(seed);
    coefficients_ = std::move(coefficients);
    sx_ = std::move(sx);
}

template <EncryptionType ET>
void SecretKeyImpl<ET>::loadSeedOnlyForm(cereal::PortableBinaryInputArchive &archive) {
    SecretKeyRecord::loadSeedOnlyCode(archive);
    checkSampledShape();
    seed_ = SecretKeyRecord::loadSeedOnlyState(archive);
    is_random_ = true;
    regenerateFromSeed();
}

// ---------------------------------------------------------------------------
// The adaptor
// ---------------------------------------------------------------------------

template <typename T>
void detail::CerealAdaptor<T>::save(
    cereal::PortableBinaryOutputArchive &archive) const requires std::is_const_v<T> {
    using Key = std::remove_const_t<T>;
    // Checked before the first byte, so a refused option writes nothing.
    if (!option_ || (*option_ != Key::kFullForm && *option_ != Key::kSeedOnlyForm))
        throw RuntimeException(Key::kSaveInvalidOption);
    const Key &key = *key_;
    Serialize::saveOptional(archive, option_);
    archive(static_cast<std::uint32_t>(key.enc_type_));
    if (*option_ == Key::kSeedOnlyForm) {
        SecretKeyRecord::saveSeedOnlyBody(archive, key.seed_);
        return;
    }
    Verifier::save(archive, key.context_->getHash(), ObjectCode::SECRET_KEY);
    SecretKeyRecord::saveRandomFlagAndSeed(archive, key.is_random_, key.seed_);
    Quelt::save(archive, key.coefficients_);
    archive(static_cast<std::uint64_t>(key.sx_.getSize()));
    for (const Polynomial &poly : key.sx_.getPolys())
        poly.save(archive);
}

template <typename T>
void detail::CerealAdaptor<T>::load(cereal::PortableBinaryInputArchive &archive) requires(
    !std::is_const_v<T>) {
    const std::optional<std::uint32_t> option = Serialize::loadOptional(archive);
    // The type is judged first: a record of another type is reported as such
    // even when its option is damaged too.
    std::uint32_t type = 0;
    archive(type);
    if (type != static_cast<std::uint32_t>(key_->enc_type_))
        throw RuntimeException(T::kLoadWrongType);
    const std::uint32_t form = SecretKeyRecord::checkedForm(option);
    option_ = option;
    if (form == T::kFullForm)
        key_->loadFullForm(archive);
    else
        key_->loadSeedOnlyForm(archive);
}

template class SecretKeyImpl<EncryptionType::MLWE>;
template class SecretKeyImpl<EncryptionType::RLWE>;
template class SecretKeyImpl<EncryptionType::MSRLWE>;

template class detail::CerealAdaptor<const SecretKeyImpl<EncryptionType::MLWE>>;
template class detail::CerealAdaptor<const SecretKeyImpl<EncryptionType::RLWE>>;
template class detail::CerealAdaptor<const SecretKeyImpl<EncryptionType::MSRLWE>>;
template class detail::CerealAdaptor<SecretKeyImpl<EncryptionType::MLWE>>;
template class detail::CerealAdaptor<SecretKeyImpl<EncryptionType::RLWE>>;
template class detail::CerealAdaptor<SecretKeyImpl<EncryptionType::MSRLWE>>;

} // namespace Quelt
