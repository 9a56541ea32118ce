#pragma once

#include <string>

namespace torvane {

// The full path of the running executable, or empty when it cannot be found.
std::string ExecutablePath();

// The directory that holds the running executable, without a trailing
// separator, or empty when it cannot be found.
std::string ExecutableDirectory();

}  // namespace torvane
