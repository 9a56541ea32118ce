// The request trace a user attaches to a bug report: one line per
// control-channel request, "OP SELECTOR LENGTH DATA STATUS", one line
// "SLEEP MS" per wait, and comment lines starting with '#'.
#pragma once

#include <ostream>
#include <string>

#include "channel/control_channel.h"
#include "platform/sleep.h"

namespace torvane {

class TraceWriter final : public RequestObserver {
 public:
  explicit TraceWriter(std::ostream& out) : out_(out) {}
  void OnRequest(const RequestRecord& record) override;
  void Comment(const std::string& text);
  void Sleep(std::uint32_t milliseconds);

 private:
  std::ostream& out_;
};

// Formats one request line (without the line end).
std::string FormatTraceLine(const RequestRecord& record);

// Waits through another sleeper and traces each wait.
class TracingSleeper final : public Sleeper {
 public:
  TracingSleeper(Sleeper& inner, TraceWriter* trace) : inner_(inner), trace_(trace) {}
  void Sleep(std::uint32_t milliseconds) override;

 private:
  Sleeper& inner_;
  TraceWriter* trace_;
};

}  // namespace torvane
