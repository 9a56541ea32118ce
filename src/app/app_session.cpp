#include "app/app_session.h"

#include "platform/system_devices.h"

namespace torvane {

std::unique_ptr<AppSession> AppSession::Create(const SessionOptions& options, std::string* error,
                                               bool* usageError) {
  *usageError = false;
  std::vector<SimulatedDeviceSpec> specs;
  for (const std::string& text : options.simulate) {
    SimulatedDeviceSpec spec;
    if (!ParseSimulateSpec(text, &spec, error)) {
      *usageError = true;
      return nullptr;
    }
    specs.push_back(spec);
  }

  std::unique_ptr<AppSession> session(new AppSession());
  if (!options.traceFile.empty()) {
    session->traceFile_.open(options.traceFile, std::ios::out | std::ios::trunc);
    if (!session->traceFile_) {
      *error = "cannot write trace file '" + options.traceFile + "'";
      return nullptr;
    }
    session->trace_ = std::make_unique<TraceWriter>(session->traceFile_);
    session->trace_->Comment(options.programName + " trace");
    if (!options.description.empty()) session->trace_->Comment(options.description);
    session->trace_->Comment(options.simulateGiven ? "devices: emulated" : "devices: system");
    session->trace_->Comment("OP SELECTOR LENGTH DATA STATUS");
  }

  if (options.simulateGiven) {
    session->simulation_ = std::make_unique<Simulation>(specs);
    if (!session->simulation_->loadErrors().empty()) {
      *error = session->simulation_->loadErrors().front();
      return nullptr;
    }
    session->environment_.devices = &session->simulation_->devices();
  } else {
    session->systemDevices_ = CreateSystemDeviceEnvironment();
    session->environment_.devices = session->systemDevices_.get();
  }
  session->settings_ = options.settingsDir.empty()
                           ? std::make_unique<IniSettings>()
                           : std::make_unique<IniSettings>(options.settingsDir);
  session->sleeper_ = std::make_unique<TracingSleeper>(
      options.sleeper ? *options.sleeper : session->realSleeper_, session->trace_.get());
  session->environment_.settings = session->settings_.get();
  session->environment_.sleeper = session->sleeper_.get();
  session->environment_.observer = session->trace_.get();
  return session;
}

bool AppSession::Finish(std::string* error) {
  if (finished_) return true;
  finished_ = true;
  if (traceFile_.is_open()) traceFile_.flush();
  return !simulation_ || simulation_->SaveImages(error);
}

AppSession::~AppSession() {
  std::string ignored;
  Finish(&ignored);
}

}  // namespace torvane
