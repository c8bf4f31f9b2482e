#include "Quelt/RingSwitchKey.hpp"

#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "context/Polynomial.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "keys/Serialize.hpp"

#include <stdexcept>

namespace Quelt {

namespace {

constexpr char kRingSwitchType = 'w';

std::uint64_t *limbOf(std::vector<Polynomial> &list, std::uint64_t i, std::uint64_t j) {
    if (i >= list.size())
        throw std::out_of_range(RingSwitchKey::kPolynomialIndexOutOfRange);
    Polynomial &poly = list[i];
    const std::uint64_t degree = poly.getDegree();
    if (degree == 0 || j >= poly.getData().size() / degree)
        throw std::out_of_range(RingSwitchKey::kPrimeIndexOutOfRange);
    return poly.getLimb(j);
}

// A standalone evaluation-key form that must hold a ring switch key.
struct RingSwitchRecordReader {
    EvaluationKey &key;

    void load(cereal::PortableBinaryInputArchive &archive) {
        detail::EvaluationKeyRecord record = detail::EvaluationKeyAccess::read(key, archive);
        if (record.type != kRingSwitchType || record.aux != 0)
            throw RuntimeException(Verifier::kValidationFailed);
        detail::EvaluationKeyAccess::install(key, std::move(record));
    }
};

} // namespace

RingSwitchKey::RingSwitchKey(const std::shared_ptr<ContextContent> &context)
    : key_(makeEmptyRingSwitchKey(context)) {}

void RingSwitchKey::to(const Device &device) { key_->removeExcept(device); }

std::uint64_t *RingSwitchKey::getAxPolyData(std::uint64_t i, std::uint64_t j,
                                            const Device &device) const {
    return limbOf(detail::EvaluationKeyAccess::ax(*key_, device), i, j);
}

std::uint64_t *RingSwitchKey::getBxPolyData(std::uint64_t i, std::uint64_t j,
                                            const Device &device) const {
    return limbOf(detail::EvaluationKeyAccess::bx(*key_, device), i, j);
}

void RingSwitchKey::save(std::ostream &stream) const { Serialize::save(stream, *key_); }
void RingSwitchKey::save(const std::string &path) const { Serialize::save(path, *key_); }

void RingSwitchKey::load(std::istream &stream) {
    RingSwitchRecordReader reader{*key_};
    Serialize::load(stream, reader);
}
void RingSwitchKey::load(const std::string &path) {
    RingSwitchRecordReader reader{*key_};
    Serialize::load(path, reader);
}

} // namespace Quelt
