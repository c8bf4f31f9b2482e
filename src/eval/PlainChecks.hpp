#pragma once

// The entry checks of the evaluator's operations on plain data (messages and
// plaintexts), and the shaping of a message output.

namespace Quelt {

class Message;
class Plaintext;

namespace utils {

// Two messages one operation combines: log slot counts ("Two operands have
// different logSlots"; also for equal log slot counts over different slot
// counts, which no slot walk could serve), then devices ("Two operands are in
// different devices").
void checkPrecondition(const Message &a, const Message &b);

// Two plaintexts: log slot counts, rescale counters ("Two operands have
// different RescaleCounter"), devices, in this order.
void checkPrecondition(const Plaintext &a, const Plaintext &b);

// Gives out the device and slot count of in before an operation writes it:
// an input on an accelerator throws "Message that is GPU-allocated is not
// supported."; out on another device is re-allocated on in's; out of another
// slot count is resized to in's (an empty out included).
void fitOutput(const Message &in, Message &out);

} // namespace utils
} // namespace Quelt
