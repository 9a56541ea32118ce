// The serial flash parts the emulated camera can be fitted with: what each
// answers to the identification commands and which commands it carries out.
// This is the camera side of the story and is kept apart from the updater's
// own recognition tables on purpose, so that a mistake in one shows up
// against the other.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace torvane::emulator {

// Command bytes of the serial NOR command set the parts draw from.
inline constexpr std::uint8_t kCmdWriteStatus = 0x01;
inline constexpr std::uint8_t kCmdProgram = 0x02;
inline constexpr std::uint8_t kCmdRead = 0x03;
inline constexpr std::uint8_t kCmdWriteDisable = 0x04;
inline constexpr std::uint8_t kCmdReadStatus = 0x05;
inline constexpr std::uint8_t kCmdWriteEnable = 0x06;
inline constexpr std::uint8_t kCmdFastRead = 0x0B;
inline constexpr std::uint8_t kCmdSectorErase = 0x20;
inline constexpr std::uint8_t kCmdEnableWriteStatus = 0x50;
inline constexpr std::uint8_t kCmdBlockErase32 = 0x52;
inline constexpr std::uint8_t kCmdChipErase60 = 0x60;
inline constexpr std::uint8_t kCmdReadIdLegacy = 0x90;
inline constexpr std::uint8_t kCmdJedecId = 0x9F;
inline constexpr std::uint8_t kCmdReadSignature = 0xAB;
inline constexpr std::uint8_t kCmdChipEraseC7 = 0xC7;
inline constexpr std::uint8_t kCmdSectorEraseD7 = 0xD7;
inline constexpr std::uint8_t kCmdBlockErase64 = 0xD8;

// Status register bits.
inline constexpr std::uint8_t kStatusWip = 0x01;
inline constexpr std::uint8_t kStatusWel = 0x02;
inline constexpr std::uint8_t kStatusBlockProtect = 0x1C;

inline constexpr std::uint32_t kFlashSize = 0x10000;  // every part holds 64 KiB
inline constexpr std::uint32_t kPageSize = 256;
inline constexpr std::uint32_t kSectorSize = 0x1000;

struct FlashPart {
  std::uint8_t code;  // identification code the updater is expected to derive
  const char* name;
  // Answer bytes, repeated for as long as the host keeps clocking. 0x90 and
  // 0xAB answer after three address/dummy bytes, 0x9F right after the
  // command.
  std::array<std::uint8_t, 3> answer90;
  std::array<std::uint8_t, 3> answerAB;
  std::array<std::uint8_t, 3> answer9F;
  // Commands the part carries out, beyond the three identification
  // commands (which every part answers). Unused entries are 0.
  std::array<std::uint8_t, 16> commands;

  bool Implements(std::uint8_t command) const;
  // Bytes an erase command clears, 0 for a command that is not an erase (or
  // that this part lacks).
  std::uint32_t EraseSize(std::uint8_t command) const;
  // Whether a status-register write needs 0x50 right before it instead of
  // write enable.
  bool StatusWriteNeedsEnableWriteStatus() const;
};

inline constexpr std::uint8_t kUnrecognisedPart = 0x78;

// All parts, the unrecognised one (0x78) first, then 0x79 to 0x81.
std::span<const FlashPart> FlashParts();

// The part with that code; the unrecognised part for any code not listed.
const FlashPart& FlashPartFor(std::uint8_t code);

}  // namespace torvane::emulator
