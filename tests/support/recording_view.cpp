#include "support/recording_view.h"

namespace torvane::fakes {

void RecordingView::ShowStatus(const std::string& text) {
  calls.push_back("status:" + text);
  status = text;
}

void RecordingView::RepaintNow() { calls.push_back("repaint"); }

void RecordingView::SetProgressRange(int minimum, int maximum) {
  calls.push_back("range:" + std::to_string(minimum) + "-" + std::to_string(maximum));
}

void RecordingView::SetProgress(int position) {
  calls.push_back("progress:" + std::to_string(position));
  progress = position;
}

void RecordingView::EnableButton(bool on) {
  calls.push_back(on ? "enable:1" : "enable:0");
  enabled = on;
}

void RecordingView::SetButtonCaption(const std::string& text) {
  calls.push_back("caption:" + text);
  caption = text;
}

void RecordingView::Close() {
  calls.push_back("close");
  ++closes;
}

}  // namespace torvane::fakes
