// Emulated cameras on demand: the --simulate SPEC strings and the device
// list they build.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/device_environment.h"
#include "emulator/emulated_camera.h"

namespace torvane {

struct SimulatedDeviceSpec {
  std::uint8_t chip = 0xA3;
  std::uint8_t part = 0x79;
  emulator::BindingKind binding = emulator::BindingKind::ExtensionUnit;
  std::optional<std::uint32_t> block;  // default: 4096, or 64 through the tunnel
  std::uint32_t readBlock = 4096;
  std::optional<std::uint8_t> byte0;
  std::optional<std::uint32_t> version;
  std::string image;
  std::uint32_t fail = 0;
  std::uint32_t unplug = 0;
  bool stuckBusy = false;
  bool stuckWip = false;
  bool bindFails = false;
};

// Parses "key=value,key=value"; an empty text gives the defaults. On error
// returns false with a message that names the key or value.
bool ParseSimulateSpec(const std::string& text, SimulatedDeviceSpec* spec, std::string* error);

// The text listing the keys and their defaults, for --help.
std::string SimulateSpecHelp();

// The emulated devices of one run. Flash images named with image= are loaded
// at construction (when the file exists) and written back by SaveImages.
class Simulation {
 public:
  explicit Simulation(const std::vector<SimulatedDeviceSpec>& specs);
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  emulator::EmulatedDeviceEnvironment& devices() { return *devices_; }
  // The camera of the i-th spec.
  emulator::EmulatedCamera& camera(std::size_t i) { return *cameras_[i]; }
  // Writes every image= file back, except one that could not be loaded: that
  // file is not ours to overwrite. False with a message when one cannot be
  // written.
  bool SaveImages(std::string* error) const;
  // A file named with image= that exists but cannot be loaded (wrong size).
  const std::vector<std::string>& loadErrors() const { return loadErrors_; }

 private:
  std::vector<SimulatedDeviceSpec> specs_;
  std::vector<std::shared_ptr<emulator::EmulatedCamera>> cameras_;
  std::unique_ptr<emulator::EmulatedDeviceEnvironment> devices_;
  std::vector<std::string> loadErrors_;
  std::vector<bool> unloadable_;  // per device: its image file exists but was refused
};

}  // namespace torvane
