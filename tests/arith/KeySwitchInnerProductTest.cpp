#include "arith/PrimeModuliInnerProduct.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/FastBaseConv.hpp"
#include "arith/KeySwitchKernels.hpp"
#include "arith/NTT.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/RNSDecomposeData.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using test::u64;

constexpr u64 kN = 64;
constexpr u64 kSentinel = 0x5A5A5A5A;

std::string unsupported(const std::string &name) {
    return "Cannot support the function '" + name + "' in the current build configuration";
}

// L = 5 (digits {0, 1, 2} and {3, 4} with gadget rank 2), K = 3, N = 64.
const std::shared_ptr<ContextContent> &ctx() {
    static const auto context = makeContext(6, 5, 40, 40, 40, 2);
    return context;
}
const PrimeModuli &chain() { return ctx()->getPrimeModuli(); }
u64 prime(u64 i) { return chain().getModulus(i).getPrime(); }
constexpr u64 kL = 5, kK = 3;

std::mt19937_64 &rng() {
    static std::mt19937_64 r(20261210);
    return r;
}

// Random residues on every limb the array holds.
Polynomial randomPoly(bool mod_up, u64 level = kL - 1) {
    Polynomial p(ctx(), mod_up, true);
    p.setLevel(level);
    const u64 limbs = p.getData().size() / kN;
    for (u64 i = 0; i < limbs; ++i)
        for (u64 c = 0; c < kN; ++c)
            p.getLimb(i)[c] = rng()() % prime(i);
    return p;
}

Polynomial filled(bool mod_up, u64 level, u64 value) {
    Polynomial p(ctx(), mod_up, true);
    p.setLevel(level);
    std::fill(p.getData().begin(), p.getData().end(), value);
    return p;
}

// sum_k x_k,i y_k,i at every position of limb i.
std::vector<u64> expectedSum(const std::vector<Polynomial> &x, const std::vector<Polynomial> &y,
                             u64 i) {
    std::vector<u64> s(kN, 0);
    for (std::size_t k = 0; k < x.size(); ++k)
        for (u64 c = 0; c < kN; ++c)
            s[c] = test::addModRef(
                s[c], test::mulModRef(x[k].getLimb(i)[c], y[k].getLimb(i)[c], prime(i)), prime(i));
    return s;
}

std::vector<u64> limbOf(const Polynomial &p, u64 i) {
    return std::vector<u64>(p.getLimb(i), p.getLimb(i) + kN);
}

TEST(KeySwitchInnerProductTest, SumsOverTheExtendedWalk) {
    for (bool mod_up : {true, false}) {
        for (u64 count : {u64{1}, u64{3}}) {
            const u64 level = 2;
            SCOPED_TRACE(::testing::Message() << "mod-up " << mod_up << " terms " << count);
            std::vector<Polynomial> a, b, c;
            for (u64 k = 0; k < count; ++k) {
                a.push_back(randomPoly(true, level));
                b.push_back(randomPoly(true, level));
                c.push_back(randomPoly(true, level));
            }
            const std::vector<Polynomial> &a_const = a;
            Polynomial out1 = filled(mod_up, level, kSentinel);
            Polynomial out2 = filled(mod_up, level, kSentinel);
            chain().innerProduct(makePolyIter(a_const.begin()), makePolyIter(a_const.end()),
                                 makePolyIter(b.begin()), makePolyIter(c.begin()), out1, out2);
            const u64 limbs = out1.getData().size() / kN;
            for (u64 i = 0; i < limbs; ++i) {
                const bool walked = i <= level || (mod_up && i >= kL);
                if (walked) {
                    EXPECT_EQ(limbOf(out1, i), expectedSum(a, b, i)) << "limb " << i;
                    EXPECT_EQ(limbOf(out2, i), expectedSum(a, c, i)) << "limb " << i;
                } else {
                    EXPECT_EQ(limbOf(out1, i), std::vector<u64>(kN, kSentinel)) << "limb " << i;
                    EXPECT_EQ(limbOf(out2, i), std::vector<u64>(kN, kSentinel)) << "limb " << i;
                }
            }
            EXPECT_EQ(out1.getLevel(), level);
            EXPECT_EQ(out1.isModUp(), mod_up);
        }
    }
}

// Plaintexts times ciphertext masks and bodies, through their accessors.
TEST(KeySwitchInnerProductTest, PlaintextAndCiphertextAccessors) {
    std::vector<Plaintext> plain;
    std::vector<CiphertextBase<EncryptionType::RLWE>> cipher;
    std::vector<Polynomial> m, bodies, masks;
    for (int k = 0; k < 2; ++k) {
        plain.emplace_back(ctx());
        cipher.emplace_back(ctx(), false, true);
        const Polynomial pm = randomPoly(false), body = randomPoly(false), mask = randomPoly(false);
        for (u64 i = 0; i < kL; ++i) {
            std::copy(pm.getLimb(i), pm.getLimb(i) + kN, plain.back().getMxData(i));
            std::copy(body.getLimb(i), body.getLimb(i) + kN, cipher.back().getPolyData(0, i));
            std::copy(mask.getLimb(i), mask.getLimb(i) + kN, cipher.back().getPolyData(1, i));
        }
        m.push_back(pm);
        bodies.push_back(body);
        masks.push_back(mask);
    }
    const std::vector<Plaintext> &plain_const = plain;
    Polynomial out1(ctx(), false, true), out2(ctx(), false, true);
    chain().innerProduct(makeMxPolyIter(plain_const.begin()), makeMxPolyIter(plain_const.end()),
                         makeAxPolyIter(cipher.begin()), makeBxPolyIter(cipher.begin()), out1,
                         out2);
    for (u64 i = 0; i < kL; ++i) {
        EXPECT_EQ(limbOf(out1, i), expectedSum(m, masks, i));
        EXPECT_EQ(limbOf(out2, i), expectedSum(m, bodies, i));
    }
}

// The lazy kernel folds its 128-bit sums before they overflow: many terms of
// maximal residues modulo a prime just below 2^62.
TEST(KeySwitchInnerProductTest, KernelFoldsLongSums) {
    const u64 p = utils::seekPrimes(u64{1} << 62, 2, 1, true)[0];
    const Modulus modulus(8, p, NttType::NONE);
    const u64 count = 40;
    std::vector<std::vector<u64>> a(count, std::vector<u64>(8)), b = a, c = a;
    for (u64 k = 0; k < count; ++k)
        for (u64 i = 0; i < 8; ++i) {
            a[k][i] = i < 4 ? p - 1 : rng()() % p;
            b[k][i] = i < 2 ? p - 1 : rng()() % p;
            c[k][i] = rng()() % p;
        }
    std::vector<const u64 *> pa, pb, pc;
    for (u64 k = 0; k < count; ++k) {
        pa.push_back(a[k].data());
        pb.push_back(b[k].data());
        pc.push_back(c[k].data());
    }
    const u64 per_fold =
        keyswitch_kernels::termsPerFold(static_cast<unsigned __int128>(p - 1) * (p - 1));
    EXPECT_LT(per_fold, count);
    // Without and with sums to add to (p - 1 - i and i: both ends of the
    // residues).
    for (u64 terms : {u64{5}, count})
        for (bool accumulate : {false, true}) {
            std::vector<u64> out1(8), out2(8);
            for (u64 i = 0; i < 8; ++i) {
                out1[i] = p - 1 - i;
                out2[i] = i;
            }
            keyswitch_kernels::innerProductTwo(pa.data(), pb.data(), pc.data(), terms, per_fold,
                                               keyswitch_kernels::FoldConstants::of(modulus),
                                               out1.data(), out2.data(), 8, accumulate);
            for (u64 i = 0; i < 8; ++i) {
                u64 s1 = accumulate ? p - 1 - i : 0, s2 = accumulate ? i : 0;
                for (u64 k = 0; k < terms; ++k) {
                    s1 = test::addModRef(s1, test::mulModRef(a[k][i], b[k][i], p), p);
                    s2 = test::addModRef(s2, test::mulModRef(a[k][i], c[k][i], p), p);
                }
                EXPECT_EQ(out1[i], s1) << "accumulate " << accumulate;
                EXPECT_EQ(out2[i], s2) << "accumulate " << accumulate;
            }
        }
}

// Decompose a, raise the digits, multiply them by key parts that carry the
// gadget factor P (Q / Q_d) times s, sum, and divide by P again: the result
// is a s exactly, and the key parts without s give back a.
TEST(KeySwitchInnerProductTest, GadgetRoundTripGivesTheProduct) {
    const RNSDecomposeData gadget(ctx());
    const FastBaseConv conv(ctx());
    const u64 *p_mod = gadget.getPMod(kHostDevice);
    const u64 *hat_q = gadget.getHatQMod(kHostDevice);
    const u64 *hat_q_inv = gadget.getHatQInvMod(kHostDevice);
    const u64 alpha = conv.getPrimesPerDigit();
    auto ntt = [](u64 i) { return chain().getModulus(i).getNTT(); };

    for (u64 level : {kL - 1, u64{3}, u64{1}}) {
        SCOPED_TRACE(::testing::Message() << "level " << level);
        // a and s in coefficient form on limbs 0 .. level; s on every limb.
        Polynomial a = randomPoly(false, level);
        a.setNTT(false);
        Polynomial s = randomPoly(true);
        for (u64 j = 0; j < kL + kK; ++j)
            for (u64 c = 0; c < kN; ++c)
                s.getLimb(j)[c] %= u64{1} << 20; // an integer polynomial, same at every prime
        for (u64 j = 0; j < kL + kK; ++j)
            for (u64 c = 0; c < kN; ++c)
                s.getLimb(j)[c] = s.getLimb(0)[c];

        Polynomial decomposed = a;
        for (u64 i = 0; i <= level; ++i)
            chain().getModulus(i).constMult<1>(a.getLimb(i), hat_q_inv[i], decomposed.getLimb(i),
                                               kN);
        const std::vector<Polynomial> digits = conv.modUp(decomposed);
        ASSERT_EQ(digits.size(), level / alpha + 1);

        std::vector<Polynomial> with_s, without_s;
        for (u64 d = 0; d < digits.size(); ++d) {
            Polynomial ks(ctx(), true, true), k1(ctx(), true, true);
            for (u64 j = 0; j < kL + kK; ++j) {
                const bool own = j < kL && j / alpha == d;
                const u64 gadget_j = own ? test::mulModRef(p_mod[j], hat_q[j], prime(j)) : 0;
                std::vector<u64> sj(s.getLimb(j), s.getLimb(j) + kN);
                ntt(j)->computeForward<1>(sj.data());
                for (u64 c = 0; c < kN; ++c) {
                    ks.getLimb(j)[c] = test::mulModRef(gadget_j, sj[c], prime(j));
                    k1.getLimb(j)[c] = gadget_j;
                }
            }
            with_s.push_back(std::move(ks));
            without_s.push_back(std::move(k1));
        }

        PolynomialVector sums(ctx(), 2, true, true);
        sums.setLevel(level);
        chain().innerProduct(makePolyIter(digits.begin()), makePolyIter(digits.end()),
                             makePolyIter(with_s.begin()), makePolyIter(without_s.begin()),
                             sums.getPoly(0), sums.getPoly(1));
        PolynomialVector result(ctx(), 0, false, false);
        conv.modDown(sums, result, false);
        ASSERT_EQ(result.getSize(), 2u);
        for (u64 i = 0; i <= level; ++i) {
            const std::vector<u64> ai = limbOf(a, i);
            const std::vector<u64> si(s.getLimb(i), s.getLimb(i) + kN);
            EXPECT_EQ(limbOf(result.getPoly(0), i), test::negacyclicProductRef(ai, si, prime(i)));
            EXPECT_EQ(limbOf(result.getPoly(1), i), ai);
        }
        EXPECT_FALSE(result.getPoly(0).isNTT());
        EXPECT_EQ(result.getLevel(), level);
    }
}

// Multi-secret key switching: body j sums the digits times the parts
// j stride + k of the secret-major key list, the last output the digits times
// the mask parts; outputs past the secrets are not touched. Fewer terms than
// the stride use the first parts of every secret.
TEST(KeySwitchInnerProductTest, MultiSecretSumsOverTheExtendedWalk) {
    const u64 level = 2, stride = 3;
    for (bool mod_up : {true, false}) {
        for (u64 secrets : {u64{1}, u64{3}}) {
            for (u64 count : {u64{1}, stride}) {
                SCOPED_TRACE(::testing::Message() << "mod-up " << mod_up << " secrets " << secrets
                                                  << " terms " << count);
                std::vector<Polynomial> a, masks, bodies;
                for (u64 k = 0; k < count; ++k) {
                    a.push_back(randomPoly(true, level));
                    masks.push_back(randomPoly(true, level));
                }
                for (u64 t = 0; t < secrets * stride; ++t)
                    bodies.push_back(randomPoly(true, level));
                const std::vector<Polynomial> &a_const = a;
                PolynomialVector out(ctx(), secrets + 2, mod_up, true);
                out.setLevel(level);
                for (Polynomial &p : out.getPolys())
                    std::fill(p.getData().begin(), p.getData().end(), kSentinel);
                chain().innerProductMSRLWE(makePolyIter(a_const.begin()),
                                           makePolyIter(a_const.end()), makePolyIter(masks.begin()),
                                           makePolyIter(bodies.begin()), out, secrets, stride);
                const u64 limbs = out.getPoly(0).getData().size() / kN;
                for (u64 i = 0; i < limbs; ++i) {
                    const bool walked = i <= level || (mod_up && i >= kL);
                    for (u64 j = 0; j <= secrets + 1; ++j) {
                        std::vector<u64> want(kN, kSentinel);
                        if (walked && j < secrets)
                            want = expectedSum(
                                a,
                                std::vector<Polynomial>(
                                    bodies.begin() + static_cast<std::ptrdiff_t>(j * stride),
                                    bodies.begin() +
                                        static_cast<std::ptrdiff_t>(j * stride + count)),
                                i);
                        else if (walked && j == secrets)
                            want = expectedSum(a, masks, i);
                        EXPECT_EQ(limbOf(out.getPoly(j), i), want) << "limb " << i << " poly " << j;
                    }
                }
            }
        }
    }
}

// Plaintexts times lists of polynomials, plain and after automorphisms; the
// automorphism of a term is checked against frobeniusMapInNTT.
TEST(KeySwitchInnerProductTest, PlaintextTimesPolynomialLists) {
    const u64 level = 3, rows = 3;
    for (bool mod_up : {false, true}) {
        SCOPED_TRACE(mod_up);
        std::vector<Plaintext> plain;
        std::vector<Polynomial> mx;
        std::vector<PolynomialVector> lists;
        for (int k = 0; k < 3; ++k) {
            // A plaintext over the whole extended basis when the lists are.
            plain.emplace_back(ctx());
            Polynomial p = randomPoly(mod_up, level);
            plain.back().getMx() = p;
            mx.push_back(p);
            lists.emplace_back(ctx(), rows, mod_up, true);
            lists.back().setLevel(level);
            for (u64 j = 0; j < rows; ++j)
                lists.back().getPoly(j) = randomPoly(mod_up, level);
        }
        const std::vector<Plaintext> &plain_const = plain;
        PolynomialVector out(ctx(), rows, mod_up, true);
        out.setLevel(level);
        chain().innerProductMSRLWEv2(makeMxPolyIter(plain_const.begin()),
                                     makeMxPolyIter(plain_const.end()),
                                     makeIxPolyIterBx(lists.begin()), out, rows - 1);
        const std::vector<u64> exponents = {5, 2 * kN - 1, 1};
        PolynomialVector rotated(ctx(), rows, mod_up, true);
        rotated.setLevel(level);
        chain().frobeniusAndInnerProduct(makeMxPolyIter(plain_const.begin()),
                                         makeMxPolyIter(plain_const.end()), lists[0], rotated,
                                         rows - 1, exponents);
        const u64 limbs = mod_up ? kL + kK : level + 1;
        for (u64 j = 0; j < rows; ++j) {
            std::vector<Polynomial> column, images;
            for (u64 k = 0; k < 3; ++k) {
                column.push_back(lists[k].getPoly(j));
                Polynomial image(ctx(), mod_up, true);
                image.setLevel(level);
                chain().frobeniusMapInNTT<false>(lists[0].getPoly(j),
                                                 static_cast<std::int64_t>(exponents[k]), image);
                images.push_back(image);
            }
            for (u64 i = 0; i < limbs; ++i) {
                if (i > level && i < kL)
                    continue;
                EXPECT_EQ(limbOf(out.getPoly(j), i), expectedSum(mx, column, i))
                    << "limb " << i << " poly " << j;
                EXPECT_EQ(limbOf(rotated.getPoly(j), i), expectedSum(mx, images, i))
                    << "limb " << i << " poly " << j;
            }
        }
    }
}

TEST(KeySwitchInnerProductTest, MessagesInOrder) {
    const Device kCuda{1, 0}, kPinned{3, 0}, kHostOne{0, 1};
    static const PrimeModuli device_chain(6, 5, 40, 40, 40, 2, {kCuda, kPinned});
    auto on = [](const Device &device, bool mod_up = true) {
        Polynomial p = randomPoly(mod_up);
        if (device != kHostDevice) {
            const u64 n = device.type == Device::kHost ? p.getData().size() : 0;
            p.setData(DeviceSpecificArray<u64>(n, device));
        }
        return p;
    };
    using Run = std::function<void()>;
    struct Case {
        const char *what;
        Run run;
        std::string message;
    };
    std::vector<Polynomial> none;
    const std::vector<Polynomial> one_const = {randomPoly(true)};
    std::vector<Polynomial> one = {randomPoly(true)};
    const std::vector<Polynomial> plain_terms = {randomPoly(false)};
    // Polynomials without host memory cannot be copied: build in place.
    auto single = [&](const Device &device) {
        std::vector<Polynomial> v;
        v.push_back(on(device));
        return v;
    };
    const std::vector<Polynomial> cuda_terms = single(kCuda);
    std::vector<Polynomial> cuda_keys = single(kCuda);
    const std::vector<Polynomial> pinned_terms = single(kPinned);
    std::vector<Polynomial> pinned_keys = single(kPinned);
    const std::vector<Polynomial> host_one_terms = single(kHostOne);
    std::vector<Polynomial> host_one_keys = single(kHostOne);
    const std::vector<Polynomial> &none_const = none;
    auto ip = [&](const PrimeModuli &c, const std::vector<Polynomial> &a,
                  std::vector<Polynomial> &b, std::vector<Polynomial> &cc, Polynomial &o1,
                  Polynomial &o2) {
        c.innerProduct(makePolyIter(a.begin()), makePolyIter(a.end()), makePolyIter(b.begin()),
                       makePolyIter(cc.begin()), o1, o2);
    };
    Polynomial up = randomPoly(true), up2 = randomPoly(true), plain = randomPoly(false);
    Polynomial low = randomPoly(true, 1), wrong_size(ctx(), true, true);
    wrong_size.setData(DeviceSpecificArray<u64>(kN));
    PolynomialVector out(ctx(), 3, true, true);
    PolynomialVector mixed(ctx(), 2, true, true);
    mixed.getPoly(1).setLevel(1);
    std::vector<PolynomialVector> parts;
    parts.emplace_back(ctx(), 3, true, true);
    std::vector<PolynomialVector> short_parts;
    short_parts.emplace_back(ctx(), 2, true, true);
    std::vector<PolynomialVector> low_parts;
    low_parts.emplace_back(ctx(), 3, true, true);
    low_parts[0].setLevel(1);

    const std::vector<Case> cases = {
        {"empty range", [&] { ip(chain(), none_const, one, one, up, up2); },
         kEmptyInnerProductMessage},
        {"levels", [&] { ip(chain(), one_const, one, one, up, low); },
         PrimeModuli::kDifferentLevelsMessage},
        {"mod-up", [&] { ip(chain(), one_const, one, one, up, plain); },
         PrimeModuli::kDifferentModUpMessage},
        {"devices", [&] { ip(chain(), one_const, cuda_keys, one, up, up2); },
         PrimeModuli::kDifferentDevicesMessage},
        {"device set", [&] { ip(chain(), host_one_terms, host_one_keys, host_one_keys, up, up2); },
         PrimeModuli::kUnsupportedDeviceMessage},
        {"accelerator", [&] { ip(device_chain, cuda_terms, cuda_keys, cuda_keys, up, up2); },
         unsupported("innerProductCUDA")},
        {"pinned", [&] { ip(device_chain, pinned_terms, pinned_keys, pinned_keys, up, up2); },
         unsupported("innerProduct")},
        {"shape", [&] { ip(chain(), one_const, one, one, up, wrong_size); },
         kInnerProductShapeMessage},
        {"term without temporary limbs", [&] { ip(chain(), plain_terms, one, one, up, up2); },
         kInnerProductTermMessage},
        {"multi-secret: output levels",
         [&] {
             chain().innerProductMSRLWE(makePolyIter(one_const.begin()),
                                        makePolyIter(one_const.end()), makePolyIter(one.begin()),
                                        makePolyIter(one.begin()), mixed, 1, 1);
         },
         "Polynomials have different levels"},
        {"multi-secret: empty",
         [&] {
             chain().innerProductMSRLWE(makePolyIter(none_const.begin()),
                                        makePolyIter(none_const.end()), makePolyIter(one.begin()),
                                        makePolyIter(one.begin()), out, 2, 1);
         },
         kEmptyInnerProductMessage},
        {"multi-secret: devices",
         [&] {
             chain().innerProductMSRLWE(
                 makePolyIter(one_const.begin()), makePolyIter(one_const.end()),
                 makePolyIter(cuda_keys.begin()), makePolyIter(one.begin()), out, 2, 1);
         },
         PrimeModuli::kDifferentDevicesMessage},
        {"multi-secret: accelerator",
         [&] {
             device_chain.innerProductMSRLWE(
                 makePolyIter(cuda_terms.begin()), makePolyIter(cuda_terms.end()),
                 makePolyIter(cuda_keys.begin()), makePolyIter(cuda_keys.begin()), out, 2, 1);
         },
         unsupported("innerProductCUDA")},
        {"multi-secret: pinned",
         [&] {
             device_chain.innerProductMSRLWE(
                 makePolyIter(pinned_terms.begin()), makePolyIter(pinned_terms.end()),
                 makePolyIter(pinned_keys.begin()), makePolyIter(pinned_keys.begin()), out, 2, 1);
         },
         unsupported("innerProductMSRLWE")},
        {"multi-secret: more terms than parts per secret",
         [&] {
             chain().innerProductMSRLWE(makePolyIter(one_const.begin()),
                                        makePolyIter(one_const.end()), makePolyIter(one.begin()),
                                        makePolyIter(one.begin()), out, 2, 0);
         },
         kInnerProductStrideMessage},
        {"multi-secret: too few outputs",
         [&] {
             chain().innerProductMSRLWE(makePolyIter(one_const.begin()),
                                        makePolyIter(one_const.end()), makePolyIter(one.begin()),
                                        makePolyIter(one.begin()), out, 3, 1);
         },
         kInnerProductShapeMessage},
        {"multi-secret: term without temporary limbs",
         [&] {
             chain().innerProductMSRLWE(makePolyIter(plain_terms.begin()),
                                        makePolyIter(plain_terms.end()), makePolyIter(one.begin()),
                                        makePolyIter(one.begin()), out, 0, 1);
         },
         kInnerProductTermMessage},
        {"v2: empty",
         [&] {
             chain().innerProductMSRLWEv2(makePolyIter(none_const.begin()),
                                          makePolyIter(none_const.end()),
                                          makeIxPolyIterBx(parts.begin()), out, 2);
         },
         kEmptyInnerProductMessage},
        {"v2: devices",
         [&] {
             chain().innerProductMSRLWEv2(makePolyIter(cuda_terms.begin()),
                                          makePolyIter(cuda_terms.end()),
                                          makeIxPolyIterBx(parts.begin()), out, 2);
         },
         PrimeModuli::kDifferentDevicesMessage},
        {"v2: pinned",
         [&] {
             std::vector<PolynomialVector> pinned_parts;
             pinned_parts.emplace_back(ctx(), 1, true, true);
             pinned_parts[0].getPoly(0).setData(DeviceSpecificArray<u64>(0, kPinned));
             device_chain.innerProductMSRLWEv2(makePolyIter(pinned_terms.begin()),
                                               makePolyIter(pinned_terms.end()),
                                               makeIxPolyIterBx(pinned_parts.begin()), out, 0);
         },
         unsupported("innerProductMSRLWEv2")},
        {"v2: part lacks a polynomial",
         [&] {
             chain().innerProductMSRLWEv2(makePolyIter(one_const.begin()),
                                          makePolyIter(one_const.end()),
                                          makeIxPolyIterBx(short_parts.begin()), out, 2);
         },
         kInnerProductTermMessage},
        {"v2: part below the output level",
         [&] {
             chain().innerProductMSRLWEv2(makePolyIter(one_const.begin()),
                                          makePolyIter(one_const.end()),
                                          makeIxPolyIterBx(low_parts.begin()), out, 2);
         },
         PrimeModuli::kDifferentLevelsMessage},
        {"frobenius: input below the output level",
         [&] {
             chain().frobeniusAndInnerProduct(makePolyIter(one_const.begin()),
                                              makePolyIter(one_const.end()), low_parts[0], out, 2,
                                              {5});
         },
         PrimeModuli::kDifferentLevelsMessage},
        {"v2: too few outputs",
         [&] {
             chain().innerProductMSRLWEv2(makePolyIter(one_const.begin()),
                                          makePolyIter(one_const.end()),
                                          makeIxPolyIterBx(parts.begin()), out, 3);
         },
         kInnerProductShapeMessage},
        {"frobenius: even exponent",
         [&] {
             chain().frobeniusAndInnerProduct(makePolyIter(one_const.begin()),
                                              makePolyIter(one_const.end()), parts[0], out, 2, {4});
         },
         kInnerProductExponentMessage},
        {"frobenius: no exponent",
         [&] {
             chain().frobeniusAndInnerProduct(makePolyIter(one_const.begin()),
                                              makePolyIter(one_const.end()), parts[0], out, 2, {});
         },
         kInnerProductExponentMessage},
        {"frobenius: input lacks a polynomial",
         [&] {
             chain().frobeniusAndInnerProduct(makePolyIter(one_const.begin()),
                                              makePolyIter(one_const.end()), short_parts[0], out, 2,
                                              {5});
         },
         kInnerProductTermMessage},
        {"frobenius: empty",
         [&] {
             chain().frobeniusAndInnerProduct(makePolyIter(none_const.begin()),
                                              makePolyIter(none_const.end()), parts[0], out, 2,
                                              {5});
         },
         kEmptyInnerProductMessage},
        {"frobenius: accelerator",
         [&] {
             PolynomialVector cuda_out(ctx(), 1, true, true);
             cuda_out.getPoly(0).setData(DeviceSpecificArray<u64>(0, kCuda));
             chain().frobeniusAndInnerProduct(makePolyIter(one_const.begin()),
                                              makePolyIter(one_const.end()), parts[0], cuda_out, 0,
                                              {5});
         },
         unsupported("frobeniusAndInnerProductCUDA")},
        {"frobenius: pinned",
         [&] {
             PolynomialVector pinned_out(ctx(), 1, true, true);
             pinned_out.getPoly(0).setData(DeviceSpecificArray<u64>(0, kPinned));
             chain().frobeniusAndInnerProduct(makePolyIter(one_const.begin()),
                                              makePolyIter(one_const.end()), parts[0], pinned_out,
                                              0, {5});
         },
         unsupported("frobeniusAndInnerProduct")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::expectThrowsMessage(c.run, c.message);
    }
    // Checks come before any change: the outputs keep their residues.
    Polynomial keep = filled(true, kL - 1, 7), other = filled(true, 1, 7);
    EXPECT_THROW(ip(chain(), one_const, one, one, keep, other), RuntimeException);
    EXPECT_EQ(limbOf(keep, 0), std::vector<u64>(kN, 7));
}

} // namespace
} // namespace Quelt
