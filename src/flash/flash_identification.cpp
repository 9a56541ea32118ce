#include "flash/flash_identification.h"

#include <algorithm>

#include "channel/selectors.h"

namespace torvane {

namespace {

constexpr std::uint8_t kCmdManufacturerId = 0x90;
constexpr std::uint8_t kCmdElectronicSignature = 0xAB;
constexpr std::uint8_t kCmdJedecId = 0x9F;

constexpr std::array<KnownFlashPart, 9> kKnownParts = {{
    {kCmdManufacturerId, {0xC2, 0x05, 0xC2}, 0x79, 0},
    {kCmdManufacturerId, {0xBF, 0x48, 0xBF}, 0x7A, 1},
    {kCmdManufacturerId, {0x9D, 0x05, 0x7F}, 0x7B, 2},
    {kCmdElectronicSignature, {0x9D, 0x7B, 0x7F}, 0x7C, 2},
    {kCmdJedecId, {0x1F, 0x65, 0x00}, 0x7D, 5},
    {kCmdManufacturerId, {0x1C, 0x05, 0x1C}, 0x7E, 3},
    {kCmdManufacturerId, {0x42, 0x05, 0xC2}, 0x7F, 4},
    {kCmdJedecId, {0xC2, 0x22, 0x10}, 0x80, 6},
    {kCmdJedecId, {0xC2, 0x22, 0x11}, 0x81, 6},
}};

// Slots: read, fast read, read status, write enable, write disable, sector
// erase, block erase, chip erase, program, auto-increment program, enable
// write status, write status; then the flag.
constexpr FlashOpcodeTable kCommonTable{
    {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0}};
constexpr std::array<FlashOpcodeTable, 6> kOpcodeTables = {{
    kCommonTable,
    {{0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52, 0x60, 0x02, 0xAF, 0x50, 0x01, 1}},
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0}},
    kCommonTable,
    kCommonTable,
    kCommonTable,
}};

// The code of the recognised part that gives this answer to this command.
std::optional<FlashTypeCode> MatchAnswer(std::uint8_t command,
                                         const std::array<std::uint8_t, 3>& answer) {
  for (const KnownFlashPart& part : kKnownParts) {
    if (part.command == command && part.answer == answer) return part.code;
  }
  return std::nullopt;
}

std::array<std::uint8_t, 3> Identify(FlashEngine& engine, std::uint8_t command) {
  // Bytes whose read fails keep 0xFF, the answer of a flash that is silent.
  std::array<std::uint8_t, 3> answer;
  answer.fill(0xFF);
  engine.ReadFlashId(command, answer.data());
  return answer;
}

bool AllBytesAre(const std::array<std::uint8_t, 3>& answer, std::uint8_t value) {
  return std::all_of(answer.begin(), answer.end(), [value](std::uint8_t b) { return b == value; });
}

}  // namespace

std::span<const KnownFlashPart> KnownFlashParts() { return kKnownParts; }

std::optional<FlashKind> FlashKindForCode(FlashTypeCode code) {
  for (const KnownFlashPart& part : kKnownParts) {
    if (part.code == code) return part.kind;
  }
  return std::nullopt;
}

const FlashOpcodeTable& OpcodeTableForKind(std::uint8_t kind) {
  return kind < kOpcodeTables.size() ? kOpcodeTables[kind] : kOpcodeTables[0];
}

std::int32_t DetectFlashType(FlashEngine& engine, FlashTypeCode* code) {
  FlashTypeCode result = kFlashTypeUnrecognised;
  const auto first = Identify(engine, kCmdManufacturerId);
  if (const auto match = MatchAnswer(kCmdManufacturerId, first)) {
    result = *match;
  } else if (AllBytesAre(first, 0x00) || AllBytesAre(first, 0xFF)) {
    // Some parts do not answer the manufacturer command at all; ask them
    // for their electronic signature, then for their JEDEC identification.
    if (const auto signature = MatchAnswer(kCmdElectronicSignature,
                                           Identify(engine, kCmdElectronicSignature))) {
      result = *signature;
    } else if (const auto jedec = MatchAnswer(kCmdJedecId, Identify(engine, kCmdJedecId))) {
      result = *jedec;
    }
  }
  if (code) *code = result;
  return 0;
}

HRESULT LoadOpcodeTable(FlashEngine& engine, std::uint32_t kind) {
  if (!engine.channel) return E_POINTER;
  ControlChannel& channel = *engine.channel;
  const FlashOpcodeTable& table = OpcodeTableForKind(static_cast<std::uint8_t>(kind & 0xFF));
  // The camera takes whatever arrives; a refused entry shows only in the
  // block operations that follow.
  for (std::uint8_t slot = 1; slot <= 12; ++slot) {
    const std::uint8_t value = static_cast<std::uint8_t>(table.entries[slot - 1] & 0xFF);
    channel.SetSelector(SEL_OPCODE_INDEX, 1, &slot);
    channel.SetSelector(SEL_OPCODE_VALUE, 1, &value);
  }
  const std::uint8_t flag = static_cast<std::uint8_t>(table.entries[12] & 0xFF);
  channel.SetSelector(SEL_OPCODE_FLAGS, 1, &flag);
  std::uint32_t length = 0;
  return channel.GetSelectorLength(SEL_FLASH_DATA, &length);
}

HRESULT LoadCurrentOpcodeTable(FlashEngine& engine) {
  return LoadOpcodeTable(engine, engine.flashKind);
}

}  // namespace torvane
