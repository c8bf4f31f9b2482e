#pragma once

#include "Quelt/EvaluationKey.hpp"
#include "context/Polynomial.hpp"
#include "keys/Serialize.hpp"

#include <cereal/archives/portable_binary.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt::detail {

// One evaluation-key record read in full and checked, not yet installed.
struct EvaluationKeyRecord {
    std::uint64_t hash = 0;
    char type = 0;
    std::uint64_t aux = 0;
    std::vector<Polynomial> bx;
    std::vector<Polynomial> ax;
};

// What the key objects built on EvaluationKey (the encapsulation key, the
// ring switch key) use of it beyond its interface: a load in two steps, so
// that several records can be read before any of them is installed, and the
// per-device lists.
struct EvaluationKeyAccess {
    // Reads and checks one record against the key, as EvaluationKey::load
    // does, without changing the key.
    static EvaluationKeyRecord read(const EvaluationKey &key,
                                    cereal::PortableBinaryInputArchive &archive);
    // The same against a context given here (none: the context-free checks),
    // comparing the stored hash with the context's only with compareHash.
    // A stored hash other than the context's (with compareHash), or a type
    // other than `type` (when not 0), throws RuntimeException `mismatch` as
    // soon as they are read.
    static EvaluationKeyRecord read(cereal::PortableBinaryInputArchive &archive,
                                    const std::shared_ptr<ContextContent> &context,
                                    bool compareHash,
                                    const char *mismatch = Verifier::kValidationFailed,
                                    char type = 0);
    // Regenerates the seeded polynomials of a record read with their
    // regeneration deferred. Without a context (contextBound false) the
    // seeded ones may not outweigh the stored ones (EvaluationKey::kLoadSeeded
    // otherwise, nothing allocated).
    static void regenerateSeeded(EvaluationKeyRecord &record, bool contextBound);
    // Installs a record read for this key: hash, type, aux, dnum and the host
    // lists; every other device's entry is dropped.
    static void install(EvaluationKey &key, EvaluationKeyRecord &&record);
    // The same for a record read against `context`, whose gadget rank gives
    // the dnum (the mask count when below it, else 0); the key's own context
    // is not changed.
    static void install(EvaluationKey &key, EvaluationKeyRecord &&record,
                        const std::shared_ptr<ContextContent> &context);

    // The count rule of an evaluation key of `context` (S secrets, gadget
    // rank D): 1 to D masks (all D when S > 1) and masks x S bodies. Its load
    // checks the stored counts through here.
    static bool countsFit(std::uint64_t bodies, std::uint64_t masks,
                          const std::shared_ptr<ContextContent> &context);
    // The one validation of a key against a context, for the operations that
    // take one: the key was made for the context (same identity hash), its
    // host lists satisfy countsFit, and every polynomial is a mod-up NTT
    // polynomial of the context's degree and prime layout whose array holds
    // all its limbs.
    static bool fits(const EvaluationKey &key, const std::shared_ptr<ContextContent> &context);

    // The mask (body) list held for a device; std::out_of_range "map::at"
    // when absent.
    static std::vector<Polynomial> &ax(EvaluationKey &key, const Device &device) {
        return key.ax_.at(device);
    }
    static std::vector<Polynomial> &bx(EvaluationKey &key, const Device &device) {
        return key.bx_.at(device);
    }
    static const std::vector<Polynomial> &ax(const EvaluationKey &key, const Device &device) {
        return key.ax_.at(device);
    }
    static const std::vector<Polynomial> &bx(const EvaluationKey &key, const Device &device) {
        return key.bx_.at(device);
    }
};

} // namespace Quelt::detail
