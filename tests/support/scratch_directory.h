// A fresh directory for one test, removed with everything in it when the
// object goes. It lies under $TORVANE_TEST_TMP when that is set (the test
// runner sets it to the build tree), else under the system's temporary
// directory; never next to the program under test.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvane::fakes {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string String() const { return path_.string(); }
  // Writes content (bytes as given) to name inside the directory, replacing
  // any earlier file; returns its path.
  std::filesystem::path WriteFile(std::string_view name, std::string_view content) const;

 private:
  std::filesystem::path path_;
};

}  // namespace torvane::fakes
