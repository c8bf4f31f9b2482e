// Word-for-word digests of the outputs of the key-switching operations and of
// every bootstrap road on FX, under fixed seeds: the keys, the encryptions and
// the messages are drawn after reseeding, so a run reproduces every word. The
// recorded digests pin the results, so that a change to the arithmetic around
// the key switch (fused divisions, lazy reductions, constant storage, scratch
// reuse) must keep every output word as it was.

#include "Quelt/BlockMatMul.hpp"
#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/PolynomialEvaluation.hpp"
#include "Quelt/SecretKey.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;

// FNV-1a over every word of the ciphertexts' shapes and residues.
u64 digest(const std::vector<const Ciphertext *> &cts) {
    u64 h = 0xcbf29ce484222325ULL;
    auto mix = [&h](u64 w) {
        for (int b = 0; b < 8; ++b) {
            h ^= (w >> (8 * b)) & 0xff;
            h *= 0x100000001b3ULL;
        }
    };
    for (const Ciphertext *ct : cts)
        for (const std::vector<u64> &row : ciphertextWords(*ct))
            for (const u64 w : row)
                mix(w);
    return h;
}

// FX, with the calling thread's generator reseeded after the context exists
// (whatever made it first).
const std::shared_ptr<ContextContent> &reseededFx() {
    const std::shared_ptr<ContextContent> &ctx = fxContext();
    reseed();
    return ctx;
}

// Keys and inputs drawn from fixed seeds: the key generator after reseed(),
// the messages from their own engine.
struct DigestSetup {
    DigestSetup() : secret_key(reseededFx()), pack(fxContext()), min_pack(fxContext()) {
        for (KeyPack *p : {&pack, &min_pack}) {
            const KeyGenerator generator(fxContext(), secret_key, *p);
            generator.genEncKey();
            generator.genMultKey();
            generator.genConjKey();
            for (u64 s = 0; s <= getLogFullSlots(fxContext()); ++s)
                generator.genRotKeysForBootstrap(s, p == &min_pack);
            for (const u64 idx : {1, 2, 3, 5})
                generator.genLeftRotKey(idx);
            generator.genRightRotKey(6);
        }
    }
    SecretKeyBase<EncryptionType::RLWE> secret_key;
    KeyPack pack;
    KeyPack min_pack;
};

class OutputDigestTest : public testing::Test {
protected:
    static const DigestSetup &setup() {
        static const DigestSetup s;
        return s;
    }
    static const HomEvaluator &eval() {
        static const HomEvaluator e(fxContext(), setup().pack);
        return e;
    }
    static const HomEvaluator &minEval() {
        static const HomEvaluator e(fxContext(), setup().min_pack);
        return e;
    }
    static Ciphertext blank() { return Ciphertext(fxContext(), false, true); }

    // The message of `seed` on 2^log_slots slots (real parts only when
    // `real`), encrypted under a generator reseeded from `seed` and taken
    // down to `level`.
    static Ciphertext input(u64 seed, u64 level, u64 log_slots = 5, bool real = false) {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        Message m(log_slots);
        for (auto &slot : m)
            slot = {dist(rng), real ? 0.0 : dist(rng)};
        UniformRandomBitGenerator::getInstance().setSeed({seed, 7, 11, 13});
        const Encryptor encryptor(fxContext());
        Ciphertext ct = blank();
        encryptor.encrypt(m, setup().pack, ct);
        if (ct.getLevel() != level) {
            Ciphertext low = blank();
            eval().levelDown(ct, level, low);
            return low;
        }
        return ct;
    }

    // Runs every case and compares its digest with the recorded one; a
    // failure prints the new digest in the table's form.
    static void expectDigests(
        const std::vector<std::pair<std::string, std::function<std::vector<Ciphertext>()>>> &cases,
        const std::map<std::string, u64> &recorded) {
        for (const auto &[name, run] : cases) {
            SCOPED_TRACE(name);
            const std::vector<Ciphertext> outs = run();
            std::vector<const Ciphertext *> ptrs;
            for (const Ciphertext &ct : outs)
                ptrs.push_back(&ct);
            const u64 got = digest(ptrs);
            char line[160];
            std::snprintf(line, sizeof line, "{\"%s\", 0x%016llxULL}", name.c_str(),
                          static_cast<unsigned long long>(got));
            const auto it = recorded.find(name);
            if (it == recorded.end())
                ADD_FAILURE() << "no digest recorded: " << line;
            else
                EXPECT_EQ(got, it->second) << "now " << line;
        }
    }
};

TEST_F(OutputDigestTest, KeySwitchingOperations) {
    const HomEvaluator &ev = eval();
    const std::vector<std::pair<std::string, std::function<std::vector<Ciphertext>()>>> cases = {
        {"mult",
         [&] {
             Ciphertext out = blank();
             ev.mult(input(1, 11), input(2, 11), out);
             return std::vector<Ciphertext>{out};
         }},
        {"mult top level",
         [&] {
             const Ciphertext a = input(1, getEncryptionLevel(fxContext()));
             Ciphertext out = blank();
             ev.mult(a, input(2, a.getLevel()), out);
             return std::vector<Ciphertext>{out};
         }},
        {"mult level 1",
         [&] {
             Ciphertext out = blank();
             ev.mult(input(3, 1), input(4, 1), out);
             return std::vector<Ciphertext>{out};
         }},
        {"mult different levels",
         [&] {
             Ciphertext out = blank();
             ev.mult(input(5, 9), input(6, 6), out);
             return std::vector<Ciphertext>{out};
         }},
        {"mult in place",
         [&] {
             Ciphertext a = input(7, 8);
             ev.mult(a, input(8, 8), a);
             return std::vector<Ciphertext>{a};
         }},
        {"square",
         [&] {
             Ciphertext out = blank();
             ev.square(input(9, 10), out);
             return std::vector<Ciphertext>{out};
         }},
        {"square in place",
         [&] {
             Ciphertext a = input(10, 5);
             ev.square(a, a);
             return std::vector<Ciphertext>{a};
         }},
        {"multWithoutRescale",
         [&] {
             Ciphertext out = blank();
             ev.multWithoutRescale(input(11, 7), input(12, 7), out);
             return std::vector<Ciphertext>{out};
         }},
        {"tensor and relinearize",
         [&] {
             Ciphertext t = blank(), out = blank();
             ev.tensor(input(13, 7), input(14, 7), t);
             ev.relinearize(t, out);
             return std::vector<Ciphertext>{t, out};
         }},
        {"leftRotate",
         [&] {
             Ciphertext a = blank(), b = blank();
             ev.leftRotate(input(15, 11), 1, a);
             ev.leftRotate(input(16, 4), 5, b);
             return std::vector<Ciphertext>{a, b};
         }},
        {"rightRotate",
         [&] {
             Ciphertext out = blank();
             ev.rightRotate(input(17, 9), 6, out);
             return std::vector<Ciphertext>{out};
         }},
        {"conjugate",
         [&] {
             Ciphertext out = blank();
             ev.conjugate(input(18, 9), out);
             return std::vector<Ciphertext>{out};
         }},
        {"killImag",
         [&] {
             Ciphertext out = blank();
             ev.killImag(input(19, 9), out);
             return std::vector<Ciphertext>{out};
         }},
        {"rotate after multWithoutRescale then rescale",
         [&] {
             Ciphertext p = blank(), r = blank();
             ev.multWithoutRescale(input(20, 8), input(21, 8), p);
             ev.leftRotate(p, 3, r);
             ev.rescale(r);
             return std::vector<Ciphertext>{r};
         }},
        {"hoisted rotations",
         [&] {
             std::vector<Ciphertext> outs;
             ev.leftRotate(input(22, 10), {1, 2, 3, 5}, outs);
             return outs;
         }},
        {"rotSum",
         [&] {
             Ciphertext out = blank();
             ev.rotSum({input(23, 9), input(24, 9), input(25, 9)}, {1, 3, 5}, out);
             return std::vector<Ciphertext>{out};
         }},
        {"rotSum with amounts 0",
         [&] {
             Ciphertext a = blank(), b = blank();
             ev.rotSum({input(27, 9), input(28, 9), input(29, 9)}, {0, 3, 0}, a);
             Ciphertext c = input(30, 8);
             ev.rotSum({c, input(31, 8)}, {2, 0}, c);
             ev.rotSum({input(32, 7), input(33, 7)}, {0, 0}, b);
             return std::vector<Ciphertext>{a, b, c};
         }},
        {"rotSum then rescale",
         [&] {
             Ciphertext p = blank(), q = blank(), out = blank();
             ev.multWithoutRescale(input(34, 8), input(35, 8), p);
             ev.multWithoutRescale(input(36, 8), input(37, 8), q);
             ev.rotSum({p, q}, {1, 5}, out);
             ev.rescale(out);
             return std::vector<Ciphertext>{out};
         }},
        {"blockMatMul",
         [&] {
             std::vector<Message> diags;
             for (u64 k = 0; k < 4; ++k) {
                 std::mt19937_64 rng(60 + k);
                 std::uniform_real_distribution<double> dist(-1.0, 1.0);
                 Message m(5);
                 for (auto &slot : m)
                     slot = {dist(rng), dist(rng)};
                 diags.push_back(m);
             }
             const EnDecoder encoder(fxContext());
             std::vector<Plaintext> plain;
             for (u64 k = 0; k < 8; ++k)
                 plain.push_back(encoder.encode(diags[k % 4], 9, 0));
             Ciphertext one = blank();
             blockMatMul1DBSGS(ev, input(38, 9), diags, one, 2, 4, 1);
             std::vector<Ciphertext> two(2, blank());
             blockMatMul2DBSGS(ev, {input(39, 9), input(40, 9)}, {plain, plain}, two, 2, 4, 1);
             return std::vector<Ciphertext>{one, two[0], two[1]};
         }},
        {"leftRotateReduce",
         [&] {
             Ciphertext out = blank();
             ev.leftRotateReduce(input(26, 9), 1, 4, out);
             return std::vector<Ciphertext>{out};
         }},
    };
    const std::map<std::string, u64> recorded = {
        {"mult", 0x06dee25c0d48ab7aULL},
        {"mult top level", 0xff30d5312a2eef1fULL},
        {"mult level 1", 0x28f7edbc2344b92bULL},
        {"mult different levels", 0x9fd927a592893f0eULL},
        {"mult in place", 0x304e851c71b47de7ULL},
        {"square", 0xa1c68598d2509e78ULL},
        {"square in place", 0x00b2ac0a48ace20fULL},
        {"multWithoutRescale", 0x78f87d349a9414b5ULL},
        {"tensor and relinearize", 0x732c4eeb725eecdaULL},
        {"leftRotate", 0x4eb385647cf24bd0ULL},
        {"rightRotate", 0xd014fe32fe0266ffULL},
        {"conjugate", 0x21221919eba6a428ULL},
        {"killImag", 0xe72778d605a53020ULL},
        {"rotate after multWithoutRescale then rescale", 0xc7e02e69720a53b6ULL},
        {"hoisted rotations", 0x6eb4d80176325f8eULL},
        {"rotSum", 0x2ccc19942317a977ULL},
        {"rotSum with amounts 0", 0xb12b311cb84eb731ULL},
        {"rotSum then rescale", 0xeb1154e55ebaf6daULL},
        {"blockMatMul", 0x96f47dc3fb2e6962ULL},
        {"leftRotateReduce", 0x15b064bea36a391eULL},
    };
    expectDigests(cases, recorded);
}

// Custom contexts of degree 2^10 whose temporary primes number one or
// several: the products and rotations under keys made from fixed seeds.
TEST_F(OutputDigestTest, CustomContexts) {
    struct Shape {
        std::string name;
        u64 chain_length;
        u64 gadget_rank;
    };
    std::vector<std::pair<std::string, std::function<std::vector<Ciphertext>()>>> cases;
    for (const Shape &shape : {Shape{"rank 1, five temporary primes", 5, 1},
                               Shape{"rank 2, three temporary primes", 6, 2},
                               Shape{"rank 5, one temporary prime", 5, 5}}) {
        cases.emplace_back(shape.name, [shape] {
            const std::shared_ptr<ContextContent> ctx =
                makeContext(10, shape.chain_length, 50, 40, 50, shape.gadget_rank);
            reseed();
            const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
            KeyPack pack(ctx);
            const KeyGenerator generator(ctx, sk, pack);
            generator.genEncKey();
            generator.genMultKey();
            generator.genConjKey();
            for (const u64 idx : {1, 2, 7})
                generator.genLeftRotKey(idx);
            const HomEvaluator ev(ctx, pack);
            const Encryptor encryptor(ctx);
            auto encrypt = [&](u64 seed) {
                std::mt19937_64 rng(seed);
                std::uniform_real_distribution<double> dist(-1.0, 1.0);
                Message m(getLogFullSlots(ctx));
                for (auto &slot : m)
                    slot = {dist(rng), dist(rng)};
                UniformRandomBitGenerator::getInstance().setSeed({seed, 3, 5, 7});
                Ciphertext ct(ctx, false, true);
                encryptor.encrypt(m, pack, ct);
                return ct;
            };
            const Ciphertext a = encrypt(1), b = encrypt(2), c = encrypt(3);
            std::vector<Ciphertext> outs(8, Ciphertext(ctx, false, true));
            ev.mult(a, b, outs[0]);
            ev.square(c, outs[1]);
            ev.multWithoutRescale(a, c, outs[2]);
            ev.leftRotate(a, 1, outs[3]);
            ev.conjugate(b, outs[4]);
            ev.rotSum({a, b, c}, {1, 2, 7}, outs[5]);
            ev.mult(outs[0], outs[1], outs[6]);
            std::vector<Ciphertext> hoisted;
            ev.leftRotate(c, {1, 2, 7}, hoisted);
            outs[7] = hoisted[2];
            return outs;
        });
    }
    const std::map<std::string, u64> recorded = {
        {"rank 1, five temporary primes", 0xa52238c52d2d4d9eULL},
        {"rank 2, three temporary primes", 0x10974c994ae0035aULL},
        {"rank 5, one temporary prime", 0xe7d259dd14726d56ULL},
    };
    expectDigests(cases, recorded);
}

TEST_F(OutputDigestTest, BootstrapRoads) {
    const Bootstrapper boot(eval(), false);
    const std::vector<std::pair<std::string, std::function<std::vector<Ciphertext>()>>> cases = {
        {"bootstrap complex level 3",
         [&] {
             Ciphertext out = blank();
             boot.bootstrap(input(31, 3), out, true);
             return std::vector<Ciphertext>{out};
         }},
        {"bootstrap complex level 12",
         [&] {
             Ciphertext out = blank();
             boot.bootstrap(input(32, 12), out, true);
             return std::vector<Ciphertext>{out};
         }},
        {"bootstrap real",
         [&] {
             Ciphertext out = blank();
             boot.bootstrap(input(33, 3, 5, true), out, false);
             return std::vector<Ciphertext>{out};
         }},
        {"bootstrap two outputs",
         [&] {
             Ciphertext re = blank(), im = blank();
             boot.bootstrap(input(34, 3), re, im, 1.0);
             return std::vector<Ciphertext>{re, im};
         }},
        {"bootstrapExtended",
         [&] {
             Ciphertext out = blank();
             boot.bootstrapExtended(input(35, 4), out, true);
             return std::vector<Ciphertext>{out};
         }},
        {"bootstrapExtended two outputs",
         [&] {
             Ciphertext re = blank(), im = blank();
             boot.bootstrapExtended(input(36, 4), re, im);
             return std::vector<Ciphertext>{re, im};
         }},
        {"slotToCoeff and halfBoot",
         [&] {
             Ciphertext c = blank(), out = blank(), re = blank(), im = blank();
             boot.slotToCoeff(input(37, 3), c);
             boot.halfBoot(c, out, true, false);
             boot.halfBoot(c, re, im);
             return std::vector<Ciphertext>{c, out, re, im};
         }},
        {"integerToRootsBootstrap",
         [&] {
             Ciphertext out = blank(), re = blank(), im = blank();
             boot.integerToRootsBootstrap(input(38, 3), out);
             boot.integerToRootsBootstrap(input(38, 3), re, im);
             return std::vector<Ciphertext>{out, re, im};
         }},
        {"sparse slots",
         [&] {
             std::vector<Ciphertext> outs;
             for (const u64 s : {u64{0}, u64{1}, u64{3}, u64{4}}) {
                 const Bootstrapper sparse(eval(), s, false);
                 Ciphertext out = blank();
                 sparse.bootstrap(input(40 + s, 3, s), out, true);
                 outs.push_back(out);
             }
             return outs;
         }},
        {"minimal keys",
         [&] {
             std::vector<Ciphertext> outs;
             for (const u64 s : {u64{3}, u64{4}, u64{5}}) {
                 const Bootstrapper min_key(minEval(), s, true);
                 Bootstrapper c2s_min(eval(), s, false);
                 c2s_min.setC2Suseminkey(true);
                 Ciphertext a = blank(), b = blank();
                 min_key.bootstrap(input(50 + s, 3, s), a, true);
                 c2s_min.bootstrap(input(50 + s, 3, s), b, true);
                 outs.push_back(a);
                 outs.push_back(b);
             }
             return outs;
         }},
    };
    const std::map<std::string, u64> recorded = {
        {"bootstrap complex level 3", 0x723d75d0d096f409ULL},
        {"bootstrap complex level 12", 0x1e1d82c80c407e32ULL},
        {"bootstrap real", 0xa2c61ec6311f8fc4ULL},
        {"bootstrap two outputs", 0xbe5ca53204a7f183ULL},
        {"bootstrapExtended", 0x01c0d21e439e39b4ULL},
        {"bootstrapExtended two outputs", 0xdce41b9bd22a6684ULL},
        {"slotToCoeff and halfBoot", 0x3ecca26b68d73286ULL},
        {"integerToRootsBootstrap", 0x8133541a5f29def0ULL},
        {"sparse slots", 0xd66e5e608e9c6697ULL},
        {"minimal keys", 0x2e9121ae9082093cULL},
    };
    expectDigests(cases, recorded);
}

// The polynomial evaluations over every branch of their giant-step
// recursion: a lone top coefficient, two and three parts, block counts that
// are and are not powers of two, short last blocks, and the
// conjugate-invariant form.
TEST_F(OutputDigestTest, PolynomialEvaluations) {
    // The keys exist before the first input is drawn.
    const HomEvaluator &ev = eval();
    using Coeffs = std::vector<std::complex<double>>;
    const auto coeffsOf = [](u64 seed, u64 size) {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        Coeffs c(size);
        for (auto &v : c)
            v = {dist(rng), dist(rng)};
        return c;
    };
    const std::complex<double> multiplier{0.75, -0.375};
    struct Shape {
        u64 size, bs;
        bool conjugate_invariant;
    };
    const std::vector<Shape> shapes = {{9, 4, false},  {17, 4, false}, {33, 8, false},
                                       {16, 4, false}, {16, 2, false}, {24, 4, false},
                                       {10, 4, false}, {20, 5, false}, {12, 3, false},
                                       {16, 4, true},  {24, 3, true},  {40, 5, true}};
    std::vector<std::pair<std::string, std::function<std::vector<Ciphertext>()>>> cases;
    for (const Shape &s : shapes) {
        const std::string name = std::string(s.conjugate_invariant ? "conjugate-invariant " : "") +
                                 "S " + std::to_string(s.size) + " bs " + std::to_string(s.bs);
        cases.emplace_back(name, [&, s] {
            const Coeffs coeffs = coeffsOf(50 + s.size * 7 + s.bs, s.size);
            Ciphertext out = blank();
            if (s.conjugate_invariant)
                evaluateConjugateInvariantPolynomial(ev, input(51, 12), coeffs, out, multiplier,
                                                     s.bs);
            else
                evaluatePolynomial(ev, input(51, 12), coeffs, out, multiplier, s.bs);
            return std::vector<Ciphertext>{out};
        });
    }
    const std::map<std::string, u64> recorded = {
        {"S 9 bs 4", 0x9292a2d389c99cbaULL},
        {"S 17 bs 4", 0xf097fb0353f64e31ULL},
        {"S 33 bs 8", 0xf7ca49b6ff7df375ULL},
        {"S 16 bs 4", 0xdd3c1e7d168c2f96ULL},
        {"S 16 bs 2", 0x7edf40a3565bc5feULL},
        {"S 24 bs 4", 0x3ae711b23ccfc49fULL},
        {"S 10 bs 4", 0x01bb453aa2ecda32ULL},
        {"S 20 bs 5", 0xb60eb297f692f742ULL},
        {"S 12 bs 3", 0xa1e47882b3060b0fULL},
        {"conjugate-invariant S 16 bs 4", 0xefcf34a844a5a3dbULL},
        {"conjugate-invariant S 24 bs 3", 0xc1009a15c14a810dULL},
        {"conjugate-invariant S 40 bs 5", 0x670b8bbf32165ca7ULL},
    };
    expectDigests(cases, recorded);
}

} // namespace
} // namespace Quelt::test
