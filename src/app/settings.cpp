#include "app/settings.h"

#include <algorithm>
#include <climits>

#include "platform/executable_path.h"
#include "platform/profile.h"

namespace torvane {

std::string DirectoryOfModule(std::string_view moduleFileName) {
  const auto separator = moduleFileName.find_last_of(kPathSeparator);
  if (separator == std::string_view::npos) return std::string(moduleFileName);
  return std::string(moduleFileName.substr(0, separator));
}

std::size_t ModuleDirectory(char* buffer, std::size_t size) {
  if (!buffer || size == 0) return 0;
  const std::string name = ExecutablePath();
  const std::size_t kept = std::min(name.size(), size - 1);
  std::copy_n(name.data(), kept, buffer);
  buffer[kept] = '\0';
  const std::string_view held(buffer, kept);
  const auto separator = held.find_last_of(kPathSeparator);
  if (separator == std::string_view::npos) return 0;
  buffer[separator] = '\0';
  return separator;
}

int ParseSettingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string IniSettings::SettingsFilePath() const {
  // The executable's whole path is used, never a cut-off copy: a path cut
  // inside a directory name would point at another directory's file.
  std::string directory;
  if (directory_) {
    if (directory_->empty()) return {};
    directory = *directory_;
  } else {
    const std::string module = ExecutablePath();
    if (module.empty()) return {};
    directory = DirectoryOfModule(module);
  }
  return directory + kPathSeparator + kSettingsFileName;
}

int IniSettings::ReadGpioSetting() const {
  return ParseSettingInteger(
      ReadProfileString(kSettingsSection, kGpioKey, kGpioDefault, kGpioRoom, SettingsFilePath()));
}

std::string IniSettings::ReadProjectSetting() const {
  return ReadProfileString(kSettingsSection, kProjectKey, kProjectDefault, kProjectRoom,
                           SettingsFilePath());
}

}  // namespace torvane
