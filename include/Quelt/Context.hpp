#pragma once

#include "Quelt/ParameterPreset.hpp"
#include "Quelt/SecurityLevel.hpp"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Quelt {

// The immutable description of one parameter set: ring degree, prime chain with
// one transform per prime, default scale of every level, slot FFT and the
// identity hash that binds saved objects to it. Always held through
// std::shared_ptr and made by the factories below.
class ContextContent;

// Every factory takes the ids of the accelerators the context should serve; the
// host is always served. An id that is negative or not below the number of
// accelerators throws RuntimeException "Invalid CUDA device ID: <id>" (in a
// host-only build every id is rejected). The messages of the parameter record,
// the prime chain, the scale factors and the FFT pass through unchanged.

// The context of a named preset. CUSTOM throws "Need to specify some parameters
// in order to use CUSTOM parameters."; an unknown value throws "The input
// parameter preset is not yet supported.".
std::shared_ptr<ContextContent> makeContext(const ParameterPreset &preset,
                                            const std::set<int> &cuda_ids = {});

// A multi-secret variant of a preset: the preset's primes under a new name and
// number of secrets. `cyclic_ntt` gives every prime the conjugate-invariant
// transform; `double_degree` serves the ring of twice the preset's degree.
std::shared_ptr<ContextContent> makeContext(const ParameterPreset &preset, const std::string &name,
                                            std::uint64_t num_secret, bool cyclic_ntt,
                                            bool double_degree, const std::set<int> &cuda_ids = {});

// A CUSTOM context whose primes are searched from the bit sizes of the base,
// quantize and temporary primes. Throws the parameter record's messages
// ("[Parameter] Invalid log_degree", ...) and the prime search's messages.
std::shared_ptr<ContextContent> makeContext(std::uint64_t log_degree, std::uint64_t chain_length,
                                            std::uint64_t log_bpsize, std::uint64_t log_qpsize,
                                            std::uint64_t log_tpsize, std::uint64_t gadget_rank,
                                            std::uint64_t rank, std::uint64_t num_secret,
                                            const std::set<int> &cuda_ids = {});
// The same with one secret.
std::shared_ptr<ContextContent> makeContext(std::uint64_t log_degree, std::uint64_t chain_length,
                                            std::uint64_t log_bpsize, std::uint64_t log_qpsize,
                                            std::uint64_t log_tpsize, std::uint64_t gadget_rank,
                                            std::uint64_t rank, const std::set<int> &cuda_ids = {});
// The same with rank 1 and one secret.
std::shared_ptr<ContextContent> makeContext(std::uint64_t log_degree, std::uint64_t chain_length,
                                            std::uint64_t log_bpsize, std::uint64_t log_qpsize,
                                            std::uint64_t log_tpsize, std::uint64_t gadget_rank,
                                            const std::set<int> &cuda_ids = {});

// A copy of the context under a new name and number of secrets: same preset,
// flags, degree, primes, scale factors, devices and identity hash.
std::shared_ptr<ContextContent> genMultiSecretContext(const std::shared_ptr<ContextContent> &ctx,
                                                      const std::string &name,
                                                      std::uint64_t num_secret);

// n multi-secret copies with 2, 4, ..., 2^n secrets, named
// <name>NS<2^i><suffix>. n = 0 gives an empty vector; n above 63 throws.
std::vector<std::shared_ptr<ContextContent>>
genMultiSecretContextVector(const std::shared_ptr<ContextContent> &ctx, std::uint64_t n,
                            const std::string &suffix);

// Writes the preset and nine sizes of the context's record (77 bytes). Throws
// RuntimeException "Cannot open file <path>" when the file cannot be opened,
// and refuses (before opening the file) a context whose ring or transforms the
// file cannot reproduce: a double-degree or cyclic-transform variant.
void saveContextToFile(const std::shared_ptr<ContextContent> &ctx, const std::string &path);

// Rebuilds a context from a file written by saveContextToFile, on either byte
// order. A preset file rebuilds the preset's context (name, number of secrets
// and the two switches of a multi-secret variant are not restored); a CUSTOM
// file rebuilds the custom context from its sizes. Throws "Cannot open file
// <path>", the serialisation library's exception on a short file, and the
// constructors' messages on a stored preset or sizes out of range.
std::shared_ptr<ContextContent> makeContextFromFile(const std::string &path,
                                                    const std::set<int> &cuda_ids = {});

// Getters. Every one throws RuntimeException "[Context] The context is null"
// on an empty pointer.
std::uint64_t getLogFullSlots(const std::shared_ptr<ContextContent> &ctx); // log_degree - 1
std::uint64_t getDegree(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getRank(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getNumSecret(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getLength(const std::shared_ptr<ContextContent> &ctx); // chain_length
std::uint64_t getNumTP(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getGadgetRank(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getEncryptionLevel(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getRemoveIBeginLevel(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getRemoveIEndLevel(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getGapLevel(const std::shared_ptr<ContextContent> &ctx);
std::uint64_t getHammingWeight(const std::shared_ptr<ContextContent> &ctx);
SecurityLevel getSecurityLevel(const std::shared_ptr<ContextContent> &ctx);
ParameterPreset getParameterPreset(const std::shared_ptr<ContextContent> &ctx);
std::string getParameterName(const std::shared_ptr<ContextContent> &ctx);
// The values of the chain_length + num_tp primes in chain order: base,
// quantize, then temporary primes.
std::vector<std::uint64_t> getPrimeList(const std::shared_ptr<ContextContent> &ctx);
// log2 of the default scale of levels 0 to chain_length - 1. Throws
// "[ScaleFactors] The scale factor for given level is not valid" when one of
// these levels has no valid default.
std::vector<double> getDefaultScaleFactorList(const std::shared_ptr<ContextContent> &ctx);
// 5^index mod 2N. Throws RuntimeException for an index not below N/2.
std::uint64_t getPow(const std::shared_ptr<ContextContent> &ctx, std::uint64_t index);

// Feature predicates of the context's record.
bool isBootstrappableParameter(const std::shared_ptr<ContextContent> &ctx);
bool isExtendedBootstrapSupported(const std::shared_ptr<ContextContent> &ctx);
bool isSparseSecretEncapsulationSupported(const std::shared_ptr<ContextContent> &ctx);
bool isDoubleHoistingSupported(const std::shared_ptr<ContextContent> &ctx);
bool isFuseModRaiseSupported(const std::shared_ptr<ContextContent> &ctx);
bool isCoeffBoot(const std::shared_ptr<ContextContent> &ctx);
bool isReRemoveI(const std::shared_ptr<ContextContent> &ctx);
bool isOutsourcedBootstrapSupported(const std::shared_ptr<ContextContent> &ctx);
bool isFullPackedBaseModulus(const std::shared_ptr<ContextContent> &ctx);
bool isAutomaticGapResolve(const std::shared_ptr<ContextContent> &ctx);

// The rotation amounts whose keys a bootstrap of 2^log_slots slots needs: the
// SlotToCoeff steps (unless skipped), the CoeffToSlot steps (unless the
// context outsources them) and the rotations that fold sparse slots. Throws
// "The parameter dose not support bootstrap." for a context that is not
// bootstrappable and "Currently, FuseModRaise is only supported for degree
// 2^16" for a fused context of another degree; a log_slots above 20 throws the
// radix decomposition's message.
std::set<std::int64_t> getRotIndicesForBootstrap(const std::shared_ptr<ContextContent> &ctx,
                                                 std::uint64_t log_slots, bool min_key,
                                                 bool skip_slot_to_coeff);

// The rotation amounts of the radix steps given by running totals of their
// log-radices ({6, 9, 12, 15} are the steps {6, 3, 3, 3}). The list must be
// non-empty and strictly increasing, else RuntimeException; the context is not
// consulted.
std::set<std::int64_t> getRotIndicesForBootstrap(const std::shared_ptr<ContextContent> &ctx,
                                                 const std::vector<std::uint64_t> &log_dft_sizes,
                                                 bool min_key);

} // namespace Quelt
