#include "context/Polynomial.hpp"

#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::degree64ThreePrimes;
using test::kSmallPrimes;

constexpr std::uint64_t kN = 64;
// The compiled-in prime just above 2^61; 2^64 mod q is close to 2^61, so about
// one candidate in eight is rejected.
constexpr std::uint64_t kQ61 = 0x2000000000a00001;

PolyGerm germFromPattern(std::uint64_t mul, std::uint64_t add) {
    PolyGerm germ;
    for (std::size_t i = 0; i < PolyGerm::kBytes; ++i)
        germ.data()[i] = static_cast<std::uint8_t>(i * mul + add);
    return germ;
}

std::vector<std::uint64_t> toVector(const DeviceSpecificArray<std::uint64_t> &a) {
    return {a.begin(), a.end()};
}

void fillCounting(Polynomial &p, std::uint64_t start) {
    auto &data = p.getData();
    for (std::uint64_t k = 0; k < data.size(); ++k)
        data[k] = (start + k) % kSmallPrimes[0];
}

TEST(PolynomialTest, ShapeOfNewPolynomials) {
    const Polynomial plain(degree64ThreePrimes(), false, true);
    EXPECT_EQ(plain.getDegree(), kN);
    EXPECT_EQ(plain.getChainLength(), 3u);
    EXPECT_EQ(plain.getSize(), 3u);
    EXPECT_EQ(plain.getLevel(), 2u);
    EXPECT_FALSE(plain.isModUp());
    EXPECT_TRUE(plain.isNTT());
    EXPECT_EQ(plain.getPrimes(),
              std::vector<std::uint64_t>(kSmallPrimes.begin(), kSmallPrimes.begin() + 3));
    EXPECT_EQ(plain.getData().size(), 3 * kN);
    EXPECT_EQ(plain.getDevice(), kHostDevice);
    EXPECT_FALSE(plain.hasGerm());

    const Polynomial up(degree64ThreePrimes(), true, false);
    EXPECT_EQ(up.getSize(), 4u);
    EXPECT_EQ(up.getLevel(), 2u);
    EXPECT_EQ(up.getTopIndex(), 3u);
    EXPECT_EQ(up.getPrimes(), kSmallPrimes);
    EXPECT_EQ(up.getData().size(), 4 * kN);
}

TEST(PolynomialTest, SetLevelResizesOnlyPlainPolynomials) {
    Polynomial plain(degree64ThreePrimes(), false, false);
    plain.setLevel(0);
    EXPECT_EQ(plain.getData().size(), kN);
    EXPECT_EQ(plain.getData().capacity(), 3 * kN);
    plain.setLevel(2);
    EXPECT_EQ(plain.getData().size(), 3 * kN);

    Polynomial up(degree64ThreePrimes(), true, false);
    up.setLevel(1);
    EXPECT_EQ(up.getLevel(), 1u);
    EXPECT_EQ(up.getData().size(), 4 * kN);

    // A level outside the chain would send later walks past the prime list.
    expectThrowsMessage([&] { plain.setLevel(3); }, "[Polynomial] Level exceeds the prime chain");
    EXPECT_EQ(plain.getLevel(), 2u);
    EXPECT_EQ(plain.getData().size(), 3 * kN);
}

TEST(PolynomialTest, IsZeroReadsOnlyTheLimbsInUse) {
    Polynomial up(degree64ThreePrimes(), true, false);
    std::fill(up.getData().begin(), up.getData().end(), 0);
    up.setLevel(0);
    EXPECT_TRUE(isZero(degree64ThreePrimes(), up));
    // Limbs strictly between the level and the first temporary prime are unused.
    up.getLimb(1)[3] = 1;
    up.getLimb(2)[0] = 1;
    EXPECT_TRUE(isZero(degree64ThreePrimes(), up));
    up.getLimb(3)[kN - 1] = 1;
    EXPECT_FALSE(isZero(degree64ThreePrimes(), up));

    Polynomial plain(degree64ThreePrimes(), false, false);
    std::fill(plain.getData().begin(), plain.getData().end(), 0);
    plain.getLimb(2)[5] = 4;
    EXPECT_FALSE(isZero(degree64ThreePrimes(), plain));
    plain.setLevel(1);
    EXPECT_TRUE(isZero(degree64ThreePrimes(), plain));
    EXPECT_THROW(isZero(test::otherContext(), plain), RuntimeException);
}

TEST(PolynomialTest, CopiesAreDeepAndDataExchanges) {
    Polynomial a(degree64ThreePrimes(), false, false);
    fillCounting(a, 5);
    a.getGerm().emplace(germFromPattern(1, 0));
    Polynomial b(degree64ThreePrimes(), true, true);
    b = a;
    EXPECT_EQ(b.getSize(), 3u);
    EXPECT_FALSE(b.isModUp());
    EXPECT_EQ(b.getGerm(), a.getGerm());
    EXPECT_EQ(toVector(b.getData()), toVector(a.getData()));
    b.getData()[0] = 77;
    EXPECT_NE(a.getData()[0], 77u);

    // setData with the polynomial's own array changes nothing; another array
    // comes back holding the former contents.
    const auto before = toVector(a.getData());
    a.setData(std::move(a.getData()));
    EXPECT_EQ(toVector(a.getData()), before);
    DeviceSpecificArray<std::uint64_t> other(3 * kN);
    std::fill(other.begin(), other.end(), 9);
    a.setData(std::move(other));
    EXPECT_EQ(toVector(other), before);
    EXPECT_EQ(a.getData()[0], 9u);

    // allocate on the device it already lives on keeps the residues.
    a.allocate(kHostDevice);
    EXPECT_EQ(a.getData()[5], 9u);
}

// Known answers: words of the unkeyed BLAKE3 output of the germ, computed with
// an independent tool; residues are the accepted words mod q.
TEST(PolynomialTest, RegenerationMatchesIndependentStream) {
    const PolyGerm germ = germFromPattern(1, 0);
    const auto residues = detail::regenerateUniformResidues(germ, 4, {kQ61, kSmallPrimes[0]});
    const std::vector<std::uint64_t> expected = {
        0x5d2ccdbb5f92184, 0xbcccf68d581a2c7, 0x16a32facebe5562e, 0x12b18cffa60db618,
        0x46b1f3b6bf,      0x450cf34b85,      0x55f36a0978,       0x2169edc551};
    EXPECT_EQ(toVector(residues), expected);
    EXPECT_EQ(residues.getDevice(), kHostDevice);
}

TEST(PolynomialTest, RegenerationReplacesRejectedCandidatesBySpares) {
    // N = 1, two primes: words 0 and 1 are the candidates, the spares of
    // prime 0 start at word 2 and those of prime 1 at word 3.
    // Germ 41: words 0 and 2 are rejected, so prime 0 takes word 3, running
    // on into the spares of prime 1.
    const auto runOn = detail::regenerateUniformResidues(germFromPattern(7, 41), 1, {kQ61, kQ61});
    EXPECT_EQ(toVector(runOn),
              (std::vector<std::uint64_t>{0x1653810c914f1360, 0x1693ca79f0d218d7}));
    // Germ 9: words 1 and 3 are rejected, so prime 1 needs word 4, past the
    // 2 x N x S words; the output is prefix-stable, so it is simply extended.
    const auto pastEnd = detail::regenerateUniformResidues(germFromPattern(7, 9), 1, {kQ61, kQ61});
    EXPECT_EQ(toVector(pastEnd),
              (std::vector<std::uint64_t>{0x3b03b63766a083e, 0x1166d64817e8e2e8}));
}

TEST(PolynomialTest, PopulateFillsEveryLimbFromTheGerm) {
    test::reseed();
    const std::uint64_t first = test::peekWord();
    Polynomial p(degree64ThreePrimes(), true, true);
    p.setLevel(0);
    populateUniformPoly(p, true);
    ASSERT_TRUE(p.hasGerm());
    // The germ holds the generator's next 128 words, little-endian.
    std::uint64_t w0 = 0;
    for (int b = 7; b >= 0; --b)
        w0 = (w0 << 8) | p.getGerm()->data()[b];
    EXPECT_EQ(w0, first);
    // Every limb, also the unused ones between the level and the temporary prime.
    EXPECT_EQ(toVector(p.getData()),
              toVector(detail::regenerateUniformResidues(*p.getGerm(), kN, kSmallPrimes)));
    EXPECT_TRUE(p.isNTT());
    EXPECT_EQ(p.getLevel(), 0u);
    for (std::uint64_t i = 0; i < 4; ++i)
        for (std::uint64_t j = 0; j < kN; ++j)
            ASSERT_LT(p.getLimb(i)[j], kSmallPrimes[i]);

    // Without a germ: bad_optional_access, nothing changed.
    Polynomial q(degree64ThreePrimes(), false, false);
    fillCounting(q, 3);
    const auto before = toVector(q.getData());
    EXPECT_THROW(populateUniformPoly(q, false), std::bad_optional_access);
    EXPECT_EQ(toVector(q.getData()), before);
}

TEST(PolynomialTest, SeededFormIsTheGermAndDrawsNothingOnLoad) {
    Polynomial p(degree64ThreePrimes(), true, true);
    populateUniformPoly(p, true);
    const std::string bytes = test::saveToString(p);
    const std::size_t c = 4;
    EXPECT_EQ(bytes.size(), 1 + 8 * (5 + c) + 3 + 1024);

    Polynomial q(degree64ThreePrimes(), false, false);
    test::reseed();
    const std::uint64_t expectedNext = test::peekWord();
    test::loadFromString(q, bytes, degree64ThreePrimes());
    EXPECT_EQ(test::peekWord(), expectedNext);
    EXPECT_TRUE(q.isModUp());
    EXPECT_TRUE(q.isNTT());
    EXPECT_EQ(q.getGerm(), p.getGerm());
    EXPECT_EQ(toVector(q.getData()), toVector(p.getData()));
    EXPECT_EQ(q.getDevice(), kHostDevice);
}

TEST(PolynomialTest, ArrayFormRoundTripsWithoutDrawing) {
    Polynomial p(degree64ThreePrimes(), false, false);
    p.setLevel(1);
    fillCounting(p, 11);
    const std::string bytes = test::saveToString(p);
    EXPECT_EQ(bytes.size(), 1 + 8 * (5 + 3) + 3 + 8 + 8 * 2 * kN);

    Polynomial q(degree64ThreePrimes(), true, true);
    q.getGerm().emplace(germFromPattern(1, 0));
    const std::uint64_t next = test::peekWord();
    test::loadFromString(q, bytes, degree64ThreePrimes());
    EXPECT_EQ(test::peekWord(), next);
    EXPECT_FALSE(q.hasGerm());
    EXPECT_FALSE(q.isModUp());
    EXPECT_EQ(q.getLevel(), 1u);
    EXPECT_EQ(q.getSize(), 3u);
    EXPECT_EQ(toVector(q.getData()), toVector(p.getData()));
}

// The same stream as a big-endian writer makes it: byte-order byte 0, every
// multi-byte field reversed, the germ bytes as they are.
std::string toBigEndian(const std::string &le) {
    std::string be = le;
    be[0] = 0;
    test::reversePolynomialRecord(be, 1);
    return be;
}

TEST(PolynomialTest, BigEndianStreamLoadsWithGermBytesUnswapped) {
    Polynomial p(degree64ThreePrimes(), true, false);
    populateUniformPoly(p, true);
    const std::string be = toBigEndian(test::saveToString(p));
    EXPECT_EQ(be.substr(be.size() - 1024),
              std::string(reinterpret_cast<const char *>(p.getGerm()->data()), 1024));
    Polynomial q(degree64ThreePrimes(), false, false);
    test::loadFromString(q, be, degree64ThreePrimes());
    EXPECT_EQ(q.getGerm(), p.getGerm());
    EXPECT_EQ(toVector(q.getData()), toVector(p.getData()));

    Polynomial r(degree64ThreePrimes(), false, false);
    fillCounting(r, 1);
    const std::string beArray = toBigEndian(test::saveToString(r));
    Polynomial s(degree64ThreePrimes(), false, false);
    test::loadFromString(s, beArray, degree64ThreePrimes());
    EXPECT_EQ(toVector(s.getData()), toVector(r.getData()));
}

TEST(PolynomialTest, LoadRefusesHeadersThatDoNotFitTheContext) {
    // A plain polynomial at the top level: three primes, 3 * 64 array words.
    Polynomial source(degree64ThreePrimes(), false, false);
    fillCounting(source, 2);
    const std::string good = test::saveToString(source);
    const std::size_t flag = 43 + 8 * 3, count = flag + 1;
    const test::DamagedField cases[] = {
        {"degree", 1, 8, 128, "[Polynomial::load] Degree does not match the context"},
        {"chain length", 9, 8, 4, "[Polynomial::load] Chain length does not match the context"},
        {"size", 17, 8, 4, "[Polynomial::load] Size does not match the context"},
        {"mod-up without the temporary prime", 33, 1, 1,
         "[Polynomial::load] Size does not match the context"},
        {"level", 25, 8, 3, "[Polynomial::load] Level exceeds the prime chain"},
        {"mod-up byte", 33, 1, 2, "[Polynomial::load] Invalid flag byte"},
        {"ntt byte", 34, 1, 0xff, "[Polynomial::load] Invalid flag byte"},
        {"prime count", 35, 8, 4, "[Polynomial::load] Prime count does not match the size"},
        {"huge prime count", 35, 8, ~0ULL,
         "[Polynomial::load] Prime count does not match the size"},
        {"prime value", 43 + 8, 8, kSmallPrimes[1] + 2,
         "[Polynomial::load] Primes do not match the context"},
        {"zero prime", 43, 8, 0, "[Polynomial::load] Primes do not match the context"},
        {"germ flag", flag, 1, 2, "[Polynomial::load] Invalid flag byte"},
        {"partial limb", count, 8, 3 * 64 - 1,
         "[Polynomial::load] Array length does not match the header"},
        {"limbs in use missing", count, 8, 2 * 64,
         "[Polynomial::load] Array length does not match the header"},
        {"more limbs than primes", count, 8, 4 * 64,
         "[Polynomial::load] Array length does not match the header"},
        {"huge array", count, 8, ~0ULL,
         "[Polynomial::load] Array length does not match the header"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bad = c.appliedTo(good);

        Polynomial target(degree64ThreePrimes(), true, true);
        populateUniformPoly(target, true);
        const std::string before = test::saveToString(target);
        const auto data = toVector(target.getData());
        expectThrowsMessage([&] { test::loadFromString(target, bad, degree64ThreePrimes()); },
                            c.message);
        EXPECT_EQ(test::saveToString(target), before);
        EXPECT_EQ(toVector(target.getData()), data);
    }

    // A mod-up polynomial must carry every limb.
    Polynomial up(degree64ThreePrimes(), true, false);
    fillCounting(up, 0);
    std::string upBytes = test::saveToString(up);
    test::putWord(upBytes, 44 + 8 * 4, 3 * 64);
    Polynomial target(degree64ThreePrimes(), false, false);
    EXPECT_THROW(test::loadFromString(target, upBytes, degree64ThreePrimes()), RuntimeException);

    // Another context's polynomial does not fit.
    Polynomial foreign(test::otherContext(), false, false);
    EXPECT_THROW(test::loadFromString(target, test::saveToString(foreign), degree64ThreePrimes()),
                 RuntimeException);
}

TEST(PolynomialTest, ShortReadsLeaveThePolynomialUnchanged) {
    Polynomial seeded(degree64ThreePrimes(), false, false);
    populateUniformPoly(seeded, true);
    Polynomial plain(degree64ThreePrimes(), false, false);
    fillCounting(plain, 7);
    for (const std::string &full : {test::saveToString(seeded), test::saveToString(plain)}) {
        for (std::size_t cut : {std::size_t{5}, std::size_t{40}, full.size() - 1}) {
            Polynomial target(degree64ThreePrimes(), true, true);
            fillCounting(target, 100);
            const std::string before = test::saveToString(target);
            EXPECT_THROW(test::loadFromString(target, full.substr(0, cut), degree64ThreePrimes()),
                         cereal::Exception);
            EXPECT_EQ(test::saveToString(target), before);
        }
    }
}

// Reads one stored polynomial with one of the static readers.
template <typename Reader>
Polynomial readFrom(const std::string &bytes, Reader reader) {
    std::istringstream in(bytes);
    cereal::PortableBinaryInputArchive ar(in);
    return reader(ar);
}

Polynomial readFree(const std::string &bytes) {
    return readFrom(bytes, [](auto &ar) { return Polynomial::readWithoutContext(ar); });
}

Polynomial readFusedOver(const std::string &bytes, const std::shared_ptr<ContextContent> &ctx) {
    return readFrom(bytes, [&](auto &ar) { return Polynomial::readFused(ar, ctx); });
}

template <typename Read>
void expectRefused(const std::string &bytes, Read read, const char *message) {
    test::expectThrowsMessage([&] { read(bytes); }, message);
}

void expectSamePolynomial(const Polynomial &a, const Polynomial &b) {
    EXPECT_EQ(a.getDegree(), b.getDegree());
    EXPECT_EQ(a.getChainLength(), b.getChainLength());
    EXPECT_EQ(a.getSize(), b.getSize());
    EXPECT_EQ(a.getLevel(), b.getLevel());
    EXPECT_EQ(a.isModUp(), b.isModUp());
    EXPECT_EQ(a.isNTT(), b.isNTT());
    EXPECT_EQ(a.getPrimes(), b.getPrimes());
    EXPECT_EQ(a.getGerm(), b.getGerm());
    EXPECT_EQ(toVector(a.getData()), toVector(b.getData()));
}

// A context with two temporary primes: four chain primes, gadget rank 2.
std::shared_ptr<ContextContent> fusedContext() { return Quelt::test::degree64FourPrimes(); }

TEST(PolynomialTest, FusedShapeSpansTwoTemporaryPrimesAndRoundTrips) {
    const auto ctx = fusedContext();
    Polynomial p = Polynomial::makeFused(ctx);
    EXPECT_EQ(p.getDegree(), kN);
    EXPECT_EQ(p.getChainLength(), 4u);
    EXPECT_EQ(p.getSize(), 4u);
    EXPECT_EQ(p.getLevel(), 5u);
    EXPECT_FALSE(p.isModUp());
    EXPECT_TRUE(p.isNTT());
    const auto chain = getPrimeList(ctx);
    EXPECT_EQ(p.getPrimes(), std::vector<std::uint64_t>(chain.begin(), chain.begin() + 4));
    EXPECT_EQ(p.getData().size(), 6 * kN);
    EXPECT_FALSE(p.hasGerm());

    Quelt::test::fillResidues(p, 3, chain);
    const std::string bytes = test::saveToString(p);
    EXPECT_EQ(bytes.size(), 1 + 8 * (5 + 4) + 3 + 8 + 8 * 6 * kN);
    expectSamePolynomial(readFusedOver(bytes, ctx), p);

    // The ordinary readers keep refusing a level above the chain.
    Polynomial ordinary(ctx, false, true);
    std::istringstream in(bytes);
    cereal::PortableBinaryInputArchive ar(in);
    EXPECT_THROW(ordinary.load(ar, ctx), RuntimeException);
    expectRefused(bytes, readFree, "[Polynomial::load] Level exceeds the prime chain");
}

TEST(PolynomialTest, FusedReaderRefusesEveryOtherShape) {
    const auto ctx = fusedContext();
    const char *shape = "[Polynomial::load] Not the shape of a fused rotation key polynomial";
    auto read = [&](const std::string &bytes) { return readFusedOver(bytes, ctx); };

    Polynomial fused = Polynomial::makeFused(ctx);
    Quelt::test::fillResidues(fused, 5, getPrimeList(ctx));
    const std::string good = test::saveToString(fused);
    const std::size_t wordsAt = 43 + 8 * 4 + 1;

    Polynomial top(ctx, false, true);
    Quelt::test::fillResidues(top, 1);
    expectRefused(test::saveToString(top), read, shape);
    Polynomial up(ctx, true, true);
    Quelt::test::fillResidues(up, 1);
    expectRefused(test::saveToString(up), read, shape);

    // A seed cannot stand for the two temporary limbs.
    std::string seeded =
        good.substr(0, wordsAt - 1) + std::string(1, '\0') + std::string(1024, 'x');
    expectRefused(seeded, read, shape);

    std::string fewer = good;
    test::putWord(fewer, wordsAt, 5 * kN);
    expectRefused(fewer, read, "[Polynomial::load] Array length does not match the header");
    std::string degree = good;
    test::putWord(degree, 1, 2 * kN);
    expectRefused(degree, read, "[Polynomial::load] Degree does not match the context");
    std::string prime = good;
    test::putWord(prime, 43 + 8, getPrimeList(ctx)[1] + 2);
    expectRefused(prime, read, "[Polynomial::load] Primes do not match the context");
    expectRefused(test::saveToString(Polynomial::makeFused(Quelt::test::degree64FivePrimes())),
                  read, "[Polynomial::load] Chain length does not match the context");
}

TEST(PolynomialTest, ContextFreeReaderRoundTrips) {
    Polynomial plain(degree64ThreePrimes(), false, true);
    plain.setLevel(1);
    fillCounting(plain, 4);
    Polynomial up(degree64ThreePrimes(), true, true);
    fillCounting(up, 9);
    Polynomial seeded(degree64ThreePrimes(), true, true);
    populateUniformPoly(seeded, true);
    for (const Polynomial *p : {&plain, &up, &seeded}) {
        const Polynomial q = readFree(test::saveToString(*p));
        expectSamePolynomial(q, *p);
        EXPECT_EQ(q.getDevice(), kHostDevice);
    }
}

TEST(PolynomialTest, ContextFreeReaderChecksTheRecordItself) {
    // A plain polynomial at level 1: three primes, 2 * 64 array words.
    Polynomial source(degree64ThreePrimes(), false, false);
    source.setLevel(1);
    fillCounting(source, 2);
    const std::string good = test::saveToString(source);
    const std::size_t flag = 43 + 8 * 3, count = flag + 1;
    const test::DamagedField cases[] = {
        {"degree 0", 1, 8, 0, "[Polynomial::load] Invalid degree"},
        {"degree not a power of two", 1, 8, 96, "[Polynomial::load] Invalid degree"},
        {"degree above every context", 1, 8, std::uint64_t{1} << 22,
         "[Polynomial::load] Invalid degree"},
        {"level at the chain length", 25, 8, 3, "[Polynomial::load] Level exceeds the prime chain"},
        {"size below the chain length", 17, 8, 2,
         "[Polynomial::load] Size does not fit the chain length"},
        {"plain with more primes than the chain", 17, 8, 4,
         "[Polynomial::load] Size does not fit the chain length"},
        {"huge mod-up size", 17, 8, ~0ULL, "[Polynomial::load] Size does not fit the chain length"},
        {"mod-up byte", 33, 1, 2, "[Polynomial::load] Invalid flag byte"},
        {"prime count", 35, 8, 2, "[Polynomial::load] Prime count does not match the size"},
        {"zero prime", 43 + 16, 8, 0, "[Polynomial::load] Invalid prime"},
        {"germ flag", flag, 1, 7, "[Polynomial::load] Invalid flag byte"},
        {"partial limb", count, 8, 2 * 64 - 1,
         "[Polynomial::load] Array length does not match the header"},
        {"limbs in use missing", count, 8, 64,
         "[Polynomial::load] Array length does not match the header"},
        {"more limbs than primes", count, 8, 4 * 64,
         "[Polynomial::load] Array length does not match the header"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bad = c.appliedTo(good);
        expectRefused(bad, readFree, c.message);
    }

    // A mod-up header claiming 2^40 primes runs into the end of the stream
    // instead of reserving memory for them.
    std::string huge = good;
    huge[33] = 1;
    test::putWord(huge, 17, std::uint64_t{1} << 40);
    test::putWord(huge, 35, std::uint64_t{1} << 40);
    EXPECT_THROW(readFree(huge), cereal::Exception);
    for (std::size_t cut : {std::size_t{20}, flag, good.size() - 8})
        EXPECT_THROW(readFree(good.substr(0, cut)), cereal::Exception);
}

// A polynomial over a prime list of its own: the chain's primes and its two
// temporary primes (level L + 1), or the pair {q_0, q_(L+1)}. The chain's
// PrimeModuli divides the first by q_(L+1) with rounding; a PrimeModuli over
// the pair lifts a residue mod q_0 centred onto both primes.
TEST(PolynomialTest, OverPrimesSpansItsOwnPrimeList) {
    const auto ctx = fusedContext();
    const PrimeModuli &chain = ctx->getPrimeModuli();
    const std::uint64_t L = getLength(ctx);
    std::vector<std::uint64_t> raised_primes;
    for (std::uint64_t i = 0; i < L + 2; ++i)
        raised_primes.push_back(chain.getModulus(i).getPrime());

    Polynomial raised = Polynomial::overPrimes(ctx, raised_primes, false);
    EXPECT_EQ(raised.getChainLength(), L + 2);
    EXPECT_EQ(raised.getSize(), L + 2);
    EXPECT_EQ(raised.getLevel(), L + 1);
    EXPECT_FALSE(raised.isModUp());
    EXPECT_FALSE(raised.isNTT());
    EXPECT_EQ(raised.getData().size(), (L + 2) * kN);

    // x_c = c q_(L+1) + (c - 32): |c - 32| is far below q_(L+1) / 2, so
    // round(x_c / q_(L+1)) = c.
    const std::uint64_t top = raised_primes[L + 1];
    for (std::uint64_t i = 0; i < L + 2; ++i) {
        const std::uint64_t q = raised_primes[i];
        for (std::uint64_t c = 0; c < kN; ++c) {
            const __int128 x = static_cast<__int128>(c) * top + static_cast<__int128>(c) - 32;
            const __int128 r = ((x % q) + q) % q;
            raised.getLimb(i)[c] = static_cast<std::uint64_t>(r);
        }
    }
    chain.rescale(raised);
    EXPECT_EQ(raised.getLevel(), L);
    for (std::uint64_t i = 0; i <= L; ++i)
        for (std::uint64_t c = 0; c < kN; ++c)
            ASSERT_EQ(raised.getLimb(i)[c], c % raised_primes[i]) << i << " " << c;

    const std::vector<std::uint64_t> pair{raised_primes[0], raised_primes[L + 1]};
    const PrimeModuli fused({chain.getModulus(0), chain.getModulus(L + 1)}, kN, ctx->getDevices());
    Polynomial source = Polynomial::overPrimes(ctx, pair, false);
    source.setLevel(0);
    const std::uint64_t q0 = pair[0];
    for (std::uint64_t c = 0; c < kN; ++c)
        source.getLimb(0)[c] = c % 2 == 0 ? c : q0 - c;
    Polynomial widened = Polynomial::overPrimes(ctx, pair, false);
    fused.normalizeMod(widened, source, 0, 1);
    for (std::uint64_t c = 0; c < kN; ++c) {
        EXPECT_EQ(widened.getLimb(0)[c], source.getLimb(0)[c]);
        EXPECT_EQ(widened.getLimb(1)[c], c % 2 == 0 ? c : pair[1] - c);
    }

    expectThrowsMessage([&] { Polynomial::overPrimes(ctx, {}, true); },
                        Polynomial::kNoPrimesMessage);
}

} // namespace
} // namespace Quelt
