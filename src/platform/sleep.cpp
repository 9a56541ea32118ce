#include "platform/sleep.h"

#include <chrono>
#include <thread>

namespace torvane {

void SystemSleeper::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace torvane
