// Encrypt, operate, decrypt: every ciphertext operation without keys against
// the same arithmetic on the messages, for the three encryption types. The
// ring and module tables run through the public evaluator, the multi-secret
// table through the implementation (the public evaluator offers only a few
// multi-secret forms).

#include "Quelt/HomEvaluator.hpp"

#include "Quelt/EnDecoder.hpp"
#include "Quelt/Plaintext.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace Quelt::test {
namespace {

using C = std::complex<double>;

// The implementation under the public evaluator's names, for the
// multi-secret table: the sums are its own, the products with constants and
// the levels those of its parts.
class ImplementationOperations {
public:
    explicit ImplementationOperations(const std::shared_ptr<ContextContent> &ctx) : impl_(ctx) {}
    template <typename... Args>
    void add(Args &&...args) const {
        impl_.add(args...);
    }
    template <typename... Args>
    void sub(Args &&...args) const {
        impl_.sub(args...);
    }
    template <typename... Args>
    void multInteger(Args &&...args) const {
        impl_.constants().multInteger(args...);
    }
    template <typename... Args>
    void multImagUnit(Args &&...args) const {
        impl_.constants().multImagUnit(args...);
    }
    template <typename... Args>
    void mult(Args &&...args) const {
        impl_.constants().mult(args...);
    }
    template <typename... Args>
    void multWithoutRescale(Args &&...args) const {
        impl_.constants().multWithoutRescale(args...);
    }
    template <typename... Args>
    void rescale(Args &&...args) const {
        impl_.levels().rescale(args...);
    }
    template <typename... Args>
    void levelDown(Args &&...args) const {
        impl_.levels().levelDown(args...);
    }
    template <typename... Args>
    void levelDownOne(Args &&...args) const {
        impl_.levels().levelDownOne(args...);
    }

private:
    HomEvaluatorImpl impl_;
};

template <EncryptionType ET>
using EvaluatorFor =
    std::conditional_t<ET == EncryptionType::MSRLWE, ImplementationOperations, HomEvaluator>;

// x and y encrypted at the top level, y also at the lower level; a message m
// (shared by the secrets) and its plaintexts at both levels.
template <EncryptionType ET>
struct Operands {
    u64 top, low;
    Messages x, y;
    Message m;
    CiphertextBase<ET> x_top, y_top, y_low;
    Plaintext m_top, m_low;
};

using SlotFunction = std::function<C(C x, C y, C m)>;

template <EncryptionType ET>
struct Row {
    std::string name;
    std::function<void(const EvaluatorFor<ET> &, const Operands<ET> &, CiphertextBase<ET> &)> run;
    SlotFunction slot;
    // The result's level: the top or the lower level, minus the levels used.
    bool at_low;
    u64 levels_used;
};

template <EncryptionType ET>
using Ev = EvaluatorFor<ET>;
template <EncryptionType ET>
using Ops = Operands<ET>;
template <EncryptionType ET>
using Ct = CiphertextBase<ET>;

template <EncryptionType ET>
std::vector<Row<ET>> rowsFor(u64 low) {
    std::vector<Row<ET>> rows = {
        {"ct + ct",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.x_top, o.y_top, out); },
         [](C x, C y, C) { return x + y; }, false, 0},
        {"ct - ct",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.x_top, o.y_top, out); },
         [](C x, C y, C) { return x - y; }, false, 0},
        {"ct + lower ct",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.x_top, o.y_low, out); },
         [](C x, C y, C) { return x + y; }, true, 0},
        {"lower ct + ct",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.y_low, o.x_top, out); },
         [](C x, C y, C) { return y + x; }, true, 0},
        {"ct - lower ct",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.x_top, o.y_low, out); },
         [](C x, C y, C) { return x - y; }, true, 0},
        {"lower ct - ct",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.y_low, o.x_top, out); },
         [](C x, C y, C) { return y - x; }, true, 0},
        {"multInteger 1",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.multInteger(o.x_top, 1, out); },
         [](C x, C, C) { return x; }, false, 0},
        {"multInteger -1",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.multInteger(o.x_top, -1, out); },
         [](C x, C, C) { return -x; }, false, 0},
        {"multInteger -5",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.multInteger(o.x_top, -5, out); },
         [](C x, C, C) { return -5.0 * x; }, false, 0},
        {"multInteger 0",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.multInteger(o.x_top, 0, out); },
         [](C, C, C) { return C(0.0); }, false, 0},
        {"multInteger 7",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.multInteger(o.x_top, 7, out); },
         [](C x, C, C) { return 7.0 * x; }, false, 0},
        {"multImagUnit",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.multImagUnit(o.x_top, out); },
         [](C x, C, C) { return C(0.0, 1.0) * x; }, false, 0},
        {"mult by message",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.mult(o.x_top, o.m, out); },
         [](C x, C, C m) { return x * m; }, false, 1},
        {"mult by plaintext",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.mult(o.x_top, o.m_top, out); },
         [](C x, C, C m) { return x * m; }, false, 1},
        {"multWithoutRescale by plaintext, rescale",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) {
             e.multWithoutRescale(o.x_top, o.m_top, out);
             EXPECT_EQ(out.getRescaleCounter(), 1);
             e.rescale(out);
         },
         [](C x, C, C m) { return x * m; }, false, 1},
        {"multWithoutRescale by -0.75+0.5i, rescale",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) {
             e.multWithoutRescale(o.x_top, C(-0.75, 0.5), out);
             EXPECT_EQ(out.getRescaleCounter(), 1);
             e.rescale(out);
         },
         [](C x, C, C) { return C(-0.75, 0.5) * x; }, false, 1},
        {"levelDown to the lower level",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.levelDown(o.x_top, o.low, out); },
         [](C x, C, C) { return x; }, true, 0},
        {"levelDownOne",
         [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.levelDownOne(o.x_top, out); },
         [](C x, C, C) { return x; }, false, 1},
    };
    // mult needs a plaintext level other than 0.
    if (low > 0)
        rows.push_back(
            {"mult by plaintext at the lower level",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.mult(o.x_top, o.m_low, out); },
             [](C x, C, C m) { return x * m; }, false, 1});
    if constexpr (ET != EncryptionType::MSRLWE) {
        const auto addConstant = [](C c) {
            return Row<ET>{
                "+ " + std::to_string(c.real()) + "+" + std::to_string(c.imag()) + "i",
                [c](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.x_top, c, out); },
                [c](C x, C, C) { return x + c; }, false, 0};
        };
        const auto subConstant = [](C c) {
            return Row<ET>{
                "- " + std::to_string(c.real()) + "+" + std::to_string(c.imag()) + "i",
                [c](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.x_top, c, out); },
                [c](C x, C, C) { return x - c; }, false, 0};
        };
        const auto multConstant = [](C c, u64 levels) {
            return Row<ET>{
                "x " + std::to_string(c.real()) + "+" + std::to_string(c.imag()) + "i",
                [c](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.mult(o.x_top, c, out); },
                [c](C x, C, C) { return x * c; }, false, levels};
        };
        for (const C c : {C(2.5), C(-1.5, 0.75)}) {
            rows.push_back(addConstant(c));
            rows.push_back(subConstant(c));
        }
        rows.push_back(multConstant(C(3.0), 0));
        rows.push_back(multConstant(C(2.5), 1));
        rows.push_back(multConstant(C(-2.0, 1.0), 0));
        rows.push_back(multConstant(C(1.000000001), 0));
        rows.push_back(multConstant(C(1.00001), 1));
        rows.push_back(multConstant(C(0.0), 0));
        const std::vector<Row<ET>> plain = {
            {"+ message",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.x_top, o.m, out); },
             [](C x, C, C m) { return x + m; }, false, 0},
            {"- message",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.x_top, o.m, out); },
             [](C x, C, C m) { return x - m; }, false, 0},
            {"+ plaintext",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.x_top, o.m_top, out); },
             [](C x, C, C m) { return x + m; }, false, 0},
            {"- plaintext",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.x_top, o.m_top, out); },
             [](C x, C, C m) { return x - m; }, false, 0},
            {"+ plaintext at the lower level",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.add(o.x_top, o.m_low, out); },
             [](C x, C, C m) { return x + m; }, false, 0},
            {"- plaintext at the lower level",
             [](const Ev<ET> &e, const Ops<ET> &o, Ct<ET> &out) { e.sub(o.x_top, o.m_low, out); },
             [](C x, C, C m) { return x - m; }, false, 0},
        };
        rows.insert(rows.end(), plain.begin(), plain.end());
    }
    return rows;
}

// Runs every row on fresh encryptions at `top` and `low` (top >= 1) and
// compares the decryption of each secret with the message arithmetic; bound
// is the largest slot error allowed (messages and constants below 3 in
// magnitude, so products stay below 10).
template <EncryptionType ET>
void runTable(const std::shared_ptr<ContextContent> &ctx, u64 top, u64 low, double bound) {
    reseed();
    const SchemeKeys<ET> keys(ctx);
    // Built from the context alone: an empty key pack serves every operation
    // here.
    const EvaluatorFor<ET> evaluator(ctx);
    const EnDecoder encoder(ctx);
    std::mt19937_64 rng(2024);
    const u64 log_slots = getLogFullSlots(ctx);
    Messages x = randomMessages(log_slots, keys.secrets(), rng);
    Messages y = randomMessages(log_slots, keys.secrets(), rng);
    const Message m = randomMessages(log_slots, 1, rng).front();
    const Operands<ET> ops{top,
                           low,
                           x,
                           y,
                           m,
                           keys.encrypt(x, top),
                           keys.encrypt(y, top),
                           keys.encrypt(y, low),
                           encoder.encode(m, top, 0),
                           encoder.encode(m, low, 0)};
    for (const Row<ET> &row : rowsFor<ET>(low)) {
        SCOPED_TRACE(row.name);
        Ct<ET> out(ctx, false, true);
        row.run(evaluator, ops, out);
        EXPECT_EQ(out.getLevel(), (row.at_low ? low : top) - row.levels_used);
        EXPECT_EQ(out.getRescaleCounter(), 0);
        EXPECT_EQ(out.getLogSlots(), log_slots);
        EXPECT_EQ(out.getEncodingType(), EncodingType::SLOT);
        EXPECT_EQ(out.getNumPoly(), ops.x_top.getNumPoly());
        Messages want(x);
        for (u64 k = 0; k < keys.secrets(); ++k)
            for (u64 j = 0; j < want[k].getSize(); ++j)
                want[k][j] = row.slot(x[k][j], y[k][j], m[j]);
        EXPECT_LE(largestSlotError(keys.decrypt(out), want), bound);
    }
}

// The error bound: fresh encryptions carry an error of about 21 sqrt(N) /
// 2^sf per slot (2^sf >= 2^40 in every context here, N <= 2^12); products with
// constants below 3 and one rescale keep every row below 2e-9, and 1e-7
// leaves a margin of fifty.
constexpr double kBound = 1e-7;

TEST(HomEvaluatorArithTest, RingCustomDegreeTen) {
    runTable<EncryptionType::RLWE>(degreeTenContext(), 3, 1, kBound);
}

TEST(HomEvaluatorArithTest, RingFX) { runTable<EncryptionType::RLWE>(fxContext(), 12, 9, kBound); }

TEST(HomEvaluatorArithTest, ModuleSD3D6R2) {
    runTable<EncryptionType::MLWE>(rankFourContext(), 3, 1, kBound);
}

TEST(HomEvaluatorArithTest, MultiSecretCustomFourSecrets) {
    runTable<EncryptionType::MSRLWE>(QueltTest::multiSecretContext(), 3, 1, kBound);
}

TEST(HomEvaluatorArithTest, MultiSecretFGbD12NS2L1) {
    static const auto ctx = makeContext(ParameterPreset::FGbD12NS2L1);
    runTable<EncryptionType::MSRLWE>(ctx, 1, 0, kBound);
}

} // namespace
} // namespace Quelt::test
