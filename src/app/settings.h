// The optional settings file "setting.ini": section "SETTING", keys "GPIO"
// and "PROJ". It is never written and never cached: every read locates and
// opens the file anew, so an edit takes effect at the next use.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "flash/settings_source.h"

namespace torvane {

inline constexpr const char* kSettingsFileName = "setting.ini";
inline constexpr const char* kSettingsSection = "SETTING";
inline constexpr const char* kGpioKey = "GPIO";
inline constexpr const char* kGpioDefault = "0";
inline constexpr std::size_t kGpioRoom = 10;  // 9 characters and a terminator
inline constexpr const char* kProjectKey = "PROJ";
inline constexpr const char* kProjectDefault = "ASDF";
inline constexpr std::size_t kProjectRoom = 100;  // 99 characters and a terminator

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// A module file name cut before its last separator; a name without any
// separator is kept whole (it then names no directory that holds the file).
std::string DirectoryOfModule(std::string_view moduleFileName);

// Fills buffer (size bytes) with the running executable's file name cut at
// its last separator and returns the directory's length; 0 when the name
// holds no separator (the buffer then holds the whole name, cut to size - 1).
std::size_t ModuleDirectory(char* buffer, std::size_t size);

// An integer read the way the C library's atoi reads one: leading blanks, an
// optional sign, then decimal digits up to the first other character; no
// digits give 0. Saturates instead of overflowing.
int ParseSettingInteger(std::string_view text);

class IniSettings final : public SettingsSource {
 public:
  // The file next to the running executable.
  IniSettings() = default;
  // The file in directory instead (the command line's --settings, tests);
  // an empty directory names no file.
  explicit IniSettings(std::string directory) : directory_(std::move(directory)) {}

  // The file's path, computed anew at each call; empty when the executable's
  // own name cannot be found, which then names no file.
  std::string SettingsFilePath() const;

  int ReadGpioSetting() const override;
  std::string ReadProjectSetting() const override;

 private:
  std::optional<std::string> directory_;
};

}  // namespace torvane
