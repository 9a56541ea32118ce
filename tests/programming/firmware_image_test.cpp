#include "programming/firmware_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "image_generator.h"
#include "tooling_paths.h"

namespace torvane {
namespace {

std::uint32_t Word(const std::vector<std::uint8_t>& image, std::size_t offset) {
  return static_cast<std::uint32_t>(image[offset] | image[offset + 1] << 8);
}

TEST(FirmwareLayout, FlashTypeBytesFollowTheKindTable) {
  const std::array<std::uint8_t, 7> expected = {0x00, 0x01, 0x04, 0x05, 0x06, 0x03, 0x07};
  for (FlashKind kind = 0; kind < expected.size(); ++kind) {
    EXPECT_EQ(FlashTypeByteFor(kind), expected[kind]) << "kind " << int(kind);
  }
}

TEST(FirmwareLayout, OffsetsByFamily) {
  struct Case {
    ChipFamily family;
    std::optional<std::uint32_t> typeOffset;
    std::optional<std::uint32_t> versionOffset;
  };
  const Case cases[] = {
      {Family6x, 0xC006, 0x800C},      {Family9x, 0xC006, 0x800C},
      {Family8x, 0x501F, 0xB70E},      {FamilyAx, 0x6010, 0x678E},
      {FamilyUnknown, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FlashTypeOffsetFor(c.family), c.typeOffset) << FamilyName(c.family);
    EXPECT_EQ(VersionOffsetFor(c.family), c.versionOffset) << FamilyName(c.family);
  }
}

TEST(FirmwareLayout, HeaderVersionIsLittleEndianAt678E) {
  std::vector<std::uint8_t> image(kImageSize, 0);
  image[0x678E] = 0x32;
  image[0x678F] = 0x01;
  EXPECT_EQ(ImageHeaderVersion(image), 0x0132);
  std::swap(image[0x678E], image[0x678F]);
  EXPECT_EQ(ImageHeaderVersion(image), 0x3201);
  // Too short to hold the field: no version, no read past the end.
  EXPECT_EQ(ImageHeaderVersion(std::span(image).first(0x678F)), 0);
}

TEST(FirmwareLayout, ChecksumIsTheXorOfTheFirstLengthBytes) {
  const std::uint8_t bytes[] = {0x0F, 0xF0, 0x11, 0x80};
  EXPECT_EQ(ImageChecksum(bytes, 0), 0x00);
  EXPECT_EQ(ImageChecksum(bytes, 2), 0xFF);
  EXPECT_EQ(ImageChecksum(bytes, 4), 0x6E);
}

// The synthetic image the updater carries.
TEST(CarriedFirmware, GeneratorMakesTheFieldsTheUpdaterAndProbeRead) {
  const auto image = GenerateSyntheticFirmware();
  ASSERT_EQ(image.size(), kImageSize);
  EXPECT_EQ(image, GenerateSyntheticFirmware()) << "the generator must be deterministic";
  EXPECT_EQ(image[0], 0xFF);
  EXPECT_EQ(image[1], 0xFF);
  EXPECT_EQ(ImageHeaderVersion(image), kRequiredHeaderVersion);
  // Newer than a factory-fresh emulated camera of every family.
  const std::uint32_t family6x = Word(image, 0x800C);
  const std::uint32_t family8x = Word(image, 0xB70E) * 256 + image[0xDB40];
  const std::uint32_t familyAx = Word(image, 0x678E) * 256 + image[0x6040];
  EXPECT_EQ(family6x, 0x9101u);
  EXPECT_EQ(family8x, 0x13201u);
  EXPECT_EQ(familyAx, 0x13201u);
  EXPECT_GT(family6x, 0x9001u);
  EXPECT_GT(family8x, 0x12800u);
  EXPECT_GT(familyAx, 0x12801u);
}

TEST(CarriedFirmware, ContentLooksLikeNoise) {
  const auto image = GenerateSyntheticFirmware();
  std::array<std::size_t, 256> histogram{};
  std::size_t longestRun = 1;
  std::size_t run = 1;
  for (std::size_t i = 0; i < image.size(); ++i) {
    ++histogram[image[i]];
    run = i > 0 && image[i] == image[i - 1] ? run + 1 : 1;
    longestRun = std::max(longestRun, run);
  }
  // 65,536 bytes over 256 values: 256 each on average.
  for (std::size_t value = 0; value < 256; ++value) {
    EXPECT_GT(histogram[value], 150u) << "value " << value;
    EXPECT_LT(histogram[value], 370u) << "value " << value;
  }
  EXPECT_LT(longestRun, 6u);
}

TEST(CarriedFirmware, CommittedFileIsTheGeneratorsOutput) {
  std::ifstream in(kCarriedFirmwareFile, std::ios::binary);
  ASSERT_TRUE(in) << kCarriedFirmwareFile;
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  EXPECT_EQ(file, GenerateSyntheticFirmware());
}

TEST(CarriedFirmware, EmbeddedImageIsAcceptedAndCopiesAreModifiable) {
  const auto embedded = EmbeddedFirmware();
  ASSERT_EQ(embedded.size(), kImageSize);
  EXPECT_EQ(ImageHeaderVersion(embedded), kRequiredHeaderVersion);

  FirmwareImage copy;
  ASSERT_EQ(copy.size(), kImageSize);
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), copy.data()));
  const std::uint8_t original = embedded[0xC006];
  copy.data()[0xC006] = static_cast<std::uint8_t>(~original);
  EXPECT_EQ(embedded[0xC006], original) << "patching a copy must leave the embedded bytes alone";
  EXPECT_EQ(FirmwareImage().data()[0xC006], original);
}

// The configure-time check that TORVANE_FIRMWARE_IMAGE must pass, run as the
// build runs it, on files in a directory of the test's own.
class FirmwareImageCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* root = std::getenv("TORVANE_TEST_TMP");
    const std::filesystem::path base =
        root && *root ? std::filesystem::path(root) : std::filesystem::temp_directory_path();
    dir_ = base / ("firmware-check-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  struct Outcome {
    int exitCode;
    std::string output;
  };

  Outcome RunCheck(const std::filesystem::path& image) {
    const std::string command = std::string("\"") + kCMakeCommand + "\" \"-DIMAGE=" +
                                image.string() + "\" -P \"" + kFirmwareCheckScript + "\" 2>&1";
    Outcome outcome{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    std::array<char, 256> buffer;
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe)) {
      outcome.output += buffer.data();
    }
    outcome.exitCode = pclose(pipe);
    // CMake wraps its messages; one space wherever it broke a line.
    std::string flat;
    for (char ch : outcome.output) {
      const bool space = ch == ' ' || ch == '\n';
      if (!space || flat.empty() || flat.back() != ' ') flat += space ? ' ' : ch;
    }
    outcome.output = flat;
    return outcome;
  }

  std::filesystem::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(FirmwareImageCheck, AcceptsTheCarriedImage) {
  const auto outcome = RunCheck(Write("good.bin", GenerateSyntheticFirmware()));
  EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

TEST_F(FirmwareImageCheck, RejectsWrongSizesAndHeaders) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* message;
  };
  auto image = GenerateSyntheticFirmware();
  const std::vector<std::uint8_t> shorter(image.begin(), image.end() - 1);
  auto longer = image;
  longer.push_back(0xFF);
  auto wrongHeader = image;
  wrongHeader[0x678E] = 0x33;
  auto swappedHeader = image;
  std::swap(swappedHeader[0x678E], swappedHeader[0x678F]);
  const Case cases[] = {
      {"empty.bin", {}, "is 0 bytes"},
      {"short.bin", shorter, "is 65535 bytes"},
      {"long.bin", longer, "is 65537 bytes"},
      {"header.bin", wrongHeader, "lacks header version 0x0132"},
      {"swapped.bin", swappedHeader, "lacks header version 0x0132"},
  };
  for (const auto& c : cases) {
    const auto outcome = RunCheck(Write(c.name, c.bytes));
    EXPECT_NE(outcome.exitCode, 0) << c.name;
    EXPECT_NE(outcome.output.find(c.message), std::string::npos) << c.name << ": " << outcome.output;
  }
  const auto missing = RunCheck(dir_ / "missing.bin");
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.output.find("does not exist"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace torvane
