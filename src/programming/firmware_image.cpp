#include "programming/firmware_image.h"

#include <array>

#include "embedded_firmware.h"

namespace torvane {

namespace {
constexpr std::uint32_t kHeaderVersionOffset = 0x678E;
}  // namespace

std::uint8_t FlashTypeByteFor(FlashKind kind) {
  // Not monotonic: kinds 2, 3 and 4 take 4, 5 and 6, kind 5 takes 3.
  static constexpr std::array<std::uint8_t, 7> kBytes = {0x00, 0x01, 0x04, 0x05,
                                                         0x06, 0x03, 0x07};
  return kind < kBytes.size() ? kBytes[kind] : 0x00;
}

std::optional<std::uint32_t> FlashTypeOffsetFor(ChipFamily family) {
  switch (family) {
    case Family6x:
    case Family9x: return 0xC006;
    case Family8x: return 0x501F;
    case FamilyAx: return 0x6010;
    case FamilyUnknown: break;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> VersionOffsetFor(ChipFamily family) {
  switch (family) {
    case Family6x:
    case Family9x: return 0x800C;
    case Family8x: return 0xB70E;
    case FamilyAx: return 0x678E;
    case FamilyUnknown: break;
  }
  return std::nullopt;
}

std::uint16_t ImageHeaderVersion(std::span<const std::uint8_t> image) {
  if (image.size() < kHeaderVersionOffset + 2) return 0;
  return static_cast<std::uint16_t>(image[kHeaderVersionOffset + 1] << 8 |
                                    image[kHeaderVersionOffset]);
}

std::uint8_t ImageChecksum(const std::uint8_t* image, std::uint32_t length) {
  std::uint8_t checksum = 0;
  for (std::uint32_t i = 0; i < length; ++i) checksum ^= image[i];
  return checksum;
}

std::span<const std::uint8_t> EmbeddedFirmware() {
  return {kEmbeddedFirmware, kEmbeddedFirmwareSize};
}

FirmwareImage::FirmwareImage() : FirmwareImage(EmbeddedFirmware()) {}

FirmwareImage::FirmwareImage(std::span<const std::uint8_t> bytes)
    : bytes_(bytes.begin(), bytes.end()) {}

}  // namespace torvane
