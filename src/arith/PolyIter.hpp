#pragma once

#include "Quelt/Device.hpp"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

namespace Quelt {

class Polynomial;
class PolynomialVector;

// Limb of a polynomial-like element at one prime index: its data plus
// index x degree words.
struct PolynomialLimbAccessor {
    template <typename Element>
    auto limb(Element &element, std::uint64_t prime_index) const {
        return element.getLimb(prime_index);
    }
    // True when the element has the degree and its array reaches the limb.
    template <typename Element>
    bool holds(const Element &element, std::uint64_t prime_index, std::uint64_t degree) const {
        return element.getDegree() == degree && element.getData().size() / degree > prime_index;
    }
    template <typename Element>
    Device device(const Element &element) const {
        return element.getDevice();
    }
};

// Limb i of a plaintext's polynomial.
struct MxLimbAccessor {
    template <typename Element>
    auto limb(Element &element, std::uint64_t prime_index) const {
        return element.getMxData(prime_index);
    }
    template <typename Element>
    bool holds(const Element &element, std::uint64_t prime_index, std::uint64_t degree) const {
        const auto &mx = element.getMx();
        return mx.getDegree() == degree && mx.getData().size() / degree > prime_index;
    }
    template <typename Element>
    std::uint64_t level(const Element &element) const {
        return element.getMx().getLevel();
    }
    template <typename Element>
    Device device(const Element &element) const {
        return element.getDevice();
    }
};

// Limb i of polynomial `Index` of a ciphertext: 1 the mask, 0 the body.
template <std::uint64_t Index>
struct CiphertextLimbAccessor {
    template <typename Element>
    auto limb(Element &element, std::uint64_t prime_index) const {
        return element.getPolyData(Index, prime_index);
    }
    template <typename Element>
    Device device(const Element &element) const {
        return element.getDevice();
    }
};

// An iterator over a sequence of elements (polynomials, plaintexts,
// ciphertexts) paired with an accessor that gives the address of the limb of
// the current element at a prime index. Advances and compares like the
// underlying iterator.
template <typename Iterator, typename Accessor = PolynomialLimbAccessor>
class PolyIter {
public:
    using difference_type = typename std::iterator_traits<Iterator>::difference_type;

    PolyIter() = default;
    explicit PolyIter(Iterator it, Accessor accessor = Accessor())
        : it_(it), accessor_(std::move(accessor)) {}

    decltype(auto) operator*() const { return *it_; }
    // Limb of the current element at a prime index.
    auto limb(std::uint64_t prime_index) const { return accessor_.limb(*it_, prime_index); }
    // Device of the current element's residues.
    Device device() const { return accessor_.device(*it_); }
    // The level of the current element; accessors that cannot tell answer
    // the largest level.
    std::uint64_t termLevel() const {
        if constexpr (requires { accessor_.level(*it_); })
            return accessor_.level(*it_);
        else
            return ~std::uint64_t{0};
    }
    // Whether the current element holds the limb of a prime index at the
    // given degree; accessors that cannot tell answer true.
    bool holdsLimb(std::uint64_t prime_index, std::uint64_t degree) const {
        if constexpr (requires { accessor_.holds(*it_, prime_index, degree); })
            return accessor_.holds(*it_, prime_index, degree);
        else
            return true;
    }

    PolyIter &operator++() {
        ++it_;
        return *this;
    }
    PolyIter operator++(int) {
        PolyIter old = *this;
        ++it_;
        return old;
    }
    PolyIter operator+(difference_type k) const { return PolyIter(it_ + k, accessor_); }
    difference_type operator-(const PolyIter &other) const { return it_ - other.it_; }
    friend bool operator==(const PolyIter &a, const PolyIter &b) { return a.it_ == b.it_; }
    friend bool operator!=(const PolyIter &a, const PolyIter &b) { return a.it_ != b.it_; }

    Iterator base() const { return it_; }

private:
    Iterator it_{};
    Accessor accessor_{};
};

// Limb i of polynomial j of an element that holds several polynomials (a
// PolynomialVector of accumulated key-switched parts).
struct VectorLimbAccessor {
    template <typename Element>
    auto limb(Element &element, std::uint64_t poly_index, std::uint64_t prime_index) const {
        return element.getPoly(poly_index).getLimb(prime_index);
    }
    // True when the element has polynomial poly_index, of the degree, and
    // its array reaches the limb.
    template <typename Element>
    bool holds(const Element &element, std::uint64_t poly_index, std::uint64_t prime_index,
               std::uint64_t degree) const {
        std::uint64_t count = 0;
        if constexpr (requires { element.getNumPoly(); })
            count = element.getNumPoly();
        else
            count = element.getSize();
        if (poly_index >= count)
            return false;
        const auto &poly = element.getPoly(poly_index);
        return poly.getDegree() == degree && poly.getData().size() / degree > prime_index;
    }
    template <typename Element>
    std::uint64_t level(const Element &element, std::uint64_t poly_index) const {
        return element.getPoly(poly_index).getLevel();
    }
    template <typename Element>
    Device device(const Element &element) const {
        return element.getPoly(0).getDevice();
    }
};

// PolyIter with a three-argument accessor (element, polynomial index, prime
// index).
template <typename Iterator, typename Accessor = VectorLimbAccessor>
class PolyIterV2 {
public:
    using difference_type = typename std::iterator_traits<Iterator>::difference_type;

    PolyIterV2() = default;
    explicit PolyIterV2(Iterator it, Accessor accessor = Accessor())
        : it_(it), accessor_(std::move(accessor)) {}

    decltype(auto) operator*() const { return *it_; }
    auto limb(std::uint64_t poly_index, std::uint64_t prime_index) const {
        return accessor_.limb(*it_, poly_index, prime_index);
    }
    Device device() const { return accessor_.device(*it_); }
    // Whether the current element holds limb prime_index of polynomial
    // poly_index at the given degree.
    bool holdsLimb(std::uint64_t poly_index, std::uint64_t prime_index,
                   std::uint64_t degree) const {
        return accessor_.holds(*it_, poly_index, prime_index, degree);
    }
    // The level of polynomial poly_index of the current element.
    std::uint64_t termLevel(std::uint64_t poly_index) const {
        return accessor_.level(*it_, poly_index);
    }

    PolyIterV2 &operator++() {
        ++it_;
        return *this;
    }
    PolyIterV2 operator+(difference_type k) const { return PolyIterV2(it_ + k, accessor_); }
    difference_type operator-(const PolyIterV2 &other) const { return it_ - other.it_; }
    friend bool operator==(const PolyIterV2 &a, const PolyIterV2 &b) { return a.it_ == b.it_; }
    friend bool operator!=(const PolyIterV2 &a, const PolyIterV2 &b) { return a.it_ != b.it_; }

    Iterator base() const { return it_; }

private:
    Iterator it_{};
    Accessor accessor_{};
};

template <typename Iterator>
PolyIter<Iterator> makePolyIter(Iterator it) {
    return PolyIter<Iterator>(it);
}
// Plaintexts: limb i of the plaintext's polynomial.
template <typename Iterator>
PolyIter<Iterator, MxLimbAccessor> makeMxPolyIter(Iterator it) {
    return PolyIter<Iterator, MxLimbAccessor>(it);
}
// Ciphertexts: limb i of the mask (polynomial 1).
template <typename Iterator>
PolyIter<Iterator, CiphertextLimbAccessor<1>> makeAxPolyIter(Iterator it) {
    return PolyIter<Iterator, CiphertextLimbAccessor<1>>(it);
}
// Ciphertexts: limb i of the body (polynomial 0).
template <typename Iterator>
PolyIter<Iterator, CiphertextLimbAccessor<0>> makeBxPolyIter(Iterator it) {
    return PolyIter<Iterator, CiphertextLimbAccessor<0>>(it);
}
// Accumulated key-switched parts: limb i of polynomial j of each vector.
template <typename Iterator>
PolyIterV2<Iterator> makeIxPolyIterBx(Iterator it) {
    return PolyIterV2<Iterator>(it);
}

} // namespace Quelt
