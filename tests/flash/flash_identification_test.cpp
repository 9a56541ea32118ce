#include "flash/flash_identification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "channel/selectors.h"
#include "support/scripted_camera.h"

namespace torvane {
namespace {

using fakes::CameraRequest;
using fakes::RegisterAccess;
using fakes::ScriptedCamera;
using Bytes = std::vector<std::uint8_t>;
using Answer = std::array<std::uint8_t, 3>;

constexpr Answer kSilent00 = {0x00, 0x00, 0x00};
constexpr Answer kSilentFF = {0xFF, 0xFF, 0xFF};

// The identification commands a camera received: the byte sent right after
// each chip-select assert.
Bytes CommandsSent(const ScriptedCamera& camera, std::uint8_t level) {
  Bytes commands;
  bool asserted = false;
  for (const RegisterAccess& access : camera.RegisterAccesses()) {
    if (!access.write) continue;
    if (access.address == REG_SPI_CS) {
      asserted = access.value == level;
    } else if (asserted && access.address == REG_SPI_TX) {
      commands.push_back(access.value);
      asserted = false;
    }
  }
  return commands;
}

struct Detection {
  std::int32_t result;
  FlashTypeCode code;
  Bytes commands;
};

// Runs DetectFlashType against a camera whose flash gives these answers, one
// per identification command, in order.
Detection Detect(const std::vector<Answer>& answers) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  for (const Answer& answer : answers) {
    camera.ScriptReads(REG_SPI_RX, Bytes(answer.begin(), answer.end()));
  }
  Detection detection{};
  detection.code = 0x55;
  detection.result = DetectFlashType(engine, &detection.code);
  detection.commands = CommandsSent(camera, 2);
  return detection;
}

TEST(KnownFlashParts, EveryRowIsDetectedByItsCommandAndMapsToItsKind) {
  const auto parts = KnownFlashParts();
  ASSERT_EQ(parts.size(), 9u);
  FlashTypeCode previous = kFlashTypeUnrecognised;
  for (const KnownFlashPart& part : parts) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << int{part.code});
    EXPECT_GT(part.code, previous) << "rows are in the order of the codes";
    previous = part.code;

    // The second and third commands are reached only through a silent
    // answer; both kinds of silence lead there.
    for (const Answer& silence : {kSilent00, kSilentFF}) {
      std::vector<Answer> answers;
      Bytes commands;
      switch (part.command) {
        case 0x90:
          answers = {part.answer};
          commands = {0x90};
          break;
        case 0xAB:
          answers = {silence, part.answer};
          commands = {0x90, 0xAB};
          break;
        case 0x9F:
          answers = {silence, silence, part.answer};
          commands = {0x90, 0xAB, 0x9F};
          break;
        default:
          ADD_FAILURE() << "unknown command " << int{part.command};
      }
      const Detection detection = Detect(answers);
      EXPECT_EQ(detection.result, 0);
      EXPECT_EQ(detection.code, part.code);
      EXPECT_EQ(detection.commands, commands);
    }
    EXPECT_EQ(FlashKindForCode(part.code), std::optional<FlashKind>(part.kind));
  }
}

struct DetectCase {
  std::vector<Answer> answers;
  FlashTypeCode code;
  Bytes commands;
};

TEST(DetectFlashType, DecidesInOrderAndAsksAgainOnlyAfterSilence) {
  const DetectCase cases[] = {
      {{{0xC2, 0x05, 0xC2}}, 0x79, {0x90}},
      {{{0xC2, 0x05, 0xC3}}, 0x78, {0x90}},
      {{{0xBF, 0x48, 0xBF}}, 0x7A, {0x90}},
      {{{0x9D, 0x05, 0x7F}}, 0x7B, {0x90}},
      {{{0x1C, 0x05, 0x1C}}, 0x7E, {0x90}},
      {{{0x42, 0x05, 0xC2}}, 0x7F, {0x90}},
      // Answers of the other commands do not count for 0x90.
      {{{0x9D, 0x7B, 0x7F}}, 0x78, {0x90}},
      {{{0x1F, 0x65, 0x00}}, 0x78, {0x90}},
      // Partly silent answers are no reason to ask again.
      {{{0xFF, 0xFF, 0x00}}, 0x78, {0x90}},
      {{{0x00, 0x00, 0xFF}}, 0x78, {0x90}},
      {{kSilent00, {0x9D, 0x7B, 0x7F}}, 0x7C, {0x90, 0xAB}},
      {{kSilentFF, {0x9D, 0x7B, 0x7F}}, 0x7C, {0x90, 0xAB}},
      {{kSilentFF, {0xC2, 0x05, 0xC2}, kSilentFF}, 0x78, {0x90, 0xAB, 0x9F}},
      {{kSilentFF, kSilentFF, kSilentFF}, 0x78, {0x90, 0xAB, 0x9F}},
      {{kSilent00, kSilent00, {0xC2, 0x22, 0x12}}, 0x78, {0x90, 0xAB, 0x9F}},
      {{kSilent00, kSilentFF, {0xC2, 0x22, 0x10}}, 0x80, {0x90, 0xAB, 0x9F}},
      {{kSilentFF, kSilent00, {0xC2, 0x22, 0x11}}, 0x81, {0x90, 0xAB, 0x9F}},
      {{kSilentFF, kSilentFF, {0x1F, 0x65, 0x00}}, 0x7D, {0x90, 0xAB, 0x9F}},
  };
  for (const DetectCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "expecting 0x" << std::hex << int{c.code});
    const Detection detection = Detect(c.answers);
    EXPECT_EQ(detection.result, 0);
    EXPECT_EQ(detection.code, c.code);
    EXPECT_EQ(detection.commands, c.commands);
  }
}

TEST(DetectFlashType, NoChannelOrADeadBridgeEndsUnrecognised) {
  FlashEngine unbound;
  FlashTypeCode code = 0;
  EXPECT_EQ(DetectFlashType(unbound, &code), 0);
  EXPECT_EQ(code, kFlashTypeUnrecognised);

  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family9x);
  camera.StickRegister(REG_SPI_BUSY, 1);
  camera.failRegister = [](const RegisterAccess& access) {
    return !access.write && access.address == REG_SPI_RX ? E_FAIL : S_OK;
  };
  code = 0;
  EXPECT_EQ(DetectFlashType(engine, &code), 0);
  EXPECT_EQ(code, kFlashTypeUnrecognised);
  EXPECT_TRUE(engine.TimedOut());
  // One full busy bound, then a single read per wait.
  EXPECT_LT(camera.Requests().size(), 2 * (kSpiIdleReadLimit + 200));
}

TEST(FlashKindForCode, OnlyTheRecognisedCodesHaveAKind) {
  const std::map<FlashTypeCode, FlashKind> kinds = {
      {0x79, 0}, {0x7A, 1}, {0x7B, 2}, {0x7C, 2}, {0x7D, 5},
      {0x7E, 3}, {0x7F, 4}, {0x80, 6}, {0x81, 6},
  };
  for (int code = 0; code < 256; ++code) {
    const auto it = kinds.find(static_cast<FlashTypeCode>(code));
    const std::optional<FlashKind> expected =
        it == kinds.end() ? std::nullopt : std::optional<FlashKind>(it->second);
    EXPECT_EQ(FlashKindForCode(static_cast<FlashTypeCode>(code)), expected) << code;
  }
}

// ---------------------------------------------------------------------------
// Opcode tables.

using Entries = std::array<std::uint32_t, 13>;
constexpr Entries kCommonEntries = {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8,
                                    0xC7, 0x02, 0xFF, 0xFF, 0x01, 0};
constexpr Entries kKind1Entries = {0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52,
                                   0x60, 0x02, 0xAF, 0x50, 0x01, 1};
constexpr Entries kKind2Entries = {0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8,
                                   0xC7, 0x02, 0xFF, 0xFF, 0x01, 0};

const Entries& ExpectedEntries(std::uint8_t kind) {
  if (kind == 1) return kKind1Entries;
  if (kind == 2) return kKind2Entries;
  return kCommonEntries;
}

TEST(OpcodeTableForKind, EveryKindGetsItsTableAndAllOthersKindZeros) {
  for (int kind = 0; kind < 256; ++kind) {
    const FlashOpcodeTable& table = OpcodeTableForKind(static_cast<std::uint8_t>(kind));
    EXPECT_EQ(table.entries, ExpectedEntries(static_cast<std::uint8_t>(kind))) << kind;
    for (std::uint32_t entry : table.entries) EXPECT_LE(entry, 0xFFu);
  }
  EXPECT_EQ(&OpcodeTableForKind(6), &OpcodeTableForKind(0));
  EXPECT_EQ(&OpcodeTableForKind(200), &OpcodeTableForKind(0));
}

// Twelve index/value pairs, the flag, the length query.
constexpr std::size_t kLoadRequests = 12 * 2 + 1 + 1;

void ExpectLoadSequence(const ScriptedCamera& camera, const Entries& entries) {
  const auto& requests = camera.Requests();
  ASSERT_EQ(requests.size(), kLoadRequests);
  for (std::size_t slot = 1; slot <= 12; ++slot) {
    const CameraRequest& index = requests[2 * (slot - 1)];
    const CameraRequest& value = requests[2 * (slot - 1) + 1];
    EXPECT_EQ(index.op, RequestOp::Set);
    EXPECT_EQ(index.selector, SEL_OPCODE_INDEX);
    EXPECT_EQ(index.data, Bytes{static_cast<std::uint8_t>(slot)});
    EXPECT_EQ(value.op, RequestOp::Set);
    EXPECT_EQ(value.selector, SEL_OPCODE_VALUE);
    EXPECT_EQ(value.data, Bytes{static_cast<std::uint8_t>(entries[slot - 1])}) << "slot " << slot;
  }
  EXPECT_EQ(requests[24].op, RequestOp::Set);
  EXPECT_EQ(requests[24].selector, SEL_OPCODE_FLAGS);
  EXPECT_EQ(requests[24].data, Bytes{static_cast<std::uint8_t>(entries[12])});
  EXPECT_EQ(requests[25].op, RequestOp::Length);
  EXPECT_EQ(requests[25].selector, SEL_FLASH_DATA);
}

TEST(LoadOpcodeTable, SendsTwelvePairsAndTheFlagThenOneLengthQueryForTheKindsLowByte) {
  for (const std::uint32_t kind :
       {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 255u, 0x101u, 0x102u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(kind);
    ScriptedCamera camera;
    FlashEngine engine;
    fakes::AttachCamera(engine, camera, FamilyAx);
    camera.SetSelectorLength(SEL_FLASH_DATA, 4096);
    EXPECT_EQ(LoadOpcodeTable(engine, kind), S_OK);
    ExpectLoadSequence(camera, ExpectedEntries(static_cast<std::uint8_t>(kind & 0xFF)));
  }
}

TEST(LoadOpcodeTable, IgnoresRefusedEntriesAndReturnsTheLengthQueryStatus) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family8x);
  camera.failRequest = [](const CameraRequest& request, std::size_t) {
    return request.op == RequestOp::Set ? E_FAIL : STATUS_GEN_FAILURE;
  };
  EXPECT_EQ(LoadOpcodeTable(engine, 2), STATUS_GEN_FAILURE);
  EXPECT_EQ(camera.Requests().size(), kLoadRequests);

  FlashEngine unbound;
  EXPECT_TRUE(Failed(LoadOpcodeTable(unbound, 0)));
}

TEST(LoadCurrentOpcodeTable, UsesTheStoredKind) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  engine.flashKind = 1;
  EXPECT_EQ(LoadCurrentOpcodeTable(engine), S_OK);
  ExpectLoadSequence(camera, kKind1Entries);
}

}  // namespace
}  // namespace torvane
