#include "flash/flash_readback.h"

#include <algorithm>
#include <vector>

#include "channel/selectors.h"
#include "flash/flash_identification.h"

namespace torvane {

namespace {

constexpr std::uint32_t kBlockStride = 4096;
constexpr std::uint32_t kStreamingBlockLength = 4096;
constexpr std::size_t kMaxProjectCharacters = 98;
constexpr std::size_t kFlashMirrorSize = 0x10000;

HRESULT SetFlashAddress(ControlChannel& channel, std::uint64_t address) {
  // Only the low 16 bits of an address go to the camera.
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(address & 0xFF),
                                 static_cast<std::uint8_t>((address >> 8) & 0xFF), 0, 0};
  return channel.SetSelector(SEL_FLASH_ADDRESS, 4, bytes);
}

bool UsableBlockLength(std::uint32_t length) {
  return length != 0 && length <= kMaxFlashBlockLength;
}

// Copies a block read at flash address a into dest, up to destSize.
void CopyBlock(const std::vector<std::uint8_t>& block, std::uint8_t* dest, std::size_t destSize,
               std::uint64_t a) {
  if (a >= destSize) return;
  const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), destSize - a));
  std::copy_n(block.begin(), count, dest + a);
}

void SendProjectCode(FlashEngine& engine, const SettingsSource& settings) {
  const std::string text = settings.ReadProjectSetting();
  engine.WriteRegister(REG_PROJECT_CODE, ProjectCodeFor(text));
}

std::uint16_t LittleWord(const std::vector<std::uint8_t>& mirror, std::size_t offset) {
  return static_cast<std::uint16_t>(mirror[offset] | (mirror[offset + 1] << 8));
}

}  // namespace

std::uint8_t ProjectCodeFor(std::string_view text) {
  const std::size_t n = std::min(text.size(), kMaxProjectCharacters);
  std::uint32_t h = 4;
  for (std::size_t j = 0; j < n; ++j) {
    // Characters count as signed bytes: 0x80 and above are negative.
    const std::int32_t c = static_cast<std::int8_t>(static_cast<std::uint8_t>(text[j]));
    const std::uint32_t factor =
        static_cast<std::uint32_t>(c) * static_cast<std::uint32_t>(j + 1) + 1u;
    h = h * factor + static_cast<std::uint32_t>(j);
  }
  return static_cast<std::uint8_t>(h % 255);
}

std::int32_t ReadFirstBlock(FlashEngine& engine, std::uint8_t* buffer, std::size_t bufferSize,
                            std::uint32_t blockIndex, std::uint32_t kind) {
  if ((kind & 0xFF) > 6) return 160;
  const std::uint32_t address = (blockIndex * kBlockStride) % 0x10000;
  if (!buffer || !engine.channel) return 1;
  ControlChannel& channel = *engine.channel;

  LoadOpcodeTable(engine, kind);
  std::uint32_t length = 0;
  const HRESULT lengthStatus = channel.GetSelectorLength(SEL_FLASH_DATA, &length);
  if (Failed(lengthStatus)) return lengthStatus;
  if (!UsableBlockLength(length)) return E_FAIL;

  // A block read from where the address set did not put the camera would be
  // the wrong block.
  if (const HRESULT addressStatus = SetFlashAddress(channel, address); Failed(addressStatus)) {
    return addressStatus;
  }
  if (length <= bufferSize) return channel.GetSelector(SEL_FLASH_DATA, length, buffer);
  // The camera's block does not fit: take it whole and keep what fits.
  std::vector<std::uint8_t> block(length, 0);
  const HRESULT status = channel.GetSelector(SEL_FLASH_DATA, length, block.data());
  std::copy_n(block.begin(), bufferSize, buffer);
  return status;
}

int ReadFlashRange(FlashEngine& engine, const SettingsSource& settings, std::uint8_t* dest,
                   std::size_t destSize, std::uint32_t start, std::uint32_t end) {
  if (engine.channel && (engine.channel->chipFamily == Family6x ||
                         engine.channel->chipFamily == Family9x)) {
    SendProjectCode(engine, settings);
  }
  if (!dest || !engine.channel) return 0;
  // A range the destination cannot hold cannot be reported as read.
  if (start < end && end > destSize) return 0;
  ControlChannel& channel = *engine.channel;

  LoadCurrentOpcodeTable(engine);
  std::uint32_t length = 0;
  if (Failed(channel.GetSelectorLength(SEL_FLASH_DATA, &length))) return 0;
  // A length of 0 would never advance the loops below.
  if (!UsableBlockLength(length)) return 0;

  // A failed address set or data get fails the read: the block buffer would
  // hold stale bytes, and a version or a verification must not be decided on
  // them.
  std::vector<std::uint8_t> block;
  // 64-bit positions: a range near the top of the 32-bit space cannot wrap.
  std::uint64_t a = start;
  if (length == kStreamingBlockLength) {
    // The camera continues each block where the previous one ended.
    block.assign(length, 0);
    if (Failed(SetFlashAddress(channel, start))) return 0;
    for (; a < end; a += length) {
      if (Failed(channel.GetSelector(SEL_FLASH_DATA, length, block.data()))) return 0;
      CopyBlock(block, dest, destSize, a);
    }
    return 1;
  }

  // The second answer decides the block length; a failed query keeps the
  // first, and the block is sized by the answer actually used.
  std::uint32_t second = length;
  channel.GetSelectorLength(SEL_FLASH_DATA, &second);
  if (!UsableBlockLength(second)) return 0;
  length = second;
  block.assign(length, 0);
  for (; a < end; a += length) {
    if (Failed(SetFlashAddress(channel, a))) return 0;
    if (Failed(channel.GetSelector(SEL_FLASH_DATA, length, block.data()))) return 0;
    CopyBlock(block, dest, destSize, a);
  }
  return 1;
}

std::int32_t ReadFirmwareVersion(FlashEngine& engine, const SettingsSource& settings,
                                 std::uint32_t* version) {
  if (!engine.channel) return 1;
  const ChipFamily family = engine.channel->chipFamily;
  if (family != Family6x && family != Family9x && family != Family8x && family != FamilyAx) {
    return 1;
  }
  std::vector<std::uint8_t> mirror(kFlashMirrorSize, 0);
  auto read = [&](std::uint32_t start, std::uint32_t end) {
    return ReadFlashRange(engine, settings, mirror.data(), mirror.size(), start, end) == 1;
  };

  std::uint32_t value = 0;
  switch (family) {
    case Family6x:
    case Family9x:
      if (!read(0x8000, 0x9000)) return 1;
      value = LittleWord(mirror, 0x800C);
      break;
    case Family8x:
      if (!read(0xB000, 0xC000) || !read(0xD000, 0xE000)) return 1;
      value = static_cast<std::uint32_t>(LittleWord(mirror, 0xB70E)) * 256 + mirror[0xDB40];
      break;
    case FamilyAx:
      if (!read(0x6000, 0x7000)) return 1;
      value = static_cast<std::uint32_t>(LittleWord(mirror, 0x678E)) * 256 + mirror[0x6040];
      break;
    case FamilyUnknown:
      return 1;
  }
  if (version) *version = value;
  return 0;
}

}  // namespace torvane
