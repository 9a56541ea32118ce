// The firmware image built into the program, read-only. The build generates
// its definition from the image file it was configured with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane {

inline constexpr std::size_t kEmbeddedFirmwareSize = 0x10000;

extern const std::uint8_t kEmbeddedFirmware[kEmbeddedFirmwareSize];

}  // namespace torvane
