#pragma once

// Keys and helpers of the bootstrap tests on FX (degree 64, 32 slots, the
// primes and bootstrapping settings of FGb): one secret key, and key packs
// with the encryption, multiplication and conjugation keys plus the rotation
// keys of bootstrapping for every log slot count 0..5, made with and without
// min_key. Made once per test binary.

#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/Modulus.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Parameter.hpp"
#include "support/PolyTestSupport.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {

struct BootKeys {
    explicit BootKeys(const std::shared_ptr<ContextContent> &ctx)
        : secret_key(ctx), pack(ctx), min_pack(ctx) {
        for (KeyPack *p : {&pack, &min_pack}) {
            const KeyGenerator generator(ctx, secret_key, *p);
            generator.genEncKey();
            generator.genMultKey();
            generator.genConjKey();
            for (std::uint64_t s = 0; s <= getLogFullSlots(ctx); ++s)
                generator.genRotKeysForBootstrap(s, p == &min_pack);
        }
    }
    SecretKeyBase<EncryptionType::RLWE> secret_key;
    KeyPack pack;
    KeyPack min_pack;
};

inline const BootKeys &fxBootKeys() {
    static const BootKeys keys(fxContext());
    return keys;
}

// Evaluators over the two key packs.
inline const HomEvaluator &fxBootEval() {
    static const HomEvaluator eval(fxContext(), fxBootKeys().pack);
    return eval;
}
inline const HomEvaluator &fxMinKeyEval() {
    static const HomEvaluator eval(fxContext(), fxBootKeys().min_pack);
    return eval;
}

// A message of 2^log_slots slots, parts uniform in [-bound, bound] (the
// imaginary parts 0 when `real`).
inline Message randomBootMessage(std::mt19937_64 &rng, std::uint64_t log_slots, double bound,
                                 bool real = false) {
    std::uniform_real_distribution<double> dist(-bound, bound);
    Message m(log_slots);
    for (auto &slot : m)
        slot = {dist(rng), real ? 0.0 : dist(rng)};
    return m;
}

// Precision of a result in bits: the mean and the minimum over the slots of
// -log2 |got - want| (both parts together).
struct Precision {
    double mean = 0.0;
    double min = 0.0;
};

inline Precision precisionBits(const Message &got, const Message &want) {
    Precision p{0.0, std::numeric_limits<double>::infinity()};
    if (got.getSize() != want.getSize() || got.getSize() == 0)
        return {0.0, 0.0};
    for (std::uint64_t i = 0; i < got.getSize(); ++i) {
        const double e = std::max(std::abs(got[i] - want[i]), 1e-300);
        const double bits = -std::log2(e);
        p.mean += bits;
        p.min = std::min(p.min, bits);
    }
    p.mean /= static_cast<double>(got.getSize());
    return p;
}

// An outsourcing pair at degree 64. The outer context is FX named FGe with
// outsourced bootstrapping; the inner one is FX named FGeO with prime 12 (the
// level both sides end at) replaced by a prime 1.5 times as large, so the modulus
// switch back exchanges exactly that prime and the compensation is the ratio
// of the two. Both use FX's scale factors and one secret.
struct FxOutsourcing {
    static constexpr std::uint64_t kReplacedPrime = 0x60000000001;

    FxOutsourcing()
        : outer(withParameter(fxContext(),
                              [](Parameter &p) {
                                  p.preset = ParameterPreset::FGe;
                                  p.name = "FGe";
                                  p.outsourced_bootstrap = true;
                              })),
          inner(innerContext()), inner_key(inner, coefficients().data()), inner_pack(inner),
          outer_eval(outer, fxBootKeys().pack) {
        const KeyGenerator generator(inner, inner_key, inner_pack);
        generator.genMultKey();
        generator.genConjKey();
        generator.genRotKeysForBootstrap(5, false);
        inner_eval = std::make_unique<HomEvaluator>(inner, inner_pack);
    }

    static std::shared_ptr<ContextContent> innerContext() {
        const std::shared_ptr<ContextContent> &fx = fxContext();
        std::vector<Modulus> moduli = fx->getPrimeModuli().getModuli();
        moduli.at(12) = Modulus(getDegree(fx), kReplacedPrime, moduli.at(12).getNttType());
        Parameter parameter = fx->getParameter();
        parameter.preset = ParameterPreset::FGeO;
        parameter.name = "FGeO";
        parameter.outsourcing_parameter = true;
        return std::make_shared<ContextContent>(parameter, moduli, fx->getScaleFactors(),
                                                fx->getDevices());
    }
    std::vector<int> &coefficients() {
        const int *c = fxBootKeys().secret_key.getCoefficients();
        secret.assign(c, c + getDegree(fxContext()));
        return secret;
    }

    std::vector<int> secret;
    std::shared_ptr<ContextContent> outer;
    std::shared_ptr<ContextContent> inner;
    SecretKeyBase<EncryptionType::RLWE> inner_key;
    KeyPack inner_pack;
    HomEvaluator outer_eval;
    std::unique_ptr<HomEvaluator> inner_eval;
};

} // namespace Quelt::test
