// Reading the flash back through the block selectors, and the version probe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "flash/flash_engine.h"
#include "flash/settings_source.h"

namespace torvane {

// The byte written to REG_PROJECT_CODE, derived from the PROJ text.
std::uint8_t ProjectCodeFor(std::string_view text);

// Reads one flash block at blockIndex x 4096 into buffer (bufferSize bytes).
// 160 for a kind above 6, 1 without buffer or channel, else the status of the
// data get (0 and above is success).
std::int32_t ReadFirstBlock(FlashEngine& engine, std::uint8_t* buffer, std::size_t bufferSize,
                            std::uint32_t blockIndex, std::uint32_t kind);

// Reads flash bytes [start, end) into dest at the same offsets. 1 when read,
// 0 on failure.
int ReadFlashRange(FlashEngine& engine, const SettingsSource& settings, std::uint8_t* dest,
                   std::size_t destSize, std::uint32_t start, std::uint32_t end);

// 0 with the version stored, 1 on failure (version untouched).
std::int32_t ReadFirmwareVersion(FlashEngine& engine, const SettingsSource& settings,
                                 std::uint32_t* version);

}  // namespace torvane
