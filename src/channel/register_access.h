// Camera register access: every access is a set of SEL_REG_ADDRESS with the
// 16-bit address low byte first, then a set or get of one byte of
// SEL_REG_VALUE.
#pragma once

#include <cstdint>

#include "channel/control_channel.h"

namespace torvane {

// The status of the value request; the address request's is not examined.
HRESULT WriteRegister(ControlChannel& channel, std::uint16_t address, std::uint8_t value);
// The status of the value request; *value is meaningful only on success.
HRESULT ReadRegister(ControlChannel& channel, std::uint16_t address, std::uint8_t* value);

}  // namespace torvane
