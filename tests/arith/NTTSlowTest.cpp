#include "arith/NTT.hpp"
#include "arith/NTTKernels.hpp"

#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

// 1 modulo 2^18, so every transform type has its roots at N = 2^16.
constexpr u64 kPrime60 = 1152921504606584833ULL;
constexpr u64 kPrime62 = 4611686018425815041ULL;

constexpr u64 kDegree = u64{1} << 16;

// Runs one transform with the vector path switched off, then on; restores the
// switch as it was.
std::vector<u64> withPath(bool vector, std::vector<u64> values, void (*run)(const NTT &, u64 *),
                          const NTT &ntt) {
    const bool before = ntt_kernels::vectorPathEnabled();
    ntt_kernels::setVectorPathEnabled(vector);
    run(ntt, values.data());
    ntt_kernels::setVectorPathEnabled(before);
    return values;
}

struct Transform {
    const char *name;
    u64 input_bound; // in multiples of p
    void (*run)(const NTT &, u64 *);
};

const Transform kTransforms[] = {
    {"forward K = 1", 4, [](const NTT &t, u64 *a) { t.computeForward<1>(a); }},
    {"forward K = 2", 4, [](const NTT &t, u64 *a) { t.computeForward<2>(a); }},
    {"forward K = 4", 4, [](const NTT &t, u64 *a) { t.computeForward<4>(a); }},
    {"backward K = 1", 2, [](const NTT &t, u64 *a) { t.computeBackward<1>(a); }},
    {"backward K = 2", 2, [](const NTT &t, u64 *a) { t.computeBackward<2>(a); }},
};

} // namespace

TEST(NTTSlowTest, VectorPathMatchesScalarWordForWordAtDegree2To16) {
    if (!ntt_kernels::vectorPathAvailable())
        GTEST_SKIP() << "no vector path on this processor";
    std::mt19937_64 rng(16);
    for (NttType type :
         {NttType::NEGACYCLIC, NttType::NEGACYCLIC_SQUARE_4N, NttType::CONJUGATE_INVARIANT}) {
        for (u64 p : {kPrime60, kPrime62}) {
            const NTT ntt(kDegree, p, type);
            for (const Transform &t : kTransforms) {
                const std::vector<u64> input = randomResidues(kDegree, t.input_bound * p, rng);
                EXPECT_EQ(withPath(false, input, t.run, ntt), withPath(true, input, t.run, ntt))
                    << t.name << ", type " << static_cast<int>(type) << ", p = " << p;
            }
        }
    }
}
