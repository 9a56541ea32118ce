// The object of one update attempt: it finds and binds the camera, then
// reads and writes its flash.
#pragma once

#include <cstdint>

#include "channel/camera_discovery.h"
#include "flash/flash_engine.h"
#include "flash/settings_source.h"
#include "platform/device_enumeration.h"
#include "platform/sleep.h"
#include "programming/progress.h"

namespace torvane {

// What an attempt works with, all borrowed and outliving the updater.
struct UpdaterEnvironment {
  DeviceEnvironment* devices = nullptr;
  const SettingsSource* settings = nullptr;
  Sleeper* sleeper = nullptr;
  RequestObserver* observer = nullptr;  // optional: sees every channel request
};

class CameraUpdater {
 public:
  explicit CameraUpdater(const UpdaterEnvironment& environment);
  CameraUpdater(const CameraUpdater&) = delete;
  CameraUpdater& operator=(const CameraUpdater&) = delete;

  // 0 bound, 1 no camera, 160 filter outside 101..105.
  std::int32_t Open(std::uint8_t familyFilter);
  // Always 0; code 0x78 for an unrecognised flash.
  std::int32_t DetectFlashType(FlashTypeCode* code);
  std::int32_t ReadFirstBlock(std::uint8_t* buffer, std::size_t bufferSize,
                              std::uint32_t blockIndex, std::uint32_t kind);
  std::int32_t ReadFirmwareVersion(std::uint32_t* version);
  // 0 written and confirmed, 1 failure, 160 kind above 6.
  std::int32_t Download(std::uint8_t* image, std::uint32_t length, std::uint32_t kind,
                        std::uint8_t* hostChecksumOut, std::uint8_t* deviceChecksumOut,
                        ProgressReport* progress);

  FlashEngine engine;

 private:
  // The environment's settings, or the defaults when it has none.
  const SettingsSource& Settings() const;

  UpdaterEnvironment environment_;
};

}  // namespace torvane
