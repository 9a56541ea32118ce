#include "flash/flash_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "channel/selectors.h"
#include "support/scripted_camera.h"

namespace torvane {
namespace {

using fakes::CameraRequest;
using fakes::R;
using fakes::RegisterAccess;
using fakes::ScriptedCamera;
using fakes::W;
using Accesses = std::vector<RegisterAccess>;
using Bytes = std::vector<std::uint8_t>;

// Register traffic of the recurring pieces, at chip-select level `level`.
Accesses Concat(std::initializer_list<Accesses> parts) {
  Accesses all;
  for (const Accesses& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
std::uint8_t Asserted(std::uint8_t level) { return level; }
std::uint8_t Released(std::uint8_t level) { return static_cast<std::uint8_t>(2 - level); }
Accesses Idle() { return {R(REG_SPI_BUSY, 0)}; }
Accesses Transmit(std::uint8_t byte) { return {W(REG_SPI_TX, byte), R(REG_SPI_BUSY, 0)}; }
Accesses Receive(std::uint8_t byte) {
  return {R(REG_SPI_RX_START, 0), R(REG_SPI_BUSY, 0), R(REG_SPI_RX, byte), R(REG_SPI_BUSY, 0)};
}
Accesses WriteDisable() { return Concat({{W(REG_SPI_CONTROL, 0x80)}, Transmit(0x04)}); }
Accesses EnableCommand(std::uint8_t level, std::uint8_t opcode) {
  return Concat({{W(REG_SPI_CONTROL, 0x80), W(REG_SPI_CS, Asserted(level))},
                 Transmit(opcode),
                 {W(REG_SPI_CS, Released(level))}});
}
Accesses StatusCycle(std::uint8_t level, std::uint8_t status) {
  return Concat({{W(REG_SPI_CS, Asserted(level))},
                 Transmit(0x05),
                 {R(REG_SPI_RX_START, 0), R(REG_SPI_BUSY, 0), R(REG_SPI_RX, status),
                  W(REG_SPI_CS, Released(level))}});
}

std::int64_t PackId(int result, const std::uint8_t out[3]) {
  return (static_cast<std::int64_t>(result) << 24) | (out[0] << 16) | (out[1] << 8) | out[2];
}

FlashWriteRecord Record(std::array<std::uint8_t, 3> address, Bytes data) {
  FlashWriteRecord record;
  record.address = address;
  std::copy(data.begin(), data.end(), record.data.begin());
  record.count = static_cast<std::uint16_t>(data.size());
  return record;
}

// ---------------------------------------------------------------------------
// The primitives' register traffic, access by access.

struct SequenceCase {
  const char* name;
  std::uint8_t level;
  std::function<void(ScriptedCamera&)> script;
  std::function<std::int64_t(FlashEngine&)> run;
  std::int64_t result;
  Accesses expected;
};

void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class PrimitiveSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(PrimitiveSequence, IssuesExactlyTheseRegisterAccesses) {
  const SequenceCase& c = GetParam();
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, FamilyUnknown);
  engine.chipSelectLevel = c.level;
  if (c.script) c.script(camera);
  EXPECT_EQ(c.run(engine), c.result);
  EXPECT_EQ(camera.RegisterAccesses(), c.expected);
  EXPECT_FALSE(engine.TimedOut());
  // Every access is an address request followed by a value request.
  EXPECT_EQ(camera.Requests().size(), 2 * c.expected.size());
}

const std::uint8_t kIdRx[] = {0xC2, 0x05, 0xC2};

INSTANTIATE_TEST_SUITE_P(
    Flash, PrimitiveSequence,
    ::testing::Values(
        SequenceCase{"WriteEnableAtLevel2WaitsUntilIdle", 2,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_BUSY, {3, 1, 0}); },
                     [](FlashEngine& e) { return e.WriteEnable(); }, S_OK,
                     {W(0x2020, 0x80), W(0x2025, 0x02), W(0x2022, 0x06), R(0x2021, 3),
                      R(0x2021, 1), R(0x2021, 0), W(0x2025, 0x00)}},
        SequenceCase{"WriteEnableAtLevel0", 0, nullptr,
                     [](FlashEngine& e) { return e.WriteEnable(); }, S_OK,
                     {W(0x2020, 0x80), W(0x2025, 0x00), W(0x2022, 0x06), R(0x2021, 0),
                      W(0x2025, 0x02)}},
        SequenceCase{"EnableWriteStatus", 2, nullptr,
                     [](FlashEngine& e) { return e.EnableWriteStatus(); }, S_OK,
                     EnableCommand(2, 0x50)},
        SequenceCase{"SendWriteDisableLeavesChipSelectAlone", 2, nullptr,
                     [](FlashEngine& e) {
                       e.SendWriteDisable();
                       return 0;
                     },
                     0, {W(0x2020, 0x80), W(0x2022, 0x04), R(0x2021, 0)}},
        SequenceCase{"ReadFlashId90SendsThreeZeroBytes", 2,
                     [](ScriptedCamera& c) {
                       c.ScriptReads(REG_SPI_RX, {0xC2, 0x05, 0xC2});
                       c.ScriptReads(REG_SPI_RX_START, {0x11, 0x22, 0x33});
                     },
                     [](FlashEngine& e) {
                       std::uint8_t out[3] = {};
                       return PackId(e.ReadFlashId(0x90, out), out);
                     },
                     PackId(1, kIdRx),
                     Concat({WriteDisable(), {W(0x2025, 0x02), W(0x2022, 0x90)}, Idle(),
                             Transmit(0), Transmit(0), Transmit(0),
                             {R(0x2023, 0x11), R(0x2021, 0), R(0x2024, 0xC2), R(0x2021, 0)},
                             {R(0x2023, 0x22), R(0x2021, 0), R(0x2024, 0x05), R(0x2021, 0)},
                             {R(0x2023, 0x33), R(0x2021, 0), R(0x2024, 0xC2), R(0x2021, 0)},
                             {W(0x2025, 0x00)}})},
        SequenceCase{"ReadFlashIdABAtLevel0", 0,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0xC2, 0x05, 0xC2}); },
                     [](FlashEngine& e) {
                       std::uint8_t out[3] = {};
                       return PackId(e.ReadFlashId(0xAB, out), out);
                     },
                     PackId(1, kIdRx),
                     Concat({WriteDisable(), {W(0x2025, 0x00)}, Transmit(0xAB), Transmit(0),
                             Transmit(0), Transmit(0), Receive(0xC2), Receive(0x05),
                             Receive(0xC2), {W(0x2025, 0x02)}})},
        SequenceCase{"ReadFlashId9FStartsReceivingAtOnce", 2,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0xC2, 0x05, 0xC2}); },
                     [](FlashEngine& e) {
                       std::uint8_t out[3] = {};
                       return PackId(e.ReadFlashId(0x9F, out), out);
                     },
                     PackId(1, kIdRx),
                     Concat({WriteDisable(), {W(0x2025, 0x02), W(0x2022, 0x9F)}, Receive(0xC2),
                             Receive(0x05), Receive(0xC2), {W(0x2025, 0x00)}})},
        SequenceCase{"PollFlashStatusRunsOneCycleUntilBitZeroClears", 2,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0x03, 0x00}); },
                     [](FlashEngine& e) { return e.PollFlashStatus(); }, 0x00,
                     Concat({{W(0x2020, 0x80)}, StatusCycle(2, 0x03), StatusCycle(2, 0x00)})},
        SequenceCase{"PollFlashStatusReturnsTheLastStatus", 0,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0x9C}); },
                     [](FlashEngine& e) { return e.PollFlashStatus(); }, 0x9C,
                     Concat({{W(0x2020, 0x80)}, StatusCycle(0, 0x9C)})},
        SequenceCase{"WriteStatusRegisterSkipsAnEqualStatus", 2,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0x0C}); },
                     [](FlashEngine& e) {
                       e.WriteStatusRegister(0x0C, false);
                       return 0;
                     },
                     0, Concat({{W(0x2020, 0x80)}, StatusCycle(2, 0x0C)})},
        SequenceCase{"WriteStatusRegisterWithWriteEnable", 2,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0x1C, 0x00}); },
                     [](FlashEngine& e) {
                       e.WriteStatusRegister(0x00, false);
                       return 0;
                     },
                     0,
                     Concat({{W(0x2020, 0x80)}, StatusCycle(2, 0x1C), EnableCommand(2, 0x06),
                             {W(0x2020, 0x80), W(0x2025, 0x02)}, Transmit(0x01), Transmit(0x00),
                             {W(0x2025, 0x00)}, {W(0x2020, 0x80)}, StatusCycle(2, 0x00)})},
        SequenceCase{"WriteStatusRegisterWithEnableWriteStatus", 0,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0x00, 0x0C}); },
                     [](FlashEngine& e) {
                       e.WriteStatusRegister(0x0C, true);
                       return 0;
                     },
                     0,
                     Concat({{W(0x2020, 0x80)}, StatusCycle(0, 0x00), EnableCommand(0, 0x50),
                             {W(0x2020, 0x80), W(0x2025, 0x00)}, Transmit(0x01), Transmit(0x0C),
                             {W(0x2025, 0x02)}, {W(0x2020, 0x80)}, StatusCycle(0, 0x0C)})},
        SequenceCase{"ProgramRecordWithoutData", 2, nullptr,
                     [](FlashEngine& e) { return e.ProgramRecord(Record({0x00, 0x12, 0x34}, {})); },
                     1,
                     Concat({{W(0x2020, 0x80)}, EnableCommand(2, 0x06), {W(0x2025, 0x02)},
                             Transmit(0x02), Transmit(0x00), Transmit(0x12), Transmit(0x34),
                             {W(0x2025, 0x00)}, {W(0x2020, 0x80)}, StatusCycle(2, 0x00),
                             WriteDisable(), {W(0x2020, 0x00)}})},
        SequenceCase{"ProgramRecordWithData", 0,
                     [](ScriptedCamera& c) { c.ScriptReads(REG_SPI_RX, {0x01, 0x00}); },
                     [](FlashEngine& e) {
                       return e.ProgramRecord(Record({0x00, 0xFF, 0x0C}, {0xAA, 0x55}));
                     },
                     1,
                     Concat({{W(0x2020, 0x80)}, EnableCommand(0, 0x06), {W(0x2025, 0x00)},
                             Transmit(0x02), Transmit(0x00), Transmit(0xFF), Transmit(0x0C),
                             Transmit(0xAA), Transmit(0x55), {W(0x2025, 0x02)},
                             {W(0x2020, 0x80)}, StatusCycle(0, 0x01), StatusCycle(0, 0x00),
                             WriteDisable(), {W(0x2020, 0x00)}})}),
    [](const ::testing::TestParamInfo<SequenceCase>& param) { return param.param.name; });

// ---------------------------------------------------------------------------
// Register access at the selector level.

TEST(RegisterAccess, AddressGoesLowByteFirstAndOnlyTheValueStatusCounts) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  camera.failRequest = [](const CameraRequest& request, std::size_t) {
    return request.selector == SEL_REG_ADDRESS ? E_FAIL : S_OK;
  };
  EXPECT_EQ(engine.WriteRegister(0x2022, 0x9F), S_OK);
  camera.failRequest = [](const CameraRequest& request, std::size_t) {
    return request.selector == SEL_REG_VALUE ? STATUS_GEN_FAILURE : S_OK;
  };
  std::uint8_t value = 0;
  EXPECT_EQ(engine.ReadRegister(0x20FF, &value), STATUS_GEN_FAILURE);

  const auto& requests = camera.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].op, RequestOp::Set);
  EXPECT_EQ(requests[0].selector, SEL_REG_ADDRESS);
  EXPECT_EQ(requests[0].data, (Bytes{0x22, 0x20}));
  EXPECT_EQ(requests[1].op, RequestOp::Set);
  EXPECT_EQ(requests[1].selector, SEL_REG_VALUE);
  EXPECT_EQ(requests[1].data, Bytes{0x9F});
  EXPECT_EQ(requests[2].selector, SEL_REG_ADDRESS);
  EXPECT_EQ(requests[2].data, (Bytes{0xFF, 0x20}));
  EXPECT_EQ(requests[3].op, RequestOp::Get);
  EXPECT_EQ(requests[3].selector, SEL_REG_VALUE);
  EXPECT_EQ(requests[3].length, 1u);
}

TEST(RegisterAccess, WithoutAChannelNothingIsSent) {
  FlashEngine engine;
  std::uint8_t value = 0x33;
  EXPECT_EQ(engine.WriteRegister(REG_SPI_CS, 2), E_POINTER);
  EXPECT_EQ(engine.ReadRegister(REG_CHIP_ID, &value), E_POINTER);
  EXPECT_EQ(value, 0x33);
}

// ---------------------------------------------------------------------------
// ProgramRecord's writes that must succeed.

TEST(ProgramRecord, StopsAtTheFirstFailedWriteThatMustSucceed) {
  // The register writes of a two-byte record, numbered from 1: 1 bridge
  // enable; 2-5 write enable; 6 assert; 7 opcode; 8-10 address; 11-12 data;
  // 13 release; 14-17 status poll; 18-19 write disable; 20 bridge disable.
  const std::set<int> mustSucceed = {1, 6, 7, 8, 9, 10, 11, 12, 13};
  constexpr int kWrites = 20;
  for (int failing = 1; failing <= kWrites; ++failing) {
    SCOPED_TRACE(failing);
    ScriptedCamera camera;
    FlashEngine engine;
    fakes::AttachCamera(engine, camera, Family9x);
    int writes = 0;
    camera.failRegister = [&](const RegisterAccess& access) {
      return access.write && ++writes == failing ? STATUS_DEVICE_NOT_CONNECTED : S_OK;
    };
    const int result = engine.ProgramRecord(Record({0x00, 0x40, 0x00}, {0x5A, 0xA5}));
    const Accesses accesses = camera.RegisterAccesses();
    const auto writesSeen = std::count_if(accesses.begin(), accesses.end(),
                                          [](const RegisterAccess& a) { return a.write; });
    if (mustSucceed.count(failing)) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(writesSeen, failing);
      EXPECT_TRUE(Failed(camera.Requests().back().status)) << "nothing after the failure";
    } else {
      EXPECT_EQ(result, failing == kWrites ? 0 : 1);
      EXPECT_EQ(writesSeen, kWrites);
    }
  }
}

TEST(ProgramRecord, NeverSendsMoreThanTheRecordHolds) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  FlashWriteRecord record;
  record.data.fill(0xEE);
  record.count = 40;
  EXPECT_EQ(engine.ProgramRecord(record), 1);
  const Accesses accesses = camera.RegisterAccesses();
  EXPECT_EQ(std::count(accesses.begin(), accesses.end(), W(REG_SPI_TX, 0xEE)), 33);
}

// ---------------------------------------------------------------------------
// Download mode.

TEST(CycleDownloadMode, EntersThenLeavesAndReportsOnlyTheLeave) {
  struct Case {
    int failingRequest;  // -1 none
    int result;
  };
  for (const Case c : {Case{-1, 1}, Case{0, 1}, Case{1, 0}}) {
    ScriptedCamera camera;
    FlashEngine engine;
    fakes::AttachCamera(engine, camera, FamilyAx);
    camera.failRequest = [&](const CameraRequest&, std::size_t index) {
      return static_cast<int>(index) == c.failingRequest ? E_FAIL : S_OK;
    };
    EXPECT_EQ(engine.CycleDownloadMode(), c.result);
    ASSERT_EQ(camera.Requests().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(camera.Requests()[i].selector, SEL_DOWNLOAD_MODE);
      EXPECT_EQ(camera.Requests()[i].data, Bytes{static_cast<std::uint8_t>(i == 0 ? 1 : 0)});
    }
  }
  FlashEngine unbound;
  EXPECT_EQ(unbound.CycleDownloadMode(), 0);
}

// ---------------------------------------------------------------------------
// A camera that never goes idle: every wait ends, in failure, within bounds.

std::size_t CountAccesses(const Accesses& accesses, const RegisterAccess& which) {
  return static_cast<std::size_t>(std::count(accesses.begin(), accesses.end(), which));
}
std::size_t BusyReads(const ScriptedCamera& camera) {
  const Accesses accesses = camera.RegisterAccesses();
  return static_cast<std::size_t>(std::count_if(
      accesses.begin(), accesses.end(),
      [](const RegisterAccess& a) { return !a.write && a.address == REG_SPI_BUSY; }));
}

TEST(BusyBounds, WaitSpiIdleGivesUpAfterItsBoundAndThenAtOnce) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  camera.StickRegister(REG_SPI_BUSY, 0x01);
  EXPECT_FALSE(engine.WaitSpiIdle());
  EXPECT_TRUE(engine.TimedOut());
  EXPECT_EQ(BusyReads(camera), kSpiIdleReadLimit);
  EXPECT_FALSE(engine.WaitSpiIdle());
  EXPECT_EQ(BusyReads(camera), kSpiIdleReadLimit + 1);

  engine.ClearTimeout();
  camera.ClearLog();
  EXPECT_FALSE(engine.WaitSpiIdle());
  EXPECT_EQ(BusyReads(camera), kSpiIdleReadLimit);
}

TEST(BusyBounds, FailedBusyReadsCountAsBusy) {
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  camera.failRegister = [](const RegisterAccess& access) {
    return !access.write && access.address == REG_SPI_BUSY ? E_FAIL : S_OK;
  };
  EXPECT_FALSE(engine.WaitSpiIdle());
  EXPECT_EQ(BusyReads(camera), kSpiIdleReadLimit);
}

struct StuckCase {
  const char* name;
  std::function<void(ScriptedCamera&)> stick;
  std::function<bool(FlashEngine&)> runSucceeds;  // false: ended in failure
  std::size_t maxBusyReads;
  std::size_t maxStatusCommands;
};

void PrintTo(const StuckCase& c, std::ostream* os) { *os << c.name; }

class StuckCamera : public ::testing::TestWithParam<StuckCase> {};

TEST_P(StuckCamera, EndsInFailureWithinTheBound) {
  const StuckCase& c = GetParam();
  ScriptedCamera camera;
  FlashEngine engine;
  fakes::AttachCamera(engine, camera, Family6x);
  c.stick(camera);
  EXPECT_FALSE(c.runSucceeds(engine));
  EXPECT_TRUE(engine.TimedOut());
  EXPECT_LE(BusyReads(camera), c.maxBusyReads);
  EXPECT_LE(CountAccesses(camera.RegisterAccesses(), W(REG_SPI_TX, 0x05)), c.maxStatusCommands);
}

void StuckBusy(ScriptedCamera& camera) { camera.StickRegister(REG_SPI_BUSY, 0x80); }
void StuckStatus(ScriptedCamera& camera) { camera.StickRegister(REG_SPI_RX, 0xFF); }
void FailingStatusReads(ScriptedCamera& camera) {
  camera.failRegister = [](const RegisterAccess& access) {
    return !access.write && access.address == REG_SPI_RX ? E_FAIL : S_OK;
  };
}
// A poll whose busy waits expired may still read a clear status byte; the
// latched expiry is what tells its callers.
bool Poll(FlashEngine& e) { return (e.PollFlashStatus() & 0x01) == 0 && !e.TimedOut(); }
bool Program(FlashEngine& e) { return e.ProgramRecord(Record({0, 0, 0}, {1, 2, 3, 4})) == 1; }
bool WriteStatus(FlashEngine& e) {
  e.WriteStatusRegister(0x0C, false);
  return !e.TimedOut();
}
bool Identify(FlashEngine& e) {
  std::uint8_t out[3];
  e.ReadFlashId(0x90, out);
  return !e.TimedOut();
}

// After the first expiry every further wait costs one busy read, and a
// status poll one cycle.
constexpr std::size_t kBusySlack = 64;
constexpr std::size_t kAnyBusy = kSpiIdleReadLimit + kBusySlack;
constexpr std::size_t kStatusSlack = 2;
constexpr std::size_t kAnyStatus = kFlashStatusPollLimit + kStatusSlack;

INSTANTIATE_TEST_SUITE_P(
    Flash, StuckCamera,
    ::testing::Values(
        StuckCase{"PollWithBusyStuck", StuckBusy, Poll, kAnyBusy, kStatusSlack},
        StuckCase{"PollWithStatusStuck", StuckStatus, Poll, 3 * kFlashStatusPollLimit, kAnyStatus},
        StuckCase{"PollWithFailingStatusReads", FailingStatusReads, Poll,
                  3 * kFlashStatusPollLimit, kAnyStatus},
        StuckCase{"ProgramWithBusyStuck", StuckBusy, Program, kAnyBusy, kStatusSlack},
        StuckCase{"ProgramWithStatusStuck", StuckStatus, Program, 3 * kFlashStatusPollLimit + 32,
                  kAnyStatus},
        StuckCase{"WriteStatusWithBusyStuck", StuckBusy, WriteStatus, kAnyBusy, kStatusSlack},
        StuckCase{"WriteStatusWithStatusStuck", StuckStatus, WriteStatus,
                  3 * kFlashStatusPollLimit + 32, kAnyStatus},
        StuckCase{"IdentifyWithBusyStuck", StuckBusy, Identify, kAnyBusy, 0}),
    [](const ::testing::TestParamInfo<StuckCase>& param) { return param.param.name; });

}  // namespace
}  // namespace torvane
