// The synthetic firmware block the updater carries. Its content is our own:
// deterministic noise with the few fields the updater and the camera's
// version probe look at, so that the committed file can be regenerated and
// checked byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace torvane {

inline constexpr std::size_t kSyntheticFirmwareSize = 0x10000;

std::vector<std::uint8_t> GenerateSyntheticFirmware();

}  // namespace torvane
