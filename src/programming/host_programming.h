// Programming the flash from the host through the program-address and
// flash-data selectors, with read-back verification.
#pragma once

#include <array>
#include <cstdint>

#include "flash/flash_engine.h"
#include "flash/settings_source.h"
#include "programming/progress.h"

namespace torvane {

inline constexpr std::uint32_t kHostChunkSize = 4096;

// Blocks A and B of one 4,096-byte chunk: each carries 32 data bytes in the
// upper half of every 64-byte group, A the lower halves of the chunk's
// groups, B the upper halves; the rest is 0xFF.
void BuildChunkBlocks(const std::uint8_t* chunk, std::array<std::uint8_t, 4096>& blockA,
                      std::array<std::uint8_t, 4096>& blockB);

// Sends one chunk: program address, then block A at address and block B at
// address + 32. Nothing is sent without a channel.
void ProgramChunk(FlashEngine& engine, const std::uint8_t* source, std::uint32_t address);
// The chunks from start up to end (multiples of 4,096; end is taken as at
// most 0x10000), in ascending order.
void ProgramRange(FlashEngine& engine, const std::uint8_t* image, std::uint32_t start,
                  std::uint32_t end);
// 1 when the flash holds the image at offsets 0 to 0xFFFF, else 0. Every
// read-back request must succeed: bytes the camera did not deliver never
// pass as verified.
int VerifyImage(FlashEngine& engine, const SettingsSource& settings, const std::uint8_t* image);
// 1 on success, 0 on failure. Always programs and verifies the whole
// 65,536 bytes, so length must be exactly that. Refused (0, nothing sent)
// without image or channel, for another length, and through the tunnel
// binding, which cannot carry the 4,096-byte data blocks; a refusal still
// fills the outputs so that the two checksums disagree.
int ProgramFromHost(FlashEngine& engine, const SettingsSource& settings, std::uint8_t* image,
                    std::uint32_t length, std::uint8_t* hostChecksumOut,
                    std::uint8_t* deviceChecksumOut, ProgressReport* progress);

}  // namespace torvane
