#include "Quelt/Context.hpp"

#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"
#include "keys/Serialize.hpp"

#include <cereal/archives/portable_binary.hpp>

namespace Quelt {

namespace {

// The record fields of the file, in file order.
struct ContextFileFields {
    std::uint32_t preset = 0;
    u64 log_degree = 0;
    u64 encryption_level = 0;
    u64 gadget_rank = 0;
    u64 log_bpsize = 0;
    u64 log_tpsize = 0;
    u64 log_qpsize = 0;
    u64 chain_length = 0;
    u64 rank = 0;
    u64 num_secret = 0;

    template <class Archive>
    void serialize(Archive &archive) {
        archive(preset, log_degree, encryption_level, gadget_rank, log_bpsize, log_tpsize,
                log_qpsize, chain_length, rank, num_secret);
    }
};

// The file keeps only the preset and sizes, so a preset context is rebuilt
// with the preset's own degree and transform type. A variant with a doubled
// degree or cyclic transforms would come back as a different ring.
void checkReproducible(const ContextContent &content) {
    const Parameter &parameter = content.getParameter();
    if (parameter.preset == ParameterPreset::CUSTOM)
        return;
    const Parameter rebuilt(parameter.preset);
    const NttType expected =
        rebuilt.re_remove_i ? NttType::NEGACYCLIC_SQUARE_4N : NttType::NEGACYCLIC;
    bool same = rebuilt.degree == parameter.degree;
    for (NttType type : content.getNttTypes())
        same = same && type == expected;
    if (!same)
        throw RuntimeException(
            "[saveContextToFile] A context with a doubled degree or cyclic transforms "
            "cannot be saved to a context file");
}

} // namespace

void saveContextToFile(const std::shared_ptr<ContextContent> &ctx, const std::string &path) {
    if (!ctx)
        throw RuntimeException(kNullContextMessage);
    checkReproducible(*ctx);
    const Parameter &parameter = ctx->getParameter();
    ContextFileFields fields;
    fields.preset = static_cast<std::uint32_t>(parameter.preset);
    fields.log_degree = parameter.log_degree;
    fields.encryption_level = parameter.encryption_level;
    fields.gadget_rank = parameter.gadget_rank;
    fields.log_bpsize = parameter.log_bpsize;
    fields.log_tpsize = parameter.log_tpsize;
    fields.log_qpsize = parameter.log_qpsize;
    fields.chain_length = parameter.chain_length;
    fields.rank = parameter.rank;
    fields.num_secret = parameter.num_secret;

    Serialize::save(path, fields);
}

std::shared_ptr<ContextContent> makeContextFromFile(const std::string &path,
                                                    const std::set<int> &cuda_ids) {
    ContextFileFields fields;
    Serialize::load(path, fields);
    const std::set<Device> devices = cudaIdsToDevices(cuda_ids);
    const auto preset = static_cast<ParameterPreset>(fields.preset);
    // The stored encryption level is not used: the custom record derives it.
    if (preset == ParameterPreset::CUSTOM)
        return std::make_shared<ContextContent>(
            fields.log_degree, fields.chain_length, fields.log_bpsize, fields.log_qpsize,
            fields.log_tpsize, fields.gadget_rank, fields.rank, fields.num_secret, devices);
    return std::make_shared<ContextContent>(preset, devices);
}

} // namespace Quelt
