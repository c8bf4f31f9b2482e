#include "Quelt/SparseSecretEncapsulationKey.hpp"

#include "keys/EvaluationKeyAccess.hpp"
#include "keys/Serialize.hpp"

namespace Quelt {

SparseSecretEncapsulationKey::SparseSecretEncapsulationKey(
    const std::shared_ptr<ContextContent> &context,
    const std::shared_ptr<ContextContent> &sparseContext)
    : dts_part_(sparseContext, 's', 0, 0), std_part_(context, 's', 0, 0) {}

SparseSecretEncapsulationKey::SparseSecretEncapsulationKey() = default;

SparseSecretEncapsulationKey::~SparseSecretEncapsulationKey() = default;

void SparseSecretEncapsulationKey::copyTo(const Device &device) {
    dts_part_.copyTo(device);
    std_part_.copyTo(device);
}

void SparseSecretEncapsulationKey::removeExcept(const Device &device) {
    dts_part_.removeExcept(device);
    std_part_.removeExcept(device);
}

void SparseSecretEncapsulationKey::save(cereal::PortableBinaryOutputArchive &archive) const {
    dts_part_.serializeInternal(archive);
    std_part_.serializeInternal(archive);
}

void SparseSecretEncapsulationKey::load(cereal::PortableBinaryInputArchive &archive) {
    using detail::EvaluationKeyAccess;
    auto dtsRecord = EvaluationKeyAccess::read(dts_part_, archive);
    auto stdRecord = EvaluationKeyAccess::read(std_part_, archive);
    EvaluationKeyAccess::install(dts_part_, std::move(dtsRecord));
    EvaluationKeyAccess::install(std_part_, std::move(stdRecord));
}

std::unique_ptr<SparseSecretEncapsulationKey>
makeEmptySparseSecretEncapsulationKey(const std::shared_ptr<ContextContent> &context,
                                      const std::shared_ptr<ContextContent> &sparseContext) {
    return std::make_unique<SparseSecretEncapsulationKey>(context, sparseContext);
}

void save(const SparseSecretEncapsulationKey &key, std::ostream &stream) {
    Serialize::save(stream, key);
}
void load(SparseSecretEncapsulationKey &key, std::istream &stream) { Serialize::load(stream, key); }

void Serialize::save(std::ostream &stream, const SparseSecretEncapsulationKey &key) {
    Serialize::save<SparseSecretEncapsulationKey>(stream, key);
}
void Serialize::save(const std::string &path, const SparseSecretEncapsulationKey &key) {
    Serialize::save<SparseSecretEncapsulationKey>(path, key);
}
void Serialize::load(std::istream &stream, SparseSecretEncapsulationKey &key) {
    Serialize::load<SparseSecretEncapsulationKey>(stream, key);
}
void Serialize::load(const std::string &path, SparseSecretEncapsulationKey &key) {
    Serialize::load<SparseSecretEncapsulationKey>(path, key);
}

} // namespace Quelt
