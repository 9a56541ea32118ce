#pragma once

#include <cstdint>

namespace torvane {

inline constexpr std::uint8_t PROGRESS_START = 20;
inline constexpr std::uint8_t PROGRESS_DATA = 21;
inline constexpr std::uint8_t PROGRESS_CHECK = 22;
inline constexpr std::uint8_t PROGRESS_END = 23;

struct ProgressReport {
  std::uint8_t stage = 0;
  std::uint8_t percent = 0;
};

// Writes the stage, then the percent, when a report was supplied.
inline void Report(ProgressReport* progress, std::uint8_t stage, std::uint8_t percent) {
  if (!progress) return;
  progress->stage = stage;
  progress->percent = percent;
}

}  // namespace torvane
