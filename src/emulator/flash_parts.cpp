#include "emulator/flash_parts.h"

#include <algorithm>

namespace torvane::emulator {
namespace {

// Command sets. Every list also holds the status, enable and read commands.
constexpr std::array<std::uint8_t, 16> kCommon = {
    kCmdWriteStatus,  kCmdProgram,     kCmdRead,       kCmdWriteDisable,
    kCmdReadStatus,   kCmdWriteEnable, kCmdFastRead,   kCmdSectorErase,
    kCmdBlockErase64, kCmdChipEraseC7, kCmdChipErase60};
// The part with an enable-write-status command and 32 KiB blocks, but no
// fast read and no 64 KiB block erase.
constexpr std::array<std::uint8_t, 16> kEwsr = {
    kCmdWriteStatus,      kCmdProgram,     kCmdRead,         kCmdWriteDisable, kCmdReadStatus,
    kCmdWriteEnable,      kCmdSectorErase, kCmdBlockErase32, kCmdChipEraseC7,  kCmdChipErase60,
    kCmdEnableWriteStatus};
// Parts whose 4 KiB erase is 0xD7 only.
constexpr std::array<std::uint8_t, 16> kD7 = {
    kCmdWriteStatus,  kCmdProgram,     kCmdRead,       kCmdWriteDisable,
    kCmdReadStatus,   kCmdWriteEnable, kCmdFastRead,   kCmdSectorEraseD7,
    kCmdBlockErase64, kCmdChipEraseC7, kCmdChipErase60};

// Answers to the commands the updater does not decide on are chosen so that
// its order of asking (0x90, then 0xAB and 0x9F only after an all-0x00 or
// all-0xFF 0x90 answer) lands on the part's own code.
// clang-format off
constexpr FlashPart kParts[] = {
    // code  name                 0x90 answer          0xAB answer          0x9F answer
    {0x78, "unrecognised (0xEF)", {0xEF, 0x10, 0xEF}, {0x10, 0x10, 0x10}, {0xEF, 0x30, 0x10}, kCommon},
    {0x79, "0xC2 0x05",           {0xC2, 0x05, 0xC2}, {0x05, 0x05, 0x05}, {0xC2, 0x20, 0x10}, kCommon},
    {0x7A, "0xBF 0x48",           {0xBF, 0x48, 0xBF}, {0x48, 0x48, 0x48}, {0xBF, 0x48, 0x00}, kEwsr},
    {0x7B, "0x9D 0x05",           {0x9D, 0x05, 0x7F}, {0x7F, 0x7F, 0x7F}, {0x9D, 0x7F, 0x05}, kD7},
    {0x7C, "0x9D 0x7B",           {0xFF, 0xFF, 0xFF}, {0x9D, 0x7B, 0x7F}, {0x9D, 0x7F, 0x7B}, kD7},
    {0x7D, "0x1F 0x65",           {0x00, 0x00, 0x00}, {0x1F, 0x1F, 0x1F}, {0x1F, 0x65, 0x00}, kCommon},
    {0x7E, "0x1C 0x05",           {0x1C, 0x05, 0x1C}, {0x05, 0x05, 0x05}, {0x1C, 0x20, 0x10}, kCommon},
    {0x7F, "0x42 0x05",           {0x42, 0x05, 0xC2}, {0x05, 0x05, 0x05}, {0x42, 0x20, 0x10}, kCommon},
    {0x80, "0xC2 0x22 0x10",      {0xFF, 0xFF, 0xFF}, {0x21, 0x21, 0x21}, {0xC2, 0x22, 0x10}, kCommon},
    {0x81, "0xC2 0x22 0x11",      {0x00, 0x00, 0x00}, {0x22, 0x22, 0x22}, {0xC2, 0x22, 0x11}, kCommon},
};
// clang-format on

}  // namespace

bool FlashPart::Implements(std::uint8_t command) const {
  if (command == kCmdReadIdLegacy || command == kCmdReadSignature || command == kCmdJedecId) {
    return true;
  }
  // 0x00 pads the lists and is never a command.
  return command != 0 && std::find(commands.begin(), commands.end(), command) != commands.end();
}

std::uint32_t FlashPart::EraseSize(std::uint8_t command) const {
  if (!Implements(command)) return 0;
  switch (command) {
    case kCmdSectorErase:
    case kCmdSectorEraseD7:
      return kSectorSize;
    case kCmdBlockErase32:
      return 0x8000;
    case kCmdBlockErase64:
      return 0x10000;
    case kCmdChipEraseC7:
    case kCmdChipErase60:
      return kFlashSize;
    default:
      return 0;
  }
}

bool FlashPart::StatusWriteNeedsEnableWriteStatus() const {
  return Implements(kCmdEnableWriteStatus);
}

std::span<const FlashPart> FlashParts() { return kParts; }

const FlashPart& FlashPartFor(std::uint8_t code) {
  for (const FlashPart& part : kParts) {
    if (part.code == code) return part;
  }
  return kParts[0];
}

}  // namespace torvane::emulator
