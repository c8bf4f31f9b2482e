#include "context/LevelledElement.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "context/ContextContent.hpp"
#include "foundation/DeviceArraySerialization.hpp"
#include "foundation/WordArith.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEParameter.hpp"

#include <cereal/archives/portable_binary.hpp>

#include <algorithm>

namespace Quelt {

namespace {
constexpr const char *kLevelOutOfChain = "[LevelledElement] Level exceeds the prime chain";
constexpr const char *kLoadSize = "[LevelledElement::load] Size does not match the context";
constexpr const char *kLoadFlag = "[LevelledElement::load] Invalid flag byte";
constexpr const char *kLoadLevel = "[LevelledElement::load] Level exceeds the prime chain";
constexpr const char *kLoadArrayLength =
    "[LevelledElement::load] Array length does not match the header";
constexpr const char *kVectorLoadDimension =
    "[LevelledVector::load] Dimension does not match the context";
constexpr const char *kVectorLoadLevel = "[LevelledVector::load] Level exceeds the prime chain";
constexpr const char *kVectorLoadArrayLength =
    "[LevelledVector::load] Array length does not match the header";
} // namespace

LevelledElement::LevelledElement(const std::shared_ptr<ContextContent> &context, bool modUp) {
    const std::uint64_t size = getLength(context) + (modUp ? getNumTP(context) : 0);
    DeviceSpecificArray<std::uint64_t> data(size, kHostDevice, getDefaultStream());
    std::fill(data.begin(), data.end(), std::uint64_t{0});
    size_ = size;
    level_ = size - 1;
    mod_up_ = modUp;
    data_ = std::move(data);
}

LevelledElement::LevelledElement(std::int64_t value, const std::shared_ptr<ContextContent> &context,
                                 bool modUp, std::uint64_t level) {
    const std::uint64_t size = getLength(context) + (modUp ? getNumTP(context) : 0);
    if (level >= size)
        throw RuntimeException(kLevelOutOfChain);
    const std::vector<std::uint64_t> primes = getPrimeList(context);
    DeviceSpecificArray<std::uint64_t> data(size, kHostDevice, getDefaultStream());
    const std::uint64_t count = modUp ? size : level + 1;
    data.resize(count);
    for (std::uint64_t i = 0; i < count; ++i)
        data[i] = word::signedResidue(value, primes[i], word::wordQuotient(primes[i]));
    size_ = size;
    level_ = level;
    mod_up_ = modUp;
    data_ = std::move(data);
}

LevelledElement::LevelledElement(const std::shared_ptr<LWE::ContextContent> &context) {
    const std::uint64_t size = LWE::getEncryptionLevel(context) + 1;
    DeviceSpecificArray<std::uint64_t> data(size, kHostDevice, getDefaultStream());
    std::fill(data.begin(), data.end(), std::uint64_t{0});
    size_ = size;
    level_ = size - 1;
    mod_up_ = false;
    data_ = std::move(data);
}

LevelledElement::LevelledElement(std::int64_t value,
                                 const std::shared_ptr<LWE::ContextContent> &context,
                                 std::uint64_t level) {
    const std::vector<std::uint64_t> primes = LWE::getPrimeList(context);
    const std::uint64_t size = primes.size();
    if (level >= size)
        throw RuntimeException(kLevelOutOfChain);
    DeviceSpecificArray<std::uint64_t> data(size, kHostDevice, getDefaultStream());
    for (std::uint64_t i = 0; i <= level; ++i)
        data[i] = word::signedResidue(value, primes[i], word::wordQuotient(primes[i]));
    size_ = size;
    level_ = level;
    mod_up_ = false;
    data_ = std::move(data);
}

void LevelledElement::setLevel(std::uint64_t level) {
    if (level >= size_)
        throw RuntimeException(kLevelOutOfChain);
    level_ = level;
}

void LevelledElement::to(const Device &device) { data_.to(device, getDefaultStream()); }

void LevelledElement::allocate(const Device &device) {
    if (data_.getDevice() == device)
        return;
    data_ = DeviceSpecificArray<std::uint64_t>(data_.size(), device, data_.getStream());
}

void LevelledElement::save(cereal::PortableBinaryOutputArchive &ar) const {
    ar(size_, level_, mod_up_);
    Quelt::save(ar, data_);
}

void LevelledElement::load(cereal::PortableBinaryInputArchive &ar,
                           const std::shared_ptr<ContextContent> &context) {
    const std::uint64_t length = getLength(context);
    loadChecked(ar, length, length + getNumTP(context));
}

void LevelledElement::load(cereal::PortableBinaryInputArchive &ar,
                           const std::shared_ptr<LWE::ContextContent> &context) {
    loadChecked(ar, LWE::getEncryptionLevel(context) + 1, 0);
}

void LevelledElement::loadChecked(cereal::PortableBinaryInputArchive &ar, std::uint64_t plain_size,
                                  std::uint64_t mod_up_size) {
    std::uint64_t size = 0, level = 0;
    std::uint8_t mod_up = 0;
    ar(size, level, mod_up);
    if (mod_up > 1 || (mod_up == 1 && mod_up_size == 0))
        throw RuntimeException(kLoadFlag);
    if (size != (mod_up ? mod_up_size : plain_size))
        throw RuntimeException(kLoadSize);
    if (level >= size)
        throw RuntimeException(kLoadLevel);
    std::uint64_t count = 0;
    ar(count);
    if (mod_up ? count != size : (count < level + 1 || count > size))
        throw RuntimeException(kLoadArrayLength);
    DeviceSpecificArray<std::uint64_t> data(count, kHostDevice, data_.getStream());
    ar(cereal::binary_data(data.getData(), count * sizeof(std::uint64_t)));
    size_ = size;
    level_ = level;
    mod_up_ = mod_up != 0;
    data_ = std::move(data);
}

LevelledVector::LevelledVector(const std::shared_ptr<LWE::ContextContent> &context) {
    const std::uint64_t n = LWE::getDimension(context);
    const std::uint64_t length = LWE::getEncryptionLevel(context) + 1;
    data_ = DeviceSpecificArray<std::uint64_t>(LWE::vectorWordCount(n, length), kHostDevice,
                                               getDefaultStream());
    dimension_ = n;
    level_ = length - 1;
}

void LevelledVector::to(const Device &device) { data_.to(device, getDefaultStream()); }

void LevelledVector::allocate(const Device &device) {
    if (data_.getDevice() == device)
        return;
    data_ = DeviceSpecificArray<std::uint64_t>(data_.size(), device, data_.getStream());
}

void LevelledVector::save(cereal::PortableBinaryOutputArchive &ar) const {
    ar(dimension_, level_);
    Quelt::save(ar, data_);
}

void LevelledVector::load(cereal::PortableBinaryInputArchive &ar,
                          const std::shared_ptr<LWE::ContextContent> &context) {
    const std::uint64_t n = LWE::getDimension(context);
    const std::uint64_t length = LWE::getEncryptionLevel(context) + 1;
    std::uint64_t dimension = 0, level = 0;
    ar(dimension, level);
    if (dimension != n)
        throw RuntimeException(kVectorLoadDimension);
    if (level >= length)
        throw RuntimeException(kVectorLoadLevel);
    std::uint64_t count = 0;
    ar(count);
    // Whole limbs, covering limbs 0..level and no more than the chain.
    const std::uint64_t least = LWE::vectorWordCount(n, level + 1);
    const std::uint64_t most = LWE::vectorWordCount(n, length);
    if (n == 0 || count % n != 0 || count < least || count > most)
        throw RuntimeException(kVectorLoadArrayLength);
    DeviceSpecificArray<std::uint64_t> data(count, kHostDevice, data_.getStream());
    ar(cereal::binary_data(data.getData(), count * sizeof(std::uint64_t)));
    dimension_ = dimension;
    level_ = level;
    data_ = std::move(data);
}

} // namespace Quelt
