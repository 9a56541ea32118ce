// Writing the firmware image into the camera's flash through the camera's
// download mode, with the XOR checksum and the flash markers.
#pragma once

#include <cstdint>

#include "flash/flash_engine.h"
#include "flash/settings_source.h"
#include "platform/sleep.h"
#include "programming/progress.h"

namespace torvane {

inline constexpr std::int32_t kDownloadOk = 0;
inline constexpr std::int32_t kDownloadFailed = 1;
inline constexpr std::int32_t kDownloadKindOutOfRange = 160;

// Largest block the camera may ask for (through the tunnel binding a block
// must also fit one 68-byte frame).
inline constexpr std::uint32_t kDownloadBlockLimit = 4096;
inline constexpr std::uint32_t kGpioSettleMilliseconds = 50;
inline constexpr std::uint32_t kChecksumSettleMilliseconds = 1000;

// Writes length bytes of image (patched in place with the flash-type byte)
// for the flash kind's low byte; flash kind 6 outside FamilyAx is programmed
// from the host instead. 0 written and confirmed, 1 failure, 160 kind above
// 6. Refused with 1 before anything is sent: no image, no channel, an
// unknown chip family, or a length above 65,536. Image bytes at or beyond
// length are never read or written. A block size outside 1..4,096 (1..68
// through the tunnel) and an expired busy bound fail the download after it
// leaves download mode, without the valid marker.
std::int32_t DownloadImage(FlashEngine& engine, const SettingsSource& settings, Sleeper& sleeper,
                           std::uint8_t* image, std::uint32_t length, std::uint32_t kind,
                           std::uint8_t* hostChecksumOut, std::uint8_t* deviceChecksumOut,
                           ProgressReport* progress);

}  // namespace torvane
