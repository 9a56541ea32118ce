// A Sleeper that only records the waits asked of it, in order.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sleep.h"

namespace torvane {

class RecordingSleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override { waits.push_back(milliseconds); }
  std::vector<std::uint32_t> waits;
};

}  // namespace torvane
