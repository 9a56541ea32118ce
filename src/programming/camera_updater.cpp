#include "programming/camera_updater.h"

#include <utility>

#include "flash/flash_identification.h"
#include "flash/flash_readback.h"
#include "programming/download.h"

namespace torvane {

CameraUpdater::CameraUpdater(const UpdaterEnvironment& environment) : environment_(environment) {}

const SettingsSource& CameraUpdater::Settings() const {
  static const DefaultSettings kDefaults;
  return environment_.settings ? *environment_.settings : kDefaults;
}

std::int32_t CameraUpdater::Open(std::uint8_t familyFilter) {
  if (familyFilter < AnyFamily || familyFilter > OnlyAx) return 160;
  if (!environment_.devices) return 1;

  CameraBinding binding;
  binding.channel = std::move(engine.channel);
  binding.filter = std::move(engine.filter);
  binding.tunnel = std::move(engine.tunnel);
  binding.control = std::move(engine.control);
  const std::int32_t result =
      DiscoverCamera(*environment_.devices, familyFilter, binding, environment_.observer);
  engine.channel = std::move(binding.channel);
  engine.filter = std::move(binding.filter);
  engine.tunnel = std::move(binding.tunnel);
  engine.control = std::move(binding.control);
  if (result != 0) return result;

  // The flash primitives need the chip-select level before identification.
  engine.chipSelectLevel = ChipSelectLevelFor(engine.channel->chipFamily);
  FlashTypeCode code = 0;
  DetectFlashType(&code);
  if (const auto kind = FlashKindForCode(code)) engine.flashKind = *kind;
  return 0;
}

std::int32_t CameraUpdater::DetectFlashType(FlashTypeCode* code) {
  if (!engine.channel) {
    if (code) *code = kFlashTypeUnrecognised;
    return 0;
  }
  return torvane::DetectFlashType(engine, code);
}

std::int32_t CameraUpdater::ReadFirstBlock(std::uint8_t* buffer, std::size_t bufferSize,
                                           std::uint32_t blockIndex, std::uint32_t kind) {
  return torvane::ReadFirstBlock(engine, buffer, bufferSize, blockIndex, kind);
}

std::int32_t CameraUpdater::ReadFirmwareVersion(std::uint32_t* version) {
  return torvane::ReadFirmwareVersion(engine, Settings(), version);
}

std::int32_t CameraUpdater::Download(std::uint8_t* image, std::uint32_t length, std::uint32_t kind,
                                     std::uint8_t* hostChecksumOut,
                                     std::uint8_t* deviceChecksumOut, ProgressReport* progress) {
  SystemSleeper realSleeper;
  Sleeper& sleeper = environment_.sleeper ? *environment_.sleeper : realSleeper;
  return DownloadImage(engine, Settings(), sleeper, image, length, kind, hostChecksumOut,
                       deviceChecksumOut, progress);
}

}  // namespace torvane
