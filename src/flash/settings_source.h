// The two settings that adjust camera work, as the layers below the front
// end see them. The front end supplies the implementation that reads them.
#pragma once

#include <string>

namespace torvane {

class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  // The GPIO key as an integer (atoi rules); 1 means on.
  virtual int ReadGpioSetting() const = 0;
  // The PROJ key's text, at most 99 characters.
  virtual std::string ReadProjectSetting() const = 0;
};

// Defaults only, for callers without a settings file.
class DefaultSettings final : public SettingsSource {
 public:
  int ReadGpioSetting() const override { return 0; }
  std::string ReadProjectSetting() const override { return "ASDF"; }
};

}  // namespace torvane
