// Emulated cameras behind emulated capture devices, and CameraUpdaters that
// find them the way the updater finds a real camera: through the device
// walk, the bindings and the register bridge, with a sleeper that never
// waits. What the cameras saw is read back from their own logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/control_channel.h"
#include "emulator/device_environment.h"
#include "emulator/emulated_camera.h"
#include "programming/camera_updater.h"
#include "support/recording_sleeper.h"
#include "support/scripted_camera.h"

namespace torvane::fakes {

// A channel request as the channel made it, kept after the call.
struct ChannelRequest {
  RequestOp op;
  std::uint32_t selector;
  std::uint32_t length;
  std::vector<std::uint8_t> data;
  HRESULT status;
};

class RequestLog final : public RequestObserver {
 public:
  void OnRequest(const RequestRecord& record) override;
  std::vector<ChannelRequest> requests;
};

// A device that carries camera through binding.
emulator::EmulatedDevice CameraDevice(std::shared_ptr<emulator::EmulatedCamera> camera,
                                      emulator::BindingKind binding,
                                      std::string name = "camera");

// Whether the binding ends in the driver tunnel, whose SET frames carry at
// most 68 bytes.
bool UsesTunnel(emulator::BindingKind binding);

class EmulatedRig {
 public:
  explicit EmulatedRig(std::vector<emulator::EmulatedDevice> devices);
  // One camera of this configuration on one device, with a fault plan (that
  // fails nothing until told to) so that a test can fail or unplug it.
  EmulatedRig(const emulator::CameraConfig& config, emulator::BindingKind binding);

  emulator::EmulatedDeviceEnvironment& devices() { return *environment_; }
  const emulator::RefLedger& ledger() const { return environment_->ledger(); }
  // The camera on that device; the device must carry one.
  emulator::EmulatedCamera& camera(std::size_t device = 0) const;
  // The device's fault plan; the device must have one.
  emulator::FaultPlan& faults(std::size_t device = 0) const;

  UpdaterEnvironment Environment();
  std::unique_ptr<CameraUpdater> NewUpdater() {
    return std::make_unique<CameraUpdater>(Environment());
  }

  // Read afresh by every operation that uses them; tests may replace them.
  ScriptedSettings settings;
  RecordingSleeper sleeper;
  RequestLog requests;

 private:
  std::unique_ptr<emulator::EmulatedDeviceEnvironment> environment_;
};

// --- Reading a camera's log ---

struct RegisterWrite {
  std::uint16_t address;
  std::uint8_t value;
};

// Each SEL_REG_VALUE set, with the address of the SEL_REG_ADDRESS set before
// it.
std::vector<RegisterWrite> RegisterWrites(const std::vector<emulator::LoggedRequest>& log);

// Identification commands (0x90, 0xAB, 0x9F) clocked out through REG_SPI_TX.
std::size_t IdentificationCommands(const std::vector<emulator::LoggedRequest>& log);

std::size_t CountRequests(const std::vector<emulator::LoggedRequest>& log, emulator::LoggedOp op,
                          std::uint32_t selector);

// The bytes of the last set of the selector, if there was one.
std::optional<std::vector<std::uint8_t>> LastSet(const std::vector<emulator::LoggedRequest>& log,
                                                 std::uint32_t selector);

// The position (from 0) in requests of the first one matching op and
// selector, if any.
std::optional<std::size_t> FirstRequest(const std::vector<ChannelRequest>& requests, RequestOp op,
                                        std::uint32_t selector, std::size_t from = 0);

}  // namespace torvane::fakes
