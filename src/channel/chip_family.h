#pragma once

#include <cstdint>
#include <optional>

namespace torvane {

enum ChipFamily : std::int32_t {
  Family6x = 0,
  Family9x = 1,
  Family8x = 2,
  FamilyAx = 3,
  FamilyUnknown = 4,
};

// The family a chip identification byte belongs to, decided by its high four
// bits; none for IDs outside the four known ranges.
std::optional<ChipFamily> FamilyForChipId(std::uint8_t chipId);

// The level that asserts the flash's chip select on a family's cameras.
std::uint8_t ChipSelectLevelFor(ChipFamily family);

const char* FamilyName(ChipFamily family);

}  // namespace torvane
