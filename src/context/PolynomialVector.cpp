#include "context/PolynomialVector.hpp"

#include "Quelt/Bx.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"

namespace Quelt {

namespace {
constexpr const char *kDifferentLevels = "Polynomials have different levels";
constexpr const char *kDifferentModUp = "Polynomials have different modUp states";
constexpr const char *kDifferentNTT = "Polynomials have different NTT states";
constexpr const char *kDifferentDevices = "Polynomials are in different devices";
} // namespace

PolynomialVector::PolynomialVector(const std::shared_ptr<ContextContent> &context,
                                   std::uint64_t count, bool modUp, bool isNTT)
    : context_(context) {
    polys_.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i)
        polys_.emplace_back(context, modUp, isNTT);
}

std::uint64_t PolynomialVector::getDegree() const {
    if (polys_.empty())
        return Quelt::getDegree(context_);
    return polys_.front().getDegree();
}

std::uint64_t PolynomialVector::getLevel() const {
    const std::uint64_t level = polys_.at(0).getLevel();
    for (const auto &p : polys_)
        if (p.getLevel() != level)
            throw RuntimeException(kDifferentLevels);
    return level;
}

bool PolynomialVector::isModUp() const {
    const bool mod_up = polys_.at(0).isModUp();
    for (const auto &p : polys_)
        if (p.isModUp() != mod_up)
            throw RuntimeException(kDifferentModUp);
    return mod_up;
}

bool PolynomialVector::isNTT() const {
    const bool ntt = polys_.at(0).isNTT();
    for (const auto &p : polys_)
        if (p.isNTT() != ntt)
            throw RuntimeException(kDifferentNTT);
    return ntt;
}

Device PolynomialVector::getDevice() const {
    const Device device = polys_.at(0).getDevice();
    for (const auto &p : polys_)
        if (p.getDevice() != device)
            throw RuntimeException(kDifferentDevices);
    return device;
}

void PolynomialVector::setLevel(std::uint64_t level) {
    // A level refused by one polynomial changes none of them.
    for (const auto &p : polys_)
        p.checkLevel(level);
    for (auto &p : polys_)
        p.setLevel(level);
}

void PolynomialVector::setSize(std::uint64_t n) {
    const std::uint64_t m = polys_.size();
    if (n < m) {
        polys_.erase(polys_.begin() + static_cast<std::ptrdiff_t>(n), polys_.end());
        return;
    }
    if (n == m)
        return;
    // Build the new polynomials aside, so that an allocation failure leaves
    // the list as it was; appending them afterwards only moves.
    polys_.reserve(n);
    std::vector<Polynomial> fresh;
    fresh.reserve(n - m);
    if (m == 0)
        fresh.emplace_back(context_, false, false);
    const Polynomial &shape = m == 0 ? fresh.front() : polys_.front();
    while (m + fresh.size() < n)
        fresh.push_back(Polynomial::shapedLike(shape));
    for (auto &p : fresh)
        polys_.push_back(std::move(p));
}

void PolynomialVector::to(const Device &device) {
    for (auto &p : polys_)
        p.to(device);
}

void PolynomialVector::allocate(const Device &device) {
    for (auto &p : polys_)
        p.allocate(device);
}

Bx::Bx(const std::shared_ptr<ContextContent> &context, std::uint64_t count, bool modUp)
    : data_(std::make_shared<PolynomialVector>(context, count, modUp, true)) {}

std::uint64_t Bx::getLevel() const { return data_->getLevel(); }

bool Bx::isModUp() const { return data_->getPoly(0).isModUp(); }

void Bx::to(const Device &device) { data_->to(device); }

void Bx::allocate(const Device &device) { data_->allocate(device); }

} // namespace Quelt
