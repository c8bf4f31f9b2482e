#pragma once

// Everything the library exports.
#include "Quelt/Bx.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/LWEParameterPreset.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "Quelt/SecurityLevel.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "Quelt/MemoryResource.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Pointer.hpp"
#include "Quelt/Random.hpp"
