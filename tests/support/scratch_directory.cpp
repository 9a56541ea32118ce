#include "support/scratch_directory.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace torvane::fakes {

ScratchDirectory::ScratchDirectory() {
  std::filesystem::path base;
  if (const char* configured = std::getenv("TORVANE_TEST_TMP"); configured && *configured) {
    base = configured;
  } else {
    base = std::filesystem::temp_directory_path();
  }
  std::filesystem::create_directories(base);
  std::string pattern = (base / "torvane-XXXXXX").string();
  // mkdtemp makes the name unique, so tests may run side by side.
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDirectory::WriteFile(std::string_view name,
                                                  std::string_view content) const {
  const std::filesystem::path file = path_ / std::filesystem::path(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

}  // namespace torvane::fakes
