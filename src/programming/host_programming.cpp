#include "programming/host_programming.h"

#include <algorithm>
#include <vector>

#include "channel/selectors.h"
#include "flash/flash_identification.h"
#include "flash/flash_readback.h"
#include "programming/firmware_image.h"

namespace torvane {

namespace {

constexpr std::uint32_t kGroupSize = 64;
constexpr std::uint32_t kHalfGroup = 32;
// Blocks of up to kMaxFlashBlockLength starting below the image's end stay
// within twice the image.
constexpr std::size_t kVerifyAreaSize = 2 * static_cast<std::size_t>(kImageSize);

std::array<std::uint8_t, 4> AddressField(std::uint32_t address) {
  return {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>((address >> 8) & 0xFF),
          0x00, 0x00};
}

// The outputs of a run that ends without a confirmed image: the two
// checksums disagree and the run is reported as ended.
int Fail(std::uint8_t checksum, std::uint8_t* hostChecksumOut, std::uint8_t* deviceChecksumOut,
         ProgressReport* progress) {
  if (hostChecksumOut) *hostChecksumOut = checksum;
  if (deviceChecksumOut) *deviceChecksumOut = static_cast<std::uint8_t>(~checksum);
  Report(progress, PROGRESS_END, 100);
  return 0;
}

}  // namespace

void BuildChunkBlocks(const std::uint8_t* chunk, std::array<std::uint8_t, 4096>& blockA,
                      std::array<std::uint8_t, 4096>& blockB) {
  blockA.fill(0xFF);
  blockB.fill(0xFF);
  for (std::uint32_t group = 0; group < kHostChunkSize / kGroupSize; ++group) {
    const std::uint32_t base = group * kGroupSize;
    for (std::uint32_t j = 0; j < kHalfGroup; ++j) {
      blockA[base + kHalfGroup + j] = chunk[base + j];
      blockB[base + kHalfGroup + j] = chunk[base + kHalfGroup + j];
    }
  }
}

void ProgramChunk(FlashEngine& engine, const std::uint8_t* source, std::uint32_t address) {
  ControlChannel* channel = engine.channel.get();
  if (!channel || !source) return;
  std::array<std::uint8_t, 4096> blockA;
  std::array<std::uint8_t, 4096> blockB;
  BuildChunkBlocks(source, blockA, blockB);
  const auto field = AddressField(address);
  const auto upperField = AddressField(address + kHalfGroup);
  channel->SetSelector(SEL_PROGRAM_ADDRESS, 4, field.data());
  std::uint32_t unused = 0;
  channel->GetSelectorLength(SEL_FLASH_DATA, &unused);
  channel->SetSelector(SEL_FLASH_ADDRESS, 4, field.data());
  channel->SetSelector(SEL_FLASH_DATA, kHostChunkSize, blockA.data());
  channel->SetSelector(SEL_FLASH_ADDRESS, 4, upperField.data());
  channel->SetSelector(SEL_FLASH_DATA, kHostChunkSize, blockB.data());
}

void ProgramRange(FlashEngine& engine, const std::uint8_t* image, std::uint32_t start,
                  std::uint32_t end) {
  end = std::min(end, kImageSize);
  for (std::uint32_t offset = start; offset < end; offset += kHostChunkSize) {
    ProgramChunk(engine, image + offset, offset);
  }
}

int VerifyImage(FlashEngine& engine, const SettingsSource& settings, const std::uint8_t* image) {
  if (!image) return 0;
  // Pre-filled with the image's complement: a byte the camera leaves
  // unwritten cannot match.
  std::vector<std::uint8_t> area(kVerifyAreaSize);
  std::transform(image, image + kImageSize, area.begin(),
                 [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
  // The read-back fails on any failed request, so a verification never
  // passes on bytes the camera did not deliver.
  if (ReadFlashRange(engine, settings, area.data(), area.size(), 0, kImageSize) != 1) return 0;
  return std::equal(image, image + kImageSize, area.begin()) ? 1 : 0;
}

int ProgramFromHost(FlashEngine& engine, const SettingsSource& settings, std::uint8_t* image,
                    std::uint32_t length, std::uint8_t* hostChecksumOut,
                    std::uint8_t* deviceChecksumOut, ProgressReport* progress) {
  const bool wholeImage = image && length == kImageSize;
  const std::uint8_t checksum = wholeImage ? ImageChecksum(image, length) : 0;
  // Through the tunnel the 4,096-byte blocks would not arrive, yet each
  // program address would erase a sector: refuse before anything is sent, so
  // that the camera keeps its old firmware.
  if (!wholeImage || !engine.channel || engine.channel->mode == ChannelMode::Tunnel) {
    return Fail(checksum, hostChecksumOut, deviceChecksumOut, progress);
  }
  engine.ClearTimeout();
  if (hostChecksumOut) *hostChecksumOut = checksum;

  LoadOpcodeTable(engine, 0);
  // Reads the status and clears it only when it is nonzero.
  engine.WriteStatusRegister(0x00, false);
  // A flash whose status cannot even be read back is not erased. Nor is
  // download mode cycled: a camera may erase its flash on entering it, and
  // the status clear above has just lifted the protection that would have
  // kept the old firmware.
  if (engine.TimedOut()) return Fail(checksum, hostChecksumOut, deviceChecksumOut, progress);

  image[0] = MARK_PENDING;
  ProgramRange(engine, image, 0, kImageSize);
  Report(progress, PROGRESS_CHECK, 95);

  bool confirmed = false;
  if (VerifyImage(engine, settings, image) == 1 && !engine.TimedOut()) {
    FlashWriteRecord valid;
    valid.data[0] = MARK_VALID;
    valid.count = 1;
    if (engine.ProgramRecord(valid) == 1) {
      image[0] = MARK_VALID;
      engine.WriteStatusRegister(0x0C, false);
      confirmed = !engine.TimedOut();
    }
  }
  engine.CycleDownloadMode();
  if (!confirmed) return Fail(checksum, hostChecksumOut, deviceChecksumOut, progress);
  if (deviceChecksumOut) *deviceChecksumOut = checksum;
  Report(progress, PROGRESS_END, 100);
  return 1;
}

}  // namespace torvane
