// The device rules every chain operation shares, on a chain built for an
// accelerator {1, 0}, pinned memory {3, 0} and a second host id {0, 1}.

#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "support/ExpectThrow.hpp"

#include <functional>
#include <string>

namespace Quelt::test {
namespace {

const Device kCuda{1, 0};
const Device kPinned{3, 0};
const Device kHostOne{0, 1}; // host memory, listed in the chain's device set
const Device kHostTwo{0, 2}; // host memory, not listed

std::string unsupported(const std::string &name) {
    return "Cannot support the function '" + name + "' in the current build configuration";
}

class FrameTest : public PrimeModuliFixture {
public:
    using PrimeModuliFixture::ctx;

    static const PrimeModuli &deviceChain() {
        static const PrimeModuli chain(6, 3, 40, 40, 40, 3, {kCuda, kPinned, kHostOne});
        return chain;
    }

    // A polynomial whose storage lives on the device: empty on devices
    // without host memory, a full copy of random residues otherwise.
    Polynomial on(const Device &device, u64 level = 2, bool mod_up = false, bool ntt = true) {
        Polynomial p = randomPoly(level, mod_up, ntt);
        if (device.type == Device::kHost) {
            DeviceSpecificArray<u64> moved(p.getData().size(), device);
            std::copy(p.getData().getData(), p.getData().getData() + p.getData().size(),
                      moved.getData());
            p.setData(std::move(moved));
        } else {
            p.setData(DeviceSpecificArray<u64>(0, device));
        }
        return p;
    }

    static LevelledElement elementOn(const Device &device, u64 level = 2) {
        LevelledElement e(1, ctx(), false, level);
        DeviceSpecificArray<u64> moved(device.type == Device::kHost ? e.getData().size() : 0,
                                       device);
        std::copy(e.getData().getData(), e.getData().getData() + moved.size(), moved.getData());
        e.getData() = std::move(moved);
        return e;
    }
};

// One operation: run it with its first operand on device `d` and the
// others on `e`.
struct Case {
    const char *name;
    const char *twin; // message name for type 1
    const char *own;  // message name for other accelerator types
    bool common;      // check 1: operands must share one device
    bool in_set;      // check 2: a non-default device must be in the set
    std::function<void(FrameTest &, const PrimeModuli &, const Device &, const Device &)> run;
};

TEST_F(FrameTest, ChecksAndTwinNamesPerOperation) {
    using F = FrameTest;
    using PM = PrimeModuli;
    const std::vector<Case> cases = {
        {"add", "addCUDA", "add", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o = f.on(d);
             c.add(a, b, o);
         }},
        {"add<V>", "addCUDA", "add", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o = f.on(e);
             c.add(a, b, o, OutputModulusBoundValidator(0, 3));
         }},
        {"sub", "subCUDA", "sub", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o = f.on(d);
             c.sub(a, b, o);
         }},
        {"negate", "negateCUDA", "negate", false, true,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d), o = f.on(d);
             c.negate(a, o);
         }},
        {"hadamardMult", "mulVectorCUDA", "hadamardMult", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o = f.on(d);
             c.hadamardMult(a, b, o);
         }},
        {"hadamardMultTwo", "mulVectorCUDA", "hadamardMultTwo", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), v = f.on(e), o1 = f.on(d), o2 = f.on(d);
             c.hadamardMultTwo(a, b, v, o1, o2);
         }},
        {"hadamardMultAndAdd", "mulAddVectorCUDA", "hadamardMultAndAdd", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o = f.on(e);
             c.hadamardMultAndAdd(a, b, o);
         }},
        {"hadamardMultTwoAndAdd", "hadamardMultTwoAndAdd", "hadamardMultTwoAndAdd", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), v = f.on(e), o1 = f.on(e), o2 = f.on(e);
             c.hadamardMultTwoAndAdd(a, b, v, o1, o2);
         }},
        {"hadamardMultModUp", "mulVectorCUDA", "hadamardMultModUp", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d, 2, true), b = f.on(e, 2, true), o = f.on(d, 2, true);
             c.hadamardMultModUp(a, b, o);
         }},
        {"tensor", "tensorCUDA", "tensor", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), x = f.on(e), y = f.on(e), o1 = f.on(d),
                        o2 = f.on(d), o3 = f.on(d);
             c.tensor(a, b, x, y, o1, o2, o3);
         }},
        {"isZero", "isZeroCUDA", "isZero", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d);
             (void)c.isZero(a);
         }},
        {"constAdd", "constAddBatchCUDA", "constAdd", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d), o = f.on(d);
             c.constAdd(a, F::elementOn(kHostDevice), o);
         }},
        {"constAdd complex", "computeConstantCoefficients", "computeConstantCoefficients", true,
         true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(kHostDevice), o = f.on(kHostDevice);
             c.constAdd(a, F::elementOn(d), F::elementOn(e), o);
         }},
        {"constMult levelled", "constMultBatchCUDA", "constMult", false, true,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d), o = f.on(d);
             c.constMult(a, F::elementOn(kHostDevice), o);
         }},
        {"constMult word", "constMultBatchCUDA", "constMult", false, true,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d), o = f.on(d);
             c.constMult(a, u64{3}, o);
         }},
        {"constMult<V>", "constMultBatchCUDA", "constMult", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), o = f.on(e);
             const std::vector<u64> k(4, 1);
             c.constMult<AlwaysValidator, false>(a, k.data(), o, {});
         }},
        {"constMultTwo", "constMultTwoBatchCUDA", "constMultTwo", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o1 = f.on(d), o2 = f.on(d);
             c.constMultTwo(a, b, u64{3}, o1, o2);
         }},
        {"subAndConstMult", "subAndConstMultCUDA", "subAndConstMult", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d), b = f.on(e), o = f.on(d);
             const std::vector<u64> k(4, 1);
             c.subAndConstMult(a, b, k.data(), o);
         }},
        {"forwardNTT", "execNttBatch", "forwardNTT", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d, 2, false, false);
             c.forwardNTT<AlwaysValidator, 1>(a, a, {});
         }},
        {"backwardNTT", "execiNttBatch", "backwardNTT", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d);
             c.backwardNTT<AlwaysValidator, 1>(a, a, {});
         }},
        {"forwardNTTWithSubAndConstMult", "execNttBatchWithSubAndConstMult",
         "forwardNTTWithSubAndConstMult", true, true,
         [](F &f, const PM &c, const Device &d, const Device &e) {
             Polynomial a = f.on(d, 1, false, false), b = f.on(e, 1);
             const std::vector<u64> k(4, 1);
             c.forwardNTTWithSubAndConstMult<OutputModulusBoundValidator, 1>(a, b, k.data(), a,
                                                                             {0, 2});
         }},
        {"rescale", "rescaleCUDA", "rescale", false, true,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d);
             c.rescale(a);
         }},
        {"normalizeMod", "normalizeModCUDA", "normalizeMod", false, true,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d), o = f.on(d);
             c.normalizeMod(o, a, 2, 1);
         }},
        {"frobeniusMapInNTT", "frobeniusMapInNTTCUDA", "frobeniusMapInNTT", false, true,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d), o = f.on(d);
             c.frobeniusMapInNTT<false>(a, 5, o);
         }},
        {"multMonomial", "multMonomialCUDA", "multMonomial", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d, 2, false, false), o = f.on(d);
             c.multMonomial(a, o, 3);
         }},
        {"discretize", "discretizeCUDA", "discretize", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d, 0, false, false);
             c.discretize(a, F::ctx(), 4);
         }},
        {"baseModulusSwitch", "baseModulusSwitchCUDA", "baseModulusSwitch", false, false,
         [](F &f, const PM &c, const Device &d, const Device &) {
             Polynomial a = f.on(d, 0, false, false), o = f.on(d, 0, false, false);
             c.baseModulusSwitch(a, 8, 16, o);
         }},
        {"add levelled", "addCUDA", "add", true, true,
         [](F &, const PM &c, const Device &d, const Device &e) {
             LevelledElement o(F::ctx(), false);
             c.add(F::elementOn(d), F::elementOn(e), o);
         }},
        {"mult levelled", "multCUDA", "mult", true, true,
         [](F &, const PM &c, const Device &d, const Device &e) {
             LevelledElement o(F::ctx(), false);
             c.mult(F::elementOn(d), F::elementOn(e), o);
         }},
        {"rescale levelled", "rescaleCUDA", "rescale", false, false,
         [](F &, const PM &c, const Device &d, const Device &) {
             LevelledElement a = F::elementOn(d);
             c.rescale(a);
         }},
    };

    const PrimeModuli &chain = deviceChain();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto message_of = [&](const Device &d, const Device &e) {
            return thrownMessage([&] { c.run(*this, chain, d, e); });
        };
        EXPECT_EQ(message_of(kCuda, kCuda), unsupported(c.twin));
        EXPECT_EQ(message_of(kPinned, kPinned), unsupported(c.own));
        // A listed host id runs the host code.
        EXPECT_EQ(message_of(kHostOne, kHostOne), "");
        if (c.in_set) {
            EXPECT_EQ(message_of(kHostTwo, kHostTwo), PrimeModuli::kUnsupportedDeviceMessage);
            // The context's own chain lists no other device.
            expectThrowsMessage(
                [&] { c.run(*this, PrimeModuliFixture::chain(), kHostOne, kHostOne); },
                PrimeModuli::kUnsupportedDeviceMessage);
        }
        if (c.common) {
            EXPECT_EQ(message_of(kHostOne, kHostDevice), PrimeModuli::kDifferentDevicesMessage);
        }
    }
}

TEST_F(FrameTest, ModUpStatesAreCheckedAfterDevices) {
    Polynomial a = on(kHostOne, 2, true), b = on(kHostDevice, 2, false), o = on(kHostOne);
    expectThrowsMessage([&] { deviceChain().add(a, b, o); }, PrimeModuli::kDifferentDevicesMessage);
    Polynomial c = on(kHostOne, 2, false);
    expectThrowsMessage([&] { deviceChain().add(a, c, o); }, PrimeModuli::kDifferentModUpMessage);
}

TEST_F(FrameTest, ShapesThatDoNotFitTheChainAreRefused) {
    // A polynomial whose array is shorter than its level claims.
    Polynomial a = randomPoly(2);
    a.getData().resize(2 * kN);
    Polynomial o(ctx(), false, false);
    expectThrowsMessage([&] { chain().add(a, a, o); }, PrimeModuli::kShapeMismatchMessage);
    // A polynomial of another degree.
    const auto big = makeContext(7, 3, 40, 40, 40, 3);
    Polynomial other(big, false, false);
    EXPECT_THROW(chain().negate(other, o), RuntimeException);
    EXPECT_THROW(chain().isZero(other), RuntimeException);
}

TEST_F(FrameTest, EveryAcceleratorEntryThrowsItsName) {
    const PrimeModuli &c = chain();
    const std::vector<std::pair<std::string, std::function<void()>>> entries = {
        {"execNttBatch", [&] { c.execNttBatch(); }},
        {"convertNttBatch", [&] { c.convertNttBatch(); }},
        {"execiNttBatch", [&] { c.execiNttBatch(); }},
        {"discretizeCUDA", [&] { c.discretizeCUDA(); }},
        {"baseModulusSwitchCUDA", [&] { c.baseModulusSwitchCUDA(); }},
        {"negateCUDA", [&] { c.negateCUDA(); }},
        {"addCUDA", [&] { c.addCUDA(); }},
        {"subCUDA", [&] { c.subCUDA(); }},
        {"multCUDA", [&] { c.multCUDA(); }},
        {"constMultCUDA", [&] { c.constMultCUDA(); }},
        {"rescaleCUDA", [&] { c.rescaleCUDA(); }},
        {"innerProductCUDA", [&] { c.innerProductCUDA(); }},
        {"mulVectorCUDA", [&] { c.mulVectorCUDA(); }},
        {"mulAddVectorCUDA", [&] { c.mulAddVectorCUDA(); }},
        {"tensorCUDA", [&] { c.tensorCUDA(); }},
        {"constMultBatchCUDA", [&] { c.constMultBatchCUDA(); }},
        {"subAndConstMultCUDA", [&] { c.subAndConstMultCUDA(); }},
        {"constMultTwoBatchCUDA", [&] { c.constMultTwoBatchCUDA(); }},
        {"normalizeModCUDA", [&] { c.normalizeModCUDA(); }},
        {"embeddingToNCUDA", [&] { c.embeddingToNCUDA(); }},
        {"isZeroCUDA", [&] { c.isZeroCUDA(); }},
        {"multMonomialCUDA", [&] { c.multMonomialCUDA(); }},
        {"multMonomialBatchCUDA", [&] { c.multMonomialBatchCUDA(); }},
        {"conjugateInvertCUDA", [&] { c.conjugateInvertCUDA(); }},
        {"conjugateInvertBatchCUDA", [&] { c.conjugateInvertBatchCUDA(); }},
        {"frobeniusAndInnerProductCUDA", [&] { c.frobeniusAndInnerProductCUDA(); }},
        {"rotMulAddCUDA", [&] { c.rotMulAddCUDA(); }},
        {"modReductCUDA", [&] { c.modReductCUDA(); }},
        {"embedPolynomialCUDA", [&] { c.embedPolynomialCUDA(); }},
    };
    for (const auto &[name, call] : entries) {
        expectThrowsMessage([&] { call(); }, unsupported(name));
    }
}

} // namespace
} // namespace Quelt::test
