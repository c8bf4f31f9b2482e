#include "Quelt/EnDecoder.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/FFT.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "client/EncodeChecks.hpp"
#include "client/ExtendedEncoding.hpp"
#include "context/ContextContent.hpp"
#include "context/PlaintextImpl.hpp"
#include "context/Polynomial.hpp"
#include "context/ScaleFactors.hpp"
#include "foundation/WordArith.hpp"

#include <bit>
#include <cmath>
#include <complex>

namespace Quelt {

namespace {

constexpr const char *kEmptyMessage = "[encode] Cannot encode a message of size 0";
constexpr const char *kSizeNotPowerOfTwo = detail::kEncodeSizeNotPowerOfTwoMessage;
constexpr const char *kSizeTooLarge = "[encode] Message size is too large.";
constexpr const char *kSizeBelowTwo = detail::kEncodeSizeBelowTwoMessage;
constexpr const char *kDecodeLogSlots =
    "[decode] The log slot count of the plaintext is larger than the ring allows";

// Checks 1 and 2 of slot encoding.
void checkSlotCount(u64 size) {
    if (size == 0)
        throw RuntimeException(kEmptyMessage);
    if (!std::has_single_bit(size))
        throw RuntimeException(kSizeNotPowerOfTwo);
}

// Check 4 of slot encoding: at most N/2 slots (size a power of two).
void checkSlotCapacity(u64 size, u64 degree) {
    if (2 * size > degree)
        throw RuntimeException(kSizeTooLarge);
}

// The size checks of coefficient encoding after the empty case.
void checkRealCount(u64 size, u64 degree) {
    if (size < 2)
        throw RuntimeException(kSizeBelowTwo);
    if (size > degree)
        throw RuntimeException(kSizeTooLarge);
}

// Levels of the explicit-scale and custom-level forms: anything the chain
// holds a prime for. Levels from L on are only meant for mod-up polynomials,
// whose level the polynomial itself then refuses.
void checkCustomLevel(const std::shared_ptr<ContextContent> &context, u64 level) {
    detail::checkEncodeLevel(level, getLength(context) + getNumTP(context));
}

// The checks of the explicit-scale and custom-level slot forms: checks 1, 2
// and 4 of slot encoding, then the level.
void checkCustomSlotForm(const std::shared_ptr<ContextContent> &context, u64 size, u64 level) {
    checkSlotCount(size);
    checkSlotCapacity(size, getDegree(context));
    checkCustomLevel(context, level);
}

double scaleOf(const ContextContent &context, u64 index) {
    return std::pow(2.0, context.getScaleFactors().getScaleFactor(index));
}

// A plaintext of the context at `level` with log slot count `logSlots`, its
// storage on `device`; the residues are not initialised.
Plaintext makePlaintext(const std::shared_ptr<ContextContent> &context, u64 level, u64 logSlots,
                        const Device &device, bool modUp = false) {
    Plaintext plaintext(context, modUp);
    plaintext.setLogSlots(logSlots);
    plaintext.setLevel(level);
    plaintext.allocate(device);
    return plaintext;
}

// The slot layout of `message` times `scale` into the plaintext's polynomial
// (extended: also its temporary limbs), each limb i times factors[i] when
// given. The transform runs on a copy: the caller's message is not changed.
void embedSlots(const ContextContent &context, const Message &message, double scale,
                Plaintext &plaintext, bool extended, const u64 *factors = nullptr) {
    Message slots(message);
    context.getFFT().backwardFFT(slots);
    context.getPrimeModuli().embeddingToN(slots, scale, plaintext.getMx(), extended, factors);
}

// Forward transform of the limbs a plaintext uses.
void transformForward(const ContextContent &context, Plaintext &plaintext) {
    Polynomial &mx = plaintext.getMx();
    const PrimeModuli &chain = context.getPrimeModuli();
    if (mx.isModUp())
        chain.forwardNTT<ModUpOutputModulusBoundEvalValidator, 1>(
            mx, mx, {mx.getLevel(), mx.getChainLength()});
    else
        chain.forwardNTT<AlwaysValidator, 1>(mx, mx, {});
}

// Number of values a plaintext decodes to, 2 * 2^(log slots), at most N.
u64 decodedCount(const Plaintext &plaintext, u64 degree) {
    const u64 logSlots = plaintext.getLogSlots();
    if (logSlots >= 63 || (u64{2} << logSlots) > degree)
        throw RuntimeException(kDecodeLogSlots);
    return u64{2} << logSlots;
}

} // namespace

EnDecoder::EnDecoder(const std::shared_ptr<ContextContent> &context) : context_(context) {
    if (!context_)
        throw RuntimeException(kNullContextMessage);
}

// ---------------------------------------------------------------------------
// Slot encoding
// ---------------------------------------------------------------------------

Plaintext EnDecoder::encodeWithoutNTT(const Message &message, u64 level, int rescaleCounter) const {
    const u64 size = message.getSize();
    checkSlotCount(size);
    detail::checkEncodeLevel(level, getLength(context_));
    checkSlotCapacity(size, getDegree(context_));
    detail::checkEncodeRescaleCounter(rescaleCounter, level);

    Plaintext plaintext =
        makePlaintext(context_, level, message.getLogSlots(), message.getDevice());
    plaintext.setRescaleCounter(rescaleCounter);
    const u64 counter = static_cast<u64>(rescaleCounter);
    const double scale = scaleOf(*context_, level - counter);
    if (counter == 0) {
        embedSlots(*context_, message, scale, plaintext, false);
    } else {
        const std::vector<u64> factors =
            context_->getPrimeModuli().topPrimeProducts(level, counter);
        embedSlots(*context_, message, scale, plaintext, false, factors.data());
    }
    return plaintext;
}

Plaintext EnDecoder::encode(const Message &message, u64 level, int rescaleCounter) const {
    Plaintext plaintext = encodeWithoutNTT(message, level, rescaleCounter);
    transformForward(*context_, plaintext);
    return plaintext;
}

Plaintext EnDecoder::encode(const Message &message) const {
    return encode(message, getEncryptionLevel(context_), 0);
}

Plaintext EnDecoder::encodeWithScale(const Message &message, u64 level, double scale,
                                     bool ntt) const {
    checkCustomSlotForm(context_, message.getSize(), level);

    Plaintext plaintext =
        makePlaintext(context_, level, message.getLogSlots(), message.getDevice());
    embedSlots(*context_, message, scale, plaintext, false);
    if (ntt)
        transformForward(*context_, plaintext);
    return plaintext;
}

Plaintext detail::encodeExtendedWithScale(const std::shared_ptr<ContextContent> &context,
                                          const Message &message, u64 level, double scale) {
    checkCustomSlotForm(context, message.getSize(), level);

    Plaintext plaintext =
        makePlaintext(context, level, message.getLogSlots(), message.getDevice(), true);
    embedSlots(*context, message, scale, plaintext, true);
    transformForward(*context, plaintext);
    return plaintext;
}

Plaintext EnDecoder::encodeWithoutNTTCustomLevel(const Message &message, u64 level, u64 scaleIndex,
                                                 bool modUp) const {
    checkCustomSlotForm(context_, message.getSize(), level);

    Plaintext plaintext =
        makePlaintext(context_, level, message.getLogSlots(), message.getDevice(), modUp);
    embedSlots(*context_, message, scaleOf(*context_, scaleIndex), plaintext, modUp);
    return plaintext;
}

Plaintext EnDecoder::encodeCustomLevel(const Message &message, u64 level, u64 scaleIndex,
                                       bool modUp) const {
    Plaintext plaintext = encodeWithoutNTTCustomLevel(message, level, scaleIndex, modUp);
    transformForward(*context_, plaintext);
    return plaintext;
}

std::vector<Plaintext> EnDecoder::encode(const std::vector<Message> &messages, u64 level,
                                         int rescaleCounter) const {
    std::vector<Plaintext> plaintexts;
    plaintexts.reserve(messages.size());
    for (const Message &message : messages)
        plaintexts.push_back(encode(message, level, rescaleCounter));
    return plaintexts;
}

std::vector<Plaintext> EnDecoder::encode(const std::vector<Message> &messages) const {
    return encode(messages, getEncryptionLevel(context_), 0);
}

std::vector<Plaintext> EnDecoder::encodeCustomLevel(const std::vector<Message> &messages, u64 level,
                                                    u64 scaleIndex, bool modUp) const {
    std::vector<Plaintext> plaintexts;
    plaintexts.reserve(messages.size());
    for (const Message &message : messages)
        plaintexts.push_back(encodeCustomLevel(message, level, scaleIndex, modUp));
    return plaintexts;
}

// ---------------------------------------------------------------------------
// Coefficient encoding
// ---------------------------------------------------------------------------

Plaintext EnDecoder::encodeWithoutNTT(const std::vector<double> &values, u64 level,
                                      int rescaleCounter) const {
    const u64 size = values.size();
    detail::checkEncodeLevel(level, getLength(context_));
    checkRealCount(size, getDegree(context_));
    detail::checkEncodeRescaleCounter(rescaleCounter, level);

    // log2(m) - 1 for m >= 2; a size that does not divide N is refused by
    // the embedding below.
    Plaintext plaintext = makePlaintext(context_, level, std::bit_width(size) - 2, kHostDevice);
    plaintext.setRescaleCounter(rescaleCounter);
    const u64 counter = static_cast<u64>(rescaleCounter);
    const double scale = scaleOf(*context_, level - counter);
    const PrimeModuli &chain = context_->getPrimeModuli();
    if (counter == 0) {
        chain.embeddingToN(values.data(), size, scale, plaintext.getMx());
    } else {
        const std::vector<u64> factors = chain.topPrimeProducts(level, counter);
        chain.embeddingToN(values.data(), size, scale, plaintext.getMx(), factors.data());
    }
    return plaintext;
}

Plaintext EnDecoder::encodeWithScale(const std::vector<double> &values, u64 level, double scale,
                                     bool ntt) const {
    const u64 size = values.size();
    if (size == 0)
        throw RuntimeException(kEmptyMessage);
    checkRealCount(size, getDegree(context_));
    checkCustomLevel(context_, level);

    Plaintext plaintext = makePlaintext(context_, level, std::bit_width(size) - 2, kHostDevice);
    context_->getPrimeModuli().embeddingToN(values.data(), size, scale, plaintext.getMx());
    if (ntt)
        transformForward(*context_, plaintext);
    return plaintext;
}

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

std::vector<double> EnDecoder::decodeWithoutFFT(const Plaintext &plaintext) const {
    const u64 degree = getDegree(context_);
    const u64 count = decodedCount(plaintext, degree);
    const u64 level = plaintext.getLevel();
    const int rescaleCounter = plaintext.getRescaleCounter();
    // The counter is only checked when it is set; a later change of the
    // level can leave it above the level.
    if (static_cast<u64>(rescaleCounter) > level)
        throw RuntimeException(PlaintextImpl::kRescaleCounterAboveLevel);
    const u64 counter = static_cast<u64>(rescaleCounter);
    const double inverseScale =
        std::pow(2.0, -context_->getScaleFactors().getScaleFactor(level - counter));

    const PrimeModuli &chain = context_->getPrimeModuli();
    std::vector<double> values(count);
    if (counter == 0) {
        chain.liftToReal(plaintext.getMx(), count, degree / count, values.data());
    } else {
        // Rescaling needs every limb in coefficient form.
        Polynomial mx(plaintext.getMx());
        if (mx.isNTT())
            chain.backwardNTT<OutputModulusBoundValidator, 1>(mx, mx, {0, level + 1});
        for (u64 i = 0; i < counter; ++i)
            chain.rescale(mx);
        chain.liftToReal(mx, count, degree / count, values.data());
    }
    for (double &value : values)
        value *= inverseScale;
    return values;
}

std::vector<double> EnDecoder::decodeWithoutFFTWithScale(const Plaintext &plaintext,
                                                         double scale) const {
    const u64 degree = getDegree(context_);
    const u64 count = decodedCount(plaintext, degree);
    std::vector<double> values(count);
    context_->getPrimeModuli().liftToReal(plaintext.getMx(), count, degree / count, values.data());
    for (double &value : values)
        value /= scale;
    return values;
}

Message EnDecoder::decode(const Plaintext &plaintext) const {
    if (plaintext.getDevice() != kHostDevice) {
        Plaintext onHost(plaintext);
        onHost.to(kHostDevice);
        Message message = decode(onHost);
        message.to(plaintext.getDevice());
        return message;
    }
    const std::vector<double> values = decodeWithoutFFT(plaintext);
    const u64 n = values.size() / 2;
    Message message(plaintext.getLogSlots());
    for (u64 j = 0; j < n; ++j)
        message[j] = {values[j], values[n + j]};
    context_->getFFT().forwardFFT(message);
    return message;
}

std::vector<Message> EnDecoder::decode(const std::vector<Plaintext> &plaintexts) const {
    std::vector<Message> messages;
    messages.reserve(plaintexts.size());
    for (const Plaintext &plaintext : plaintexts)
        messages.push_back(decode(plaintext));
    return messages;
}

} // namespace Quelt
