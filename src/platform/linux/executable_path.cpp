#include "platform/executable_path.h"

#include <unistd.h>

#include <array>

namespace torvane {

std::string ExecutablePath() {
  std::array<char, 4096> buffer{};
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string ExecutableDirectory() {
  const std::string path = ExecutablePath();
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash);
}

}  // namespace torvane
