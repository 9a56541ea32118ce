#include "channel/register_access.h"

#include "channel/selectors.h"

namespace torvane {

namespace {
void SetAddress(ControlChannel& channel, std::uint16_t address) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(address & 0xFF),
                                 static_cast<std::uint8_t>(address >> 8)};
  channel.SetSelector(SEL_REG_ADDRESS, 2, bytes);
}
}  // namespace

HRESULT WriteRegister(ControlChannel& channel, std::uint16_t address, std::uint8_t value) {
  SetAddress(channel, address);
  return channel.SetSelector(SEL_REG_VALUE, 1, &value);
}

HRESULT ReadRegister(ControlChannel& channel, std::uint16_t address, std::uint8_t* value) {
  SetAddress(channel, address);
  return channel.GetSelector(SEL_REG_VALUE, 1, value);
}

}  // namespace torvane
