// The window operations the update procedure performs, offered by every
// front end (dialog, command line, tests).
#pragma once

#include <string>

namespace torvane {

class UpdateView {
 public:
  virtual ~UpdateView() = default;
  // The status box displays text (which may end in "\r\n").
  virtual void ShowStatus(const std::string& text) = 0;
  // The window is painted before the procedure goes on to a blocking step.
  virtual void RepaintNow() = 0;
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void EnableButton(bool enabled) = 0;
  virtual void SetButtonCaption(const std::string& caption) = 0;
  // Ends the dialog as its cancel operation does.
  virtual void Close() = 0;
};

}  // namespace torvane
