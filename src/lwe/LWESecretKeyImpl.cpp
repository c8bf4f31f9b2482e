#include "lwe/LWESecretKeyImpl.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/DeviceArraySerialization.hpp"
#include "foundation/RandomSampler.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "foundation/WordArith.hpp"
#include "keys/SecretKeyRecord.hpp"
#include "keys/Serialize.hpp"
#include "lwe/LWEContext.hpp"

#include <algorithm>
#include <utility>

namespace Quelt::LWE {

using namespace SecretKeyRecord;

namespace {

// What the serialisation layer writes and reads: the key with the form of its
// record.
struct RecordWriter {
    const SecretKeyImpl &key;
    std::uint32_t option;
    void save(cereal::PortableBinaryOutputArchive &archive) const {
        key.saveRecord(archive, option);
    }
};

struct RecordReader {
    SecretKeyImpl &key;
    void load(cereal::PortableBinaryInputArchive &archive) { key.loadRecord(archive); }
};

} // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

SecretKeyImpl::SecretKeyImpl(const std::shared_ptr<ContextContent> &context)
    : context_(context), random_(true), sx_(context) {
    // The state before the first draw: sampling again from it gives this key.
    seed_ = UniformRandomBitGenerator::getInstance().getState();
    sampleFromGenerator();
}

SecretKeyImpl::SecretKeyImpl(const std::shared_ptr<ContextContent> &context,
                             const int *coefficients)
    : context_(context), random_(false), sx_(context) {
    if (coefficients == nullptr)
        throw RuntimeException(kNullCoefficients);
    const u64 n = getDimension(context_);
    coefficients_ = DeviceSpecificArray<int>(n);
    std::copy_n(coefficients, n, coefficients_.getData());
    context_->getPrimeModuli().coefficientsToLevelledVector(coefficients_, sx_);
}

SecretKeyImpl::SecretKeyImpl(const std::shared_ptr<ContextContent> &context, ShellTag)
    : context_(context), sx_(context) {}

SecretKeyImpl::SecretKeyImpl(const std::shared_ptr<ContextContent> &context, std::istream &stream)
    : SecretKeyImpl(context, ShellTag{}) {
    RecordReader reader{*this};
    Serialize::load(stream, reader);
}

SecretKeyImpl::SecretKeyImpl(const std::shared_ptr<ContextContent> &context,
                             const std::string &path)
    : SecretKeyImpl(context, ShellTag{}) {
    RecordReader reader{*this};
    Serialize::load(path, reader);
}

SecretKeyImpl &SecretKeyImpl::operator=(const SecretKeyImpl &other) {
    if (this != &other) {
        SecretKeyImpl copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void SecretKeyImpl::sampleFromGenerator() {
    const ContextContent &context = *context_;
    DeviceSpecificArray<int> coefficients;
    // One block: exactly the Hamming weight of nonzeros over the whole vector.
    RandomSampler().sampleHWT(coefficients, context.getParameter().dimension,
                              context.getParameter().hamming_weight, 1);
    LevelledVector sx(context_);
    context.getPrimeModuli().coefficientsToLevelledVector(coefficients, sx);
    coefficients_ = std::move(coefficients);
    sx_ = std::move(sx);
}

int *SecretKeyImpl::getCoefficients() const {
    // The coefficients belong to this key; callers may write through them.
    return const_cast<int *>(coefficients_.getData());
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

void SecretKeyImpl::save(const std::string &path) const {
    Serialize::savePrivate(path, RecordWriter{*this, kFullForm});
}

void SecretKeyImpl::save(std::ostream &stream) const {
    Serialize::save(stream, RecordWriter{*this, kFullForm});
}

void SecretKeyImpl::saveSeedOnly(const std::string &path) const {
    if (!random_)
        throw RuntimeException(kNotRandom);
    Serialize::savePrivate(path, RecordWriter{*this, kSeedOnlyForm});
}

void SecretKeyImpl::saveSeedOnly(std::ostream &stream) const {
    if (!random_)
        throw RuntimeException(kNotRandom);
    Serialize::save(stream, RecordWriter{*this, kSeedOnlyForm});
}

void SecretKeyImpl::saveRecord(cereal::PortableBinaryOutputArchive &archive,
                               std::uint32_t option) const {
    Serialize::saveOptional(archive, option);
    if (option == kSeedOnlyForm) {
        // No context hash: only the object code travels with the seed.
        saveSeedOnlyBody(archive, seed_);
        return;
    }
    Verifier::save(archive, context_->getHash(), ObjectCode::SECRET_KEY);
    saveRandomFlagAndSeed(archive, random_, seed_);
    Quelt::save(archive, coefficients_);
    sx_.save(archive);
}

void SecretKeyImpl::loadRecord(cereal::PortableBinaryInputArchive &archive) {
    if (checkedForm(Serialize::loadOptional(archive)) == kFullForm)
        loadFullForm(archive);
    else
        loadSeedOnlyForm(archive);
}

void SecretKeyImpl::loadFullForm(cereal::PortableBinaryInputArchive &archive) {
    Verifier::load(archive, context_->getHash(), ObjectCode::SECRET_KEY);
    auto [random, seed] = loadRandomFlagAndSeed(archive);
    DeviceSpecificArray<int> coefficients = loadCoefficients(archive, getDimension(context_));
    LevelledVector sx(context_);
    sx.load(archive, context_);
    if (sx.getLevel() != getEncryptionLevel(context_))
        throw RuntimeException(kLoadSxLevel);

    random_ = random;
    seed_ = std::move(seed);
    coefficients_ = std::move(coefficients);
    sx_ = std::move(sx);
}

void SecretKeyImpl::loadSeedOnlyForm(cereal::PortableBinaryInputArchive &archive) {
    loadSeedOnlyCode(archive);
    std::string seed = loadSeedOnlyState(archive);
    sampleFromState(seed, [this] { sampleFromGenerator(); });
    random_ = true;
    seed_ = std::move(seed);
}

} // namespace Quelt::LWE
