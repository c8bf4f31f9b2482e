#include "lwe/LWEContext.hpp"

#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/WordArith.hpp"
#include "keys/Serialize.hpp"

#include <cereal/archives/portable_binary.hpp>

namespace Quelt::LWE {

namespace {

const ContextContent &contentOf(const std::shared_ptr<ContextContent> &ctx) {
    return *checkedContext(ctx);
}

// The record fields of the LWE context file, in file order.
struct LWEContextFileFields {
    std::uint32_t preset = 0;
    u64 dimension = 0;
    u64 base_bits = 0;
    u64 quantize_bits = 0;
    u64 chain_length = 0;

    template <class Archive>
    void serialize(Archive &archive) {
        archive(preset, dimension, base_bits, quantize_bits, chain_length);
    }
};

} // namespace

ContextContent::ContextContent(const ParameterPreset &preset, const std::set<Device> &devices)
    : devices_(devices), parameter_(preset),
      prime_moduli_(preset, PrimeModuli::getPrimeList(preset).size(), parameter_.dimension,
                    devices_),
      scale_factors_(preset),
      hash_(utils::computeContextHash(getPrimeValues(), parameter_.dimension)) {}

ContextContent::ContextContent(u64 dimension, u64 chain_length, u64 base_bits, u64 quantize_bits,
                               const std::set<Device> &devices)
    : devices_(devices), parameter_(dimension, chain_length, base_bits, quantize_bits),
      prime_moduli_(dimension, chain_length, base_bits, quantize_bits, devices_),
      scale_factors_(parameter_, prime_moduli_),
      hash_(utils::computeContextHash(getPrimeValues(), parameter_.dimension)) {}

std::vector<u64> ContextContent::getPrimeValues() const {
    std::vector<u64> values;
    for (const auto &modulus : prime_moduli_.getModuli())
        values.push_back(modulus.getPrime());
    return values;
}

bool ContextContent::operator==(const ContextContent &other) const {
    const Parameter &a = parameter_;
    const Parameter &b = other.parameter_;
    if (a.preset != ParameterPreset::CUSTOM)
        return a.preset == b.preset;
    return b.preset == ParameterPreset::CUSTOM && a.dimension == b.dimension &&
           a.base_bits == b.base_bits && a.quantize_bits == b.quantize_bits;
}

const std::shared_ptr<ContextContent> &checkedContext(const std::shared_ptr<ContextContent> &ctx) {
    if (!ctx)
        throw RuntimeException(kNullContextMessage);
    return ctx;
}

std::shared_ptr<ContextContent> makeContext(const ParameterPreset &preset,
                                            const std::set<int> &cuda_ids) {
    return std::make_shared<ContextContent>(preset, cudaIdsToDevices(cuda_ids));
}

std::shared_ptr<ContextContent> makeContext(u64 dimension, u64 chain_length, u64 base_bits,
                                            u64 quantize_bits, const std::set<int> &cuda_ids) {
    return std::make_shared<ContextContent>(dimension, chain_length, base_bits, quantize_bits,
                                            cudaIdsToDevices(cuda_ids));
}

u64 getDimension(const std::shared_ptr<ContextContent> &ctx) {
    return contentOf(ctx).getParameter().dimension;
}

u64 getEncryptionLevel(const std::shared_ptr<ContextContent> &ctx) {
    return contentOf(ctx).getParameter().chain_length - 1;
}

SecurityLevel getSecurityLevel(const std::shared_ptr<ContextContent> &ctx) {
    return contentOf(ctx).getParameter().security_level;
}

std::vector<u64> getPrimeList(const std::shared_ptr<ContextContent> &ctx) {
    const ContextContent &content = contentOf(ctx);
    std::vector<u64> primes = content.getPrimeValues();
    if (primes.size() > content.getParameter().chain_length)
        primes.resize(content.getParameter().chain_length);
    return primes;
}

std::vector<double> getDefaultScaleFactorList(const std::shared_ptr<ContextContent> &ctx) {
    const ContextContent &content = contentOf(ctx);
    std::vector<double> factors;
    for (u64 level = 0; level < content.getParameter().chain_length; ++level)
        factors.push_back(content.getScaleFactors().getScaleFactor(level));
    return factors;
}

void saveContextToFile(const std::shared_ptr<ContextContent> &ctx, const std::string &path) {
    const Parameter &parameter = contentOf(ctx).getParameter();
    LWEContextFileFields fields;
    fields.preset = static_cast<std::uint32_t>(parameter.preset);
    fields.dimension = parameter.dimension;
    fields.base_bits = parameter.base_bits;
    fields.quantize_bits = parameter.quantize_bits;
    fields.chain_length = parameter.chain_length;

    Serialize::save(path, fields);
}

std::shared_ptr<ContextContent> makeContextFromFile(const std::string &path,
                                                    const std::set<int> &cuda_ids) {
    LWEContextFileFields fields;
    Serialize::load(path, fields);
    const std::set<Device> devices = cudaIdsToDevices(cuda_ids);
    const auto preset = static_cast<ParameterPreset>(fields.preset);
    if (preset == ParameterPreset::CUSTOM)
        return std::make_shared<ContextContent>(fields.dimension, fields.chain_length,
                                                fields.base_bits, fields.quantize_bits, devices);
    return std::make_shared<ContextContent>(preset, devices);
}

} // namespace Quelt::LWE
