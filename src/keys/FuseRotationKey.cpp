#include "Quelt/FuseRotationKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "keys/Serialize.hpp"

#include <cstdio>
#include <stdexcept>

namespace Quelt {

namespace {

using PolynomialList = std::vector<Polynomial>;

// The standard library's text for a vector index out of range, spelled out so
// that it does not depend on the library's implementation.
[[noreturn]] void throwIndexOutOfRange(std::uint64_t i, std::uint64_t size) {
    char text[128];
    std::snprintf(text, sizeof(text),
                  "vector::_M_range_check: __n (which is %zu) >= this->size() (which is %zu)",
                  static_cast<std::size_t>(i), static_cast<std::size_t>(size));
    throw std::out_of_range(text);
}

template <typename List>
auto &entry(List &list, std::uint64_t i) {
    if (i >= list.size())
        throwIndexOutOfRange(i, list.size());
    return list[i];
}

} // namespace

FuseRotationKey::FuseRotationKey(const std::shared_ptr<ContextContent> &context)
    : context_(context), polys_(PolynomialList{}) {
    if (getNumTP(context) < 2)
        throw RuntimeException(kTooFewTemporaryPrimes);
    const std::uint64_t count = getNumSecret(context) + 1;
    PolynomialList &list = polys_.at(kHostDevice);
    list.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i)
        list.push_back(Polynomial::makeFused(context));
}

FuseRotationKey::~FuseRotationKey() = default;

Polynomial &FuseRotationKey::getPoly(const Device &device, std::uint64_t i) {
    return entry(polys_.at(device), i);
}
const Polynomial &FuseRotationKey::getPoly(const Device &device, std::uint64_t i) const {
    return entry(polys_.at(device), i);
}

void FuseRotationKey::copyTo(const Device &device) { polys_.copyFromAnyDeviceTo(device); }

void FuseRotationKey::removeExcept(const Device &device) { polys_.removeExcept(device); }

void FuseRotationKey::save(cereal::PortableBinaryOutputArchive &archive) const {
    const PolynomialList &list = polys_.at(kHostDevice);
    const std::uint64_t hash = context_->getHash();
    Verifier::save(archive, hash, ObjectCode::FUSE_ROTATION_KEY);
    archive(hash, static_cast<std::uint64_t>(list.size()));
    for (const Polynomial &poly : list)
        poly.save(archive);
}

void FuseRotationKey::load(cereal::PortableBinaryInputArchive &archive) {
    Verifier::load(archive, context_->getHash(), ObjectCode::FUSE_ROTATION_KEY);
    // The second copy of the hash carries nothing the first did not check.
    std::uint64_t repeatedHash = 0;
    std::uint64_t count = 0;
    archive(repeatedHash, count);
    if (count != getNumSecret(context_) + 1)
        throw RuntimeException(kLoadCount);
    PolynomialList list;
    list.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i)
        list.push_back(Polynomial::readFused(archive, context_));
    polys_.resetTo(kHostDevice, std::move(list));
}

void Serialize::save(std::ostream &stream, const FuseRotationKey &key) {
    Serialize::save<FuseRotationKey>(stream, key);
}
void Serialize::save(const std::string &path, const FuseRotationKey &key) {
    Serialize::save<FuseRotationKey>(path, key);
}
void Serialize::load(std::istream &stream, FuseRotationKey &key) {
    Serialize::load<FuseRotationKey>(stream, key);
}
void Serialize::load(const std::string &path, FuseRotationKey &key) {
    Serialize::load<FuseRotationKey>(path, key);
}

} // namespace Quelt
