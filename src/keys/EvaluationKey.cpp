#include "Quelt/EvaluationKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordReduction.hpp"
#include "keys/EvaluationKeyAccess.hpp"
#include "keys/Serialize.hpp"

#include <algorithm>
#include <optional>

namespace Quelt {

namespace {

using PolynomialList = EvaluationKey::PolynomialList;

// Readers index the bodies of a multi-secret key k * D + j, so such a key must
// hold every digit.
void checkCut(std::uint64_t numSecret, std::uint64_t gadgetRank, std::uint64_t dnum) {
    if (numSecret > 1 && dnum != 0 && dnum < gadgetRank)
        throw RuntimeException(EvaluationKey::kMultiSecretCut);
}

bool sameShape(const Polynomial &a, const Polynomial &b) {
    return a.getDegree() == b.getDegree() && a.getChainLength() == b.getChainLength() &&
           a.getSize() == b.getSize() && a.getLevel() == b.getLevel() &&
           a.isModUp() == b.isModUp() && a.isNTT() == b.isNTT() && a.getPrimes() == b.getPrimes();
}

// Appends `count` stored polynomials to `list`, each checked against the
// context (or, without one, in itself) and against the first polynomial of
// `shapes`. The list grows as records arrive, so that a damaged count runs
// into the end of the stream.
void readPolynomials(cereal::PortableBinaryInputArchive &archive,
                     const std::shared_ptr<ContextContent> &context, std::uint64_t count,
                     const PolynomialList &shapes, PolynomialList &list) {
    for (std::uint64_t i = 0; i < count; ++i) {
        // Seeded masks are regenerated only once the whole record is checked.
        constexpr auto defer = Polynomial::Seeded::Defer;
        Polynomial poly = context ? Polynomial::read(archive, context, defer)
                                  : Polynomial::readWithoutContext(archive, defer);
        if (!poly.isModUp() || !poly.isNTT() || (!shapes.empty() && !sameShape(poly, shapes[0])))
            throw RuntimeException(EvaluationKey::kLoadShape);
        list.push_back(std::move(poly));
    }
}

} // namespace

EvaluationKey::EvaluationKey(const std::shared_ptr<ContextContent> &context, char type,
                             std::uint64_t aux, std::uint64_t dnum)
    : context_(context), type_(type), aux_(aux), dnum_(dnum), ax_(PolynomialList{}),
      bx_(PolynomialList{}) {
    const std::uint64_t gadgetRank = Quelt::getGadgetRank(context);
    const std::uint64_t numSecret = getNumSecret(context);
    checkCut(numSecret, gadgetRank, dnum);
    context_hash_ = context->getHash();

    const std::uint64_t digits = dnum == 0 || dnum > gadgetRank ? gadgetRank : dnum;
    PolynomialList &ax = ax_.at(kHostDevice);
    PolynomialList &bx = bx_.at(kHostDevice);
    ax.reserve(digits);
    bx.reserve(digits * numSecret);
    for (std::uint64_t i = 0; i < digits; ++i) {
        ax.emplace_back(context, true, true);
        for (std::uint64_t k = 0; k < numSecret; ++k)
            bx.emplace_back(context, true, true);
    }
}

EvaluationKey::EvaluationKey() : ax_(PolynomialList{}), bx_(PolynomialList{}) {}

EvaluationKey::~EvaluationKey() = default;

std::uint64_t EvaluationKey::getGadgetRank() const { return ax_.at(kHostDevice).size(); }

PolynomialList::iterator EvaluationKey::getAxIter(const Device &device) {
    return ax_.at(device).begin();
}
PolynomialList::const_iterator EvaluationKey::getAxIter(const Device &device) const {
    return ax_.at(device).cbegin();
}
PolynomialList::iterator EvaluationKey::getBxIter(const Device &device) {
    return bx_.at(device).begin();
}
PolynomialList::const_iterator EvaluationKey::getBxIter(const Device &device) const {
    return bx_.at(device).cbegin();
}

void EvaluationKey::copyTo(const Device &device) {
    ax_.copyFromAnyDeviceTo(device);
    bx_.copyFromAnyDeviceTo(device);
}

void EvaluationKey::removeExcept(const Device &device) {
    ax_.removeExcept(device);
    bx_.removeExcept(device);
}

void EvaluationKey::resizeDnumForRotkey(std::uint64_t dnum) {
    PolynomialList &ax = ax_.at(kHostDevice);
    PolynomialList &bx = bx_.at(kHostDevice);
    const std::uint64_t gadgetRank = Quelt::getGadgetRank(context_);
    const std::uint64_t numSecret = getNumSecret(context_);
    checkCut(numSecret, gadgetRank, dnum);

    // Only single-secret keys get here with a cut, so the bodies of the kept
    // digits are the first ones.
    const std::uint64_t keep = dnum == 0 || dnum >= gadgetRank ? gadgetRank : dnum;
    if (ax.size() > keep) {
        ax.erase(ax.begin() + static_cast<std::ptrdiff_t>(keep), ax.end());
        const std::uint64_t bodies = std::min<std::uint64_t>(bx.size(), keep * numSecret);
        bx.erase(bx.begin() + static_cast<std::ptrdiff_t>(bodies), bx.end());
    }
    // A key already cut below the request can serve no more than it holds.
    dnum_ = ax.size() == gadgetRank ? dnum : ax.size();
}

void EvaluationKey::serializeInternal(cereal::PortableBinaryOutputArchive &archive) const {
    const PolynomialList &bx = bx_.at(kHostDevice);
    const PolynomialList &ax = ax_.at(kHostDevice);
    Verifier::saveKeyForm(archive, ObjectCode::EVALUATION_KEY, context_hash_);
    archive(static_cast<std::uint8_t>(type_), aux_);
    archive(static_cast<std::uint64_t>(bx.size()));
    for (const Polynomial &poly : bx)
        poly.save(archive);
    archive(static_cast<std::uint64_t>(ax.size()));
    for (const Polynomial &poly : ax)
        poly.save(archive);
}

void EvaluationKey::load(cereal::PortableBinaryInputArchive &archive) {
    detail::EvaluationKeyAccess::install(*this, detail::EvaluationKeyAccess::read(*this, archive));
}

namespace detail {

EvaluationKeyRecord EvaluationKeyAccess::read(const EvaluationKey &key,
                                              cereal::PortableBinaryInputArchive &archive) {
    return read(archive, key.context_, true);
}

EvaluationKeyRecord EvaluationKeyAccess::read(cereal::PortableBinaryInputArchive &archive,
                                              const std::shared_ptr<ContextContent> &context,
                                              bool compareHash, const char *mismatch,
                                              char expectedType) {
    EvaluationKeyRecord record;
    record.hash = Verifier::loadKeyForm(archive, ObjectCode::EVALUATION_KEY);
    if (context && compareHash && record.hash != context->getHash())
        throw RuntimeException(mismatch);
    std::uint8_t type = 0;
    archive(type, record.aux);
    record.type = static_cast<char>(type);
    if (expectedType != 0 && record.type != expectedType)
        throw RuntimeException(mismatch);

    std::uint64_t bodies = 0;
    archive(bodies);
    std::uint64_t numSecret = 0;
    if (context) {
        // Bodies come first: masks x S of them, for 1 to D masks (all D when
        // S > 1). Checked before anything is allocated.
        numSecret = getNumSecret(context);
        if (numSecret == 0 || !countsFit(bodies, bodies / numSecret, context))
            throw RuntimeException(EvaluationKey::kLoadCounts);
        record.bx.reserve(bodies);
    } else if (bodies == 0) {
        throw RuntimeException(EvaluationKey::kLoadCounts);
    }
    readPolynomials(archive, context, bodies, record.bx, record.bx);

    std::uint64_t masks = 0;
    archive(masks);
    if (context ? !countsFit(bodies, masks, context) : masks == 0 || bodies % masks != 0)
        throw RuntimeException(EvaluationKey::kLoadCounts);
    record.ax.reserve(masks);
    readPolynomials(archive, context, masks, record.bx, record.ax);
    regenerateSeeded(record, context != nullptr);
    return record;
}

void EvaluationKeyAccess::regenerateSeeded(EvaluationKeyRecord &record, bool contextBound) {
    // Without a context nothing bounds a seed's residues but the record
    // itself: the seeded polynomials may take no more words than the stored
    // ones that arrived, so a refused or accepted load allocates at most a
    // small multiple of its input. (A generated key stores its bodies and
    // seeds at most as many masks, all of one shape.)
    std::uint64_t stored = 0;
    std::uint64_t seeded = 0;
    for (const PolynomialList *list : {&record.bx, &record.ax})
        for (const Polynomial &poly : *list) {
            if (poly.isRegenerationDeferred())
                seeded += poly.getRegeneratedWords();
            else
                stored += poly.getData().size();
        }
    if (!contextBound && seeded > stored)
        throw RuntimeException(EvaluationKey::kLoadSeeded);
    for (PolynomialList *list : {&record.bx, &record.ax})
        for (Polynomial &poly : *list)
            poly.regenerateDeferred();
}

bool EvaluationKeyAccess::countsFit(std::uint64_t bodies, std::uint64_t masks,
                                    const std::shared_ptr<ContextContent> &context) {
    const std::uint64_t numSecret = getNumSecret(context);
    const std::uint64_t gadgetRank = Quelt::getGadgetRank(context);
    const std::optional<std::uint64_t> expected = utils::checkedProduct(masks, numSecret);
    return masks >= 1 && masks <= gadgetRank && (numSecret == 1 || masks == gadgetRank) &&
           expected && *expected == bodies;
}

bool EvaluationKeyAccess::fits(const EvaluationKey &key,
                               const std::shared_ptr<ContextContent> &context) {
    if (!context || key.context_hash_ != context->getHash() || !key.ax_.contains(kHostDevice) ||
        !key.bx_.contains(kHostDevice))
        return false;
    const PolynomialList &ax = key.ax_.at(kHostDevice);
    const PolynomialList &bx = key.bx_.at(kHostDevice);
    if (!countsFit(bx.size(), ax.size(), context))
        return false;
    const std::uint64_t degree = Quelt::getDegree(context);
    const std::uint64_t length = getLength(context);
    const std::uint64_t size = length + getNumTP(context);
    auto fitsShape = [&](const Polynomial &p) {
        return p.isModUp() && p.isNTT() && p.getDegree() == degree &&
               p.getChainLength() == length && p.getSize() == size &&
               p.getData().size() / degree >= size;
    };
    return std::all_of(ax.begin(), ax.end(), fitsShape) &&
           std::all_of(bx.begin(), bx.end(), fitsShape);
}

void EvaluationKeyAccess::install(EvaluationKey &key, EvaluationKeyRecord &&record) {
    install(key, std::move(record), key.context_);
}

void EvaluationKeyAccess::install(EvaluationKey &key, EvaluationKeyRecord &&record,
                                  const std::shared_ptr<ContextContent> &context) {
    const std::uint64_t masks = record.ax.size();
    const std::uint64_t dnum = context && masks < Quelt::getGadgetRank(context) ? masks : 0;
    key.ax_.resetTo(kHostDevice, std::move(record.ax));
    key.bx_.resetTo(kHostDevice, std::move(record.bx));
    key.context_hash_ = record.hash;
    key.type_ = record.type;
    key.aux_ = record.aux;
    key.dnum_ = dnum;
}

} // namespace detail

std::unique_ptr<EvaluationKey> makeEmptyMultKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'm', 0, 0);
}
std::unique_ptr<EvaluationKey> makeEmptyRotKey(const std::shared_ptr<ContextContent> &context,
                                               std::uint64_t rotIdx, std::uint64_t dnum) {
    return std::make_unique<EvaluationKey>(context, 'r', rotIdx, dnum);
}
std::unique_ptr<EvaluationKey>
makeEmptyRingSwitchKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'w', 0, 0);
}
std::unique_ptr<EvaluationKey> makeEmptyConjKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'c', 0, 0);
}
std::unique_ptr<EvaluationKey> makeEmptyModPackKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'p', 0, 0);
}
std::unique_ptr<EvaluationKey> makeEmptyMStoSSKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'z', 0, 0);
}
std::unique_ptr<EvaluationKey> makeEmptySStoMSKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'x', 0, 0);
}
std::unique_ptr<EvaluationKey>
makeEmptyIncreaseNSKey(const std::shared_ptr<ContextContent> &context) {
    return std::make_unique<EvaluationKey>(context, 'i', 0, 0);
}

void save(const EvaluationKey &key, std::ostream &stream) { Serialize::save(stream, key); }
void load(EvaluationKey &key, std::istream &stream) { Serialize::load(stream, key); }

void Serialize::save(std::ostream &stream, const EvaluationKey &key) {
    Serialize::save<EvaluationKey>(stream, key);
}
void Serialize::save(const std::string &path, const EvaluationKey &key) {
    Serialize::save<EvaluationKey>(path, key);
}
void Serialize::load(std::istream &stream, EvaluationKey &key) {
    Serialize::load<EvaluationKey>(stream, key);
}
void Serialize::load(const std::string &path, EvaluationKey &key) {
    Serialize::load<EvaluationKey>(path, key);
}

} // namespace Quelt
