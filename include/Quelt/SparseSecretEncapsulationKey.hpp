#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/EvaluationKey.hpp"

#include <iosfwd>
#include <memory>
#include <string>

namespace Quelt {

// The pair of switching keys of sparse-secret encapsulation between a context
// and its sparse companion: the DTS part (type 's') over the sparse context
// and the STD part (type 's') over the main context, each with the gadget
// rank of its own context. Not copyable.
class SparseSecretEncapsulationKey {
public:
    // Builds the DTS part over `sparseContext` first, then the STD part over
    // `context`, as EvaluationKey(context, 's', 0, 0) does; throws what that
    // constructor throws.
    SparseSecretEncapsulationKey(const std::shared_ptr<ContextContent> &context,
                                 const std::shared_ptr<ContextContent> &sparseContext);
    // Two keys without a context, to receive a load.
    SparseSecretEncapsulationKey();
    ~SparseSecretEncapsulationKey();

    SparseSecretEncapsulationKey(const SparseSecretEncapsulationKey &) = delete;
    SparseSecretEncapsulationKey &operator=(const SparseSecretEncapsulationKey &) = delete;

    EvaluationKey &getDTSPart() { return dts_part_; }
    const EvaluationKey &getDTSPart() const { return dts_part_; }
    EvaluationKey &getSTDPart() { return std_part_; }
    const EvaluationKey &getSTDPart() const { return std_part_; }

    // copyTo (removeExcept) of the DTS part, then of the STD part; throws as
    // EvaluationKey::copyTo.
    void copyTo(const Device &device);
    void removeExcept(const Device &device);

    // The record, after the byte-order byte: the evaluation-key record of the
    // DTS part, then that of the STD part.
    void save(cereal::PortableBinaryOutputArchive &archive) const;
    // Reads both records, each checked as EvaluationKey::load checks it
    // against its own part, and installs them only when both are valid: a
    // failure in either leaves both parts unchanged.
    void load(cereal::PortableBinaryInputArchive &archive);

private:
    EvaluationKey dts_part_;
    EvaluationKey std_part_;
};

// A new key as the two-context constructor makes it.
std::unique_ptr<SparseSecretEncapsulationKey>
makeEmptySparseSecretEncapsulationKey(const std::shared_ptr<ContextContent> &context,
                                      const std::shared_ptr<ContextContent> &sparseContext);

// The byte-order byte and the record on a stream; loads behave as
// SparseSecretEncapsulationKey::load.
void save(const SparseSecretEncapsulationKey &key, std::ostream &stream);
void load(SparseSecretEncapsulationKey &key, std::istream &stream);

namespace Serialize {
// The same on a stream or a file. The path forms throw RuntimeException
// "Cannot open file <path>" when the file cannot be opened.
void save(std::ostream &stream, const SparseSecretEncapsulationKey &key);
void save(const std::string &path, const SparseSecretEncapsulationKey &key);
void load(std::istream &stream, SparseSecretEncapsulationKey &key);
void load(const std::string &path, SparseSecretEncapsulationKey &key);
} // namespace Serialize

} // namespace Quelt
