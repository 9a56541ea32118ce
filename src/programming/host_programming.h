// Programming the flash from the host through the program-address and
// flash-data selectors, with read-back verification.
#pragma once

#include <array>
#include <cstdint>

#include "flash/flash_engine.h"
#include "flash/settings_source.h"
#include "programming/progress.h"

namespace torvane {

// Blocks A and B of one 4,096-byte chunk: each carries 32 data bytes in the
// upper half of every 64-byte group, A the lower halves of the chunk's
// groups, B the upper halves; the rest is 0xFF.
void BuildChunkBlocks(const std::uint8_t* chunk, std::array<std::uint8_t, 4096>& blockA,
                      std::array<std::uint8_t, 4096>& blockB);

void ProgramChunk(FlashEngine& engine, const std::uint8_t* source, std::uint32_t address);
void ProgramRange(FlashEngine& engine, const std::uint8_t* image, std::uint32_t start,
                  std::uint32_t end);
// 1 when the flash holds the image at offsets 0 to 0xFFFF, else 0.
int VerifyImage(FlashEngine& engine, const SettingsSource& settings, const std::uint8_t* image);
// 1 on success, 0 on failure.
int ProgramFromHost(FlashEngine& engine, const SettingsSource& settings, std::uint8_t* image,
                    std::uint32_t length, std::uint8_t* hostChecksumOut,
                    std::uint8_t* deviceChecksumOut, ProgressReport* progress);

}  // namespace torvane
