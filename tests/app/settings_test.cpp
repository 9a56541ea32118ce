#include "app/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "platform/executable_path.h"
#include "support/scratch_directory.h"

namespace torvane {
namespace {

using fakes::ScratchDirectory;

class SettingsFile : public ::testing::Test {
 protected:
  void Write(const std::string& content) const { directory.WriteFile("setting.ini", content); }
  ScratchDirectory directory;
  IniSettings settings{directory.String()};
};

TEST_F(SettingsFile, WithoutAFileTheDefaultsApply) {
  EXPECT_EQ(settings.ReadGpioSetting(), 0);
  EXPECT_EQ(settings.ReadProjectSetting(), "ASDF");
}

TEST_F(SettingsFile, GpioIsParsedTheWayAtoiReadsIt) {
  struct Case {
    const char* value;
    int gpio;
  };
  const Case cases[] = {
      {"1", 1},       {"2", 2},       {"0", 0},   {"", 0},     {"word", 0},   {"  1", 1},
      {"+1", 1},      {"1abc", 1},    {"001", 1}, {"-1", -1},  {"0x1", 0},    {"\"1\"", 1},
      {"+ 1", 0},     {"1 1", 1},     {"12", 12}, {"1234567890123", 123456789},
  };
  for (const Case& c : cases) {
    Write(std::string("[SETTING]\nGPIO=") + c.value + "\n");
    EXPECT_EQ(settings.ReadGpioSetting(), c.gpio) << '"' << c.value << '"';
  }
}

TEST(ParseSettingInteger, AtoiRulesWithoutOverflow) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"\t\n\v\f\r 42x", 42}, {"-", 0},           {"+-1", 0},
      {"-0", 0},              {"2147483647", INT_MAX}, {"99999999999", INT_MAX},
      {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSettingInteger(c.text), c.value) << c.text;
}

TEST_F(SettingsFile, OnlyTheSettingSectionCountsInAnyLetterCase) {
  Write("[OTHER]\nGPIO=1\nPROJ=Other\n");
  EXPECT_EQ(settings.ReadGpioSetting(), 0);
  EXPECT_EQ(settings.ReadProjectSetting(), "ASDF");

  Write("[OTHER]\nGPIO=5\n[setting]\ngpio=1\nproj=Lower\n");
  EXPECT_EQ(settings.ReadGpioSetting(), 1);
  EXPECT_EQ(settings.ReadProjectSetting(), "Lower");
}

TEST_F(SettingsFile, ProjectTextIsCutAfter99Characters) {
  std::string text;
  for (int i = 0; i < 150; ++i) text.push_back(static_cast<char>('A' + i % 26));
  Write("[SETTING]\nPROJ=" + text + "\n");
  EXPECT_EQ(settings.ReadProjectSetting(), text.substr(0, 99));
}

TEST_F(SettingsFile, EveryReadSeesTheFileAsItIsNow) {
  Write("[SETTING]\nGPIO=1\nPROJ=First\n");
  EXPECT_EQ(settings.ReadGpioSetting(), 1);
  EXPECT_EQ(settings.ReadProjectSetting(), "First");
  Write("[SETTING]\nGPIO=0\nPROJ=Second\n");
  EXPECT_EQ(settings.ReadGpioSetting(), 0);
  EXPECT_EQ(settings.ReadProjectSetting(), "Second");
  std::filesystem::remove(directory.Path() / "setting.ini");
  EXPECT_EQ(settings.ReadProjectSetting(), "ASDF");
}

TEST(ModulePath, DirectoryIsCutAtTheLastSeparatorOrKeptWhole) {
  EXPECT_EQ(DirectoryOfModule("/opt/torvane/bin/torvane"), "/opt/torvane/bin");
  EXPECT_EQ(DirectoryOfModule("/torvane"), "");
  EXPECT_EQ(DirectoryOfModule("torvane"), "torvane");
  EXPECT_EQ(DirectoryOfModule(""), "");
}

TEST(ModulePath, AModuleNameWithoutSeparatorNamesNoReadableFile) {
  // Such a name is the executable file itself; "<file>/setting.ini" cannot
  // be opened, whatever the executable holds.
  ScratchDirectory directory;
  const auto module = directory.WriteFile("torvane", "[SETTING]\nGPIO=1\nPROJ=Module\n");
  const IniSettings settings(module.string());
  EXPECT_EQ(settings.SettingsFilePath(), module.string() + "/setting.ini");
  EXPECT_EQ(settings.ReadGpioSetting(), 0);
  EXPECT_EQ(settings.ReadProjectSetting(), "ASDF");
}

TEST(ModulePath, TheFileLiesNextToTheRunningExecutable) {
  const std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());

  char buffer[260];
  const std::size_t length = ModuleDirectory(buffer, sizeof buffer);
  if (ExecutablePath().size() < sizeof buffer) {
    EXPECT_EQ(length, directory.size());
    EXPECT_EQ(std::string(buffer), directory);
  }
  char tiny[1] = {'x'};
  EXPECT_EQ(ModuleDirectory(tiny, sizeof tiny), 0u);
  EXPECT_EQ(tiny[0], '\0');

  const IniSettings beside;
  EXPECT_EQ(beside.SettingsFilePath(), directory + "/setting.ini");
  if (!std::filesystem::exists(beside.SettingsFilePath())) {
    EXPECT_EQ(beside.ReadGpioSetting(), 0);
    EXPECT_EQ(beside.ReadProjectSetting(), "ASDF");
  }

  EXPECT_EQ(IniSettings("/some/dir").SettingsFilePath(), "/some/dir/setting.ini");
  EXPECT_EQ(IniSettings("").SettingsFilePath(), "");
  EXPECT_EQ(IniSettings("").ReadProjectSetting(), "ASDF");
}

}  // namespace
}  // namespace torvane
