// Waits of a given number of milliseconds, injectable so that tests do not
// wait and traces can record them.
#pragma once

#include <cstdint>

namespace torvane {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// Really waits.
class SystemSleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace torvane
