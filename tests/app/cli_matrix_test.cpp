// The whole update through the command line, for every chip family, flash
// part and binding the emulator offers: what ends up in the flash file, what
// `info` then reads, and what a second run does.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/cli.h"
#include "app/outcome.h"
#include "channel/chip_family.h"
#include "emulator/emulated_camera.h"
#include "flash/flash_identification.h"
#include "programming/firmware_image.h"
#include "support/recording_sleeper.h"
#include "support/scratch_directory.h"

namespace torvane {
namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun RunCommand(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  RecordingSleeper sleeper;
  const int status = RunCli(args, out, err, false, &sleeper);
  return {status, out.str() + err.str()};
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

using MatrixParam = std::tuple<std::uint8_t, std::uint8_t, std::string>;

class UpdateMatrix : public ::testing::TestWithParam<MatrixParam> {};

TEST_P(UpdateMatrix, UpdatesOrDeclinesAsTheFamilyAndPathAllow) {
  const auto [chip, part, binding] = GetParam();
  const ChipFamily family = FamilyForChipId(chip).value();
  const FlashKind kind = FlashKindForCode(part).value_or(0);
  const bool tunnelBound = binding == "tunnel" || binding == "both";
  const bool hostDriven = kind == 6 && family != FamilyAx;

  fakes::ScratchDirectory directory;
  const auto file = directory.Path() / "flash.bin";
  const auto factory =
      emulator::FactoryFlash(chip, emulator::DefaultByte0(chip), emulator::DefaultVersion(chip));
  directory.WriteFile("flash.bin", std::string(factory.begin(), factory.end()));
  char device[64];
  std::snprintf(device, sizeof device, "--simulate=chip=0x%02x,part=0x%02x,binding=%s", chip,
                part, binding.c_str());
  const std::string spec = std::string(device) + ",image=" + file.string();

  const CliRun update = RunCommand({"update", spec});
  if (family == Family6x || family == Family9x) {
    EXPECT_EQ(update.status, kExitFinished) << update.out;
    EXPECT_NE(update.out.find("FlashCode is v90, finished.\n"), std::string::npos) << update.out;
    EXPECT_EQ(ReadBytes(file), factory);
    return;
  }
  if (hostDriven && tunnelBound) {
    // The tunnel cannot carry host-driven programming.
    EXPECT_EQ(update.status, kExitFailure) << update.out;
    EXPECT_EQ(ReadBytes(file), factory) << "the flash was changed";
    return;
  }
  ASSERT_EQ(update.status, kExitSuccess) << update.out;

  std::vector<std::uint8_t> expected(EmbeddedFirmware().begin(), EmbeddedFirmware().end());
  expected[FlashTypeOffsetFor(family).value()] = FlashTypeByteFor(kind);
  if (family == FamilyAx) {
    expected[0] = MARK_VALID_AX[0];
    expected[1] = MARK_VALID_AX[1];
  } else {
    expected[0] = MARK_VALID;
  }
  const std::vector<std::uint8_t> flash = ReadBytes(file);
  ASSERT_EQ(flash.size(), expected.size());
  for (std::size_t i = 0; i < flash.size(); ++i) {
    ASSERT_EQ(flash[i], expected[i]) << "first difference at 0x" << std::hex << i;
  }

  const CliRun info = RunCommand({"info", spec});
  EXPECT_EQ(info.status, kExitSuccess) << info.out;
  EXPECT_NE(info.out.find("version: 0x13201\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(family == FamilyAx ? "qualifies: no\n" : "qualifies: yes\n"),
            std::string::npos)
      << info.out;

  if (family == FamilyAx) {
    const CliRun again = RunCommand({"update", spec});
    EXPECT_EQ(again.status, kExitFinished) << again.out;
    EXPECT_NE(again.out.find("FlashCode is v132, finished.\n"), std::string::npos) << again.out;
    EXPECT_EQ(ReadBytes(file), flash);
  }
}

std::string MatrixName(const ::testing::TestParamInfo<MatrixParam>& info) {
  const auto [chip, part, binding] = info.param;
  char name[64];
  std::snprintf(name, sizeof name, "chip%02x_part%02x_%s", chip, part, binding.c_str());
  std::string text = name;
  for (char& c : text) {
    if (c == '-') c = '_';
  }
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamilyPartAndBinding, UpdateMatrix,
    ::testing::Combine(::testing::Values(std::uint8_t{0x63}, std::uint8_t{0x93},
                                         std::uint8_t{0x85}, std::uint8_t{0xA3}),
                       ::testing::Values(std::uint8_t{0x78}, std::uint8_t{0x79},
                                         std::uint8_t{0x7A}, std::uint8_t{0x7B},
                                         std::uint8_t{0x7C}, std::uint8_t{0x7D},
                                         std::uint8_t{0x7E}, std::uint8_t{0x7F},
                                         std::uint8_t{0x80}, std::uint8_t{0x81}),
                       ::testing::Values(std::string("xu"), std::string("xu-b"),
                                         std::string("tunnel"), std::string("both"))),
    MatrixName);

}  // namespace
}  // namespace torvane
