#include "flash/flash_readback.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "channel/selectors.h"
#include "flash/flash_identification.h"
#include "support/scripted_camera.h"

namespace torvane {
namespace {

using fakes::CameraRequest;
using fakes::ScriptedCamera;
using fakes::ScriptedSettings;
using Bytes = std::vector<std::uint8_t>;
using Traffic = std::vector<std::string>;

constexpr std::uint8_t kSentinel = 0xEE;
constexpr std::size_t kTableSets = 25;  // opcode table: twelve pairs and the flag

// A block-selector request in words: "len", "addr 6400", "get 1024", with
// " failed" appended when the camera refused it.
std::string Describe(const CameraRequest& request) {
  char text[48];
  if (request.op == RequestOp::Length) {
    std::snprintf(text, sizeof text, "len");
  } else if (request.op == RequestOp::Set) {
    const bool wellFormed =
        request.data.size() == 4 && request.data[2] == 0 && request.data[3] == 0;
    std::snprintf(text, sizeof text, wellFormed ? "addr %X" : "addr malformed",
                  wellFormed ? request.data[0] | (request.data[1] << 8) : 0);
  } else {
    std::snprintf(text, sizeof text, "get %u", request.length);
  }
  return std::string(text) + (Failed(request.status) ? " failed" : "");
}

// What the camera saw on the block selectors after the opcode table load
// (which ends with its own length query).
Traffic BlockTraffic(const ScriptedCamera& camera) {
  Traffic traffic;
  bool tableLoaded = false;
  for (const CameraRequest& request : camera.Requests()) {
    if (!tableLoaded) {
      tableLoaded = request.op == RequestOp::Length;
      continue;
    }
    if (request.selector == SEL_FLASH_ADDRESS || request.selector == SEL_FLASH_DATA) {
      traffic.push_back(Describe(request));
    } else {
      traffic.push_back("other selector " + std::to_string(request.selector));
    }
  }
  return traffic;
}

// Checks that dest holds flash bytes (dest offset a = flash address a, low
// 16 bits) exactly in [from, to) and the sentinel everywhere else.
void ExpectFilled(const Bytes& dest, const ScriptedCamera& camera, std::size_t from,
                  std::size_t to) {
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < dest.size(); ++i) {
    const std::uint8_t expected = (i >= from && i < to) ? camera.flash[i % 0x10000] : kSentinel;
    if (dest[i] != expected && wrong++ < 5) {
      ADD_FAILURE() << "offset 0x" << std::hex << i << " holds 0x" << int{dest[i]}
                    << ", expected 0x" << int{expected};
    }
  }
  EXPECT_EQ(wrong, 0u);
}

// ---------------------------------------------------------------------------

TEST(ProjectCodeFor, FollowsTheHashOfTheFirst98SignedCharacters) {
  struct Case {
    std::string text;
    std::uint8_t code;
  };
  const Case cases[] = {
      {"ASDF", 195},
      {"", 4},
      {"A", 9},
      {"\xE9", 168},  // as -23; taken as 233 it would give 171
  };
  for (const Case& c : cases) EXPECT_EQ(ProjectCodeFor(c.text), c.code) << c.text;

  std::string long99;
  for (int i = 0; i < 99; ++i) long99.push_back(static_cast<char>(33 + i));
  EXPECT_EQ(ProjectCodeFor(long99), ProjectCodeFor(long99.substr(0, 98)));
  EXPECT_EQ(ProjectCodeFor(long99 + "more text"), ProjectCodeFor(long99.substr(0, 98)));
  EXPECT_NE(ProjectCodeFor(long99.substr(0, 98)), ProjectCodeFor(long99.substr(0, 97)));
}

// ---------------------------------------------------------------------------
// ReadFlashRange

struct RangeCase {
  const char* name;
  std::uint32_t length;  // the camera's first answer (and the table load's)
  std::uint32_t second;  // its second answer
  std::uint32_t start;
  std::uint32_t end;
  std::size_t destSize;
  int result;
  Traffic traffic;
  std::size_t filledFrom;
  std::size_t filledTo;
};
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class ReadRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ReadRange, ReadsTheseBlocksAndFillsExactlyTheseOffsets) {
  const RangeCase& c = GetParam();
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family8x);
  camera.ScriptLengths(SEL_FLASH_DATA, {c.length, c.length, c.second});
  ScriptedSettings settings;
  Bytes dest(c.destSize, kSentinel);
  EXPECT_EQ(ReadFlashRange(engine, settings, dest.data(), dest.size(), c.start, c.end), c.result);
  EXPECT_EQ(BlockTraffic(camera), c.traffic);
  ExpectFilled(dest, camera, c.filledFrom, c.filledTo);
}

const Traffic k1024Blocks = {"len",      "len",      "addr 6000", "get 1024", "addr 6400",
                             "get 1024", "addr 6800", "get 1024", "addr 6C00", "get 1024"};

INSTANTIATE_TEST_SUITE_P(
    Flash, ReadRange,
    ::testing::Values(
        RangeCase{"Streaming4096", 4096, 4096, 0x8000, 0x9000, 0x10000, 1,
                  {"len", "addr 8000", "get 4096"}, 0x8000, 0x9000},
        RangeCase{"Blocks1024", 1024, 1024, 0x6000, 0x7000, 0x10000, 1, k1024Blocks, 0x6000,
                  0x7000},
        RangeCase{"Blocks3000OvershootTheEnd", 3000, 3000, 0x6000, 0x7000, 0x10000, 1,
                  {"len", "len", "addr 6000", "get 3000", "addr 6BB8", "get 3000"}, 0x6000,
                  0x7770},
        RangeCase{"Blocks3000ClippedToTheDestination", 3000, 3000, 0x6000, 0x7000, 0x7000, 1,
                  {"len", "len", "addr 6000", "get 3000", "addr 6BB8", "get 3000"}, 0x6000,
                  0x7000},
        RangeCase{"StreamingClippedToTheDestination", 4096, 4096, 0x8000, 0x8800, 0x8800, 1,
                  {"len", "addr 8000", "get 4096"}, 0x8000, 0x8800},
        RangeCase{"EmptyRangeStreaming", 4096, 4096, 0x5000, 0x5000, 0x10000, 1,
                  {"len", "addr 5000"}, 0, 0},
        RangeCase{"EmptyRangeBlocks", 1024, 1024, 0x5000, 0x5000, 0x10000, 1, {"len", "len"}, 0,
                  0},
        RangeCase{"ZeroLengthFailsInsteadOfLooping", 0, 0, 0x6000, 0x7000, 0x10000, 0, {"len"}, 0,
                  0},
        RangeCase{"AbsurdLengthIsNotAllocated", 0xFFFFFFFF, 0xFFFFFFFF, 0x6000, 0x7000, 0x10000, 0,
                  {"len"}, 0, 0},
        RangeCase{"LengthBeyondTheFlash", 0x10001, 0x10001, 0x6000, 0x7000, 0x10000, 0, {"len"}, 0,
                  0},
        RangeCase{"SecondAnswerZero", 1024, 0, 0x6000, 0x7000, 0x10000, 0, {"len", "len"}, 0, 0},
        RangeCase{"SecondAnswerLargerSizesTheBlock", 1024, 2048, 0x6000, 0x7000, 0x10000, 1,
                  {"len", "len", "addr 6000", "get 2048", "addr 6800", "get 2048"}, 0x6000,
                  0x7000},
        RangeCase{"RangePastTheDestinationIsRefusedUnread", 4096, 4096, 0x6000, 0x7000, 0x6800, 0,
                  {}, 0, 0},
        RangeCase{"OnlyTheLow16AddressBitsAreSent", 4096, 4096, 0x18000, 0x19000, 0x20000, 1,
                  {"len", "addr 8000", "get 4096"}, 0x18000, 0x19000}),
    [](const ::testing::TestParamInfo<RangeCase>& param) { return param.param.name; });

TEST(ReadFlashRange, AFailedRequestFailsTheReadThere) {
  struct Case {
    const char* name;
    std::uint32_t length;
    RequestOp op;
    std::uint32_t selector;
    int ordinal;  // which request of that kind fails, from 1 (the table's query is 1)
    int result;
    Traffic traffic;
  };
  const Case cases[] = {
      {"first length query", 1024, RequestOp::Length, SEL_FLASH_DATA, 2, 0, {"len failed"}},
      {"second length query keeps the first answer", 1024, RequestOp::Length, SEL_FLASH_DATA, 3,
       1, [] {
         Traffic t = k1024Blocks;
         t[1] = "len failed";
         return t;
       }()},
      {"streaming address set", 4096, RequestOp::Set, SEL_FLASH_ADDRESS, 1, 0,
       {"len", "addr 6000 failed"}},
      {"second address set", 1024, RequestOp::Set, SEL_FLASH_ADDRESS, 2, 0,
       {"len", "len", "addr 6000", "get 1024", "addr 6400 failed"}},
      {"second data get", 1024, RequestOp::Get, SEL_FLASH_DATA, 2, 0,
       {"len", "len", "addr 6000", "get 1024", "addr 6400", "get 1024 failed"}},
      {"streaming data get", 4096, RequestOp::Get, SEL_FLASH_DATA, 1, 0,
       {"len", "addr 6000", "get 4096 failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedCamera camera;
    FlashEngine engine;
    fakes::AttachCamera(engine, camera, FamilyAx);
    camera.SetSelectorLength(SEL_FLASH_DATA, c.length);
    int seen = 0;
    camera.failRequest = [&](const CameraRequest& request, std::size_t) {
      const bool match = request.op == c.op && request.selector == c.selector;
      return match && ++seen == c.ordinal ? STATUS_DEVICE_NOT_CONNECTED : S_OK;
    };
    ScriptedSettings settings;
    Bytes dest(0x10000, kSentinel);
    EXPECT_EQ(ReadFlashRange(engine, settings, dest.data(), dest.size(), 0x6000, 0x7000),
              c.result);
    EXPECT_EQ(BlockTraffic(camera), c.traffic);
  }
}

TEST(ReadFlashRange, WritesTheProjectCodeFirstOnEveryCallForFamilies6xAnd9x) {
  for (const ChipFamily family : {Family6x, Family9x, Family8x, FamilyAx, FamilyUnknown}) {
    SCOPED_TRACE(FamilyName(family));
    const bool wantsCode = family == Family6x || family == Family9x;
    ScriptedCamera camera;
    FlashEngine engine;
    fakes::AttachCamera(engine, camera, family);
    engine.flashKind = 2;
    camera.SetSelectorLength(SEL_FLASH_DATA, 4096);
    ScriptedSettings settings("A");  // code 9
    Bytes dest(0x10000, kSentinel);

    for (int call = 0; call < 2; ++call) {
      camera.ClearLog();
      EXPECT_EQ(ReadFlashRange(engine, settings, dest.data(), dest.size(), 0x8000, 0x9000), 1);
      const auto& requests = camera.Requests();
      std::size_t next = 0;
      if (wantsCode) {
        ASSERT_GE(requests.size(), 2u);
        EXPECT_EQ(requests[0].selector, SEL_REG_ADDRESS);
        EXPECT_EQ(requests[0].data, (Bytes{0x0F, 0x25}));
        EXPECT_EQ(requests[1].selector, SEL_REG_VALUE);
        EXPECT_EQ(requests[1].data, Bytes{9});
        next = 2;
      }
      // Then the stored kind's opcode table (kind 2: 0xD7 in slot 6).
      ASSERT_GE(requests.size(), next + kTableSets + 1);
      EXPECT_EQ(requests[next].selector, SEL_OPCODE_INDEX);
      EXPECT_EQ(requests[next + 11].data, Bytes{0xD7});
      EXPECT_EQ(requests[next + kTableSets].op, RequestOp::Length);
    }
    EXPECT_EQ(settings.projectReads, wantsCode ? 2u : 0u);
  }
}

TEST(ReadFlashRange, WithoutDestinationOrChannelNothingIsRead) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  ScriptedSettings settings;
  EXPECT_EQ(ReadFlashRange(engine, settings, nullptr, 0x10000, 0x8000, 0x9000), 0);
  // Only the project code went out.
  ASSERT_EQ(camera.Requests().size(), 2u);
  EXPECT_EQ(camera.Requests()[1].data, Bytes{195});

  FlashEngine unbound;
  Bytes dest(0x10000, kSentinel);
  EXPECT_EQ(ReadFlashRange(unbound, settings, dest.data(), dest.size(), 0x8000, 0x9000), 0);
  EXPECT_EQ(settings.projectReads, 1u);
}

// ---------------------------------------------------------------------------
// ReadFirstBlock

class FirstBlock : public ::testing::Test {
 protected:
  FirstBlock() {
    fakes::AttachCamera(engine, camera, Family6x);
    camera.SetSelectorLength(SEL_FLASH_DATA, 4096);
  }
  // The requests after the opcode table's sets.
  Traffic AfterTable() const {
    Traffic traffic;
    const auto& requests = camera.Requests();
    for (std::size_t i = kTableSets; i < requests.size(); ++i) {
      traffic.push_back(Describe(requests[i]));
    }
    return traffic;
  }
  ScriptedCamera camera;
  FlashEngine engine;
};

TEST_F(FirstBlock, RefusesWithoutSendingAnything) {
  struct Case {
    std::uint32_t kind;
    bool buffer;
    bool channel;
    std::int32_t result;
  };
  const Case cases[] = {
      {7, true, true, 160},  {255, true, true, 160}, {0x107, true, true, 160},
      {7, false, false, 160}, {6, false, true, 1},    {0, true, false, 1},
  };
  Bytes buffer(0x10000, kSentinel);
  for (const Case& c : cases) {
    FlashEngine unbound;
    FlashEngine& target = c.channel ? engine : unbound;
    EXPECT_EQ(ReadFirstBlock(target, c.buffer ? buffer.data() : nullptr, buffer.size(), 0, c.kind),
              c.result)
        << c.kind;
  }
  EXPECT_TRUE(camera.Requests().empty());
}

TEST_F(FirstBlock, LoadsTheGivenKindsTableThenReadsTheBlock) {
  Bytes buffer(0x10000, kSentinel);
  EXPECT_EQ(ReadFirstBlock(engine, buffer.data(), buffer.size(), 1, 0x101), S_OK);
  // Kind 0x101 is taken by its low byte: kind 1, whose flag is 1.
  ASSERT_GE(camera.Requests().size(), kTableSets);
  EXPECT_EQ(camera.Requests()[kTableSets - 1].selector, SEL_OPCODE_FLAGS);
  EXPECT_EQ(camera.Requests()[kTableSets - 1].data, Bytes{1});
  EXPECT_EQ(AfterTable(), (Traffic{"len", "len", "addr 1000", "get 4096"}));
  for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(buffer[i], camera.flash[0x1000 + i]) << i;
  EXPECT_EQ(buffer[4096], kSentinel);
}

TEST_F(FirstBlock, BlockIndexWrapsAtTheFlashSize) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "addr 0"}, {1, "addr 1000"}, {15, "addr F000"}, {16, "addr 0"}, {17, "addr 1000"}};
  for (const auto& [index, address] : cases) {
    camera.ClearLog();
    Bytes buffer(0x10000, kSentinel);
    EXPECT_EQ(ReadFirstBlock(engine, buffer.data(), buffer.size(), index, 0), S_OK);
    EXPECT_EQ(AfterTable(), (Traffic{"len", "len", address, "get 4096"})) << index;
  }
}

TEST_F(FirstBlock, ReturnsTheFirstFailureAndRequestsNothingAfterIt) {
  struct Case {
    const char* name;
    RequestOp op;
    std::uint32_t selector;
    int ordinal;
    Traffic traffic;
  };
  const Case cases[] = {
      {"length query", RequestOp::Length, SEL_FLASH_DATA, 2, {"len", "len failed"}},
      {"address set", RequestOp::Set, SEL_FLASH_ADDRESS, 1, {"len", "len", "addr 0 failed"}},
      {"data get", RequestOp::Get, SEL_FLASH_DATA, 1, {"len", "len", "addr 0", "get 4096 failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    camera.ClearLog();
    int seen = 0;
    camera.failRequest = [&](const CameraRequest& request, std::size_t) {
      const bool match = request.op == c.op && request.selector == c.selector;
      return match && ++seen == c.ordinal ? STATUS_GEN_FAILURE : S_OK;
    };
    Bytes buffer(0x10000, kSentinel);
    EXPECT_EQ(ReadFirstBlock(engine, buffer.data(), buffer.size(), 0, 0), STATUS_GEN_FAILURE);
    EXPECT_EQ(AfterTable(), c.traffic);
  }
}

TEST_F(FirstBlock, UntrustedLengthsNeverWritePastTheBuffer) {
  struct Case {
    std::uint32_t length;
    std::size_t bufferSize;
    bool succeeds;
    Traffic traffic;
    std::size_t filled;
  };
  const Case cases[] = {
      {0, 0x10000, false, {"len", "len"}, 0},
      {0x10001, 0x10000, false, {"len", "len"}, 0},
      {0xFFFFFFFF, 0x10000, false, {"len", "len"}, 0},
      // A longer block is read whole and clipped to the buffer.
      {4096, 1000, true, {"len", "len", "addr 0", "get 4096"}, 1000},
      {0x10000, 0x10000, true, {"len", "len", "addr 0", "get 65536"}, 0x10000},
      {1024, 0x10000, true, {"len", "len", "addr 0", "get 1024"}, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    camera.ClearLog();
    camera.SetSelectorLength(SEL_FLASH_DATA, c.length);
    Bytes buffer(c.bufferSize, kSentinel);
    const std::int32_t result = ReadFirstBlock(engine, buffer.data(), buffer.size(), 0, 0);
    EXPECT_EQ(Succeeded(result), c.succeeds) << result;
    EXPECT_EQ(AfterTable(), c.traffic);
    ExpectFilled(buffer, camera, 0, c.filled);
  }
}

// ---------------------------------------------------------------------------
// ReadFirmwareVersion

TEST(ReadFirmwareVersion, ComposesTheVersionFromTheFamilysLocations) {
  struct Poke {
    std::uint32_t address;
    std::uint8_t value;
  };
  struct Case {
    ChipFamily family;
    std::vector<Poke> pokes;
    std::uint32_t version;
    Traffic traffic;  // block traffic of every range read, in order
  };
  const Case cases[] = {
      {FamilyAx, {{0x678E, 0x32}, {0x678F, 0x01}, {0x6040, 0x05}}, 0x13205,
       {"len", "addr 6000", "get 4096"}},
      {Family6x, {{0x800C, 0x01}, {0x800D, 0x90}}, 0x9001, {"len", "addr 8000", "get 4096"}},
      {Family9x, {{0x800C, 0xFF}, {0x800D, 0xFF}}, 0xFFFF, {"len", "addr 8000", "get 4096"}},
      {Family8x, {{0xB70E, 0x34}, {0xB70F, 0x12}, {0xDB40, 0x56}}, 0x123456,
       {"len", "addr B000", "get 4096", "len", "addr D000", "get 4096"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FamilyName(c.family));
    ScriptedCamera camera;
    FlashEngine engine;
    fakes::AttachCamera(engine, camera, c.family);
    camera.SetSelectorLength(SEL_FLASH_DATA, 4096);
    for (const Poke& poke : c.pokes) camera.flash[poke.address] = poke.value;
    ScriptedSettings settings;
    std::uint32_t version = 0xAAAAAAAA;
    EXPECT_EQ(ReadFirmwareVersion(engine, settings, &version), 0);
    EXPECT_EQ(version, c.version);
    Traffic traffic;
    for (const CameraRequest& request : camera.Requests()) {
      if (request.selector == SEL_FLASH_ADDRESS || request.selector == SEL_FLASH_DATA) {
        traffic.push_back(Describe(request));
      }
    }
    // Each range read also loads the table, whose length query shows here.
    Traffic expected;
    for (const std::string& step : c.traffic) {
      if (step == "len") expected.push_back("len");
      expected.push_back(step);
    }
    EXPECT_EQ(traffic, expected);
  }
}

TEST(ReadFirmwareVersion, FailsWithoutTouchingTheVersion) {
  ScriptedSettings settings;
  std::uint32_t version = 0xAAAAAAAA;

  FlashEngine unbound;
  EXPECT_EQ(ReadFirmwareVersion(unbound, settings, &version), 1);

  ScriptedCamera unknown;
  FlashEngine unknownEngine;
  fakes::AttachCamera(unknownEngine, unknown, FamilyUnknown);
  EXPECT_EQ(ReadFirmwareVersion(unknownEngine, settings, &version), 1);
  EXPECT_TRUE(unknown.Requests().empty());

  // Family8x reads two ranges; the second one's data get fails.
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family8x);
  camera.SetSelectorLength(SEL_FLASH_DATA, 4096);
  int gets = 0;
  camera.failRequest = [&](const CameraRequest& request, std::size_t) {
    return request.op == RequestOp::Get && request.selector == SEL_FLASH_DATA && ++gets == 2
               ? E_FAIL
               : S_OK;
  };
  EXPECT_EQ(ReadFirmwareVersion(engine, settings, &version), 1);
  EXPECT_EQ(version, 0xAAAAAAAAu);
}

}  // namespace
}  // namespace torvane
