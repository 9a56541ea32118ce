#include "channel/chip_family.h"

namespace torvane {

std::optional<ChipFamily> FamilyForChipId(std::uint8_t chipId) {
  switch (chipId & 0xF0) {
    case 0x60: return Family6x;
    case 0x90: return Family9x;
    case 0x80: return Family8x;
    case 0xA0: return FamilyAx;
    default: return std::nullopt;
  }
}

std::uint8_t ChipSelectLevelFor(ChipFamily family) {
  return (family == Family6x || family == Family9x) ? 2 : 0;
}

const char* FamilyName(ChipFamily family) {
  switch (family) {
    case Family6x: return "6x";
    case Family9x: return "9x";
    case Family8x: return "8x";
    case FamilyAx: return "Ax";
    case FamilyUnknown: break;
  }
  return "unknown";
}

}  // namespace torvane
