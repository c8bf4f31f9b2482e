#include "Quelt/Ciphertext.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <vector>

using namespace Quelt;
using Quelt::test::degree64FourPrimes;
using Quelt::test::expectThrowsMessage;
using Quelt::test::fillResidues;
using Quelt::test::wordsOf;

namespace {

using Rlwe = CiphertextBase<EncryptionType::RLWE>;
using Mlwe = CiphertextBase<EncryptionType::MLWE>;
using Msrlwe = CiphertextBase<EncryptionType::MSRLWE>;

constexpr const char *kAboveLevel = "Rescale counter should be less than or equal to the level";
constexpr const char *kNegative = "Rescale counter should be greater than or equal to zero";
constexpr const char *kSizeTooSmall = "The size of a ciphertext should be greater than 1";
constexpr const char *kIncompatible =
    "[setContext] Input context is not compatible with the ciphertext.";

constexpr std::uint64_t kN = 64;

std::shared_ptr<ContextContent> presetContext(ParameterPreset preset) {
    return makeContext(preset);
}

std::vector<std::vector<std::uint64_t>> allWords(const Rlwe &ct) {
    std::vector<std::vector<std::uint64_t>> words;
    for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i)
        words.push_back(wordsOf(ct.getPoly(i)));
    return words;
}

// A ciphertext of the small context at level `level` with known residues.
Rlwe sampleCiphertext(std::uint64_t level, std::uint64_t seed = 1) {
    Rlwe ct(degree64FourPrimes(), false, true);
    ct.setLevel(level);
    for (std::uint64_t i = 0; i < ct.getNumPoly(); ++i)
        fillResidues(ct.getPoly(i), seed + i);
    return ct;
}

} // namespace

TEST(CiphertextTest, NewCiphertextShapes) {
    const Rlwe rlwe(degree64FourPrimes(), false, true);
    EXPECT_EQ(rlwe.getNumPoly(), 2u);
    EXPECT_EQ(rlwe.getSize(), 2u);
    EXPECT_EQ(rlwe.getLogSlots(), 5u);
    EXPECT_EQ(rlwe.getNumberOfSlots(), 32u);
    EXPECT_EQ(rlwe.getRescaleCounter(), 0);
    EXPECT_EQ(rlwe.getEncodingType(), EncodingType::SLOT);
    EXPECT_EQ(rlwe.getLevel(), 3u);
    EXPECT_FALSE(rlwe.isModUp());
    EXPECT_TRUE(rlwe.getPoly(1).isNTT());
    EXPECT_EQ(rlwe.getPoly(1).getData().size(), 4 * kN);
    EXPECT_EQ(rlwe.getPolyData(1, 2), rlwe.getPoly(1).getData().begin() + 2 * kN);
    EXPECT_TRUE(rlwe.getDevice().isHost());
    EXPECT_EQ(rlwe.getNumSecret(), 1u);
    EXPECT_EQ(rlwe.getParameterPreset(), ParameterPreset::CUSTOM);
    EXPECT_EQ(rlwe.getGadgetRank(), 2u);
    EXPECT_THROW((void)rlwe.getPoly(2), std::out_of_range);

    const Rlwe up(degree64FourPrimes(), true, false);
    EXPECT_TRUE(up.isModUp());
    EXPECT_FALSE(up.getPoly(0).isNTT());
    EXPECT_EQ(up.getPoly(0).getData().size(), 6 * kN);

    // Module LWE of rank 4: five polynomials of degree 64.
    const auto mlweContext = presetContext(ParameterPreset::SD3D6R2);
    const Mlwe mlwe(mlweContext, false, true);
    EXPECT_EQ(mlwe.getNumPoly(), 5u);
    EXPECT_EQ(mlwe.getLogSlots(), 5u);
    EXPECT_EQ(mlwe.getLevel(), getLength(mlweContext) - 1);
    EXPECT_EQ(mlwe.getParameterPreset(), ParameterPreset::SD3D6R2);

    // Two secrets: one body per secret and the mask, whatever the type says.
    const auto msContext = presetContext(ParameterPreset::FGbD12NS2L1);
    const Msrlwe ms(msContext, false, true);
    EXPECT_EQ(ms.getNumPoly(), 3u);
    EXPECT_EQ(ms.getNumSecret(), 2u);
    EXPECT_EQ(ms.getLogSlots(), 11u);
    Rlwe onMs(msContext, false, true);
    EXPECT_EQ(onMs.getNumPoly(), 3u);
    onMs.setNumPoly(2);
    EXPECT_EQ(onMs.getNumSecret(), 1u);

    const auto rlwePreset = presetContext(ParameterPreset::SD3);
    const Rlwe sd3(rlwePreset, false, true);
    EXPECT_EQ(sd3.getNumPoly(), 2u);
    EXPECT_EQ(sd3.getLogSlots(), 12u);

    const auto multiSecretModule = genMultiSecretContext(mlweContext, "SD3D6R2NS2", 2);
    expectThrowsMessage([&] { Mlwe bad(multiSecretModule, false, true); },
                        "[Ciphertext] The format of multi-secret MLWE is currently not supported");
}

TEST(CiphertextTest, NumberOfPolynomials) {
    Rlwe ct = sampleCiphertext(2);
    expectThrowsMessage([&] { ct.setNumPoly(1); }, kSizeTooSmall);
    expectThrowsMessage([&] { ct.setSize(0); }, kSizeTooSmall);
    EXPECT_EQ(ct.getNumPoly(), 2u);
    ct.setNumPoly(3);
    ASSERT_EQ(ct.getNumPoly(), 3u);
    EXPECT_EQ(ct.getPoly(2).getLevel(), 2u);
    EXPECT_EQ(ct.getPoly(2).getPrimes(), ct.getPoly(0).getPrimes());
    EXPECT_EQ(ct.getPoly(2).getData().size(), 3 * kN);
    ct.setSize(2);
    EXPECT_EQ(ct.getNumPoly(), 2u);
}

TEST(CiphertextTest, LevelsAndRescaleCounterRules) {
    struct Case {
        std::uint64_t level;
        int value;
        const char *error; // nullptr: accepted
    };
    const Case cases[] = {
        {0, 5, nullptr},     {0, 0, nullptr},    {3, 3, nullptr},    {3, 4, kAboveLevel},
        {2, 3, kAboveLevel}, {3, -1, kNegative}, {0, -1, kNegative},
    };
    for (const Case &c : cases) {
        Rlwe ct(degree64FourPrimes(), false, true);
        ct.setLevel(c.level);
        if (c.error) {
            SCOPED_TRACE(testing::Message() << c.level << " " << c.value);
            expectThrowsMessage([&] { ct.setRescaleCounter(c.value); }, c.error);
            EXPECT_EQ(ct.getRescaleCounter(), 0);
        } else {
            ct.setRescaleCounter(c.value);
            EXPECT_EQ(ct.getRescaleCounter(), c.value);
        }
    }

    Rlwe ct = sampleCiphertext(3);
    const auto primes = getPrimeList(degree64FourPrimes());
    EXPECT_EQ(ct.getCurrentPrime(), primes[3]);
    ct.setLevel(1);
    EXPECT_EQ(ct.getCurrentPrime(), primes[1]);
    EXPECT_EQ(ct.getPoly(0).getData().size(), 2 * kN);
    EXPECT_EQ(ct.getCurrentScaleFactor(),
              degree64FourPrimes()->getScaleFactors().getScaleFactor(1));
    ct.getPoly(1).setLevel(0);
    expectThrowsMessage([&] { (void)ct.getLevel(); }, "Polynomials have different levels");

    ct.setLogSlots(64);
    expectThrowsMessage([&] { (void)ct.getNumberOfSlots(); },
                        "[Ciphertext] The log slot count must be below 64");
    ct.setEncodingType(EncodingType::COEFFICIENT);
    EXPECT_EQ(ct.getEncodingType(), EncodingType::COEFFICIENT);
}

TEST(CiphertextTest, TransformsCheckEveryPolynomialFirst) {
    Rlwe ct = sampleCiphertext(2);
    const auto ctx = degree64FourPrimes();
    // The expected transform: the chain's own, on a copy of each polynomial.
    std::vector<std::vector<std::uint64_t>> expected;
    for (std::uint64_t i = 0; i < 2; ++i) {
        Polynomial copy = ct.getPoly(i);
        copy.setNTT(false);
        ctx->getPrimeModuli().forwardNTT<OutputModulusBoundValidator, 1>(
            copy, copy, OutputModulusBoundValidator(0, 3));
        expected.push_back(wordsOf(copy));
    }

    const auto before = allWords(ct);
    // Polynomial 0 in coefficient form, polynomial 1 already in NTT form.
    ct.getPoly(0).setNTT(false);
    expectThrowsMessage([&] { ct.forwardNTT(); }, "The polynomial is already in NTT form");
    EXPECT_FALSE(ct.getPoly(0).isNTT());
    EXPECT_EQ(allWords(ct), before);
    expectThrowsMessage([&] { ct.backwardNTT(); }, "The polynomial is already in iNTT form");
    EXPECT_TRUE(ct.getPoly(1).isNTT());
    EXPECT_EQ(allWords(ct), before);

    ct.getPoly(1).setNTT(false);
    ct.forwardNTT();
    EXPECT_EQ(allWords(ct), expected);
    EXPECT_TRUE(ct.getPoly(0).isNTT() && ct.getPoly(1).isNTT());
    ct.backwardNTT();
    EXPECT_EQ(allWords(ct), before);
    EXPECT_FALSE(ct.getPoly(0).isNTT() || ct.getPoly(1).isNTT());

    // Mod-up: the temporary limbs are transformed too, and come back.
    Rlwe up(ctx, true, false);
    for (std::uint64_t i = 0; i < 2; ++i)
        fillResidues(up.getPoly(i), 40 + i);
    const auto upBefore = allWords(up);
    up.forwardNTT();
    EXPECT_NE(allWords(up), upBefore);
    up.backwardNTT();
    EXPECT_EQ(allWords(up), upBefore);
}

TEST(CiphertextTest, CopiesAreDeep) {
    Rlwe a = sampleCiphertext(2);
    a.setRescaleCounter(2);
    a.setLogSlots(3);
    Rlwe b(a);
    EXPECT_EQ(allWords(b), allWords(a));
    EXPECT_EQ(b.getRescaleCounter(), 2);
    b.getPolyData(0, 0)[0] ^= 1;
    EXPECT_NE(allWords(b), allWords(a));

    Rlwe c(degree64FourPrimes(), false, true);
    c = a;
    EXPECT_EQ(allWords(c), allWords(a));
    EXPECT_EQ(c.getLogSlots(), 3u);
    EXPECT_EQ(c.getLevel(), 2u);
    const Rlwe moved(std::move(c));
    EXPECT_EQ(allWords(moved), allWords(a));
}

TEST(CiphertextTest, CopyAssignmentOfTheSameShapeKeepsEveryBlock) {
    const Rlwe a = sampleCiphertext(2, 3);
    Rlwe b = sampleCiphertext(2, 9);
    const PolynomialVector *impl = &b.getPolyVector();
    std::vector<const std::uint64_t *> blocks, primes;
    for (std::uint64_t i = 0; i < b.getNumPoly(); ++i) {
        blocks.push_back(b.getPoly(i).getData().getData());
        primes.push_back(b.getPoly(i).getPrimes().data());
    }
    b = a;
    EXPECT_EQ(allWords(b), allWords(a));
    EXPECT_EQ(&b.getPolyVector(), impl);
    for (std::uint64_t i = 0; i < b.getNumPoly(); ++i) {
        EXPECT_EQ(b.getPoly(i).getData().getData(), blocks[i]) << i;
        EXPECT_EQ(b.getPoly(i).getPrimes().data(), primes[i]) << i;
    }
}

TEST(CiphertextTest, CopyIntoAnotherContext) {
    const auto target = Quelt::test::degree64FivePrimes(); // degree 64, five primes
    Rlwe source = sampleCiphertext(2, 7);
    source.setRescaleCounter(1);
    source.setLogSlots(4);
    source.setEncodingType(EncodingType::COEFFICIENT);

    const Rlwe copy(target, source);
    EXPECT_EQ(copy.getContext(), target);
    EXPECT_EQ(copy.getPolyVector().getContext(), target);
    EXPECT_EQ(allWords(copy), allWords(source));
    EXPECT_EQ(copy.getLevel(), 2u);
    EXPECT_EQ(copy.getRescaleCounter(), 1);
    EXPECT_EQ(copy.getLogSlots(), 4u);
    EXPECT_EQ(copy.getEncodingType(), EncodingType::COEFFICIENT);
    EXPECT_TRUE(copy.getPoly(0).isNTT());
    const auto primes = getPrimeList(target);
    EXPECT_EQ(copy.getPoly(0).getPrimes(),
              std::vector<std::uint64_t>(primes.begin(), primes.begin() + 5));

    // A level the target chain cannot hold.
    Rlwe high(target, false, true);
    EXPECT_EQ(high.getLevel(), 4u);
    expectThrowsMessage([&] { Rlwe c(degree64FourPrimes(), high); },
                        "The level of input ciphertext does not fit in current context");
    // Another degree, though the level would fit.
    const auto wider = makeContext(7, 4, 50, 40, 50, 2);
    expectThrowsMessage([&] { Rlwe c(wider, source); },
                        "[Ciphertext] The degree of input ciphertext does not match the context");
    // One polynomial only.
    Rlwe single = sampleCiphertext(1);
    single.getPolyVector().setSize(1);
    expectThrowsMessage([&] { Rlwe c(target, single); }, kSizeTooSmall);
    // A counter that no longer fits the level it was lowered to.
    Rlwe lowered = sampleCiphertext(3);
    lowered.setRescaleCounter(3);
    lowered.setLevel(1);
    expectThrowsMessage([&] { Rlwe c(target, lowered); }, kAboveLevel);
    // Mod-up ciphertexts need the same chain shape.
    const Rlwe up(degree64FourPrimes(), true, true);
    expectThrowsMessage([&] { Rlwe c(target, up); },
                        "[Ciphertext] A mod-up ciphertext needs a context "
                        "with the same chain length and temporary primes");
    const Rlwe upCopy(makeContext(6, 4, 50, 40, 50, 2), up);
    EXPECT_TRUE(upCopy.isModUp());
}

TEST(CiphertextTest, CopyOfAReloadedSeededPolynomialTakesOnlyTheLimbsInUse) {
    // A polynomial regenerated from its seed spans every prime of its chain,
    // whatever its level; a chain just long enough for the level takes it.
    Rlwe source = sampleCiphertext(3, 5);
    populateUniformPoly(source.getPoly(1), true);
    source.setLevel(1);
    const auto shorter = makeContext(6, 2, 50, 40, 50, 2);
    const Rlwe before(shorter, source);

    std::stringstream stream;
    source.save(stream);
    Rlwe reloaded(degree64FourPrimes(), false, true);
    reloaded.load(stream);
    ASSERT_TRUE(reloaded.getPoly(1).hasGerm());
    ASSERT_EQ(reloaded.getLevel(), 1u);
    ASSERT_EQ(reloaded.getPoly(1).getData().size(), 4 * kN);

    const Rlwe after(shorter, reloaded);
    EXPECT_EQ(after.getLevel(), 1u);
    EXPECT_EQ(after.getPoly(1).getData().size(), 2 * kN);
    EXPECT_EQ(allWords(after), allWords(before));

    // An array shorter than the limbs its level claims is refused.
    Rlwe truncated = sampleCiphertext(1);
    truncated.getPoly(1).getData().resize(kN);
    expectThrowsMessage([&] { Rlwe c(shorter, truncated); },
                        "[Ciphertext] The input ciphertext does not hold the limbs of its level");
}

TEST(CiphertextTest, CopyRefusesOtherTransforms) {
    const auto plain = presetContext(ParameterPreset::SD3D6R2);
    const auto cyclic = makeContext(ParameterPreset::SD3D6R2, "SD3D6R2cyclic", 1, true, false);
    const Mlwe ct(plain, false, true);
    expectThrowsMessage(
        [&] { Mlwe c(cyclic, ct); },
        "[Ciphertext] The transform types of input ciphertext do not match the context");
    Mlwe rebound(plain, false, true);
    expectThrowsMessage([&] { rebound.setContext(cyclic); }, kIncompatible);
    EXPECT_EQ(rebound.getContext(), plain);
}

TEST(CiphertextTest, VerifierTellsTheCyclicRingFromItsPreset) {
    const auto plain = presetContext(ParameterPreset::SD3D6R2);
    const auto cyclic = makeContext(ParameterPreset::SD3D6R2, "SD3D6R2cyclic", 1, true, false);
    EXPECT_NE(cyclic->getHash(), plain->getHash());
    Mlwe saved(cyclic, false, true);
    for (std::uint64_t i = 0; i < saved.getNumPoly(); ++i)
        for (std::uint64_t w = 0; w < (saved.getLevel() + 1) * getDegree(cyclic); ++w)
            saved.getPolyData(i, 0)[w] = 0;
    std::stringstream stream;
    saved.save(stream);
    Mlwe target(plain, false, true);
    expectThrowsMessage([&] { target.load(stream); },
                        "[Verifier::load] Validation failed during deserializing objects.");
    EXPECT_EQ(target.getContext(), plain);
}

TEST(CiphertextTest, SetContext) {
    const auto ctx = degree64FourPrimes();
    Rlwe ct = sampleCiphertext(3);
    const auto before = allWords(ct);

    ct.setContext(ctx); // the same object: nothing, whatever the level
    EXPECT_EQ(ct.getContext(), ctx);

    // Same sizes, one more prime: the first four primes agree, later ones not.
    const auto longer = makeContext(6, 5, 50, 40, 50, 2);
    const auto shortPrimes = getPrimeList(ctx);
    const auto longPrimes = getPrimeList(longer);
    ASSERT_TRUE(std::equal(shortPrimes.begin(), shortPrimes.begin() + 4, longPrimes.begin()));
    ASSERT_NE(shortPrimes, longPrimes);
    ct.setContext(longer);
    EXPECT_EQ(ct.getContext(), longer);
    EXPECT_EQ(ct.getPolyVector().getContext(), longer);
    EXPECT_EQ(allWords(ct), before);

    // Back to the shorter chain: fits at level 3, not at level 4.
    ct.setContext(ctx);
    Rlwe top(longer, false, true);
    expectThrowsMessage([&] { top.setContext(ctx); }, kIncompatible);
    EXPECT_EQ(top.getContext(), longer);
    top.setLevel(3);
    top.setContext(ctx);
    EXPECT_EQ(top.getPolyVector().getContext(), ctx);

    // Different primes at a level in use.
    expectThrowsMessage([&] { ct.setContext(Quelt::test::degree64FivePrimes()); }, kIncompatible);
    expectThrowsMessage([&] { ct.setContext(nullptr); }, kIncompatible);

    // Presets of degree 2^13 and 2^6 share one prime list; the degree decides.
    const auto sd3 = presetContext(ParameterPreset::SD3);
    const auto sd3d6 = presetContext(ParameterPreset::SD3D6R2);
    ASSERT_EQ(getPrimeList(sd3), getPrimeList(sd3d6));
    Rlwe small(sd3d6, false, true);
    small.setNumPoly(2);
    expectThrowsMessage([&] { small.setContext(sd3); }, kIncompatible);
    EXPECT_EQ(small.getContext(), sd3d6);
}

TEST(CiphertextTest, DevicePlacement) {
    Rlwe ct = sampleCiphertext(1);
    const auto before = allWords(ct);
    ct.to(kHostDevice);
    ct.allocate(kHostDevice);
    EXPECT_EQ(allWords(ct), before);
    EXPECT_TRUE(ct.getDevice().isHost());
    const Device accelerator{Device::kCuda, 0};
    EXPECT_THROW(ct.to(accelerator), RuntimeException);
    EXPECT_THROW(ct.allocate(accelerator), RuntimeException);
    EXPECT_TRUE(ct.getDevice().isHost());
}
