// The application: reads the options, builds the session's devices, runs
// the main dialog modally and ends when the dialog ends.
#pragma once

#include <ostream>
#include <string>

namespace torvane {

inline constexpr const char* kDialogVersionText = "torvane 1.0.0";

// Set to a PNG file name, the program presses "Update" once, saves a picture
// of its window there and ends (used to make the screenshot in docs/).
inline constexpr const char* kScreenshotVariable = "TORVANE_SCREENSHOT";

std::string DialogUsage();

class CTorvaneApp {
 public:
  // The process exit status: 0 when the dialog ran (whichever way it was
  // closed) or for --help and --version, 64 for a usage error, 1 when the
  // session could not be set up or its emulated flash not written back.
  int InitInstance(int argc, char** argv, std::ostream& out, std::ostream& err);
};

}  // namespace torvane
