// Reading the flash back through the block selectors, and the version probe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "flash/flash_engine.h"
#include "flash/settings_source.h"

namespace torvane {

// The longest flash data block taken from the camera: the whole 64 KiB that
// a 16-bit flash address reaches. A longer reported length is refused rather
// than allocated.
inline constexpr std::uint32_t kMaxFlashBlockLength = 0x10000;

// The byte written to REG_PROJECT_CODE, derived from the PROJ text (at most
// its first 98 characters count).
std::uint8_t ProjectCodeFor(std::string_view text);

// Reads one flash block at (blockIndex x 4096) modulo 65,536 into buffer
// (bufferSize bytes). 160 for a kind above 6, 1 without buffer or channel,
// else the status of the data get (0 and above is success).
// The camera's answers are not trusted: a failed length query or address set
// is returned as it is and nothing more is requested; a length of 0 or above
// kMaxFlashBlockLength gives E_FAIL without a get. A block longer than the
// buffer is clipped: it is read whole into a scratch block and only its
// first bufferSize bytes are copied.
std::int32_t ReadFirstBlock(FlashEngine& engine, std::uint8_t* buffer, std::size_t bufferSize,
                            std::uint32_t blockIndex, std::uint32_t kind);

// Reads flash bytes [start, end) into dest at the same offsets (dest mirrors
// the flash). Blocks are copied whole, so bytes past end may be written too,
// but never past destSize: the last block is clipped there. 1 when read, 0 on
// failure: no dest or channel, a range that ends past destSize, a failed
// length query, a block length of 0 or above kMaxFlashBlockLength, or a
// failed address set or data get (the read stops there).
// On Family6x and Family9x cameras the project code from the settings is
// written first, on every call.
int ReadFlashRange(FlashEngine& engine, const SettingsSource& settings, std::uint8_t* dest,
                   std::size_t destSize, std::uint32_t start, std::uint32_t end);

// 0 with the version stored, 1 on failure (version untouched).
std::int32_t ReadFirmwareVersion(FlashEngine& engine, const SettingsSource& settings,
                                 std::uint32_t* version);

}  // namespace torvane
