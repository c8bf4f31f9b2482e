// The precision of every bootstrappable preset's bootstrap, road by road, at
// degree 64 with the preset's own primes, scale factors and bootstrapping
// settings (PresetMirror.hpp): uniform values in [-1, 1] in all 32 slots,
// encrypted, levelled down to 3, bootstrapped, decrypted. One test case per
// preset, so that ctest runs them side by side.

#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/FastRoadKeys.hpp"
#include "boot/PresetBootKeys.hpp"
#include "boot/PresetMirror.hpp"
#include "context/Parameter.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;
using RingSecretKey = SecretKeyBase<EncryptionType::RLWE>;

// A mirrored preset with its sparse companion (sparse-secret presets) and
// the keys of a full-slot bootstrap.
struct MirrorBoot : PresetBootKeys {
    explicit MirrorBoot(ParameterPreset preset, const RingSecretKey *same_secret = nullptr)
        : PresetBootKeys(
              presetMirror(preset),
              Parameter(preset).sparse_secret_encapsulation
                  ? presetMirror(getSparseParameterPresetFor(preset), {6, 4, false, false, ""})
                  : nullptr,
              same_secret) {}
};

// The real or imaginary parts of m as a real message.
Message part(const Message &m, bool imaginary) {
    Message out(m);
    for (auto &slot : out)
        slot = {imaginary ? slot.imag() : slot.real(), 0.0};
    return out;
}

// Where a preset's own settings cannot reach 20 bits mean at degree 64, its
// floor is the measured mean less one bit (the reason is in
// docs/bootstrap-precision.md).
const std::map<std::string, double> &lowerFloors() {
    static const std::map<std::string, double> floors{
        // The cosine of these settings (K = 24, 16 coefficients, 4 double
        // angles) leaves the complex road a little under 20 bits (19.3).
        {"FVb/complex", 18.2},
        // FTb's 49-bit bootstrap scale with K = 23.3 (19.9; 18.7 / 16.2 bits
        // at full degree).
        {"FTb/complex", 18.8},
        // Coefficient bootstrapping multiplies the message's coefficients by
        // 2048 (FGxCOEFF, FGCa) or 256 (FTxCOEFF) before the raise, sized for
        // the coefficients of a message at degree 2^16 or 2^15, which are
        // about 2^-8 of its slot values; at degree 64 they are about 2^-3
        // of them, and the reduction runs that much further from its linear
        // range: 13.0, 13.9 and 10.6 bits (FGCa gives 21.7 at full degree,
        // FTxCOEFF 12.9).
        {"FGxCOEFF/sparse-secret raise complex", 12.0},
        {"FTxCOEFF/sparse-secret raise complex", 9.5},
        {"FGCa/sparse-secret raise fast removeI complex", 12.9},
        // KAPLO_BTS reduces with K = 12 and a single double-angle step (19.8,
        // 19.0 and 19.8).
        {"KAPLO_BTS/sparse-secret raise real", 18.8},
        {"KAPLO_BTS/sparse-secret raise fast removeI complex", 18.0},
        {"KAPLO_BTS/sparse-secret raise fast removeI two-output", 18.7},
        // FGfOL7Low's key-switch digit of nine primes (428 bits) is as large
        // as its temporary primes (six of 61 bits and one of 62): 18.2, 16.9
        // and 18.0.
        {"FGfL7Low/outsourced to FGfOL7Low real", 17.1},
        {"FGfL7Low/outsourced to FGfOL7Low fast removeI complex", 15.9},
        {"FGfL7Low/outsourced to FGfOL7Low fast removeI two-output", 16.9},
        // Discrete_G12 returns q0 / 2^(sf[0] + 1) = 1.0003 times the sine:
        // its level-0 scale is 2^39.9995, its base prime 2^41 (11.8, 12.5
        // and 12.7).
        {"Discrete_G12/sparse-secret raise complex", 10.7},
        {"Discrete_G12/sparse-secret raise two-output", 11.5},
        {"Discrete_G12/sparse-secret raise real", 11.6},
    };
    return floors;
}

void expectFloor(const std::string &preset, const std::string &road, const Precision &p) {
    std::cout << "[ precision ] " << preset << "\t" << road << "\t" << p.mean << "\t" << p.min
              << "\n";
    const auto it = lowerFloors().find(preset + "/" + road);
    const double floor = it == lowerFloors().end() ? 20.0 : it->second;
    EXPECT_GE(p.mean, floor) << preset << " " << road;
}

// What a bootstrap returns for a message: the message itself, or, on a
// full packed base modulus (the Discrete presets), every real and imaginary
// part x taken to sin(2 pi x): the value read modulo 1 through the sine.
Message expected(const Message &m, bool full_packed) {
    if (!full_packed)
        return m;
    Message out(m);
    for (auto &slot : out)
        slot = {std::sin(2 * std::numbers::pi * slot.real()),
                std::sin(2 * std::numbers::pi * slot.imag())};
    return out;
}

// The complex, real and two-output roads of one bootstrapper over the keys
// of `keys` (a MirrorBoot or a FastRoadKeys). `fast` runs the complex and
// two-output roads, which on a re-removeI preset are those of the fast
// removeI road; the real road runs when `real` is set.
template <class Keys>
void runRoads(const std::string &name, const Keys &keys, const Bootstrapper &boot,
              const std::string &prefix, bool complex_roads, bool real_road) {
    const Parameter &par = keys.ctx->getParameter();
    const bool packed = par.full_packed_base_modulus;
    std::mt19937_64 rng(0x5eed + static_cast<u64>(par.preset));
    const Message m = randomBootMessage(rng, getLogFullSlots(keys.ctx), 1.0);
    const Message want = expected(m, packed);
    const Ciphertext in = keys.exhausted(m);
    if (complex_roads) {
        Ciphertext out(keys.ctx, false, true);
        boot.bootstrap(in, out, true);
        expectFloor(name, prefix + "complex", precisionBits(keys.decrypt(out), want));
    }
    if (par.coeff_boot)
        return;
    if (complex_roads) {
        Ciphertext re(keys.ctx, false, true), im(keys.ctx, false, true);
        boot.bootstrap(in, re, im, 1.0);
        const Precision pr = precisionBits(keys.decrypt(re), part(want, false));
        const Precision pi = precisionBits(keys.decrypt(im), part(want, true));
        expectFloor(name, prefix + "two-output",
                    {(pr.mean + pi.mean) / 2, pr.min < pi.min ? pr.min : pi.min});
    }
    if (real_road) {
        const Message real = part(m, false);
        Ciphertext out(keys.ctx, false, true);
        boot.bootstrap(keys.exhausted(real), out, false);
        expectFloor(name, prefix + "real",
                    precisionBits(keys.decrypt(out), expected(real, packed)));
    }
}

// The contexts of the fast removeI road of a preset at degree 64.
FastRoadKeys::Contexts fastRoadMirrors(ParameterPreset preset) {
    const std::string name = Parameter(preset).name;
    const auto ctx = presetMirror(preset);
    return {ctx,
            isSparseSecretEncapsulationSupported(ctx)
                ? presetMirror(getSparseParameterPresetFor(preset), {6, 4, false, false, ""})
                : nullptr,
            presetMirror(preset, {6, 8, false, true, name + "embed"}),
            presetMirror(preset, {6, 8, true, false, name + "real"})};
}

// A road refused with `message` (the real road when `real`).
template <class Keys>
void expectRefused(const Keys &keys, const Bootstrapper &boot, bool real,
                   const std::string &message) {
    std::mt19937_64 rng(7);
    const Ciphertext in = keys.exhausted(randomBootMessage(rng, 5, 1.0, real));
    Ciphertext out(keys.ctx, false, true);
    expectThrowsMessage([&] { boot.bootstrap(in, out, !real); }, message);
}

class BootstrapPrecisionTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(BootstrapPrecisionTest, EveryRoadReachesItsFloor) {
    reseed(); // the same keys and encryptions whatever runs before
    const auto preset = static_cast<ParameterPreset>(GetParam());
    const Parameter par(preset);
    const std::string name = par.name;
    const bool fast = par.re_remove_i;

    if (par.small_parameter) {
        // A small companion keeps no CoeffToSlot constants (the real road:
        // the complex road of a re-removeI preset first asks for the fast
        // removeI road).
        const MirrorBoot mb(preset);
        expectRefused(mb, *mb.bootstrapper(), true,
                      "[bootstrap] " + name +
                          " is a small parameter and keeps no CoeffToSlot constants: bootstrap on "
                          "its parent " +
                          Parameter(*par.parent_preset).name +
                          " (or through enableOutsourcing where the preset outsources its "
                          "bootstrap) and move the result to the small chain");
        return;
    }
    if (preset == ParameterPreset::KAPLO_3_BTS_OUTSOURCE_REAL) {
        // The companion of no road's raise: it has no sparse companion.
        const auto ctx = presetMirror(preset);
        RingSecretKey key(ctx);
        KeyPack pack(ctx);
        KeyGenerator(ctx, key, pack).genEncKey();
        const HomEvaluator eval(ctx, pack);
        expectThrowsMessage([&] { Bootstrapper(eval, false); },
                            "[bootstrap] KAPLO_3_BTS_OUTSOURCE_REAL has no sparse-secret "
                            "companion to raise its modulus with: bootstrap on KAPLO_3_BTS");
        return;
    }
    if (par.outsourcing_parameter) {
        // The inner side of its parent's outsourced road; the inner
        // bootstrapper takes the fast removeI road where it has one.
        const ParameterPreset parent = *par.parent_preset;
        const std::string parent_name = Parameter(parent).name;
        const std::string prefix = "outsourced to " + name + " ";
        const MirrorBoot outer(parent);
        const MirrorBoot inner(preset, &outer.secret_key);
        const auto boot = outer.bootstrapper();
        // The KAPLO companions end their bootstrap on a modulus 22 to 28
        // bits below their parents' at the encryption level (their primes
        // above level 0 are 61-bit, the parents' 35- to 38-bit).
        const std::map<std::string, int> short_bits{
            {"KAPLO_BTS", 28}, {"KAPLO_2_BTS", 22}, {"KAPLO_3_BTS", 28}};
        if (const auto it = short_bits.find(parent_name); it != short_bits.end()) {
            expectThrowsMessage(
                [&] { boot->enableOutsourcing(*inner.bootstrapper()); },
                "[Bootstrapper] The outsourced road through " + name +
                    " returns its result from a modulus smaller than the output chain's at its "
                    "encryption level by " +
                    std::to_string(it->second) +
                    " bits, which the switch back multiplies the error by: bootstrap on the "
                    "preset's own chain");
            return;
        }
        boot->enableOutsourcing(*inner.bootstrapper());
        runRoads(parent_name, outer, *boot, prefix, !fast, true);
        if (fast) {
            const std::vector<int> secret = MirrorBoot::coefficients(outer.secret_key);
            const FastRoadKeys inner_keys(fastRoadMirrors(preset), 5, 8, 16, &secret);
            const auto fast_boot = outer.bootstrapper();
            fast_boot->enableOutsourcing(*inner_keys.bootstrapper());
            runRoads(parent_name, outer, *fast_boot, prefix + "fast removeI ", true, false);
        }
        return;
    }

    const MirrorBoot mb(preset);
    const auto boot = mb.bootstrapper();
    for (const auto &[refused, message] :
         {std::pair{ParameterPreset::FTa, BootstrapperImpl::kFTaMessage},
          std::pair{ParameterPreset::FGfL7Low, BootstrapperImpl::kFGfL7LowMessage},
          std::pair{ParameterPreset::FGfL7, BootstrapperImpl::kFGfL7Message},
          std::pair{ParameterPreset::Discrete_G10, BootstrapperImpl::kDiscreteG10Message}})
        if (preset == refused) {
            expectRefused(mb, *boot, true, message);
            if (!fast) {
                expectRefused(mb, *boot, false, message);
            } else {
                const FastRoadKeys keys(fastRoadMirrors(preset), 5, 8, 16);
                expectRefused(keys, *keys.bootstrapper(), false, message);
            }
            return;
        }
    const std::string prefix = mb.sparse ? "sparse-secret raise " : "";
    runRoads(name, mb, *boot, prefix, !fast, true);
    if (fast) {
        const FastRoadKeys keys(fastRoadMirrors(preset), 5, 8, 16);
        runRoads(name, keys, *keys.bootstrapper(), prefix + "fast removeI ", true, false);
    }
}

// The outsourced road keeps no real part, also where the inner bootstrapper
// (FGfO) takes the fast removeI road that could keep one: its result would
// sit one level above FGfO's encryption level, on the 42-bit prime that FGf
// holds one level higher, which the modulus switch back cannot map. Refused
// before any work; the complex road over the same pair returns the message.
TEST(BootstrapPrecisionRoadsTest, OutsourcedRoadRefusesKeepRealEvenThroughTheInnerFastRoad) {
    reseed();
    const MirrorBoot outer(ParameterPreset::FGf);
    const std::vector<int> secret = MirrorBoot::coefficients(outer.secret_key);
    const FastRoadKeys inner(fastRoadMirrors(ParameterPreset::FGfO), 5, 8, 16, &secret);
    const auto boot = outer.bootstrapper();
    boot->enableOutsourcing(*inner.bootstrapper());
    std::mt19937_64 rng(39);
    const Message m = randomBootMessage(rng, 5, 1.0);
    Ciphertext coeffs(outer.ctx, false, true);
    boot->slotToCoeff(outer.exhausted(m), coeffs);
    Ciphertext out(outer.ctx, false, true);
    const u64 level_before = out.getLevel();
    expectThrowsMessage([&] { boot->halfBoot(coeffs, out, true, true); },
                        "[halfBoot] keep_real is not available on the road outsourced to FGfO (its "
                        "result cannot come back one level above the encryption level): call "
                        "halfBoot with keep_real = false");
    EXPECT_EQ(out.getLevel(), level_before);
    boot->halfBoot(coeffs, out, true, false);
    EXPECT_EQ(out.getLevel(), getEncryptionLevel(outer.ctx));
    EXPECT_GT(precisionBits(outer.decrypt(out), m).mean, 20.0);
}

std::vector<std::uint32_t> bootstrappablePresets() {
    std::vector<std::uint32_t> out;
    for (std::uint32_t v = 0; v <= kMaxParameterPresetValue; ++v)
        if (v != 21 && Parameter(static_cast<ParameterPreset>(v)).bootstrappable)
            out.push_back(v);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Presets, BootstrapPrecisionTest,
                         ::testing::ValuesIn(bootstrappablePresets()),
                         [](const ::testing::TestParamInfo<std::uint32_t> &info) {
                             return Parameter(static_cast<ParameterPreset>(info.param)).name;
                         });

} // namespace
} // namespace Quelt::test
