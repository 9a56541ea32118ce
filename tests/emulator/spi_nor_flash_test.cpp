// The flash model on its own, at the pins: the rules that make a part refuse
// or ignore a command.
#include "emulator/spi_nor_flash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/flash_parts.h"

namespace torvane::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FlashModel : public ::testing::Test {
 protected:
  explicit FlashModel(std::uint8_t part = 0x79, std::uint32_t wipPolls = 2)
      : flash_(FlashPartFor(part), wipPolls, false,
               [this](const std::string& line) { rejections_.push_back(line); }) {
    flash_.Load(Bytes(kFlashSize, 0xFF));
  }
  // One chip-select cycle; returns what the part drove on every byte.
  Bytes Cycle(const Bytes& out) {
    flash_.Select();
    Bytes in;
    for (std::uint8_t byte : out) in.push_back(flash_.Transfer(byte));
    flash_.Deselect();
    return in;
  }
  std::uint8_t Status() { return Cycle({0x05, 0x00})[1]; }
  void WaitReady() {
    for (int i = 0; i < 16 && (Status() & 0x01) != 0; ++i) {
    }
  }

  std::vector<std::string> rejections_;
  SpiNorFlash flash_;
};

TEST_F(FlashModel, IdentificationAnswersRepeatWhileClocked) {
  EXPECT_EQ(Cycle({0x9F, 0, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xC2, 0x20, 0x10, 0xC2, 0x20, 0x10}));
  EXPECT_EQ(Cycle({0x90, 0, 0, 0, 0, 0, 0, 0}),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xC2, 0x05, 0xC2, 0xC2}));
}

TEST_F(FlashModel, OnlyStatusReadsAreServedWhileAWriteRuns) {
  Cycle({0x06});
  Cycle({0x02, 0x00, 0x00, 0x10, 0x00});
  EXPECT_TRUE(flash_.WriteInProgress());
  Cycle({0x06});
  EXPECT_EQ(Cycle({0x03, 0x00, 0x00, 0x10, 0x00})[4], 0xFF) << "read ignored while busy";
  EXPECT_EQ(rejections_.size(), 2u);
  // Status reads count down the operation; two of them with the bit set.
  EXPECT_EQ(Cycle({0x05, 0, 0, 0}), (Bytes{0xFF, 0x01, 0x01, 0x00}));
  EXPECT_EQ(Cycle({0x03, 0x00, 0x00, 0x10, 0x00})[4], 0x00);
  EXPECT_EQ(Status() & 0x02, 0) << "the ignored write enable did not latch";
}

TEST_F(FlashModel, CommandsEndedAtTheWrongByteAreIgnored) {
  struct Case {
    const char* what;
    Bytes command;
  };
  const Case cases[] = {
      {"sector erase with a short address", {0x20, 0x00, 0x10}},
      {"sector erase with an extra byte", {0x20, 0x00, 0x10, 0x00, 0x00}},
      {"chip erase with an address", {0xC7, 0x00}},
      {"program ended inside its address", {0x02, 0x00, 0x10}},
      {"status write without its value", {0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    flash_.Load(Bytes(kFlashSize, 0x00));
    flash_.SetStatus(0x00);
    rejections_.clear();
    Cycle({0x06});
    Cycle(c.command);
    WaitReady();
    EXPECT_EQ(flash_.contents()[0x1000], 0x00);
    EXPECT_EQ(rejections_.size(), 1u);
    EXPECT_NE(Status() & 0x02, 0) << "nothing ran, so write enable is still set";
  }
  // A write enable with a trailing byte does not latch.
  flash_.SetStatus(0x00);
  Cycle({0x06, 0x00});
  EXPECT_EQ(Status() & 0x02, 0);
}

TEST_F(FlashModel, ProgramWithoutDataStillEndsTheWriteEnable) {
  Cycle({0x06});
  Cycle({0x02, 0x00, 0x10, 0x00});
  WaitReady();
  EXPECT_EQ(Status() & 0x02, 0);
  EXPECT_TRUE(rejections_.empty());
}

TEST_F(FlashModel, FastReadSkipsOneDummyByte) {
  Cycle({0x06});
  Cycle({0x02, 0x00, 0x20, 0x00, 0x11, 0x22});
  WaitReady();
  EXPECT_EQ(Cycle({0x0B, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x22}));
}

TEST(FlashModelParts, PartsLackingACommandIgnoreIt) {
  struct Case {
    std::uint8_t part;
    std::uint8_t command;
    bool implemented;
  };
  const Case cases[] = {
      {0x7A, 0x0B, false}, {0x7A, 0x50, true},  {0x79, 0x50, false}, {0x7B, 0x20, false},
      {0x7B, 0xD7, true},  {0x7A, 0xD8, false}, {0x7A, 0x52, true},  {0x81, 0xAF, false},
      {0x78, 0x03, true},  {0x7C, 0x9F, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FlashPartFor(c.part).Implements(c.command), c.implemented)
        << std::hex << "part " << int{c.part} << " command " << int{c.command};
  }
  EXPECT_EQ(FlashPartFor(0x55).code, kUnrecognisedPart) << "unknown codes fit the unknown part";
}

TEST(FlashModelParts, TransfersWithoutChipSelectAreRejected) {
  std::vector<std::string> rejections;
  SpiNorFlash flash(FlashPartFor(0x79), 0, false,
                    [&](const std::string& line) { rejections.push_back(line); });
  flash.SetStatus(0x00);
  EXPECT_EQ(flash.Transfer(0x06), 0xFF);
  flash.Deselect();
  EXPECT_EQ(flash.PeekStatus(), 0x00);
  EXPECT_EQ(rejections.size(), 1u);
}

TEST(FlashModelParts, SetStatusNeverFakesAnOperationAndLoadNeedsTheWholeArray) {
  SpiNorFlash flash(FlashPartFor(0x79), 3, false, nullptr);
  flash.SetStatus(0xFF);
  EXPECT_EQ(flash.PeekStatus(), 0xFE);
  EXPECT_FALSE(flash.WriteInProgress());
  EXPECT_FALSE(flash.Load(Bytes(kFlashSize - 1, 0)));
  EXPECT_EQ(flash.contents()[0], 0xFF);
  EXPECT_TRUE(flash.Load(Bytes(kFlashSize, 0)));
  EXPECT_EQ(flash.contents()[0], 0x00);
}

}  // namespace
}  // namespace torvane::emulator
