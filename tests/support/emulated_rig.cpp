#include "support/emulated_rig.h"

#include <gtest/gtest.h>

#include <utility>

#include "channel/selectors.h"
#include "flash/flash_engine.h"

namespace torvane::fakes {

using emulator::BindingKind;
using emulator::EmulatedCamera;
using emulator::EmulatedDevice;
using emulator::LoggedOp;
using emulator::LoggedRequest;

void RequestLog::OnRequest(const RequestRecord& record) {
  requests.push_back({record.op, record.selector, record.length,
                      std::vector<std::uint8_t>(record.data.begin(), record.data.end()),
                      record.status});
}

EmulatedDevice CameraDevice(std::shared_ptr<EmulatedCamera> camera, BindingKind binding,
                            std::string name) {
  EmulatedDevice device;
  device.name = std::move(name);
  device.device = std::move(camera);
  device.binding = binding;
  return device;
}

bool UsesTunnel(BindingKind binding) {
  return binding == BindingKind::Tunnel || binding == BindingKind::Both;
}

EmulatedRig::EmulatedRig(std::vector<EmulatedDevice> devices)
    : environment_(std::make_unique<emulator::EmulatedDeviceEnvironment>(std::move(devices))) {}

EmulatedRig::EmulatedRig(const emulator::CameraConfig& config, BindingKind binding)
    : EmulatedRig([&] {
        EmulatedDevice device = CameraDevice(std::make_shared<EmulatedCamera>(config), binding);
        device.faults = std::make_shared<emulator::FaultPlan>();
        return std::vector<EmulatedDevice>{device};
      }()) {}

EmulatedCamera& EmulatedRig::camera(std::size_t device) const {
  const auto& list = environment_->devices();
  EXPECT_LT(device, list.size());
  auto* camera = dynamic_cast<EmulatedCamera*>(list.at(device).device.get());
  EXPECT_NE(camera, nullptr) << "device " << device << " carries no emulated camera";
  return *camera;
}

emulator::FaultPlan& EmulatedRig::faults(std::size_t device) const {
  const auto& plan = environment_->devices().at(device).faults;
  EXPECT_TRUE(plan) << "device " << device << " has no fault plan";
  return *plan;
}

UpdaterEnvironment EmulatedRig::Environment() {
  UpdaterEnvironment environment;
  environment.devices = environment_.get();
  environment.settings = &settings;
  environment.sleeper = &sleeper;
  environment.observer = &requests;
  return environment;
}

std::vector<RegisterWrite> RegisterWrites(const std::vector<LoggedRequest>& log) {
  std::vector<RegisterWrite> writes;
  std::uint16_t address = 0;
  for (const LoggedRequest& request : log) {
    if (request.op != LoggedOp::Set) continue;
    if (request.selector == SEL_REG_ADDRESS && request.data.size() == 2) {
      address = static_cast<std::uint16_t>(request.data[0] | request.data[1] << 8);
    } else if (request.selector == SEL_REG_VALUE && request.data.size() == 1) {
      writes.push_back({address, request.data[0]});
    }
  }
  return writes;
}

std::size_t IdentificationCommands(const std::vector<LoggedRequest>& log) {
  std::size_t count = 0;
  for (const RegisterWrite& write : RegisterWrites(log)) {
    if (write.address != REG_SPI_TX) continue;
    if (write.value == 0x90 || write.value == 0xAB || write.value == 0x9F) ++count;
  }
  return count;
}

std::size_t CountRequests(const std::vector<LoggedRequest>& log, LoggedOp op,
                          std::uint32_t selector) {
  std::size_t count = 0;
  for (const LoggedRequest& request : log) {
    if (request.op == op && request.selector == selector) ++count;
  }
  return count;
}

std::optional<std::vector<std::uint8_t>> LastSet(const std::vector<LoggedRequest>& log,
                                                 std::uint32_t selector) {
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->op == LoggedOp::Set && it->selector == selector) return it->data;
  }
  return std::nullopt;
}

std::optional<std::size_t> FirstRequest(const std::vector<ChannelRequest>& requests, RequestOp op,
                                        std::uint32_t selector, std::size_t from) {
  for (std::size_t i = from; i < requests.size(); ++i) {
    if (requests[i].op == op && requests[i].selector == selector) return i;
  }
  return std::nullopt;
}

}  // namespace torvane::fakes
