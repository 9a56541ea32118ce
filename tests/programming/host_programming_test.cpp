#include "programming/host_programming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "programming/firmware_image.h"
#include "programming_camera.h"

namespace torvane {
namespace {

using programming_test::CameraRig;
using programming_test::FixedSettings;

std::vector<std::uint8_t> TestImage() {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>((i * 7 + (i >> 8) * 13) & 0xFF);
  }
  image[0] = 0xFF;
  return image;
}

TEST(ChunkBlocks, CarryTheGroupHalvesInTheUpperHalfOfEachGroup) {
  std::array<std::uint8_t, 4096> chunk;
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i);
  std::array<std::uint8_t, 4096> a;
  std::array<std::uint8_t, 4096> b;
  BuildChunkBlocks(chunk.data(), a, b);
  for (std::size_t j = 0; j < 32; ++j) {
    EXPECT_EQ(a[j], 0xFF);
    EXPECT_EQ(b[j], 0xFF);
    EXPECT_EQ(a[32 + j], j);
    EXPECT_EQ(b[32 + j], 0x20 + j);
  }
  // Every group, not only the first: the last group of the chunk.
  for (std::size_t j = 0; j < 32; ++j) {
    EXPECT_EQ(a[4032 + j], 0xFF);
    EXPECT_EQ(a[4064 + j], chunk[4032 + j]);
    EXPECT_EQ(b[4064 + j], chunk[4064 + j]);
  }
}

TEST(ProgramChunk, SendsProgramAddressThenBothBlocksAtTheirAddresses) {
  CameraRig rig(Family6x);
  const auto image = TestImage();
  ProgramChunk(rig.engine, image.data() + 0x3000, 0x3000);

  const auto& log = rig.camera.log;
  ASSERT_EQ(log.size(), 6u);
  const std::vector<std::uint8_t> low = {0x00, 0x30, 0x00, 0x00};
  const std::vector<std::uint8_t> high = {0x20, 0x30, 0x00, 0x00};
  EXPECT_EQ(log[0].selector, SEL_PROGRAM_ADDRESS);
  EXPECT_EQ(log[0].data, low);
  EXPECT_EQ(log[1].op, RequestOp::Length);
  EXPECT_EQ(log[1].selector, SEL_FLASH_DATA);
  EXPECT_EQ(log[2].selector, SEL_FLASH_ADDRESS);
  EXPECT_EQ(log[2].data, low);
  EXPECT_EQ(log[3].selector, SEL_FLASH_DATA);
  EXPECT_EQ(log[3].data.size(), 4096u);
  EXPECT_EQ(log[4].selector, SEL_FLASH_ADDRESS);
  EXPECT_EQ(log[4].data, high);
  EXPECT_EQ(log[5].selector, SEL_FLASH_DATA);
  EXPECT_EQ(log[5].data.size(), 4096u);
  // The camera model places the two blocks back into the chunk's order.
  EXPECT_TRUE(std::equal(image.begin() + 0x3000, image.begin() + 0x4000,
                         rig.camera.flash.begin() + 0x3000));
}

class VerifyImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = TestImage();
    std::copy(image_.begin(), image_.end(), rig_.camera.flash.begin());
  }
  int Verify() { return VerifyImage(rig_.engine, settings_, image_.data()); }

  CameraRig rig_{Family8x};
  FixedSettings settings_;
  std::vector<std::uint8_t> image_;
};

TEST_F(VerifyImageTest, PassesWhenTheFlashHoldsTheImageForAnyBlockLength) {
  for (std::uint32_t length : {4096u, 1024u, 3000u, 0x10000u}) {
    rig_.camera.flashDataLength = length;
    EXPECT_EQ(Verify(), 1) << "block length " << length;
  }
}

TEST_F(VerifyImageTest, FailsOnASingleDifferingByte) {
  for (std::uint32_t offset : {0x0000u, 0x0FFFu, 0x1000u, 0x8000u, 0xFFFFu}) {
    rig_.camera.flash[offset] ^= 0x01;
    EXPECT_EQ(Verify(), 0) << "offset " << offset;
    rig_.camera.flash[offset] ^= 0x01;
  }
  EXPECT_EQ(Verify(), 1);
}

// The camera answers with the right bytes but reports a failure: a
// verification that passed here would rest on nothing the camera vouched for.
TEST_F(VerifyImageTest, FailsWhenAnyReadBackRequestFails) {
  struct Case {
    RequestOp op;
    std::uint32_t selector;
    std::vector<HRESULT> statuses;
    std::uint32_t flashDataLength;
  };
  const Case cases[] = {
      {RequestOp::Get, SEL_FLASH_DATA, {S_OK, S_OK, E_FAIL}, 4096},
      {RequestOp::Get, SEL_FLASH_DATA, {E_FAIL}, 1024},
      {RequestOp::Set, SEL_FLASH_ADDRESS, {E_FAIL}, 4096},
      {RequestOp::Set, SEL_FLASH_ADDRESS, {S_OK, E_FAIL}, 1024},
      {RequestOp::Length, SEL_FLASH_DATA, {S_OK, E_FAIL}, 4096},
  };
  rig_.camera.deliverDespiteFailure = true;
  for (const auto& c : cases) {
    rig_.camera.flashDataLength = c.flashDataLength;
    rig_.camera.Fail(c.op, c.selector, c.statuses);
    EXPECT_EQ(Verify(), 0) << "selector " << c.selector << " block length " << c.flashDataLength;
    // The script is used up: the same read now passes.
    EXPECT_EQ(Verify(), 1);
  }
}

TEST_F(VerifyImageTest, FailsOnABlockLengthThatCannotBeRead) {
  for (std::uint32_t length : {0u, 0x10001u}) {
    rig_.camera.flashDataLength = length;
    EXPECT_EQ(Verify(), 0) << "block length " << length;
  }
}

class ProgramFromHostTest : public ::testing::Test {
 protected:
  int Program() {
    return ProgramFromHost(rig_.engine, settings_, image_.data(), kImageSize, &host_, &device_,
                           &progress_);
  }
  // Programs at flash address 0 of one byte.
  std::vector<std::uint8_t> MarkersAtZero() const {
    std::vector<std::uint8_t> out;
    for (const auto& p : rig_.camera.programs) {
      if (p.address == 0 && p.data.size() == 1) out.push_back(p.data[0]);
    }
    return out;
  }

  CameraRig rig_{Family6x};
  FixedSettings settings_;
  std::vector<std::uint8_t> image_ = TestImage();
  std::uint8_t host_ = 0x11;
  std::uint8_t device_ = 0x22;
  ProgressReport progress_{PROGRESS_START, 5};
};

TEST_F(ProgramFromHostTest, VerifiedImageIsMarkedValid) {
  const std::uint8_t checksum = ImageChecksum(image_.data(), kImageSize);
  ASSERT_EQ(Program(), 1);
  EXPECT_EQ(image_[0], MARK_VALID);
  EXPECT_EQ(host_, checksum);
  EXPECT_EQ(device_, checksum);
  EXPECT_EQ(progress_.stage, PROGRESS_END);
  EXPECT_EQ(progress_.percent, 100);
  EXPECT_EQ(rig_.camera.flash[0], MARK_VALID);
  EXPECT_TRUE(std::equal(image_.begin() + 1, image_.end(), rig_.camera.flash.begin() + 1));
  EXPECT_EQ(MarkersAtZero(), std::vector<std::uint8_t>{MARK_VALID});
  EXPECT_EQ(rig_.camera.StatusWrites(), std::vector<std::uint8_t>{0x0C});
  EXPECT_EQ(rig_.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));
  EXPECT_EQ(rig_.camera.Count(RequestOp::Set, SEL_PROGRAM_ADDRESS), 16u);
  // The marker goes out after the last data block, the mode cycle last.
  EXPECT_GT(rig_.camera.programs.back().requestIndex,
            rig_.camera.LastIndex(RequestOp::Set, SEL_FLASH_DATA));
  EXPECT_EQ(rig_.camera.log.back().selector, SEL_DOWNLOAD_MODE);
}

TEST_F(ProgramFromHostTest, FailedVerificationLeavesThePendingMarker) {
  rig_.camera.ignoreHostProgramming = true;
  const std::uint8_t checksum = ImageChecksum(image_.data(), kImageSize);
  ASSERT_EQ(Program(), 0);
  EXPECT_EQ(image_[0], MARK_PENDING);
  EXPECT_EQ(host_, checksum);
  EXPECT_EQ(device_, static_cast<std::uint8_t>(~checksum));
  EXPECT_EQ(progress_.stage, PROGRESS_END);
  EXPECT_TRUE(MarkersAtZero().empty());
  EXPECT_TRUE(rig_.camera.StatusWrites().empty());
  EXPECT_EQ(rig_.camera.DownloadModeSets(), (std::vector<std::uint8_t>{1, 0}));

  // A second attempt checksums the image as the first one left it.
  std::vector<std::uint8_t> expected = image_;
  ASSERT_EQ(Program(), 0);
  EXPECT_EQ(host_, ImageChecksum(expected.data(), kImageSize));
}

TEST_F(ProgramFromHostTest, HostChecksumCoversByteZeroAsItWasOnEntry) {
  image_[0] = 0x00;
  const std::uint8_t checksum = ImageChecksum(image_.data(), kImageSize);
  ASSERT_EQ(Program(), 1);
  EXPECT_EQ(host_, checksum);
  EXPECT_NE(checksum, ImageChecksum(image_.data(), kImageSize)) << "byte 0 changed meanwhile";
}

TEST_F(ProgramFromHostTest, StatusRegisterIsClearedOnlyWhenNonzero) {
  ASSERT_EQ(Program(), 1);
  EXPECT_EQ(rig_.camera.StatusWrites(), std::vector<std::uint8_t>{0x0C});

  CameraRig protectedRig(Family6x);
  protectedRig.camera.flashStatus = 0x1C;
  image_ = TestImage();
  ASSERT_EQ(ProgramFromHost(protectedRig.engine, settings_, image_.data(), kImageSize, nullptr,
                            nullptr, nullptr),
            1);
  EXPECT_EQ(protectedRig.camera.StatusWrites(), (std::vector<std::uint8_t>{0x00, 0x0C}));
  // Cleared before the first sector is erased.
  const auto& commands = protectedRig.camera.spiCommands;
  const auto clear = std::find_if(commands.begin(), commands.end(), [](const auto& c) {
    return c.bytes == std::vector<std::uint8_t>{0x01, 0x00};
  });
  ASSERT_NE(clear, commands.end());
  EXPECT_LT(clear->requestIndex,
            protectedRig.camera.FirstIndex(RequestOp::Set, SEL_PROGRAM_ADDRESS));
}

// Through the tunnel the data blocks cannot arrive while the program
// addresses would still erase: nothing may be sent at all.
TEST_F(ProgramFromHostTest, TunnelIsRefusedBeforeAnythingIsSent) {
  CameraRig tunnelRig(Family6x, ChannelMode::Tunnel);
  const auto before = image_;
  EXPECT_EQ(ProgramFromHost(tunnelRig.engine, settings_, image_.data(), kImageSize, &host_,
                            &device_, &progress_),
            0);
  EXPECT_EQ(tunnelRig.tunnel.calls, 0u);
  EXPECT_TRUE(tunnelRig.camera.log.empty());
  EXPECT_EQ(image_, before);
  EXPECT_EQ(device_, static_cast<std::uint8_t>(~host_));
  EXPECT_EQ(progress_.stage, PROGRESS_END);
}

TEST_F(ProgramFromHostTest, LengthOtherThanTheWholeImageIsRefused) {
  for (std::uint32_t length : {0u, 0x8000u, 0x10001u}) {
    EXPECT_EQ(ProgramFromHost(rig_.engine, settings_, image_.data(), length, &host_, &device_,
                              nullptr),
              0)
        << length;
    EXPECT_NE(host_, device_);
  }
  EXPECT_TRUE(rig_.camera.log.empty());
}

// A bridge that never goes idle: the status cannot be read, so no sector is
// erased, and nothing is marked valid.
TEST_F(ProgramFromHostTest, StuckBridgeErasesNothing) {
  rig_.camera.stuckBusy = true;
  rig_.camera.flashStatus = 0x01;
  EXPECT_EQ(Program(), 0);
  EXPECT_EQ(rig_.camera.Count(RequestOp::Set, SEL_PROGRAM_ADDRESS), 0u);
  EXPECT_TRUE(MarkersAtZero().empty());
  EXPECT_NE(host_, device_);
}

}  // namespace
}  // namespace torvane
