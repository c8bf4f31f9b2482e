#include "Quelt/Context.hpp"

#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"

namespace Quelt {

namespace {

const ContextContent &contentOf(const std::shared_ptr<ContextContent> &ctx) {
    if (!ctx)
        throw RuntimeException(kNullContextMessage);
    return *ctx;
}

const Parameter &parameterOf(const std::shared_ptr<ContextContent> &ctx) {
    return contentOf(ctx).getParameter();
}

} // namespace

std::shared_ptr<ContextContent> makeContext(const ParameterPreset &preset,
                                            const std::set<int> &cuda_ids) {
    return std::make_shared<ContextContent>(preset, cudaIdsToDevices(cuda_ids));
}

std::shared_ptr<ContextContent> makeContext(const ParameterPreset &preset, const std::string &name,
                                            u64 num_secret, bool cyclic_ntt, bool double_degree,
                                            const std::set<int> &cuda_ids) {
    return std::make_shared<ContextContent>(preset, name, num_secret, cyclic_ntt, double_degree,
                                            cudaIdsToDevices(cuda_ids));
}

std::shared_ptr<ContextContent> makeContext(u64 log_degree, u64 chain_length, u64 log_bpsize,
                                            u64 log_qpsize, u64 log_tpsize, u64 gadget_rank,
                                            u64 rank, u64 num_secret,
                                            const std::set<int> &cuda_ids) {
    return std::make_shared<ContextContent>(log_degree, chain_length, log_bpsize, log_qpsize,
                                            log_tpsize, gadget_rank, rank, num_secret,
                                            cudaIdsToDevices(cuda_ids));
}

std::shared_ptr<ContextContent> makeContext(u64 log_degree, u64 chain_length, u64 log_bpsize,
                                            u64 log_qpsize, u64 log_tpsize, u64 gadget_rank,
                                            u64 rank, const std::set<int> &cuda_ids) {
    return makeContext(log_degree, chain_length, log_bpsize, log_qpsize, log_tpsize, gadget_rank,
                       rank, 1, cuda_ids);
}

std::shared_ptr<ContextContent> makeContext(u64 log_degree, u64 chain_length, u64 log_bpsize,
                                            u64 log_qpsize, u64 log_tpsize, u64 gadget_rank,
                                            const std::set<int> &cuda_ids) {
    return makeContext(log_degree, chain_length, log_bpsize, log_qpsize, log_tpsize, gadget_rank, 1,
                       1, cuda_ids);
}

std::shared_ptr<ContextContent> genMultiSecretContext(const std::shared_ptr<ContextContent> &ctx,
                                                      const std::string &name, u64 num_secret) {
    return contentOf(ctx).genMultiSecretContext(name, num_secret);
}

std::vector<std::shared_ptr<ContextContent>>
genMultiSecretContextVector(const std::shared_ptr<ContextContent> &ctx, u64 n,
                            const std::string &suffix) {
    const ContextContent &content = contentOf(ctx);
    // 2^n secrets must fit the 64-bit count.
    if (n > 63)
        throw RuntimeException("[genMultiSecretContextVector] The number of contexts is too large");
    std::vector<std::shared_ptr<ContextContent>> contexts;
    contexts.reserve(n);
    for (u64 i = 1; i <= n; ++i) {
        const u64 num_secret = u64{1} << i;
        contexts.push_back(content.genMultiSecretContext(
            content.getParameter().name + "NS" + std::to_string(num_secret) + suffix, num_secret));
    }
    return contexts;
}

u64 getLogFullSlots(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).log_degree - 1;
}
u64 getDegree(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).degree; }
u64 getRank(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).rank; }
u64 getNumSecret(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).num_secret; }
u64 getLength(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).chain_length; }
u64 getNumTP(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).num_tp; }
u64 getGadgetRank(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).gadget_rank;
}
u64 getEncryptionLevel(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).encryption_level;
}
u64 getRemoveIBeginLevel(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).remove_i_begin_level;
}
u64 getRemoveIEndLevel(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).remove_i_end_level;
}
u64 getGapLevel(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).gap_level; }
u64 getHammingWeight(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).hamming_weight;
}
SecurityLevel getSecurityLevel(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).security_level;
}
ParameterPreset getParameterPreset(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).preset;
}
std::string getParameterName(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).name;
}

std::vector<u64> getPrimeList(const std::shared_ptr<ContextContent> &ctx) {
    const ContextContent &content = contentOf(ctx);
    std::vector<u64> primes = content.getPrimeValues();
    const u64 count = content.getParameter().chain_length + content.getParameter().num_tp;
    if (primes.size() > count)
        primes.resize(count);
    return primes;
}

std::vector<double> getDefaultScaleFactorList(const std::shared_ptr<ContextContent> &ctx) {
    const ContextContent &content = contentOf(ctx);
    const u64 length = content.getParameter().chain_length;
    std::vector<double> factors;
    factors.reserve(length);
    for (u64 level = 0; level < length; ++level)
        factors.push_back(content.getScaleFactors().getScaleFactor(level));
    return factors;
}

u64 getPow(const std::shared_ptr<ContextContent> &ctx, u64 index) {
    const ContextContent &content = contentOf(ctx);
    const auto &powers = content.getFFT().getPowers().at(kHostDevice);
    if (index >= powers.size())
        throw RuntimeException("[getPow] The index is outside the table of powers");
    return powers[index];
}

bool isBootstrappableParameter(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).bootstrappable;
}
bool isExtendedBootstrapSupported(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).extended_bootstrap;
}
bool isSparseSecretEncapsulationSupported(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).sparse_secret_encapsulation;
}
bool isDoubleHoistingSupported(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).double_hoisting;
}
bool isFuseModRaiseSupported(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).fuse_mod_raise;
}
bool isCoeffBoot(const std::shared_ptr<ContextContent> &ctx) { return parameterOf(ctx).coeff_boot; }
bool isReRemoveI(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).re_remove_i;
}
bool isOutsourcedBootstrapSupported(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).outsourced_bootstrap;
}
bool isFullPackedBaseModulus(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).full_packed_base_modulus;
}
bool isAutomaticGapResolve(const std::shared_ptr<ContextContent> &ctx) {
    return parameterOf(ctx).automatic_gap_resolve;
}

std::set<std::int64_t> getRotIndicesForBootstrap(const std::shared_ptr<ContextContent> &ctx,
                                                 u64 log_slots, bool min_key,
                                                 bool skip_slot_to_coeff) {
    return contentOf(ctx).getRotIndicesForBootstrap(log_slots, min_key, skip_slot_to_coeff);
}

std::set<std::int64_t> getRotIndicesForBootstrap(const std::shared_ptr<ContextContent> &ctx,
                                                 const std::vector<u64> &log_dft_sizes,
                                                 bool min_key) {
    return contentOf(ctx).getRotIndicesForBootstrap(log_dft_sizes, min_key);
}

} // namespace Quelt
