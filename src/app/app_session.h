// What one run of a front end works with, built from its options: the
// devices (the system's or emulated ones), the settings, the waits and the
// optional request trace. Shared by the command line and the dialog.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/simulation.h"
#include "app/trace_writer.h"
#include "programming/camera_updater.h"

namespace torvane {

struct SessionOptions {
  std::vector<std::string> simulate;  // one SPEC per emulated device
  bool simulateGiven = false;
  std::string traceFile;
  std::string settingsDir;
  std::string programName = "torvane";
  std::string description;            // for the trace header
  // Where waits go; null waits for real. Tests pass one that does not wait.
  Sleeper* sleeper = nullptr;
};

class AppSession {
 public:
  // Null with a message on error; usageError tells a bad --simulate SPEC
  // from a failure to open files.
  static std::unique_ptr<AppSession> Create(const SessionOptions& options, std::string* error,
                                            bool* usageError);
  ~AppSession();
  AppSession(const AppSession&) = delete;
  AppSession& operator=(const AppSession&) = delete;

  const UpdaterEnvironment& environment() const { return environment_; }
  DeviceEnvironment& devices() { return *environment_.devices; }
  TraceWriter* trace() { return trace_.get(); }
  Simulation* simulation() { return simulation_.get(); }
  // Writes emulated flash images back; false with a message on failure.
  bool Finish(std::string* error);

 private:
  AppSession() = default;

  std::ofstream traceFile_;
  std::unique_ptr<TraceWriter> trace_;
  std::unique_ptr<Simulation> simulation_;
  std::unique_ptr<DeviceEnvironment> systemDevices_;
  std::unique_ptr<IniSettings> settings_;
  SystemSleeper realSleeper_;
  std::unique_ptr<TracingSleeper> sleeper_;
  UpdaterEnvironment environment_;
  bool finished_ = false;
};

}  // namespace torvane
