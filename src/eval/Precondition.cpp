#include "eval/Precondition.hpp"

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"

namespace Quelt::utils {

namespace {

// The checks the three forms share, in their order: log slots, then (when
// the second operand has one) the rescale counter, then the device.
template <EncryptionType ET>
void checkSlotsCounterDevice(const CiphertextBase<ET> &ct, std::uint64_t log_slots,
                             const int *counter, const Device &device) {
    if (ct.getLogSlots() != log_slots)
        throw RuntimeException(kDifferentLogSlotsMessage);
    if (counter && ct.getRescaleCounter() != *counter)
        throw RuntimeException(kDifferentRescaleCounterMessage);
    if (ct.getDevice() != device)
        throw RuntimeException(kDifferentDevicesMessage);
}

} // namespace

template <EncryptionType ET>
void throwIfCoeff(const CiphertextBase<ET> &ct) {
    if (ct.getEncodingType() == EncodingType::COEFFICIENT)
        throw RuntimeException(kCoeffEncodedMessage);
}

template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b) {
    const int counter = b.getRescaleCounter();
    checkSlotsCounterDevice(a, b.getLogSlots(), &counter, b.getDevice());
    if (a.getEncodingType() != b.getEncodingType())
        throw RuntimeException(kDifferentEncodingMessage);
}

template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &ct, const Plaintext &ptxt) {
    const int counter = ptxt.getRescaleCounter();
    checkSlotsCounterDevice(ct, ptxt.getLogSlots(), &counter, ptxt.getDevice());
}

template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &ct, const Message &msg) {
    checkSlotsCounterDevice(ct, msg.getLogSlots(), nullptr, msg.getDevice());
}

template <EncryptionType ET>
void copyMetaData(const CiphertextBase<ET> &src, CiphertextBase<ET> &dst) {
    dst.setLogSlots(src.getLogSlots());
    dst.setRescaleCounter(src.getRescaleCounter());
    dst.setEncodingType(src.getEncodingType());
}

void throwIfNotLoaded(const std::shared_ptr<EvaluationKey> &key, const std::string &message) {
    if (!key)
        throw RuntimeException(message);
}

#define QUELT_INSTANTIATE_PRECONDITION(ET)                                                         \
    template void throwIfCoeff(const CiphertextBase<ET> &);                                        \
    template void checkPrecondition(const CiphertextBase<ET> &, const CiphertextBase<ET> &);       \
    template void checkPrecondition(const CiphertextBase<ET> &, const Plaintext &);                \
    template void checkPrecondition(const CiphertextBase<ET> &, const Message &);                  \
    template void copyMetaData(const CiphertextBase<ET> &, CiphertextBase<ET> &);

QUELT_INSTANTIATE_PRECONDITION(EncryptionType::MLWE)
QUELT_INSTANTIATE_PRECONDITION(EncryptionType::RLWE)
QUELT_INSTANTIATE_PRECONDITION(EncryptionType::MSRLWE)

#undef QUELT_INSTANTIATE_PRECONDITION

} // namespace Quelt::utils
