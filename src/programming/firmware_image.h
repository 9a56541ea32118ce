// The firmware image the updater carries, and the places in it (and in the
// flash, where image byte i lands at address i) that the updater touches.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "channel/chip_family.h"
#include "flash/flash_engine.h"

namespace torvane {

inline constexpr std::uint32_t kImageSize = 0x10000;

inline constexpr std::uint8_t MARK_PENDING = 0xF5;
inline constexpr std::uint8_t MARK_PENDING_AX = 0xF9;
inline constexpr std::uint8_t MARK_VALID = 0x55;
inline constexpr std::uint8_t MARK_VALID_AX[2] = {0x89, 0x16};

inline constexpr std::uint16_t kRequiredHeaderVersion = 0x0132;

// The byte written into the image for a flash kind 0..6 (callers refuse
// kinds above 6 first; they get 0).
std::uint8_t FlashTypeByteFor(FlashKind kind);
std::optional<std::uint32_t> FlashTypeOffsetFor(ChipFamily family);
std::optional<std::uint32_t> VersionOffsetFor(ChipFamily family);
// Byte 0x678F x 256 + byte 0x678E; 0 for an image too short to hold them.
std::uint16_t ImageHeaderVersion(std::span<const std::uint8_t> image);

// XOR of the first length bytes; 0 for length 0.
std::uint8_t ImageChecksum(const std::uint8_t* image, std::uint32_t length);

// The image built into the program.
std::span<const std::uint8_t> EmbeddedFirmware();

// A modifiable copy of the carried image that lives as long as its owner;
// downloads patch it in place.
class FirmwareImage {
 public:
  FirmwareImage();  // a copy of the embedded image
  explicit FirmwareImage(std::span<const std::uint8_t> bytes);
  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace torvane
