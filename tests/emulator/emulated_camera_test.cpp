// The emulated camera driven as the updater drives a camera: registers
// through SEL_REG_ADDRESS (low byte first) and SEL_REG_VALUE, serial-flash
// commands byte by byte through the bridge, and the block selectors.
#include "emulator/emulated_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "channel/selectors.h"

namespace torvane::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kControl = 0x2020;
constexpr std::uint16_t kBusy = 0x2021;
constexpr std::uint16_t kTx = 0x2022;
constexpr std::uint16_t kRxStart = 0x2023;
constexpr std::uint16_t kRx = 0x2024;
constexpr std::uint16_t kCs = 0x2025;
constexpr std::uint16_t kGpioA = 0x2041;
constexpr std::uint16_t kChipId = 0x20FF;
constexpr std::uint16_t kProjectCode = 0x250F;

// The opcode tables the updater loads, written out here as test data.
constexpr std::array<std::uint8_t, 13> kKind0Table = {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8,
                                                      0xC7, 0x02, 0xFF, 0xFF, 0x01, 0};
constexpr std::array<std::uint8_t, 13> kKind1Table = {0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52,
                                                      0x60, 0x02, 0xAF, 0x50, 0x01, 1};
constexpr std::array<std::uint8_t, 13> kKind2Table = {0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8,
                                                      0xC7, 0x02, 0xFF, 0xFF, 0x01, 0};

CameraConfig Config(std::uint8_t chipId, std::uint8_t part = 0x79) {
  CameraConfig config;
  config.chipId = chipId;
  config.flashPart = part;
  return config;
}

bool AnyRejectionContains(const EmulatedCamera& camera, const std::string& text) {
  return std::any_of(camera.rejections().begin(), camera.rejections().end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 7 + seed * 31 + (i >> 8)) & 0xFF);
  }
  return bytes;
}

Bytes Address4(std::uint32_t address) {
  return {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8 & 0xFF),
          static_cast<std::uint8_t>(address >> 16 & 0xFF),
          static_cast<std::uint8_t>(address >> 24 & 0xFF)};
}

// The host's side of the register bridge, the way the updater drives it.
class Host {
 public:
  explicit Host(EmulatedCamera& camera)
      : camera_(camera), level_(ChipSelectAssertLevel(camera.config().chipId).value_or(2)) {}

  HRESULT Set(std::uint32_t selector, const Bytes& data) { return camera_.SetCur(selector, data); }
  HRESULT Get(std::uint32_t selector, Bytes& data) { return camera_.GetCur(selector, data); }
  std::uint32_t Length(std::uint32_t selector) {
    std::uint32_t length = 0;
    EXPECT_EQ(camera_.GetLen(selector, &length), S_OK);
    return length;
  }

  void WriteRegister(std::uint16_t address, std::uint8_t value) {
    Set(SEL_REG_ADDRESS,
        {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)});
    Set(SEL_REG_VALUE, {value});
  }
  std::uint8_t ReadRegister(std::uint16_t address) {
    Set(SEL_REG_ADDRESS,
        {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)});
    Bytes value(1);
    Get(SEL_REG_VALUE, value);
    return value[0];
  }

  void Assert() { WriteRegister(kCs, level_); }
  void Release() { WriteRegister(kCs, static_cast<std::uint8_t>(2 - level_)); }
  // Busy reads until idle, bounded.
  int WaitIdle() {
    for (int reads = 1; reads <= 64; ++reads) {
      if (ReadRegister(kBusy) == 0) return reads;
    }
    return -1;
  }
  void Send(std::uint8_t byte) {
    WriteRegister(kTx, byte);
    WaitIdle();
  }
  std::uint8_t Receive() {
    ReadRegister(kRxStart);
    WaitIdle();
    return ReadRegister(kRx);
  }

  // One chip-select cycle: the bytes out, then `answer` bytes in.
  Bytes Command(const Bytes& out, std::size_t answer = 0) {
    WriteRegister(kControl, 0x80);
    Assert();
    for (std::uint8_t byte : out) Send(byte);
    Bytes in;
    for (std::size_t i = 0; i < answer; ++i) in.push_back(Receive());
    Release();
    return in;
  }
  Bytes ReadId(std::uint8_t command) {
    return command == 0x9F ? Command({command}, 3) : Command({command, 0, 0, 0}, 3);
  }
  std::uint8_t ReadStatus() { return Command({0x05}, 1)[0]; }
  // Status reads until write-in-progress clears; -1 when it never does.
  int PollReady(int limit = 64) {
    for (int reads = 1; reads <= limit; ++reads) {
      if ((ReadStatus() & 0x01) == 0) return reads;
    }
    return -1;
  }
  void WriteEnable() { Command({0x06}); }
  void WriteStatus(std::uint8_t value, bool enableWriteStatus = false) {
    Command({static_cast<std::uint8_t>(enableWriteStatus ? 0x50 : 0x06)});
    Command({0x01, value});
    PollReady();
  }
  void Program(std::uint32_t address, const Bytes& data) {
    WriteEnable();
    Bytes out = {0x02, static_cast<std::uint8_t>(address >> 16),
                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    out.insert(out.end(), data.begin(), data.end());
    Command(out);
    PollReady();
  }
  void Erase(std::uint8_t opcode, std::uint32_t address) {
    WriteEnable();
    if (opcode == 0xC7 || opcode == 0x60) {
      Command({opcode});
    } else {
      Command({opcode, static_cast<std::uint8_t>(address >> 16),
               static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
    }
    PollReady();
  }
  void LoadTable(const std::array<std::uint8_t, 13>& table) {
    for (std::uint8_t slot = 1; slot <= 12; ++slot) {
      Set(SEL_OPCODE_INDEX, {slot});
      Set(SEL_OPCODE_VALUE, {table[slot - 1]});
    }
    Set(SEL_OPCODE_FLAGS, {table[12]});
  }
  Bytes ReadBlock(std::uint32_t address) {
    Set(SEL_FLASH_ADDRESS, Address4(address));
    Bytes block(Length(SEL_FLASH_DATA));
    EXPECT_EQ(Get(SEL_FLASH_DATA, block), S_OK);
    return block;
  }

 private:
  EmulatedCamera& camera_;
  std::uint8_t level_;
};

Bytes FlashBytes(const EmulatedCamera& camera, std::uint32_t from, std::uint32_t count) {
  const auto flash = camera.flash();
  return Bytes(flash.begin() + from, flash.begin() + from + count);
}

// ---------------------------------------------------------------- registers

TEST(EmulatedCameraRegisters, ChipIdGpioProjectCodeAndAddressProbe) {
  EmulatedCamera camera(Config(0x93));
  Host host(camera);
  EXPECT_EQ(host.ReadRegister(kChipId), 0x93);
  host.WriteRegister(kChipId, 0x12);
  EXPECT_EQ(host.ReadRegister(kChipId), 0x93) << "the chip ID is read-only";
  host.WriteRegister(kGpioA, 0x02);
  EXPECT_EQ(host.ReadRegister(kGpioA), 0x02);
  host.WriteRegister(kProjectCode, 0xC3);
  EXPECT_EQ(camera.Register(kProjectCode), 0xC3);

  host.Set(SEL_REG_ADDRESS, {0xFF, 0x20});
  Bytes probe(2);
  EXPECT_EQ(host.Get(SEL_REG_ADDRESS, probe), S_OK);
  EXPECT_EQ(probe, (Bytes{0xFF, 0x20}));
}

TEST(EmulatedCameraRegisters, RequestsOfTheWrongShapeFailAndChangeNothing) {
  EmulatedCamera camera(Config(0xA3));
  Host host(camera);
  host.Set(SEL_REG_ADDRESS, {0x41, 0x20});
  struct Case {
    const char* what;
    LoggedOp op;
    std::uint32_t selector;
    Bytes data;  // Set: bytes sent; Get: a buffer of the length asked
  };
  const Case cases[] = {
      {"address of 1 byte", LoggedOp::Set, SEL_REG_ADDRESS, {0x22}},
      {"address of 3 bytes", LoggedOp::Set, SEL_REG_ADDRESS, {0x22, 0x20, 0x00}},
      {"value of 2 bytes", LoggedOp::Set, SEL_REG_VALUE, {1, 2}},
      {"value read of 2 bytes", LoggedOp::Get, SEL_REG_VALUE, Bytes(2)},
      {"opcode slot 0", LoggedOp::Set, SEL_OPCODE_INDEX, {0}},
      {"opcode slot 13", LoggedOp::Set, SEL_OPCODE_INDEX, {13}},
      {"download mode 2", LoggedOp::Set, SEL_DOWNLOAD_MODE, {2}},
      {"flash address of 3 bytes", LoggedOp::Set, SEL_FLASH_ADDRESS, {0, 0x10, 0}},
      {"program address of 2 bytes", LoggedOp::Set, SEL_PROGRAM_ADDRESS, {0, 0x10}},
      {"read of a set-only selector", LoggedOp::Get, SEL_OPCODE_INDEX, Bytes(1)},
      {"set of a get-only selector", LoggedOp::Set, SEL_DOWNLOAD_CHECKSUM, {0}},
      {"unknown selector set", LoggedOp::Set, 99, {0}},
      {"unknown selector get", LoggedOp::Get, 1, Bytes(1)},
  };
  const std::vector<std::uint8_t> flashBefore(camera.flash().begin(), camera.flash().end());
  for (const Case& c : cases) {
    Bytes data = c.data;
    const HRESULT status =
        c.op == LoggedOp::Set ? host.Set(c.selector, data) : host.Get(c.selector, data);
    EXPECT_EQ(status, STATUS_GEN_FAILURE) << c.what;
  }
  Bytes probe(2);
  host.Get(SEL_REG_ADDRESS, probe);
  EXPECT_EQ(probe, (Bytes{0x41, 0x20})) << "register address kept";
  EXPECT_EQ(camera.opcodeTable().slots, kPowerOnOpcodeTable.slots);
  EXPECT_FALSE(camera.InDownloadMode());
  EXPECT_EQ(camera.flashAddress(), 0u);
  EXPECT_TRUE(std::equal(flashBefore.begin(), flashBefore.end(), camera.flash().begin()));

  std::uint32_t length = 7;
  EXPECT_EQ(camera.GetLen(99, &length), STATUS_GEN_FAILURE);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(camera.GetLen(SEL_FLASH_DATA, nullptr), E_POINTER);
  EXPECT_EQ(camera.SetCur(SEL_OPCODE_VALUE, Bytes{0x03}), STATUS_GEN_FAILURE)
      << "a value before any slot was chosen";
}

TEST(EmulatedCameraRegisters, EveryRequestIsLogged) {
  EmulatedCamera camera(Config(0xA3));
  Host host(camera);
  camera.ClearLog();
  EXPECT_EQ(host.ReadRegister(kChipId), 0xA3);
  std::uint32_t length = 0;
  camera.GetLen(SEL_DOWNLOAD_BLOCK, &length);
  host.Set(77, {1});
  ASSERT_EQ(camera.log().size(), 4u);
  const auto& log = camera.log();
  EXPECT_EQ(log[0].op, LoggedOp::Set);
  EXPECT_EQ(log[0].selector, SEL_REG_ADDRESS);
  EXPECT_EQ(log[0].data, (Bytes{0xFF, 0x20}));
  EXPECT_EQ(log[1].op, LoggedOp::Get);
  EXPECT_EQ(log[1].data, (Bytes{0xA3}));
  EXPECT_EQ(log[1].length, 1u);
  EXPECT_EQ(log[2].op, LoggedOp::Length);
  EXPECT_EQ(log[2].length, 4096u);
  EXPECT_EQ(log[3].status, STATUS_GEN_FAILURE);
}

// ----------------------------------------------------------- serial bridge

// The updater's order of asking, written out independently: the camera's
// answers must lead it to each part's own code.
std::uint8_t DecideAsTheUpdaterDoes(Host& host, int* commands) {
  *commands = 1;
  const Bytes a = host.ReadId(0x90);
  const auto is = [](const Bytes& got, Bytes want) { return got == want; };
  switch (a[0]) {
    case 0xC2:
      return is(a, {0xC2, 0x05, 0xC2}) ? 0x79 : 0x78;
    case 0xBF:
      return is(a, {0xBF, 0x48, 0xBF}) ? 0x7A : 0x78;
    case 0x1C:
      return is(a, {0x1C, 0x05, 0x1C}) ? 0x7E : 0x78;
    case 0x42:
      return is(a, {0x42, 0x05, 0xC2}) ? 0x7F : 0x78;
    case 0x9D:
      return is(a, {0x9D, 0x05, 0x7F}) ? 0x7B : 0x78;
    case 0xFF:
      if (!is(a, {0xFF, 0xFF, 0xFF})) return 0x78;
      break;
    case 0x00:
      if (!is(a, {0x00, 0x00, 0x00})) return 0x78;
      break;
    default:
      return 0x78;
  }
  ++*commands;
  if (is(host.ReadId(0xAB), {0x9D, 0x7B, 0x7F})) return 0x7C;
  ++*commands;
  const Bytes c = host.ReadId(0x9F);
  if (is(c, {0x1F, 0x65, 0x00})) return 0x7D;
  if (is(c, {0xC2, 0x22, 0x10})) return 0x80;
  if (is(c, {0xC2, 0x22, 0x11})) return 0x81;
  return 0x78;
}

TEST(EmulatedCameraBridge, IdentificationAnswersLeadToEachPartsCode) {
  struct Case {
    std::uint8_t part;
    std::uint8_t command;  // the command whose answer decides
    Bytes answer;
    int commands;  // how many the updater sends
  };
  const Case cases[] = {
      {0x79, 0x90, {0xC2, 0x05, 0xC2}, 1}, {0x7A, 0x90, {0xBF, 0x48, 0xBF}, 1},
      {0x7B, 0x90, {0x9D, 0x05, 0x7F}, 1}, {0x7C, 0xAB, {0x9D, 0x7B, 0x7F}, 2},
      {0x7D, 0x9F, {0x1F, 0x65, 0x00}, 3}, {0x7E, 0x90, {0x1C, 0x05, 0x1C}, 1},
      {0x7F, 0x90, {0x42, 0x05, 0xC2}, 1}, {0x80, 0x9F, {0xC2, 0x22, 0x10}, 3},
      {0x81, 0x9F, {0xC2, 0x22, 0x11}, 3}, {0x78, 0x90, {0xEF, 0x10, 0xEF}, 1},
  };
  // Both chip-select polarities.
  for (std::uint8_t chip : {std::uint8_t{0xA3}, std::uint8_t{0x63}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message()
                   << "chip " << std::hex << int{chip} << " part " << int{c.part});
      EmulatedCamera camera(Config(chip, c.part));
      Host host(camera);
      EXPECT_EQ(host.ReadId(c.command), c.answer);
      int commands = 0;
      EXPECT_EQ(DecideAsTheUpdaterDoes(host, &commands), c.part);
      EXPECT_EQ(commands, c.commands);
    }
  }
}

TEST(EmulatedCameraBridge, NoReceivedByteIsReadFromRxStart) {
  EmulatedCamera camera(Config(0xA3, 0x79));
  Host host(camera);
  host.WriteRegister(kControl, 0x80);
  host.Assert();
  for (std::uint8_t byte : {0x90, 0x00, 0x00, 0x00}) host.Send(byte);
  const std::uint8_t fromStart = host.ReadRegister(kRxStart);
  const std::uint8_t fromRx = host.ReadRegister(kRx);
  host.Release();
  EXPECT_EQ(fromRx, 0xC2);
  EXPECT_NE(fromStart, 0xC2);
}

TEST(EmulatedCameraBridge, OnlyTheFamilysAssertLevelReachesTheFlash) {
  struct Case {
    std::uint8_t chip;
    std::uint8_t csValue;
    bool reaches;
  };
  const Case cases[] = {
      {0x63, 2, true},  {0x63, 0, false}, {0x93, 2, true},  {0x93, 0, false},
      {0x83, 0, true},  {0x83, 2, false}, {0xA3, 0, true},  {0xA3, 2, false},
      {0xA3, 1, false}, {0x12, 0, false}, {0x12, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "chip " << std::hex << int{c.chip} << " CS " << int{c.csValue});
    EmulatedCamera camera(Config(c.chip));
    Host host(camera);
    host.WriteRegister(kControl, 0x80);
    host.WriteRegister(kCs, c.csValue);
    host.Send(0x06);
    host.WriteRegister(kCs, 1);  // released on every family
    EXPECT_EQ((camera.flashStatusRegister() & 0x02) != 0, c.reaches);
    EXPECT_EQ(AnyRejectionContains(camera, "chip select released"), !c.reaches);
  }
}

TEST(EmulatedCameraBridge, BytesWithTheBridgeDisabledDoNotReachTheFlash) {
  EmulatedCamera camera(Config(0xA3));
  Host host(camera);
  host.Assert();  // the bridge was never enabled
  host.Send(0x06);
  host.Release();
  EXPECT_EQ(camera.flashStatusRegister() & 0x02, 0);
  EXPECT_TRUE(AnyRejectionContains(camera, "bridge disabled"));
}

TEST(EmulatedCameraBridge, BusyReadsNonzeroForTheConfiguredCount) {
  for (std::uint32_t count : {0u, 1u, 3u}) {
    CameraConfig config = Config(0xA3);
    config.busyReadsPerTransfer = count;
    EmulatedCamera camera(config);
    Host host(camera);
    host.WriteRegister(kControl, 0x80);
    host.Assert();
    host.WriteRegister(kTx, 0x05);
    EXPECT_EQ(host.WaitIdle(), static_cast<int>(count) + 1) << "after a send, count " << count;
    host.ReadRegister(kRxStart);
    EXPECT_EQ(host.WaitIdle(), static_cast<int>(count) + 1) << "after a reception, count " << count;
    host.Release();
  }
  CameraConfig stuck = Config(0xA3);
  stuck.stuckBusy = true;
  EmulatedCamera camera(stuck);
  Host host(camera);
  EXPECT_EQ(host.WaitIdle(), -1);
}

// The host may start a reception right after the 0x9F command without a
// busy wait; the answer must still come out right.
TEST(EmulatedCameraBridge, ReceptionWithoutWaitingForBusyStillWorks) {
  CameraConfig config = Config(0x83, 0x80);
  config.busyReadsPerTransfer = 5;
  EmulatedCamera camera(config);
  Host host(camera);
  host.WriteRegister(kControl, 0x80);
  host.Assert();
  host.WriteRegister(kTx, 0x9F);
  Bytes answer;
  for (int i = 0; i < 3; ++i) {
    host.ReadRegister(kRxStart);
    answer.push_back(host.ReadRegister(kRx));
  }
  host.Release();
  EXPECT_EQ(answer, (Bytes{0xC2, 0x22, 0x10}));
}

// ------------------------------------------------------ flash through bridge

class BridgeWrites : public ::testing::Test {
 protected:
  BridgeWrites() : camera_(Config(0xA3, 0x79)), host_(camera_) {}
  void SetUp() override {
    camera_.LoadFlash(Bytes(kFlashSize, 0xFF));
    camera_.SetFlashStatusRegister(0x00);
  }
  EmulatedCamera camera_;
  Host host_;
};

TEST_F(BridgeWrites, WriteEnableProgramAndPollChangeTheFlash) {
  for (std::uint32_t polls : {0u, 1u, 4u}) {
    CameraConfig config = Config(0x63, 0x79);
    config.wipPollsPerOperation = polls;
    EmulatedCamera camera(config);
    Host host(camera);
    camera.SetFlashStatusRegister(0x00);
    host.Erase(0x20, 0x1000);
    host.WriteEnable();
    EXPECT_EQ(host.ReadStatus(), 0x02) << "write enable latched";
    host.Command({0x02, 0x00, 0x12, 0x34, 0xDE, 0xAD});
    EXPECT_EQ(host.PollReady(), static_cast<int>(polls) + 1);
    EXPECT_EQ(FlashBytes(camera, 0x1234, 2), (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(host.Command({0x03, 0x00, 0x12, 0x33}, 4), (Bytes{0xFF, 0xDE, 0xAD, 0xFF}));
    EXPECT_EQ(host.ReadStatus(), 0x00) << "write enable cleared by the program";
  }
}

TEST_F(BridgeWrites, RefusedWritesLeaveTheFlashAsItWas) {
  enum class Op { Program, SectorErase, ChipErase };
  struct Case {
    const char* what;
    Op op;
    std::uint8_t status;
    bool writeEnable;
    const char* rejection;
  };
  const Case cases[] = {
      {"program without write enable", Op::Program, 0x00, false, "without write enable"},
      {"erase without write enable", Op::SectorErase, 0x00, false, "without write enable"},
      {"program protected 0x0C", Op::Program, 0x0C, true, "block protection"},
      {"program protected 0x04", Op::Program, 0x04, true, "block protection"},
      {"program protected 0x10", Op::Program, 0x10, true, "block protection"},
      {"sector erase protected", Op::SectorErase, 0x0C, true, "block protection"},
      {"chip erase protected", Op::ChipErase, 0x08, true, "block protection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    camera_.LoadFlash(Bytes(kFlashSize, 0x5A));
    camera_.SetFlashStatusRegister(c.status);
    camera_.ClearRejections();
    if (c.writeEnable) host_.WriteEnable();
    switch (c.op) {
      case Op::Program:
        host_.Command({0x02, 0x00, 0x20, 0x00, 0x00, 0x00});
        break;
      case Op::SectorErase:
        host_.Command({0x20, 0x00, 0x20, 0x00});
        break;
      case Op::ChipErase:
        host_.Command({0xC7});
        break;
    }
    EXPECT_EQ(host_.PollReady(), 1) << "nothing ran";
    EXPECT_TRUE(std::all_of(camera_.flash().begin(), camera_.flash().end(),
                            [](std::uint8_t b) { return b == 0x5A; }));
    EXPECT_TRUE(AnyRejectionContains(camera_, c.rejection));
  }
}

TEST_F(BridgeWrites, ProgramOnlyClearsBits) {
  host_.Program(0x0100, {0x3C, 0xF0});
  host_.Program(0x0100, {0xF0, 0xFF});
  EXPECT_EQ(FlashBytes(camera_, 0x0100, 2), (Bytes{0x30, 0xF0}));
}

TEST_F(BridgeWrites, ProgramWrapsWithinItsPage) {
  host_.Program(0x10FE, {0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(FlashBytes(camera_, 0x10FE, 2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(FlashBytes(camera_, 0x1000, 2), (Bytes{0x03, 0x04}));
  EXPECT_EQ(camera_.flash()[0x1100], 0xFF) << "nothing spills into the next page";

  // More than a page: the last byte sent for an offset is the one
  // programmed, not the AND of all of them.
  Bytes data(258, 0xFF);
  data[0] = 0x00;
  data[256] = 0xAA;
  data[257] = 0xBB;
  host_.Program(0x2000, data);
  EXPECT_EQ(FlashBytes(camera_, 0x2000, 3), (Bytes{0xAA, 0xBB, 0xFF}));
}

TEST(EmulatedCameraErase, EachPartErasesWithItsOwnCommands) {
  struct Case {
    std::uint8_t part;
    std::uint8_t opcode;
    std::uint32_t address;
    std::uint32_t erasedFrom, erasedTo;  // empty when the command is not the part's
  };
  const Case cases[] = {
      {0x79, 0x20, 0x1234, 0x1000, 0x2000},
      {0x79, 0xD8, 0x1234, 0x0000, 0x10000},
      {0x79, 0xC7, 0x0000, 0x0000, 0x10000},
      {0x81, 0x60, 0x0000, 0x0000, 0x10000},
      {0x7A, 0x52, 0x9000, 0x8000, 0x10000},
      {0x7A, 0x20, 0x3FFF, 0x3000, 0x4000},
      {0x7A, 0xD8, 0x1234, 0, 0},
      {0x7B, 0xD7, 0x3000, 0x3000, 0x4000},
      {0x7C, 0x20, 0x3000, 0, 0},
      {0x79, 0xD7, 0x3000, 0, 0},
      {0x79, 0x52, 0x3000, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "part " << std::hex << int{c.part} << " opcode " << int{c.opcode});
    EmulatedCamera camera(Config(0x83, c.part));
    Host host(camera);
    camera.LoadFlash(Bytes(kFlashSize, 0x00));
    camera.SetFlashStatusRegister(0x00);
    host.Erase(c.opcode, c.address);
    for (std::uint32_t a = 0; a < kFlashSize; a += 0x100) {
      const bool erased = a >= c.erasedFrom && a < c.erasedTo;
      ASSERT_EQ(camera.flash()[a], erased ? 0xFF : 0x00) << "address " << a;
      ASSERT_EQ(camera.flash()[a + 0xFF], erased ? 0xFF : 0x00) << "address " << a + 0xFF;
    }
    EXPECT_EQ(AnyRejectionContains(camera, "not implemented"), c.erasedFrom == c.erasedTo);
  }
}

TEST(EmulatedCameraStatus, StatusWriteNeedsTheRightEnable) {
  struct Case {
    const char* what;
    std::uint8_t part;
    bool enableWriteStatus;  // 0x50 instead of 0x06
    bool statusReadBetween;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {"ordinary part, write enable", 0x79, false, false, 0x00},
      {"ordinary part, 0x50 is not its command", 0x79, true, false, 0x0C},
      {"0x7A, enable-write-status", 0x7A, true, false, 0x00},
      {"0x7A, write enable is not enough", 0x7A, false, false, 0x0C},
      {"0x7A, 0x50 must come right before", 0x7A, true, true, 0x0C},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatedCamera camera(Config(0x93, c.part));
    Host host(camera);
    ASSERT_EQ(host.ReadStatus(), kPowerOnFlashStatus);
    host.Command({static_cast<std::uint8_t>(c.enableWriteStatus ? 0x50 : 0x06)});
    if (c.statusReadBetween) host.ReadStatus();
    host.Command({0x01, 0x00});
    host.PollReady();
    EXPECT_EQ(host.ReadStatus() & 0xFD, c.expected) << "write enable aside";
  }
  // And back to protected, as after an update.
  EmulatedCamera camera(Config(0x93, 0x79));
  Host host(camera);
  host.WriteStatus(0x00);
  host.WriteStatus(0x0C);
  EXPECT_EQ(host.ReadStatus(), 0x0C);
}

TEST(EmulatedCameraStatus, StuckWriteInProgressNeverClearsAndBlocksCommands) {
  CameraConfig config = Config(0xA3, 0x79);
  config.stuckWip = true;
  EmulatedCamera camera(config);
  Host host(camera);
  host.WriteStatus(0x00);  // the write itself leaves the part busy
  EXPECT_EQ(host.PollReady(200), -1);
  host.WriteEnable();
  EXPECT_EQ(host.ReadStatus() & 0x02, 0);
  EXPECT_TRUE(AnyRejectionContains(camera, "while a write is in progress"));
}

// --------------------------------------------------------------- block reads

TEST(EmulatedCameraBlockRead, ServesTheAnnouncedLengthAndAdvances) {
  for (std::uint32_t length : {4096u, 1024u, 3000u}) {
    SCOPED_TRACE(length);
    CameraConfig config = Config(0xA3, 0x79);
    config.flashDataBlockLength = length;
    EmulatedCamera camera(config);
    Host host(camera);
    const Bytes expected = Pattern(kFlashSize, length);
    camera.LoadFlash(expected);
    ASSERT_EQ(host.Length(SEL_FLASH_DATA), length);
    EXPECT_EQ(host.ReadBlock(0x6000), FlashBytes(camera, 0x6000, length));
    Bytes next(length);
    EXPECT_EQ(host.Get(SEL_FLASH_DATA, next), S_OK);
    EXPECT_EQ(next, FlashBytes(camera, 0x6000 + length, length)) << "continues where it ended";
    EXPECT_EQ(camera.flashAddress(), 0x6000 + 2 * length);

    Bytes wrong(length + 1);
    EXPECT_EQ(host.Get(SEL_FLASH_DATA, wrong), STATUS_GEN_FAILURE);
    EXPECT_EQ(camera.flashAddress(), 0x6000 + 2 * length) << "a refused read does not advance";
  }
}

TEST(EmulatedCameraBlockRead, ProjectCodeUnscramblesOn6xAnd9xOnly) {
  struct Case {
    std::uint8_t chip;
    std::optional<std::uint8_t> projectCode;  // written before reading; none: the power-on code
    std::uint8_t expectedCode;
    bool clear;
  };
  const Case cases[] = {
      {0x63, std::nullopt, 0xC3, true},  {0x63, 0xC3, 0xC3, true}, {0x93, 0xC4, 0xC3, false},
      {0x93, 0xC3, 0xC3, true},          {0x63, 0x04, 0x04, true}, {0x83, std::nullopt, 0xC3, true},
      {0xA3, 0x00, 0xC3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "chip " << std::hex << int{c.chip});
    CameraConfig config = Config(c.chip, 0x79);
    config.expectedProjectCode = c.expectedCode;
    EmulatedCamera camera(config);
    Host host(camera);
    if (c.projectCode) host.WriteRegister(kProjectCode, *c.projectCode);
    const Bytes block = host.ReadBlock(0x8000);
    const Bytes truth = FlashBytes(camera, 0x8000, 4096);
    if (c.clear) {
      EXPECT_EQ(block, truth);
    } else {
      for (std::size_t i = 0; i < block.size(); ++i) ASSERT_NE(block[i], truth[i]) << i;
    }
  }
}

// ------------------------------------------------------------- download mode

class Download : public ::testing::Test {
 protected:
  // A camera as the updater finds it before a download: table loaded,
  // status register cleared.
  static void Prepare(Host& host, EmulatedCamera& camera) {
    host.LoadTable(kKind0Table);
    if (camera.config().chipId >> 4 == 0xA) host.Set(SEL_FAMILY_AX_PREPARE, {1});
    host.WriteStatus(0x00);
  }
  static std::uint8_t Xor(const Bytes& bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), std::uint8_t{0},
                           [](std::uint8_t a, std::uint8_t b) { return std::uint8_t(a ^ b); });
  }
};

TEST_F(Download, StoresTheImageInOrderAndAnswersTheChecksum) {
  struct Case {
    std::uint8_t chip;
    std::uint32_t blockSize;
  };
  const Case cases[] = {{0x63, 4096}, {0x83, 4096}, {0xA3, 4096}, {0xA3, 64}, {0x93, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "chip " << std::hex << int{c.chip} << std::dec << " block " << c.blockSize);
    CameraConfig config = Config(c.chip, 0x79);
    config.downloadBlockSize = c.blockSize;
    EmulatedCamera camera(config);
    Host host(camera);
    Prepare(host, camera);
    const Bytes image = Pattern(kFlashSize, 3);
    ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
    const std::uint32_t size = host.Length(SEL_DOWNLOAD_BLOCK);
    ASSERT_EQ(size, c.blockSize);
    Bytes sent;
    for (std::uint32_t offset = 0; offset < kFlashSize; offset += size) {
      Bytes block(size, 0xFF);  // the short last block is filled as the updater does
      std::copy_n(image.begin() + offset, std::min<std::uint32_t>(size, kFlashSize - offset),
                  block.begin());
      ASSERT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, block), S_OK);
      sent.insert(sent.end(), block.begin(), block.end());
    }
    Bytes checksum(1);
    ASSERT_EQ(host.Get(SEL_DOWNLOAD_CHECKSUM, checksum), S_OK);
    EXPECT_EQ(checksum[0], Xor(sent)) << "every byte received, fill included";
    EXPECT_TRUE(std::equal(image.begin(), image.end(), camera.flash().begin()));
    EXPECT_EQ(host.Set(SEL_DOWNLOAD_MODE, {0}), S_OK);
    EXPECT_FALSE(camera.InDownloadMode());
  }
}

TEST_F(Download, BlocksEraseTheirSectorsFirstUnlessProtected) {
  EmulatedCamera camera(Config(0x83, 0x79));
  Host host(camera);
  host.LoadTable(kKind0Table);
  const Bytes before = FlashBytes(camera, 0, kFlashSize);
  const Bytes block = Pattern(4096, 1);

  // Status still 0x0C: the block's sector is neither erased nor written.
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), before);
  host.Set(SEL_DOWNLOAD_BLOCK, block);
  EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), before);
  EXPECT_TRUE(AnyRejectionContains(camera, "block protection"));
  host.Set(SEL_DOWNLOAD_MODE, {0});

  // Entering and leaving without blocks changes nothing.
  host.WriteStatus(0x00);
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {0}), S_OK);
  EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), before);

  // A block erases the sector it lands in before it is written; the rest
  // keeps the old firmware until its own blocks come.
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  Bytes checksum(1);
  ASSERT_EQ(host.Get(SEL_DOWNLOAD_CHECKSUM, checksum), S_OK);
  EXPECT_EQ(checksum[0], 0) << "reset on entering";
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, block), S_OK);
  EXPECT_EQ(FlashBytes(camera, 0, 4096), block);
  EXPECT_EQ(FlashBytes(camera, 4096, kFlashSize - 4096),
            Bytes(before.begin() + 4096, before.end()));
}

TEST_F(Download, RefusesBlocksOutOfTurn) {
  EmulatedCamera camera(Config(0x63, 0x79));
  Host host(camera);
  Prepare(host, camera);
  const Bytes before = FlashBytes(camera, 0, kFlashSize);
  Bytes checksum(1);
  EXPECT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, Bytes(4096, 0x11)), STATUS_GEN_FAILURE) << "not in mode";
  EXPECT_EQ(host.Get(SEL_DOWNLOAD_CHECKSUM, checksum), STATUS_GEN_FAILURE) << "not in mode";
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  EXPECT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, Bytes(4095, 0x11)), STATUS_GEN_FAILURE);
  EXPECT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, Bytes(4097, 0x11)), STATUS_GEN_FAILURE);
  ASSERT_EQ(host.Get(SEL_DOWNLOAD_CHECKSUM, checksum), S_OK);
  EXPECT_EQ(checksum[0], 0);
  EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), before) << "refused blocks erase and store nothing";
  EXPECT_EQ(host.Set(SEL_FAMILY_AX_PREPARE, {1}), STATUS_GEN_FAILURE) << "not an 0xA_ chip";
}

TEST_F(Download, AxChipsNeedThePrepareStepBeforeEachSession) {
  EmulatedCamera camera(Config(0xA3, 0x79));
  Host host(camera);
  host.LoadTable(kKind0Table);
  host.WriteStatus(0x00);
  const Bytes block = Pattern(4096, 9);

  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  EXPECT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, block), STATUS_GEN_FAILURE) << "not prepared";
  host.Set(SEL_DOWNLOAD_MODE, {0});

  ASSERT_EQ(host.Set(SEL_FAMILY_AX_PREPARE, {1}), S_OK);
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  EXPECT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, block), S_OK);
  EXPECT_EQ(FlashBytes(camera, 0, 4096), block);
  host.Set(SEL_DOWNLOAD_MODE, {0});
  EXPECT_FALSE(camera.FamilyAxPrepared()) << "leaving the mode ends the preparation";

  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  EXPECT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, block), STATUS_GEN_FAILURE);
}

// The updater programs the markers and reads the status through the bridge
// while the camera is in download mode.
TEST_F(Download, BridgeCommandsWorkInDownloadMode) {
  EmulatedCamera camera(Config(0x63, 0x79));
  Host host(camera);
  Prepare(host, camera);
  const Bytes image = Pattern(kFlashSize, 5);
  ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
  host.Set(SEL_DOWNLOAD_BLOCK, Bytes(image.begin(), image.begin() + 4096));
  host.Program(0x000000, {0xF5});
  EXPECT_EQ(camera.flash()[0], image[0] & 0xF5);
  // The version field goes in early too; its sector is erased and written
  // again when its block comes, with the same bytes.
  host.Program(0x00800C, Bytes(image.begin() + 0x800C, image.begin() + 0x8010));
  for (std::uint32_t offset = 4096; offset < kFlashSize; offset += 4096) {
    ASSERT_EQ(
        host.Set(SEL_DOWNLOAD_BLOCK, Bytes(image.begin() + offset, image.begin() + offset + 4096)),
        S_OK);
  }
  host.Program(0x000000, {0x55});
  host.WriteStatus(0x0C);
  EXPECT_EQ(camera.flash()[0], image[0] & 0x55);
  EXPECT_EQ(FlashBytes(camera, 1, kFlashSize - 1), Bytes(image.begin() + 1, image.end()));
  EXPECT_EQ(host.ReadStatus(), 0x0C);
}

// --------------------------------------------------------- host programming

TEST(EmulatedCameraHostProgramming, TwoBlocksLayDownAWholeChunk) {
  EmulatedCamera camera(Config(0x63, 0x80));
  Host host(camera);
  host.LoadTable(kKind0Table);
  host.WriteStatus(0x00);
  const Bytes old = FlashBytes(camera, 0, kFlashSize);
  const std::uint32_t address = 0x3000;
  const Bytes chunk = Pattern(4096, 11);
  Bytes a(4096, 0xFF), b(4096, 0xFF);
  for (std::uint32_t g = 0; g < 64; ++g) {
    for (std::uint32_t j = 0; j < 32; ++j) {
      a[64 * g + 32 + j] = chunk[64 * g + j];
      b[64 * g + 32 + j] = chunk[64 * g + 32 + j];
    }
  }

  ASSERT_EQ(host.Set(SEL_PROGRAM_ADDRESS, Address4(address)), S_OK);
  EXPECT_EQ(FlashBytes(camera, address, 4096), Bytes(4096, 0xFF)) << "the named sector is erased";
  EXPECT_EQ(FlashBytes(camera, address - 4096, 4096),
            Bytes(old.begin() + address - 4096, old.begin() + address));
  EXPECT_EQ(FlashBytes(camera, address + 4096, 4096),
            Bytes(old.begin() + address + 4096, old.begin() + address + 8192));

  host.Set(SEL_FLASH_ADDRESS, Address4(address));
  ASSERT_EQ(host.Set(SEL_FLASH_DATA, a), S_OK);
  // After A only the lower half of every group is written.
  EXPECT_EQ(FlashBytes(camera, address, 32), Bytes(chunk.begin(), chunk.begin() + 32));
  EXPECT_EQ(FlashBytes(camera, address + 32, 32), Bytes(32, 0xFF));
  host.Set(SEL_FLASH_ADDRESS, Address4(address + 32));
  ASSERT_EQ(host.Set(SEL_FLASH_DATA, b), S_OK);
  EXPECT_EQ(FlashBytes(camera, address, 4096), chunk);

  EXPECT_EQ(host.Set(SEL_FLASH_DATA, Bytes(4095, 0)), STATUS_GEN_FAILURE);
}

// ------------------------------------------------------------ opcode tables

TEST(EmulatedCameraOpcodeTable, ATableThatDoesNotFitThePartMakesBlockWorkFail) {
  struct Case {
    const char* what;
    std::uint8_t part;
    const std::array<std::uint8_t, 13>* table;
    bool fits;
  };
  const Case cases[] = {
      {"kind 0 table on 0x79", 0x79, &kKind0Table, true},
      {"kind 2 table on 0x79 (0xD7 erase)", 0x79, &kKind2Table, false},
      {"kind 2 table on 0x7B", 0x7B, &kKind2Table, true},
      {"kind 0 table on 0x7B (0x20 erase)", 0x7B, &kKind0Table, false},
      {"kind 1 table on 0x7A", 0x7A, &kKind1Table, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatedCamera camera(Config(0x83, c.part));
    Host host(camera);
    host.LoadTable(*c.table);
    EXPECT_EQ(camera.opcodeTable().flag, (*c.table)[12]);
    host.WriteStatus(0x00, (*c.table)[10] == 0x50);

    host.Set(SEL_PROGRAM_ADDRESS, Address4(0x2000));
    EXPECT_EQ(FlashBytes(camera, 0x2000, 4096) == Bytes(4096, 0xFF), c.fits) << "sector erase";

    ASSERT_EQ(host.Set(SEL_DOWNLOAD_MODE, {1}), S_OK);
    const Bytes block = Pattern(4096, 2);
    ASSERT_EQ(host.Set(SEL_DOWNLOAD_BLOCK, block), S_OK);
    EXPECT_EQ(FlashBytes(camera, 0, 4096) == block, c.fits) << "download (erase, then program)";
  }

  // A read opcode the part lacks reads nothing.
  EmulatedCamera camera(Config(0x83, 0x79));
  Host host(camera);
  auto table = kKind0Table;
  table[0] = 0xFF;
  host.LoadTable(table);
  EXPECT_EQ(host.ReadBlock(0x1000), Bytes(4096, 0xFF));
  EXPECT_NE(FlashBytes(camera, 0x1000, 4096), Bytes(4096, 0xFF));
}

TEST(EmulatedCameraOpcodeTable, PowerOnTableServesReadsBeforeAnyLoad) {
  EmulatedCamera camera(Config(0xA3, 0x7D));
  Host host(camera);
  EXPECT_EQ(host.ReadBlock(0), FlashBytes(camera, 0, 4096));
}

// ------------------------------------------------------ factory and files

// A directory of its own for one test, removed with its contents.
class TempDirectory {
 public:
  TempDirectory() {
    const char* configured = std::getenv("TORVANE_TEST_TMP");
    const std::filesystem::path base = configured && *configured
                                           ? std::filesystem::path(configured)
                                           : std::filesystem::temp_directory_path();
    std::random_device random;
    path_ = base / ("torvane-emucam-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string WriteFile(const std::string& name, std::size_t size) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out << std::string(size, 'x');
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

TEST(EmulatedCameraFactory, VersionLiesWhereTheFamilysProbeReadsIt) {
  struct Case {
    std::uint8_t chip;
    std::uint32_t version;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
  };
  const Case cases[] = {
      {0x63, 0x9001, {{0x800C, 0x01}, {0x800D, 0x90}}},
      {0x93, 0x12345, {{0x800C, 0x45}, {0x800D, 0x23}}},
      {0x83, 0x12800, {{0xB70E, 0x28}, {0xB70F, 0x01}, {0xDB40, 0x00}}},
      {0xA3, 0x13205, {{0x678E, 0x32}, {0x678F, 0x01}, {0x6040, 0x05}}},
  };
  for (const Case& c : cases) {
    const Bytes flash = FactoryFlash(c.chip, 0x42, c.version);
    ASSERT_EQ(flash.size(), kFlashSize);
    EXPECT_EQ(flash[0], 0x42);
    for (const auto& [address, value] : c.bytes) {
      EXPECT_EQ(flash[address], value) << std::hex << "chip " << int{c.chip} << " at " << address;
    }
    EXPECT_GT(std::count_if(flash.begin(), flash.end(), [](std::uint8_t b) { return b != 0xFF; }),
              60000);
  }
}

TEST(EmulatedCameraFactory, NewCameraStartsProtectedWithTheDefaults) {
  struct Case {
    std::uint8_t chip;
    std::uint8_t byte0;
    std::uint32_t version;
  };
  const Case cases[] = {
      {0xA3, 0x89, 0x12801}, {0x83, 0x55, 0x12800}, {0x63, 0x55, 0x9001}, {0x93, 0x55, 0x9001}};
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultByte0(c.chip), c.byte0);
    EXPECT_EQ(DefaultVersion(c.chip), c.version);
    EmulatedCamera camera(Config(c.chip));
    EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), FactoryFlash(c.chip, c.byte0, c.version));
    EXPECT_EQ(camera.flashStatusRegister(), 0x0C);
  }
}

TEST(EmulatedCameraFiles, SaveAndLoadRoundTripAndBadFilesAreRefused) {
  TempDirectory dir;
  const std::string path = (dir.Path() / "flash.bin").string();
  EmulatedCamera camera(Config(0xA3));
  const Bytes original = FlashBytes(camera, 0, kFlashSize);
  ASSERT_TRUE(camera.SaveFlashFile(path));
  EXPECT_EQ(std::filesystem::file_size(path), kFlashSize);

  camera.LoadFlash(Bytes(kFlashSize, 0x00));
  ASSERT_TRUE(camera.LoadFlashFile(path));
  EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), original);

  camera.LoadFlash(Bytes(kFlashSize, 0x00));
  const std::string shortFile = dir.WriteFile("short.bin", kFlashSize - 1);
  const std::string longFile = dir.WriteFile("long.bin", kFlashSize + 1);
  EXPECT_FALSE(camera.LoadFlashFile(shortFile));
  EXPECT_FALSE(camera.LoadFlashFile(longFile));
  EXPECT_FALSE(camera.LoadFlashFile((dir.Path() / "missing.bin").string()));
  EXPECT_FALSE(camera.SaveFlashFile((dir.Path() / "no-dir" / "x.bin").string()));
  EXPECT_EQ(FlashBytes(camera, 0, kFlashSize), Bytes(kFlashSize, 0x00));

  camera.LoadFlash(Bytes(100, 0x11));
  EXPECT_EQ(camera.flash()[0], 0x00) << "a wrongly sized image is refused";
}

}  // namespace
}  // namespace torvane::emulator
