#include "programming/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "programming/firmware_image.h"
#include "programming_camera.h"
#include "support/recording_sleeper.h"

namespace torvane {
namespace {

using programming_test::CameraRig;
using programming_test::FixedSettings;
using programming_test::Request;

constexpr std::uint8_t kHostPreset = 0x5A;
constexpr std::uint8_t kDevicePreset = 0xA5;

class DownloadTest : public ::testing::Test {
 protected:
  std::int32_t Download(CameraRig& rig, std::uint32_t kind = 0) {
    return DownloadImage(rig.engine, settings_, sleeper_, image_.data(),
                         static_cast<std::uint32_t>(image_.size()), kind, &host_, &device_,
                         &progress_);
  }

  static bool Programmed(const CameraRig& rig, std::uint32_t address,
                         const std::vector<std::uint8_t>& data) {
    const auto& programs = rig.camera.programs;
    return std::any_of(programs.begin(), programs.end(),
                       [&](const auto& p) { return p.address == address && p.data == data; });
  }
  static bool ValidMarked(const CameraRig& rig) {
    return Programmed(rig, 0, {MARK_VALID}) || Programmed(rig, 0, {0x89, 0x16});
  }

  FixedSettings settings_;
  RecordingSleeper sleeper_;
  std::vector<std::uint8_t> image_{EmbeddedFirmware().begin(), EmbeddedFirmware().end()};
  std::uint8_t host_ = kHostPreset;
  std::uint8_t device_ = kDevicePreset;
  ProgressReport progress_;
};

// The last, short block is filled with 0xFF, and the checksum the camera
// must answer is the XOR of everything sent, fill included. Each image is
// exactly as long as the length given, so a read past it would show.
TEST_F(DownloadTest, BlocksAndFillRule) {
  struct Case {
    std::uint32_t length;
    std::uint32_t blockSize;
    std::size_t blocks;
    std::uint32_t fill;
  };
  const Case cases[] = {
      {0x10000, 4096, 16, 0}, {0x10000, 7, 9363, 5}, {0x10000, 3, 21846, 2},
      {0, 4096, 0, 0},        {4097, 4096, 2, 4095}, {100, 64, 2, 28},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length) + " block " + std::to_string(c.blockSize));
    CameraRig rig(Family6x);
    rig.camera.downloadBlockSize = c.blockSize;
    image_.assign(EmbeddedFirmware().begin(), EmbeddedFirmware().begin() + c.length);
    const auto original = image_;

    ASSERT_EQ(Download(rig), 0);
    ASSERT_EQ(rig.camera.blocks.size(), c.blocks);
    std::vector<std::uint8_t> sent;
    for (const auto& block : rig.camera.blocks) {
      EXPECT_EQ(block.size(), c.blockSize);
      sent.insert(sent.end(), block.begin(), block.end());
    }
    ASSERT_EQ(sent.size(), c.length + c.fill);
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), sent.begin()));
    EXPECT_TRUE(std::all_of(sent.begin() + c.length, sent.end(), [](auto b) { return b == 0xFF; }));

    EXPECT_EQ(host_, ImageChecksum(image_.data(), c.length));
    const std::uint8_t expected = c.fill % 2 ? static_cast<std::uint8_t>(~host_) : host_;
    EXPECT_EQ(rig.camera.receivedChecksum, expected);
    EXPECT_EQ(device_, expected);
    EXPECT_TRUE(ValidMarked(rig));
    // Shorter images than the patched offsets are left as they were.
    if (c.length <= 0xC006) {
      EXPECT_EQ(image_, original);
    }
    if (c.length == 0) {
      EXPECT_EQ(rig.camera.Count(RequestOp::Get, SEL_DOWNLOAD_CHECKSUM), 1u);
      EXPECT_EQ(rig.camera.programs.size(), 1u) << "only the valid marker";
    }
  }
}

TEST_F(DownloadTest, RetryRules) {
  struct Case {
    const char* name;
    RequestOp op;
    std::uint32_t selector;
    std::vector<HRESULT> statuses;
    std::int32_t result;
    std::size_t blockSets;      // sets of SEL_DOWNLOAD_BLOCK
    std::size_t checksumGets;
    bool valid;
    std::vector<std::uint8_t> modeSets;
    ChipFamily family = Family6x;
  };
  const Case cases[] = {
      {"enter fails once", RequestOp::Set, SEL_DOWNLOAD_MODE, {E_FAIL}, 1, 16, 1, false, {1, 1, 0}},
      {"enter fails twice", RequestOp::Set, SEL_DOWNLOAD_MODE, {E_FAIL, E_FAIL}, 1, 0, 0, false,
       {1, 1, 0}},
      {"first size query ignored", RequestOp::Length, SEL_DOWNLOAD_BLOCK, {E_FAIL}, 0, 16, 1, true,
       {1, 0}},
      {"second size query fails", RequestOp::Length, SEL_DOWNLOAD_BLOCK, {S_OK, E_FAIL}, 1, 16, 1,
       false, {1, 0}},
      {"size queries exhausted", RequestOp::Length, SEL_DOWNLOAD_BLOCK, {S_OK, E_FAIL, E_FAIL}, 1, 0,
       0, false, {1, 0}},
      {"block resent", RequestOp::Set, SEL_DOWNLOAD_BLOCK, {E_FAIL}, 1, 17, 1, false, {1, 0}},
      {"block fails twice", RequestOp::Set, SEL_DOWNLOAD_BLOCK, {E_FAIL, E_FAIL}, 1, 2, 0, false,
       {1, 0}},
      {"last block resent", RequestOp::Set, SEL_DOWNLOAD_BLOCK,
       [] {
         std::vector<HRESULT> statuses(15, S_OK);
         statuses.push_back(E_FAIL);
         return statuses;
       }(),
       1, 17, 1, false, {1, 0}},
      {"checksum asked twice", RequestOp::Get, SEL_DOWNLOAD_CHECKSUM, {E_FAIL}, 0, 16, 2, true,
       {1, 0}},
      {"checksum asked three times", RequestOp::Get, SEL_DOWNLOAD_CHECKSUM, {E_FAIL, E_FAIL}, 1, 16,
       3, false, {1, 0}},
      {"checksum never answered", RequestOp::Get, SEL_DOWNLOAD_CHECKSUM, {E_FAIL, E_FAIL, E_FAIL}, 1,
       16, 3, false, {1, 0}},
      {"leave fails once", RequestOp::Set, SEL_DOWNLOAD_MODE, {S_OK, E_FAIL}, 0, 16, 1, true,
       {1, 0, 0}},
      {"leave fails twice", RequestOp::Set, SEL_DOWNLOAD_MODE, {S_OK, E_FAIL, E_FAIL}, 1, 16, 1,
       true, {1, 0, 0}},
      {"Ax prepare ignored", RequestOp::Set, SEL_FAMILY_AX_PREPARE, {E_FAIL}, 0, 16, 1, true, {1, 0},
       FamilyAx},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CameraRig rig(c.family);
    rig.camera.Fail(c.op, c.selector, c.statuses);
    host_ = kHostPreset;
    device_ = kDevicePreset;
    sleeper_.waits.clear();

    EXPECT_EQ(Download(rig), c.result);
    EXPECT_EQ(rig.camera.Count(RequestOp::Set, SEL_DOWNLOAD_BLOCK), c.blockSets);
    EXPECT_EQ(rig.camera.Count(RequestOp::Get, SEL_DOWNLOAD_CHECKSUM), c.checksumGets);
    EXPECT_EQ(ValidMarked(rig), c.valid);
    EXPECT_EQ(rig.camera.DownloadModeSets(), c.modeSets);
    EXPECT_EQ(progress_.stage, PROGRESS_END);
    EXPECT_EQ(progress_.percent, 100);
    // The checksum is reported and waited for whenever it was answered.
    const bool answered =
        c.checksumGets > 0 && !(c.selector == SEL_DOWNLOAD_CHECKSUM && c.statuses.size() == 3);
    EXPECT_EQ(device_ != kDevicePreset, answered);
    const std::vector<std::uint32_t> waits =
        answered ? std::vector<std::uint32_t>{1000} : std::vector<std::uint32_t>{};
    EXPECT_EQ(sleeper_.waits, waits);
    if (!c.valid) {
      EXPECT_TRUE(rig.camera.StatusWrites().empty()) << "no 0x0C without the marker";
    }
  }
}

TEST_F(DownloadTest, ProgressStagesInOrder) {
  CameraRig rig(Family6x);
  std::vector<std::pair<int, int>> seen;
  rig.camera.onRequest = [&](const Request& r) {
    const bool block = r.op == RequestOp::Set && r.selector == SEL_DOWNLOAD_BLOCK;
    const bool checksum = r.op == RequestOp::Get && r.selector == SEL_DOWNLOAD_CHECKSUM;
    if (seen.empty() || block || checksum) seen.emplace_back(progress_.stage, progress_.percent);
  };
  ASSERT_EQ(Download(rig), 0);
  seen.emplace_back(progress_.stage, progress_.percent);

  std::vector<std::pair<int, int>> expected = {{PROGRESS_START, 5}};
  for (int percent : {5, 10, 16, 21, 27, 33, 38, 44, 50, 55, 61, 66, 72, 78, 83, 89}) {
    expected.emplace_back(PROGRESS_DATA, percent);
  }
  expected.emplace_back(PROGRESS_CHECK, 95);
  expected.emplace_back(PROGRESS_END, 100);
  EXPECT_EQ(seen, expected);
}

// A clean download on each family: the flash-type patch, the pending marker
// and the version field right after the first block, the valid marker and
// the 0x0C status after the checksum.
TEST_F(DownloadTest, MarkersAndVersionFieldByFamily) {
  struct Case {
    ChipFamily family;
    std::uint32_t kind;
    std::uint32_t typeOffset;
    std::uint8_t typeByte;
    std::uint32_t versionOffset;
    std::vector<std::uint8_t> pending;
    std::vector<std::uint8_t> valid;
  };
  const Case cases[] = {
      {Family6x, 0, 0xC006, 0x00, 0x800C, {0xF5}, {0x55}},
      {Family9x, 2, 0xC006, 0x04, 0x800C, {0xF5}, {0x55}},
      {Family8x, 5, 0x501F, 0x03, 0xB70E, {0xF5}, {0x55}},
      {FamilyAx, 6, 0x6010, 0x07, 0x678E, {0xF9}, {0x89, 0x16}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FamilyName(c.family));
    CameraRig rig(c.family);
    image_.assign(EmbeddedFirmware().begin(), EmbeddedFirmware().end());
    ASSERT_EQ(Download(rig, c.kind), 0);

    EXPECT_EQ(image_[c.typeOffset], c.typeByte);
    EXPECT_EQ(host_, ImageChecksum(image_.data(), kImageSize)) << "checksum of the patched image";
    EXPECT_EQ(device_, host_);

    const auto& programs = rig.camera.programs;
    ASSERT_EQ(programs.size(), 3u);
    const std::vector<std::uint8_t> version(image_.begin() + c.versionOffset,
                                            image_.begin() + c.versionOffset + 4);
    EXPECT_EQ(programs[0].address, 0u);
    EXPECT_EQ(programs[0].data, c.pending);
    EXPECT_EQ(programs[1].address, c.versionOffset);
    EXPECT_EQ(programs[1].data, version);
    EXPECT_EQ(programs[2].address, 0u);
    EXPECT_EQ(programs[2].data, c.valid);
    const auto blocks = rig.camera.Requests(RequestOp::Set, SEL_DOWNLOAD_BLOCK);
    const std::size_t firstBlock = rig.camera.FirstIndex(RequestOp::Set, SEL_DOWNLOAD_BLOCK);
    EXPECT_GT(programs[0].requestIndex, firstBlock);
    EXPECT_LT(programs[1].requestIndex, rig.camera.LastIndex(RequestOp::Set, SEL_DOWNLOAD_BLOCK))
        << "after the first block, before the rest";
    EXPECT_GT(programs[2].requestIndex, rig.camera.LastIndex(RequestOp::Get, SEL_DOWNLOAD_CHECKSUM));
    EXPECT_EQ(rig.camera.StatusWrites(), std::vector<std::uint8_t>{0x0C});
    EXPECT_EQ(rig.camera.flash[0], c.valid[0]);
    EXPECT_EQ(rig.camera.Count(RequestOp::Set, SEL_FAMILY_AX_PREPARE),
              c.family == FamilyAx ? 1u : 0u);
    EXPECT_EQ(rig.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));
  }
}

TEST_F(DownloadTest, FlashKindOneWritesStatusWithEnableWriteStatus) {
  for (std::uint32_t kind : {0u, 1u}) {
    CameraRig rig(Family8x);
    rig.camera.flashStatus = 0x1C;  // protected: cleared before the download
    ASSERT_EQ(Download(rig, kind), 0);
    EXPECT_EQ(rig.camera.StatusWrites(), (std::vector<std::uint8_t>{0x00, 0x0C}));
    EXPECT_EQ(rig.camera.SentSpiCommand(0x50), kind == 1) << "kind " << kind;
  }
}

TEST_F(DownloadTest, ChecksumMismatchFailsWithoutValidMarker) {
  CameraRig rig(Family6x);
  rig.camera.checksumAnswer = static_cast<std::uint8_t>(ImageChecksum(image_.data(), kImageSize) ^ 0x10);
  EXPECT_EQ(Download(rig), 1);
  EXPECT_EQ(device_, *rig.camera.checksumAnswer);
  EXPECT_NE(device_, host_);
  EXPECT_FALSE(ValidMarked(rig));
  EXPECT_TRUE(Programmed(rig, 0, {MARK_PENDING}));
  EXPECT_TRUE(rig.camera.StatusWrites().empty());
  EXPECT_EQ(sleeper_.waits, std::vector<std::uint32_t>{1000});
  EXPECT_EQ(rig.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));
}

TEST_F(DownloadTest, KindAboveSixTouchesNothing) {
  for (std::uint32_t kind : {7u, 255u, 0x1007u}) {
    CameraRig rig(Family6x);
    const auto before = image_;
    progress_ = {};
    EXPECT_EQ(Download(rig, kind), 160) << kind;
    EXPECT_EQ(image_, before);
    EXPECT_EQ(progress_.stage, 0);
    EXPECT_EQ(progress_.percent, 0);
    EXPECT_EQ(host_, kHostPreset);
    EXPECT_TRUE(rig.camera.log.empty());
  }
}

TEST_F(DownloadTest, RefusedBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    ChipFamily family;
    std::uint32_t length;
    bool withImage;
    bool withChannel;
  };
  const Case cases[] = {
      {"unknown family", FamilyUnknown, kImageSize, true, true},
      {"longer than the flash", Family6x, kImageSize + 1, true, true},
      {"no image", Family6x, kImageSize, false, true},
      {"no channel", Family6x, kImageSize, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CameraRig rig(c.family);
    if (!c.withChannel) rig.engine.channel.reset();
    image_.assign(EmbeddedFirmware().begin(), EmbeddedFirmware().end());
    image_.resize(c.length, 0xFF);
    const auto before = image_;
    progress_ = {};
    EXPECT_EQ(DownloadImage(rig.engine, settings_, sleeper_, c.withImage ? image_.data() : nullptr,
                            c.length, 0, &host_, &device_, &progress_),
              1);
    EXPECT_TRUE(rig.camera.log.empty());
    EXPECT_EQ(image_, before);
    EXPECT_EQ(progress_.stage, 0);
  }
}

TEST_F(DownloadTest, KindSixOutsideAxIsProgrammedFromTheHost) {
  const FixedSettings gpioOn(1);
  CameraRig rig(Family6x);
  const std::int32_t result = DownloadImage(rig.engine, gpioOn, sleeper_, image_.data(), kImageSize,
                                            6, &host_, &device_, &progress_);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(image_[0xC006], 0x07);
  EXPECT_EQ(image_[0], MARK_VALID);
  EXPECT_EQ(device_, host_);
  EXPECT_TRUE(rig.camera.RegisterWritesTo(REG_GPIO_A).empty());
  EXPECT_TRUE(rig.camera.RegisterWritesTo(REG_GPIO_B).empty());
  EXPECT_EQ(rig.camera.Count(RequestOp::Set, SEL_DOWNLOAD_BLOCK), 0u);
  EXPECT_EQ(rig.camera.Count(RequestOp::Length, SEL_DOWNLOAD_BLOCK), 0u);
  EXPECT_EQ(rig.camera.Count(RequestOp::Get, SEL_DOWNLOAD_CHECKSUM), 0u);
  EXPECT_EQ(rig.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));
  EXPECT_EQ(rig.camera.Count(RequestOp::Set, SEL_PROGRAM_ADDRESS), 16u);
  EXPECT_TRUE(sleeper_.waits.empty());
  EXPECT_EQ(progress_.stage, PROGRESS_END);

  // A failed verification is a failed download.
  CameraRig deaf(Family9x);
  deaf.camera.ignoreHostProgramming = true;
  EXPECT_EQ(Download(deaf, 6), 1);
}

// Through the tunnel the host path cannot deliver its blocks: the download
// fails with the camera untouched, keeping its old firmware.
TEST_F(DownloadTest, KindSixThroughTheTunnelSendsNothing) {
  CameraRig rig(Family8x, ChannelMode::Tunnel);
  EXPECT_EQ(Download(rig, 6), 1);
  EXPECT_EQ(rig.tunnel.calls, 0u);
  EXPECT_TRUE(rig.camera.log.empty());
  EXPECT_NE(device_, host_);
  EXPECT_EQ(image_[0], 0xFF);
}

TEST_F(DownloadTest, GpioSetting) {
  struct Case {
    int gpio;
    bool touched;
  };
  for (const Case c : {Case{1, true}, Case{0, false}, Case{2, false}, Case{-1, false}}) {
    SCOPED_TRACE(c.gpio);
    CameraRig rig(Family8x);
    rig.camera.registers[REG_GPIO_A] = 0x41;
    rig.camera.registers[REG_GPIO_B] = 0x80;
    const FixedSettings settings(c.gpio);
    sleeper_.waits.clear();
    ASSERT_EQ(DownloadImage(rig.engine, settings, sleeper_, image_.data(), kImageSize, 0, nullptr,
                            nullptr, nullptr),
              0);
    using Writes = std::vector<std::pair<std::uint16_t, std::uint8_t>>;
    const Writes gpioA = c.touched ? Writes{{REG_GPIO_A, 0x43}} : Writes{};
    const Writes gpioB = c.touched ? Writes{{REG_GPIO_B, 0x82}} : Writes{};
    const std::vector<std::uint32_t> waits =
        c.touched ? std::vector<std::uint32_t>{50, 1000} : std::vector<std::uint32_t>{1000};
    EXPECT_EQ(rig.camera.RegisterWritesTo(REG_GPIO_A), gpioA);
    EXPECT_EQ(rig.camera.RegisterWritesTo(REG_GPIO_B), gpioB);
    EXPECT_EQ(sleeper_.waits, waits);
  }
}

// A block the buffer cannot hold, the tunnel cannot carry, or that would
// never advance fails the download once download mode is left.
TEST_F(DownloadTest, BlockSizeOutOfBounds) {
  struct Case {
    std::uint32_t blockSize;
    ChannelMode mode;
    std::int32_t result;
  };
  const Case cases[] = {
      {0, ChannelMode::ExtensionUnit, 1},  {4097, ChannelMode::ExtensionUnit, 1},
      {0x10000, ChannelMode::Tunnel, 1},   {69, ChannelMode::Tunnel, 1},
      {68, ChannelMode::Tunnel, 0},        {4096, ChannelMode::ExtensionUnit, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.blockSize) +
                 (c.mode == ChannelMode::Tunnel ? " through the tunnel" : ""));
    CameraRig rig(FamilyAx, c.mode);
    rig.camera.downloadBlockSize = c.blockSize;
    EXPECT_EQ(Download(rig), c.result);
    EXPECT_EQ(rig.camera.blocks.empty(), c.result == 1);
    EXPECT_EQ(ValidMarked(rig), c.result == 0);
    EXPECT_EQ(rig.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(progress_.stage, PROGRESS_END);
  }
}

TEST_F(DownloadTest, StuckBridgeFailsWithoutValidMarker) {
  // Stuck from the start: the status clear never completes, so the camera
  // is not even put into download mode.
  CameraRig stuck(Family6x);
  stuck.camera.stuckBusy = true;
  EXPECT_EQ(Download(stuck), 1);
  EXPECT_TRUE(stuck.camera.blocks.empty());
  EXPECT_EQ(stuck.camera.DownloadModeSets(), std::vector<std::uint8_t>{0});
  EXPECT_FALSE(ValidMarked(stuck));

  // Stuck from the first block on: the pending marker never completes.
  CameraRig stalls(Family6x);
  stalls.camera.onRequest = [&](const Request& r) {
    if (r.op == RequestOp::Set && r.selector == SEL_DOWNLOAD_BLOCK) stalls.camera.stuckBusy = true;
  };
  EXPECT_EQ(Download(stalls), 1);
  EXPECT_EQ(stalls.camera.blocks.size(), 1u);
  EXPECT_EQ(stalls.camera.Count(RequestOp::Get, SEL_DOWNLOAD_CHECKSUM), 0u);
  EXPECT_FALSE(ValidMarked(stalls));
  EXPECT_EQ(stalls.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));
}

TEST_F(DownloadTest, EarlierExpiryDoesNotFailALaterDownload) {
  CameraRig rig(Family6x);
  rig.camera.stuckBusy = true;
  rig.engine.WaitSpiIdle();
  ASSERT_TRUE(rig.engine.TimedOut());
  rig.camera.stuckBusy = false;
  EXPECT_EQ(Download(rig), 0);
  EXPECT_TRUE(ValidMarked(rig));
}

// An unwritten valid marker leaves the flash unconfirmed, whatever the
// checksum said.
TEST_F(DownloadTest, FailedValidMarkerFailsTheDownload) {
  CameraRig rig(Family6x);
  rig.camera.onRequest = [&](const Request& r) {
    if (r.op == RequestOp::Get && r.selector == SEL_DOWNLOAD_CHECKSUM) {
      rig.camera.Fail(RequestOp::Set, SEL_REG_VALUE, {E_FAIL});
    }
  };
  EXPECT_EQ(Download(rig), 1);
  EXPECT_EQ(device_, host_);
  EXPECT_FALSE(ValidMarked(rig));
  EXPECT_TRUE(rig.camera.StatusWrites().empty());
}

}  // namespace
}  // namespace torvane
