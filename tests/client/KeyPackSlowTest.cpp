#include "Quelt/KeyPack.hpp"

#include "Quelt/Context.hpp"
#include "client/KeyPackImpl.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

// The sparse-secret pair exists only at degree 2^16: FGbSSE and its sparse
// companion SGb0.

using namespace Quelt;
using test::expectThrowsMessage;
using test::implOf;
using test::KeyDirectory;
using test::storedForm;

namespace {

const std::shared_ptr<ContextContent> &mainContext() {
    static const auto context = makeContext(ParameterPreset::FGbSSE);
    return context;
}
const std::shared_ptr<ContextContent> &sparseContext() {
    static const auto context = makeContext(ParameterPreset::SGb0);
    return context;
}

} // namespace

TEST(KeyPackSparseTest, ConstructorChecks) {
    EXPECT_NO_THROW(KeyPack(mainContext(), sparseContext()));
    expectThrowsMessage(
        [] {
            KeyPack{mainContext(), mainContext()};
        },
        "[KeyPack] parameter of context and context_sparse does not match");
    expectThrowsMessage(
        [] {
            KeyPack{sparseContext(), sparseContext()};
        },
        "[KeyPack] context does not support sparse secret encapsulation");
    KeyDirectory dir("keypack_sparse_ctor");
    EXPECT_NO_THROW(KeyPack(mainContext(), sparseContext(), dir.dir()));
    expectThrowsMessage(
        [&] {
            KeyPack{mainContext(), mainContext(), dir.dir()};
        },
        "[KeyPack] parameter of context and context_sparse does not match");
    expectThrowsMessage(
        [&] {
            KeyPack{mainContext(), mainContext(), dir.dir() + "/none"};
        },
        "Cannot find path " + dir.dir() + "/none");
}

// N = 2^16: 32768 slots.
TEST(KeyPackSparseTest, IndicesAtTheFullDegree) {
    const KeyPack pack(mainContext());
    EXPECT_EQ(implOf(pack).getNumSlots(), 32768u);
    implOf(pack).tryEmplaceRotKey(0, makeEmptyRotKey(mainContext(), 0, 0));
    implOf(pack).tryEmplaceRotKey(1, makeEmptyRotKey(mainContext(), 1, 0));
    EXPECT_TRUE(pack.isLeftRotKeyLoaded(32769, 0));
    EXPECT_TRUE(pack.isRightRotKeyLoaded(32767, 0));
    EXPECT_TRUE(pack.isRightRotKeyLoaded(0, 0));
    EXPECT_TRUE(pack.isLeftRotKeyLoaded(32768, 0));
    EXPECT_FALSE(pack.isRightRotKeyLoaded(1, 0));
}

// One encapsulation key through the key directory: saved, read on first
// use, and refused when its sparse part was stored for the main context.
TEST(KeyPackSparseTest, EncapsulationKeyThroughTheKeyDirectory) {
    KeyDirectory dir("keypack_sparse_sse");
    std::string stored;
    {
        const KeyPack writer(mainContext(), sparseContext());
        auto key = makeEmptySparseSecretEncapsulationKey(mainContext(), sparseContext());
        test::fillKey(key->getDTSPart(), 1, true);
        test::fillKey(key->getSTDPart(), 2, true);
        stored = storedForm(*key);
        implOf(writer).installSparseSecretEncapsulationKey(std::move(key));
        writer.save(dir.dir());
        EXPECT_EQ(dir.keyFiles(), std::vector<std::string>{"SparseSecretEncapsulationKey.bin"});
    }
    const KeyPack reader(mainContext(), sparseContext(), dir.dir());
    const auto loaded = reader.getSparseSecretEncapsulationKey();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->getDTSPart().getContext(), sparseContext());
    EXPECT_EQ(storedForm(*loaded), stored);
    EXPECT_EQ(reader.getSparseSecretEncapsulationKey(), loaded);

    // Refused from a stream and from the directory: the sparse part stored
    // for the main context, or of another kind than 's' (the type letter
    // follows the object code and the hash).
    std::string otherKind = stored;
    otherKind[13] = 'm';
    for (const std::string &bytes : {test::withHash(stored, mainContext()->getHash()), otherKind}) {
        KeyPack refusing(mainContext(), sparseContext());
        std::istringstream in(bytes);
        expectThrowsMessage([&] { refusing.loadSparseSecretEncapsulationKey(in); },
                            "[Verifier::load] Validation failed during deserializing objects.");
        EXPECT_FALSE(refusing.isSparseSecretEncapsulationKeyLoaded());

        KeyDirectory refusedDir("keypack_sparse_refused");
        refusedDir.writeKeyFile("SparseSecretEncapsulationKey.bin", bytes);
        const KeyPack onDir(mainContext(), sparseContext(), refusedDir.dir());
        expectThrowsMessage([&] { onDir.getSparseSecretEncapsulationKey(); },
                            "[Verifier::load] Validation failed during deserializing objects.");
        EXPECT_FALSE(onDir.isSparseSecretEncapsulationKeyLoaded());
    }
}
