// An UpdateView that records every call in order, as one short text each,
// and keeps the state a dialog would show.
#pragma once

#include <string>
#include <vector>

#include "app/update_view.h"

namespace torvane::fakes {

// Call texts: "status:TEXT", "repaint", "range:MIN-MAX", "progress:N",
// "enable:0|1", "caption:TEXT", "close".
class RecordingView final : public UpdateView {
 public:
  void ShowStatus(const std::string& text) override;
  void RepaintNow() override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgress(int position) override;
  void EnableButton(bool enabled) override;
  void SetButtonCaption(const std::string& caption) override;
  void Close() override;

  std::vector<std::string> calls;
  std::string status;
  int progress = -1;  // -1: never set
  bool enabled = true;
  std::string caption = "Update";
  int closes = 0;
};

}  // namespace torvane::fakes
