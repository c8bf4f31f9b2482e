#pragma once

namespace Quelt {

// Evaluation keys of modulus packing. Only passed by reference here
// (FastBaseConv::modPackKeySwitch never reads it); the keys subsystem defines
// it.
class ModPackKeyBundle;

} // namespace Quelt
