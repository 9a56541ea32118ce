// Which serial flash part is fitted, and the opcode tables the camera is
// given so that its own firmware drives that part.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "flash/flash_engine.h"

namespace torvane {

inline constexpr FlashTypeCode kFlashTypeUnrecognised = 0x78;

// A recognised identification answer.
struct KnownFlashPart {
  std::uint8_t command;             // 0x90, 0xAB or 0x9F
  std::array<std::uint8_t, 3> answer;
  FlashTypeCode code;
  FlashKind kind;
};

// Every recognised answer, in the order of the codes.
std::span<const KnownFlashPart> KnownFlashParts();

std::optional<FlashKind> FlashKindForCode(FlashTypeCode code);

// Thirteen entries: slots 1 to 12 are command bytes (0xFF where the part
// offers none), entry 13 is the flag sent on SEL_OPCODE_FLAGS.
struct FlashOpcodeTable {
  std::array<std::uint32_t, 13> entries;
};

// The table for a kind: kinds 1 to 5 have their own, 0, 6 and every other
// value take kind 0's.
const FlashOpcodeTable& OpcodeTableForKind(std::uint8_t kind);

// Up to three identification commands; the code is 0x78 when the part is not
// recognised. Always returns 0.
std::int32_t DetectFlashType(FlashEngine& engine, FlashTypeCode* code);

// Sends the table of the kind's low byte (an index and a value set for each
// of the twelve slots, then the flag: 25 sets) and then queries the length
// of SEL_FLASH_DATA, whose status is returned. No set's status is examined.
HRESULT LoadOpcodeTable(FlashEngine& engine, std::uint32_t kind);
HRESULT LoadCurrentOpcodeTable(FlashEngine& engine);

}  // namespace torvane
