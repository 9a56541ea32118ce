#include "platform/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_directory.h"

namespace torvane {
namespace {

struct ProfileCase {
  const char* name;
  const char* content;  // nullptr: no file at all
  const char* section;
  const char* key;
  std::size_t room;
  std::string expected;
};
void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }

constexpr const char* kDefault = "dflt";

class ProfileRead : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileRead, DeliversTheValueOrTheDefault) {
  const ProfileCase& c = GetParam();
  fakes::ScratchDirectory directory;
  std::string path = (directory.Path() / "setting.ini").string();
  if (c.content) directory.WriteFile("setting.ini", c.content);
  EXPECT_EQ(ReadProfileString(c.section, c.key, kDefault, c.room, path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Platform, ProfileRead,
    ::testing::Values(
        // Missing pieces deliver the default.
        ProfileCase{"NoFile", nullptr, "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"EmptyFile", "", "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"NoSection", "[OTHER]\nGPIO=1\n", "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"NoKey", "[SETTING]\nPROJ=X\n", "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"KeyInALaterSection", "[SETTING]\nPROJ=X\n[OTHER]\nGPIO=1\n", "SETTING",
                    "GPIO", 10, "dflt"},
        ProfileCase{"KeyBeforeAnySection", "GPIO=1\n[SETTING]\n", "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"LineWithoutEquals", "[SETTING]\nGPIO\n", "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"CommentedOut", "[SETTING]\n;GPIO=1\n", "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"UnclosedHeaderIsNoSection", "[SETTING\nGPIO=1\n", "SETTING", "GPIO", 10,
                    "dflt"},
        // Names match in any letter case.
        ProfileCase{"LowerCaseNames", "[setting]\ngpio=1\n", "SETTING", "GPIO", 10, "1"},
        ProfileCase{"MixedCaseNames", "[SeTtInG]\nGpIo=7\n", "SETTING", "GPIO", 10, "7"},
        // Blanks go; quotes of a matching pair go.
        ProfileCase{"BlanksAroundEverything", "  [ SETTING ]  \n \t GPIO \t=\t  1 \t\n",
                    "SETTING", "GPIO", 10, "1"},
        ProfileCase{"DoubleQuotes", "[SETTING]\nPROJ=\"Hello World\"\n", "SETTING", "PROJ", 100,
                    "Hello World"},
        ProfileCase{"SingleQuotes", "[SETTING]\nPROJ='abc'\n", "SETTING", "PROJ", 100, "abc"},
        ProfileCase{"QuotesKeepInnerBlanks", "[SETTING]\nPROJ=\"  x  \"\n", "SETTING", "PROJ",
                    100, "  x  "},
        ProfileCase{"MismatchedQuotesStay", "[SETTING]\nPROJ=\"abc'\n", "SETTING", "PROJ", 100,
                    "\"abc'"},
        ProfileCase{"LoneQuoteStays", "[SETTING]\nPROJ=\"\n", "SETTING", "PROJ", 100, "\""},
        ProfileCase{"InnerQuotesStay", "[SETTING]\nPROJ=a\"b\"\n", "SETTING", "PROJ", 100,
                    "a\"b\""},
        ProfileCase{"EmptyQuotes", "[SETTING]\nPROJ=\"\"\n", "SETTING", "PROJ", 100, ""},
        ProfileCase{"EmptyValueIsNotTheDefault", "[SETTING]\nGPIO=\n", "SETTING", "GPIO", 10, ""},
        ProfileCase{"ValueMayHoldEquals", "[SETTING]\nPROJ=a=b\n", "SETTING", "PROJ", 100, "a=b"},
        ProfileCase{"FirstLineOfAKeyWins", "[SETTING]\nGPIO=1\nGPIO=2\n", "SETTING", "GPIO", 10,
                    "1"},
        ProfileCase{"OnlyTheFirstSectionOfANameCounts", "[SETTING]\n[SETTING]\nGPIO=1\n",
                    "SETTING", "GPIO", 10, "dflt"},
        ProfileCase{"CarriageReturnLineFeeds", "[SETTING]\r\nPROJ=xyz\r\nGPIO=1\r\n", "SETTING",
                    "PROJ", 100, "xyz"},
        ProfileCase{"ByteOrderMark", "\xEF\xBB\xBF[SETTING]\nGPIO=3", "SETTING", "GPIO", 10, "3"},
        // Values are cut to their room, after the quotes went.
        ProfileCase{"CutToRoom", "[SETTING]\nGPIO=1234567890123\n", "SETTING", "GPIO", 10,
                    "123456789"},
        ProfileCase{"CutAfterUnquoting", "[SETTING]\nGPIO=\"1234567890\"\n", "SETTING", "GPIO",
                    10, "123456789"},
        ProfileCase{"RoomForTheTerminatorOnly", "[SETTING]\nGPIO=1\n", "SETTING", "GPIO", 1, ""},
        ProfileCase{"NoRoom", "[SETTING]\nGPIO=1\n", "SETTING", "GPIO", 0, ""},
        ProfileCase{"DefaultCutToo", nullptr, "SETTING", "GPIO", 3, "df"}),
    [](const ::testing::TestParamInfo<ProfileCase>& param) { return param.param.name; });

TEST(ProfileRead, PathsThatNameNoFileGiveTheDefault) {
  fakes::ScratchDirectory directory;
  const std::string file = directory.WriteFile("module", "[SETTING]\nGPIO=1\n").string();
  EXPECT_EQ(ReadProfileString("SETTING", "GPIO", "0", 10, ""), "0");
  EXPECT_EQ(ReadProfileString("SETTING", "GPIO", "0", 10, directory.String()), "0");
  EXPECT_EQ(ReadProfileString("SETTING", "GPIO", "0", 10, file + "/setting.ini"), "0");
  EXPECT_EQ(ReadProfileString("SETTING", "GPIO", "0", 10, file), "1");
}

}  // namespace
}  // namespace torvane
