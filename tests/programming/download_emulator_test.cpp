// Writing the carried firmware into emulated cameras, end to end: the
// camera is found, identified and written through the real channel, both
// programming paths, and the flash model checks every command it is sent.
#include "programming/download.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "channel/selectors.h"
#include "emulator/flash_parts.h"
#include "flash/flash_identification.h"
#include "programming/firmware_image.h"
#include "support/emulated_rig.h"

namespace torvane {
namespace {

using emulator::BindingKind;
using emulator::CameraConfig;
using emulator::EmulatedCamera;
using emulator::LoggedOp;
using fakes::CountRequests;
using fakes::EmulatedRig;
using fakes::UsesTunnel;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kProtected = 0x0C;

// The status register's stored bits; the write-enable latch and the
// write-in-progress bit only reflect the last command.
std::uint8_t StoredStatus(const EmulatedCamera& camera) {
  return camera.flashStatusRegister() & 0xFC;
}

// The flash-type byte and where it goes, as the image layout has them.
std::uint8_t TypeByte(FlashKind kind) {
  const std::uint8_t bytes[] = {0x00, 0x01, 0x04, 0x05, 0x06, 0x03, 0x07};
  return bytes[kind];
}
std::uint32_t TypeOffset(std::uint8_t chip) {
  switch (chip & 0xF0) {
    case 0x80: return 0x501F;
    case 0xA0: return 0x6010;
    default: return 0xC006;
  }
}
bool IsAx(std::uint8_t chip) { return (chip & 0xF0) == 0xA0; }

// The flash a confirmed download leaves: the image with the valid marker.
Bytes Confirmed(const FirmwareImage& image, std::uint8_t chip) {
  Bytes expected(image.bytes().begin(), image.bytes().end());
  if (IsAx(chip)) {
    expected[0] = 0x89;
    expected[1] = 0x16;
  } else {
    expected[0] = 0x55;
  }
  return expected;
}

::testing::AssertionResult FlashEquals(const EmulatedCamera& camera, const Bytes& expected) {
  const auto flash = camera.flash();
  if (flash.size() != expected.size()) return ::testing::AssertionFailure() << "flash size";
  for (std::size_t i = 0; i < flash.size(); ++i) {
    if (flash[i] != expected[i]) {
      std::ostringstream text;
      text << std::hex << "first difference at 0x" << i << ": flash 0x" << int{flash[i]}
           << ", expected 0x" << int{expected[i]};
      auto failure = ::testing::AssertionFailure() << text.str();
      for (const std::string& line : camera.rejections()) failure << "\n  camera: " << line;
      return failure;
    }
  }
  return ::testing::AssertionSuccess();
}

Bytes FlashOf(const EmulatedCamera& camera) {
  return Bytes(camera.flash().begin(), camera.flash().end());
}

CameraConfig Config(std::uint8_t chip, std::uint8_t part, BindingKind binding) {
  CameraConfig config;
  config.chipId = chip;
  config.flashPart = part;
  // Through the tunnel a block must fit one 68-byte frame.
  config.downloadBlockSize = UsesTunnel(binding) ? 64 : 4096;
  return config;
}

// The kind the update procedure would pass: the identified one, else 0.
FlashKind IdentifiedKind(CameraUpdater& updater) {
  FlashTypeCode code = 0;
  updater.DetectFlashType(&code);
  return FlashKindForCode(code).value_or(0);
}

std::string BindingName(BindingKind binding) {
  switch (binding) {
    case BindingKind::ExtensionUnit: return "Xu";
    case BindingKind::ExtensionUnitSetB: return "XuSetB";
    case BindingKind::Tunnel: return "Tunnel";
    case BindingKind::Both: return "Both";
    case BindingKind::None: break;
  }
  return "None";
}

// ---------------------------------------------------------------------------
// Every family, every flash part, every binding.

using PathParam = std::tuple<std::uint8_t, std::uint8_t, BindingKind>;

class BothProgrammingPaths : public ::testing::TestWithParam<PathParam> {};

TEST_P(BothProgrammingPaths, WriteTheImageAndConfirmIt) {
  const auto [chip, part, binding] = GetParam();
  EmulatedRig rig(Config(chip, part, binding), binding);
  EmulatedCamera& camera = rig.camera();
  auto updater = rig.NewUpdater();
  ASSERT_EQ(updater->Open(AnyFamily), 0);
  const FlashKind kind = IdentifiedKind(*updater);
  const bool hostDriven = kind == 6 && !IsAx(chip);
  const Bytes before = FlashOf(camera);

  FirmwareImage image;
  camera.ClearLog();
  std::uint8_t hostChecksum = 0;
  std::uint8_t deviceChecksum = 0;
  ProgressReport progress;
  const std::int32_t result = updater->Download(image.data(), image.size(), kind, &hostChecksum,
                                                &deviceChecksum, &progress);
  EXPECT_EQ(image.data()[TypeOffset(chip)], TypeByte(kind));
  EXPECT_FALSE(camera.InDownloadMode());
  EXPECT_EQ(progress.stage, PROGRESS_END);
  EXPECT_EQ(progress.percent, 100);
  const auto& log = camera.log();

  if (hostDriven && UsesTunnel(binding)) {
    // The tunnel cannot carry the host's 4,096-byte blocks: refused before
    // anything is erased, so the camera keeps its firmware.
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(FlashEquals(camera, before));
    EXPECT_EQ(StoredStatus(camera), emulator::kPowerOnFlashStatus);
    EXPECT_NE(hostChecksum, deviceChecksum);
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_PROGRAM_ADDRESS), 0u);
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_DOWNLOAD_MODE), 0u);
    return;
  }

  EXPECT_EQ(result, 0);
  EXPECT_TRUE(FlashEquals(camera, Confirmed(image, chip)));
  EXPECT_EQ(StoredStatus(camera), kProtected);
  EXPECT_EQ(hostChecksum, deviceChecksum);
  if (hostDriven) {
    EXPECT_EQ(image.data()[0], 0x55);
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_PROGRAM_ADDRESS), 16u);
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_DOWNLOAD_BLOCK), 0u);
    EXPECT_TRUE(rig.sleeper.waits.empty());
  } else {
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_PROGRAM_ADDRESS), 0u);
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_DOWNLOAD_BLOCK),
              kImageSize / camera.config().downloadBlockSize);
    EXPECT_EQ(rig.sleeper.waits, std::vector<std::uint32_t>{1000});
  }
}

INSTANTIATE_TEST_SUITE_P(
    EmulatedCameras, BothProgrammingPaths,
    ::testing::Combine(::testing::Values(std::uint8_t{0x6A}, std::uint8_t{0x9C},
                                         std::uint8_t{0x85}, std::uint8_t{0xA3}),
                       ::testing::Range(std::uint8_t{0x78}, std::uint8_t{0x82}),
                       ::testing::Values(BindingKind::ExtensionUnit,
                                         BindingKind::ExtensionUnitSetB, BindingKind::Tunnel,
                                         BindingKind::Both)),
    [](const ::testing::TestParamInfo<PathParam>& param) {
      char name[32];
      std::snprintf(name, sizeof name, "Chip%02X_Part%02X_", std::get<0>(param.param),
                    std::get<1>(param.param));
      return name + BindingName(std::get<2>(param.param));
    });

// ---------------------------------------------------------------------------
// Failures on the way.

// Where a request falls among the channel's requests, counted from 1 as a
// fault plan counts them: the occurrence-th (from 0) request of that kind in
// a clean run of the same open and download.
std::optional<std::uint32_t> RequestNumber(const CameraConfig& config, BindingKind binding,
                                           FlashKind kind, RequestOp op, std::uint32_t selector,
                                           std::size_t occurrence) {
  EmulatedRig rig(config, binding);
  auto updater = rig.NewUpdater();
  if (updater->Open(AnyFamily) != 0) return std::nullopt;
  const std::size_t opened = rig.requests.requests.size();
  FirmwareImage image;
  updater->Download(image.data(), image.size(), kind, nullptr, nullptr, nullptr);
  // The plan counts what the channel sends, one for one.
  if (rig.faults().requestsSeen != rig.requests.requests.size()) return std::nullopt;
  std::optional<std::size_t> at = opened;
  for (std::size_t n = 0; n <= occurrence; ++n) {
    at = fakes::FirstRequest(rig.requests.requests, op, selector, n == 0 ? *at : *at + 1);
    if (!at) return std::nullopt;
  }
  return static_cast<std::uint32_t>(*at + 1);
}

// A request that fails once: a counted retry, or a read-back that the
// verification cannot trust. Either way the download goes on to its end
// but the flash is never confirmed.
TEST(DownloadFailuresOverEmulator, OneFailedRequestLeavesTheFlashUnconfirmed) {
  struct Case {
    const char* name;
    std::uint8_t chip;
    std::uint8_t part;
    BindingKind binding;
    RequestOp op;
    std::uint32_t selector;
    std::size_t occurrence;
  };
  const Case cases[] = {
      {"first download block", 0x6A, 0x79, BindingKind::ExtensionUnit, RequestOp::Set,
       SEL_DOWNLOAD_BLOCK, 0},
      {"first download block through the tunnel", 0xA3, 0x7B, BindingKind::Tunnel, RequestOp::Set,
       SEL_DOWNLOAD_BLOCK, 0},
      {"a later download block", 0x85, 0x7A, BindingKind::Both, RequestOp::Set,
       SEL_DOWNLOAD_BLOCK, 300},
      {"entering download mode", 0x9C, 0x7D, BindingKind::ExtensionUnit, RequestOp::Set,
       SEL_DOWNLOAD_MODE, 0},
      {"entering download mode on 0xA_", 0xA3, 0x80, BindingKind::ExtensionUnitSetB,
       RequestOp::Set, SEL_DOWNLOAD_MODE, 0},
      {"a flash-data read of the verification", 0x6A, 0x80, BindingKind::ExtensionUnit,
       RequestOp::Get, SEL_FLASH_DATA, 0},
      {"the last flash-data read of the verification", 0x9C, 0x81, BindingKind::ExtensionUnitSetB,
       RequestOp::Get, SEL_FLASH_DATA, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CameraConfig config = Config(c.chip, c.part, c.binding);
    const FlashKind kind = *FlashKindForCode(c.part);
    const auto failAt = RequestNumber(config, c.binding, kind, c.op, c.selector, c.occurrence);
    ASSERT_TRUE(failAt);

    EmulatedRig rig(config, c.binding);
    rig.faults().failAt = *failAt;
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    FirmwareImage image;
    std::uint8_t hostChecksum = 0;
    std::uint8_t deviceChecksum = 0;
    EXPECT_EQ(updater->Download(image.data(), image.size(), kind, &hostChecksum, &deviceChecksum,
                                nullptr),
              1);
    const auto& failed = rig.requests.requests.at(*failAt - 1);
    EXPECT_EQ(failed.selector, c.selector);
    EXPECT_EQ(failed.status, STATUS_GEN_FAILURE);
    EXPECT_GT(rig.faults().requestsSeen, *failAt) << "the download went on";

    const EmulatedCamera& camera = rig.camera();
    const bool hostDriven = kind == 6 && !IsAx(c.chip);
    EXPECT_NE(StoredStatus(camera), kProtected);
    EXPECT_FALSE(camera.InDownloadMode());
    EXPECT_NE(camera.flash()[0], IsAx(c.chip) ? 0x89 : 0x55) << "no valid marker";
    if (hostDriven) {
      EXPECT_EQ(image.data()[0], MARK_PENDING);
      // The closing download-mode cycle leaves the programmed flash alone:
      // the pending marker stays where the data put it.
      EXPECT_EQ(camera.flash()[0], MARK_PENDING);
      EXPECT_NE(hostChecksum, deviceChecksum);
    } else {
      // Every block still arrived; only the marker stayed pending. When the
      // first block itself had to be resent, the camera erased its sector
      // when the resend arrived, after the pending marker had been
      // programmed, so byte 0 is the image's own unmarked byte.
      Bytes expected = Confirmed(image, c.chip);
      const bool firstBlockResent =
          c.selector == SEL_DOWNLOAD_BLOCK && c.occurrence == 0;
      expected[0] = firstBlockResent ? image.data()[0]
                    : IsAx(c.chip)   ? MARK_PENDING_AX
                                     : MARK_PENDING;
      if (IsAx(c.chip)) expected[1] = image.data()[1];
      EXPECT_TRUE(FlashEquals(camera, expected));
      EXPECT_EQ(hostChecksum, deviceChecksum);
    }
  }
}

// A camera that takes every request but the host's program blocks.
class RefusingProgramBlocks final : public emulator::ExtensionUnitDevice {
 public:
  explicit RefusingProgramBlocks(std::shared_ptr<EmulatedCamera> camera)
      : camera_(std::move(camera)) {}
  HRESULT SetCur(std::uint32_t selector, std::span<const std::uint8_t> data) override {
    if (selector == SEL_FLASH_DATA) return STATUS_GEN_FAILURE;
    return camera_->SetCur(selector, data);
  }
  HRESULT GetCur(std::uint32_t selector, std::span<std::uint8_t> data) override {
    return camera_->GetCur(selector, data);
  }
  HRESULT GetLen(std::uint32_t selector, std::uint32_t* length) override {
    return camera_->GetLen(selector, length);
  }

 private:
  std::shared_ptr<EmulatedCamera> camera_;
};

// Programming failures are found only by the read-back, which then keeps
// the flash from being marked valid.
TEST(DownloadFailuresOverEmulator, RefusedProgramBlocksFailTheVerification) {
  for (const std::uint8_t chip : {std::uint8_t{0x6A}, std::uint8_t{0x85}}) {
    SCOPED_TRACE(testing::Message() << "chip 0x" << std::hex << int{chip});
    auto camera = std::make_shared<EmulatedCamera>(Config(chip, 0x81, BindingKind::ExtensionUnit));
    emulator::EmulatedDevice device = fakes::CameraDevice(camera, BindingKind::ExtensionUnit);
    device.device = std::make_shared<RefusingProgramBlocks>(camera);
    EmulatedRig rig({device});
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    ASSERT_EQ(updater->engine.flashKind, 6);
    FirmwareImage image;
    std::uint8_t hostChecksum = 0;
    std::uint8_t deviceChecksum = 0;
    EXPECT_EQ(updater->Download(image.data(), image.size(), 6, &hostChecksum, &deviceChecksum,
                                nullptr),
              1);
    EXPECT_EQ(image.data()[0], MARK_PENDING);
    EXPECT_NE(hostChecksum, deviceChecksum);
    EXPECT_NE(camera->flash()[0], MARK_VALID);
    EXPECT_NE(StoredStatus(*camera), kProtected);
    EXPECT_EQ(CountRequests(camera->log(), LoggedOp::Set, SEL_PROGRAM_ADDRESS), 16u);
  }
}

// A camera that keeps answering "busy", or a flash that never finishes a
// write, fails the download within a bounded number of requests.
TEST(DownloadFailuresOverEmulator, AStuckCameraFailsWithinBounds) {
  struct Case {
    const char* name;
    std::uint8_t chip;
    std::uint8_t part;
    BindingKind binding;
    bool stuckBusy;
    bool stuckWip;
  };
  const Case cases[] = {
      {"bridge busy, device download", 0x6A, 0x79, BindingKind::ExtensionUnit, true, false},
      {"bridge busy, through the tunnel", 0xA3, 0x7A, BindingKind::Tunnel, true, false},
      {"bridge busy, host programming", 0x9C, 0x80, BindingKind::ExtensionUnit, true, false},
      {"flash stuck in a write, device download", 0x85, 0x7E, BindingKind::ExtensionUnit, false,
       true},
      {"flash stuck in a write, through the tunnel", 0xA3, 0x79, BindingKind::Both, false, true},
      {"flash stuck in a write, host programming", 0x6A, 0x81, BindingKind::ExtensionUnit, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraConfig config = Config(c.chip, c.part, c.binding);
    config.stuckBusy = c.stuckBusy;
    config.stuckWip = c.stuckWip;
    EmulatedRig rig(config, c.binding);
    const EmulatedCamera& camera = rig.camera();
    const Bytes before = FlashOf(camera);
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    FirmwareImage image;
    EXPECT_EQ(updater->Download(image.data(), image.size(), *FlashKindForCode(c.part), nullptr,
                                nullptr, nullptr),
              1);
    EXPECT_LT(camera.log().size(), 200000u);
    EXPECT_FALSE(camera.InDownloadMode());
    // Nothing was written, and nothing erased: the old firmware stays.
    EXPECT_TRUE(FlashEquals(camera, before));
  }
}

// The camera goes away in the middle of the data; every request after that
// fails and the download ends in failure, within bounds.
TEST(DownloadFailuresOverEmulator, UnpluggedMidDownloadFails) {
  struct Case {
    const char* name;
    std::uint8_t chip;
    std::uint8_t part;
    BindingKind binding;
    RequestOp op;
    std::uint32_t selector;
    std::size_t occurrence;
  };
  const Case cases[] = {
      {"device download", 0x6A, 0x79, BindingKind::ExtensionUnit, RequestOp::Set,
       SEL_DOWNLOAD_BLOCK, 8},
      {"through the tunnel", 0xA3, 0x7C, BindingKind::Tunnel, RequestOp::Set, SEL_DOWNLOAD_BLOCK,
       500},
      {"before the checksum", 0x85, 0x79, BindingKind::ExtensionUnit, RequestOp::Get,
       SEL_DOWNLOAD_CHECKSUM, 0},
      {"host programming", 0x9C, 0x80, BindingKind::ExtensionUnit, RequestOp::Set,
       SEL_PROGRAM_ADDRESS, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CameraConfig config = Config(c.chip, c.part, c.binding);
    const FlashKind kind = *FlashKindForCode(c.part);
    const auto unplugAt = RequestNumber(config, c.binding, kind, c.op, c.selector, c.occurrence);
    ASSERT_TRUE(unplugAt);

    EmulatedRig rig(config, c.binding);
    rig.faults().unplugFrom = *unplugAt;
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    FirmwareImage image;
    std::uint8_t hostChecksum = 0;
    std::uint8_t deviceChecksum = 0;
    EXPECT_EQ(updater->Download(image.data(), image.size(), kind, &hostChecksum, &deviceChecksum,
                                nullptr),
              1);
    EXPECT_EQ(rig.requests.requests.at(*unplugAt - 1).selector, c.selector);
    EXPECT_LT(rig.faults().requestsSeen, 200000u);
    EXPECT_NE(rig.camera().flash()[0], IsAx(c.chip) ? 0x89 : 0x55);
    updater.reset();
    EXPECT_EQ(rig.ledger().live(), 0);
  }
}

// Block sizes the host cannot send are refused after download mode was
// entered; the camera is taken out of it again.
TEST(DownloadFailuresOverEmulator, BlockSizesOutOfBoundsLeaveDownloadMode) {
  struct Case {
    std::uint32_t blockSize;
    BindingKind binding;
  };
  const Case cases[] = {
      {0, BindingKind::ExtensionUnit},
      {4097, BindingKind::ExtensionUnit},
      {0, BindingKind::Tunnel},
      {69, BindingKind::Both},
      {128, BindingKind::Tunnel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "block " << c.blockSize << " " << BindingName(c.binding));
    CameraConfig config = Config(0x85, 0x79, c.binding);
    config.downloadBlockSize = c.blockSize;
    EmulatedRig rig(config, c.binding);
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    FirmwareImage image;
    ProgressReport progress;
    EXPECT_EQ(updater->Download(image.data(), image.size(), 0, nullptr, nullptr, &progress), 1);
    const auto& log = rig.camera().log();
    EXPECT_EQ(CountRequests(log, LoggedOp::Set, SEL_DOWNLOAD_BLOCK), 0u);
    EXPECT_EQ(fakes::LastSet(log, SEL_DOWNLOAD_MODE), Bytes{0x00});
    EXPECT_FALSE(rig.camera().InDownloadMode());
    EXPECT_NE(StoredStatus(rig.camera()), kProtected);
    EXPECT_EQ(progress.stage, PROGRESS_END);
  }
}

// A second update of the same camera, by a new updater with the image as
// the first left it, writes the same flash again.
TEST(DownloadOverEmulator, ASecondUpdateInARowWorks) {
  struct Case {
    std::uint8_t chip;
    std::uint8_t part;
    BindingKind binding;
  };
  const Case cases[] = {
      {0x85, 0x79, BindingKind::ExtensionUnit},
      {0xA3, 0x7A, BindingKind::Tunnel},
      {0x9C, 0x81, BindingKind::ExtensionUnitSetB},
      {0x6A, 0x7C, BindingKind::Both},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "chip 0x" << int{c.chip} << ", part 0x"
                                    << int{c.part});
    EmulatedRig rig(Config(c.chip, c.part, c.binding), c.binding);
    FirmwareImage image;
    for (int attempt = 1; attempt <= 2; ++attempt) {
      SCOPED_TRACE(attempt);
      auto updater = rig.NewUpdater();
      ASSERT_EQ(updater->Open(AnyFamily), 0);
      EXPECT_EQ(updater->Download(image.data(), image.size(), IdentifiedKind(*updater), nullptr,
                                  nullptr, nullptr),
                0);
      EXPECT_TRUE(FlashEquals(rig.camera(), Confirmed(image, c.chip)));
      EXPECT_EQ(StoredStatus(rig.camera()), kProtected);
      std::uint32_t version = 0;
      ASSERT_EQ(updater->ReadFirmwareVersion(&version), 0);
      updater.reset();
      EXPECT_EQ(rig.ledger().live(), 0);
    }
  }
}

}  // namespace
}  // namespace torvane
