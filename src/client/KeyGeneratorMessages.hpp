#pragma once

// The messages of the key generator's checks (KeyGenerator and its
// implementation), kept out of the public header; the texts are part of the
// interface and are documented there with each member.

namespace Quelt::KeyGeneratorMessages {

inline constexpr const char *kKeyMismatch = "[KeyGenerator] context and secret key don't match";
inline constexpr const char *kPackMismatch = "[KeyGenerator] context and key pack don't match";
inline constexpr const char *kNoSparseSupport =
    "[KeyGenerator] context does not support sparse secret encapsulation";
inline constexpr const char *kSparseMismatch =
    "[KeyGenerator] parameter of context and context_sparse does not match";
inline constexpr const char *kNoDefaultKey =
    "[KeyGenerator] The KeyGenerator was constructed without a default secret key";
inline constexpr const char *kEncKeyMultiSecret =
    "[KeyGenerator] genEncKey for MSRLWE is not implemented yet";
inline constexpr const char *kMultKeyMultiSecret =
    "[KeyGenerator] genMultKey for MSRLWE is not implemented yet";
inline constexpr const char *kWrongRotationIndex = "Wrong rotation index";
inline constexpr const char *kSwitchKeyContext =
    "Two secret keys should be in the context of KeyGenerator.";

// Messages of the bundle generation, as the library has always worded
// them.
inline constexpr const char *kMultiSecretSwitchDegree =
    "[KeyGeneraotrImpl/genMultiSecretSwitchKeyBundle] The degree of input secret key isn't "
    "the same as  the degree of output secret key";
inline constexpr const char *kMultiSecretSwitchPrimes =
    "[genMultiSecretSwitchKeyBundle] Two contexts used to generate multi secret switch key "
    "bundle have distinct primes";
inline constexpr const char *kModPackTotalDimension =
    "[genModPackKeyBundle] Total dimension of output secret key is not equal to the RLWE "
    "encryption dimension";
inline constexpr const char *kModPackDegree =
    "[genModPackKeyBundle] The degree of input secret key does not divide the degree of "
    "output secret key";
inline constexpr const char *kModPackRank =
    "[genModPackKeyBundle] The rank of output secret key does not divide the rank of input "
    "secret key";
inline constexpr const char *kModPackKeyPrimes =
    "[genModPackKeyBundle] The encryption primes of the ciphertext to pack to is not subset "
    "of the primes of the switching key";
inline constexpr const char *kModPackOutputPrimes =
    "[genModPackKeyBundle] The encryption primes of the ciphertext to pack to is not subset "
    "of the primes of the output ciphertext";
inline constexpr const char *kIncreaseNSDegree =
    "[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The degree of input secret key isn't the same "
    "as  the degree of output secret key";
inline constexpr const char *kIncreaseNSDivide =
    "[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The NS of secret_from does not divide the NS "
    "of secret_to";
inline constexpr const char *kIncreaseNSChain =
    "[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The primes of secret_to's context are not "
    "those of the KeyGenerator's context";
inline constexpr const char *kIncreaseNSGadgetRank =
    "[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The gadget rank of secret_to's context is not "
    "that of the KeyGenerator's context";
inline constexpr const char *kMStoSSDegree =
    "[KeyGeneraotrImpl/genMStoSSKeyBundle] The degree of input secret key isn't the same as  "
    "divide the degree of output secret key";
inline constexpr const char *kMStoSSGadgetRank =
    "[KeyGeneraotrImpl/genMStoSSKeyBundle] The gadget rank of input secret key's context is "
    "not that of output secret key's context";
inline constexpr const char *kSStoMSDegree =
    "[KeyGeneraotrImpl/genSStoMSKeyBundle] The degree of input secret key isn't the same as  "
    "the degree of output secret key";
inline constexpr const char *kSStoMSGadgetRank =
    "[KeyGeneraotrImpl/genSStoMSKeyBundle] The gadget rank of input secret key's context is "
    "not that of output secret key's context";
inline constexpr const char *kNoSparseContext =
    "Key Generator is not constructed for the parameter supporting sparse secret encapsulation";
inline constexpr const char *kFuseNotSupported =
    "[genFuseRotKeyBundle] This parameter does not support fusing modRaise and modUp.";
inline constexpr const char *kFuseSecretCount =
    "[genFuseRotKeyBundle] The size of sx_vec should be the same as num_secret.";
inline constexpr const char *kFuseNoSecretKey =
    "[genFuseRotKeyBundle] The KeyGenerator was constructed without a secret key.";
inline constexpr const char *kFuseNoMultiSecretKey =
    "[genFuseRotKeyBundle] The KeyGenerator was constructed without an MSRLWE secret key.";
inline constexpr const char *kFuseNoSparseContext =
    "KeyGenerator was not constructed for the parameter supporting sparse secret "
    "encapsulation.";
inline constexpr const char *kComposeDegree =
    "[genComposeKey] The degree of input ciphertext does not divide the RLWE encryption degree";
inline constexpr const char *kComposeSubset =
    "[genComposeKey] The encryption primes of the ciphertext to switch from is not subset of "
    "the primes of the RLWE encryption";
inline constexpr const char *kDecomposeKeyDegree =
    "[genDecomposeKey] The degree of the switch key is not same to the RLWE encryption degree";
inline constexpr const char *kDecomposeDegree =
    "[genDecomposeKey] The degree of output ciphertexts does not divide the degree of "
    "ciphertext to switch to";
inline constexpr const char *kDecomposeSubset =
    "[genDecomposeKey] The encryption primes of the ciphertext to switch to is not subset of "
    "the primes of the RLWE encryption";
inline constexpr const char *kDecomposeKeySubset =
    "[genDecomposeKey] The encryption primes of the ciphertext to switch to is not subset of "
    "the primes of the switching key";
inline constexpr const char *kDecomposeKeySecrets =
    "[genDecomposeKey] The context of the switch key should have one secret";

} // namespace Quelt::KeyGeneratorMessages
