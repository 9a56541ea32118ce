#include "platform/guid.h"

#include <cstdio>

namespace torvane {

std::array<std::uint8_t, 16> Guid::Bytes() const {
  std::array<std::uint8_t, 16> out{};
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[4 + i] = static_cast<std::uint8_t>(data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[6 + i] = static_cast<std::uint8_t>(data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = data4[i];
  return out;
}

Guid Guid::FromBytes(const std::uint8_t* bytes) {
  Guid g;
  for (int i = 3; i >= 0; --i) g.data1 = (g.data1 << 8) | bytes[i];
  g.data2 = static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
  g.data3 = static_cast<std::uint16_t>(bytes[6] | (bytes[7] << 8));
  for (int i = 0; i < 8; ++i) g.data4[i] = bytes[8 + i];
  return g;
}

std::string Guid::ToString() const {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(data1), data2, data3, data4[0], data4[1], data4[2],
                data4[3], data4[4], data4[5], data4[6], data4[7]);
  return text;
}

}  // namespace torvane
