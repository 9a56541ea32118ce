#include "app/simulation.h"

#include <charconv>
#include <filesystem>
#include <sstream>

namespace torvane {

namespace {

using emulator::BindingKind;

// Decimal, or hexadecimal with 0x.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* value) {
  if (text.empty()) return false;
  int base = 10;
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t parsed = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, base);
  if (ec != std::errc() || end != digits.data() + digits.size() || parsed > max) return false;
  *value = parsed;
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

bool IsTunnelBound(BindingKind binding) {
  return binding == BindingKind::Tunnel || binding == BindingKind::Both;
}

}  // namespace

bool ParseSimulateSpec(const std::string& text, SimulatedDeviceSpec* spec, std::string* error) {
  *spec = SimulatedDeviceSpec{};
  if (text.empty()) return true;
  for (const std::string& item : Split(text, ',')) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) {
      *error = "--simulate: '" + item + "' is not key=value";
      return false;
    }
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    const auto bad = [&] {
      *error = "--simulate: bad value '" + value + "' for key '" + key + "'";
      return false;
    };
    std::uint64_t number = 0;
    if (key == "chip") {
      if (!ParseNumber(value, 0xFF, &number)) return bad();
      spec->chip = static_cast<std::uint8_t>(number);
    } else if (key == "part") {
      if (!ParseNumber(value, 0xFF, &number) || number < 0x78 || number > 0x81) return bad();
      spec->part = static_cast<std::uint8_t>(number);
    } else if (key == "binding") {
      if (value == "xu") spec->binding = BindingKind::ExtensionUnit;
      else if (value == "xu-b") spec->binding = BindingKind::ExtensionUnitSetB;
      else if (value == "tunnel") spec->binding = BindingKind::Tunnel;
      else if (value == "both") spec->binding = BindingKind::Both;
      else if (value == "none") spec->binding = BindingKind::None;
      else return bad();
    } else if (key == "block") {
      if (!ParseNumber(value, 0x10000, &number)) return bad();
      spec->block = static_cast<std::uint32_t>(number);
    } else if (key == "readblock") {
      if (!ParseNumber(value, 0x10000, &number)) return bad();
      spec->readBlock = static_cast<std::uint32_t>(number);
    } else if (key == "byte0") {
      if (!ParseNumber(value, 0xFF, &number)) return bad();
      spec->byte0 = static_cast<std::uint8_t>(number);
    } else if (key == "version") {
      if (!ParseNumber(value, 0xFFFFFF, &number)) return bad();
      spec->version = static_cast<std::uint32_t>(number);
    } else if (key == "image") {
      if (value.empty()) return bad();
      spec->image = value;
    } else if (key == "fail") {
      if (!ParseNumber(value, 0xFFFFFFFF, &number) || number == 0) return bad();
      spec->fail = static_cast<std::uint32_t>(number);
    } else if (key == "unplug") {
      if (!ParseNumber(value, 0xFFFFFFFF, &number) || number == 0) return bad();
      spec->unplug = static_cast<std::uint32_t>(number);
    } else if (key == "stuck") {
      if (value == "busy") spec->stuckBusy = true;
      else if (value == "wip") spec->stuckWip = true;
      else return bad();
    } else if (key == "bind") {
      if (value != "fail") return bad();
      spec->bindFails = true;
    } else {
      *error = "--simulate: unknown key '" + key + "'";
      return false;
    }
  }
  return true;
}

std::string SimulateSpecHelp() {
  return "SPEC is comma-separated key=value (numbers in decimal or 0x hex):\n"
         "  chip=ID         chip ID (default 0xa3)\n"
         "  part=CODE       flash part 0x79..0x81, or 0x78 for an unrecognised one (default 0x79)\n"
         "  binding=KIND    xu, xu-b (property set B), tunnel, both, none (default xu)\n"
         "  block=N         download block size (default 4096, 64 through the tunnel)\n"
         "  readblock=N     flash data block length (default 4096)\n"
         "  byte0=B         flash byte 0 (default: one that takes the update where the family can)\n"
         "  version=V       version as the family's probe reads it (default: one that qualifies)\n"
         "  image=FILE      the 65,536-byte flash: loaded when it exists, written back at the end\n"
         "  fail=N          the Nth control request fails (counted from 1, as traced)\n"
         "  unplug=N        every request from the Nth on fails\n"
         "  stuck=busy|wip  the SPI bridge or the flash never becomes ready\n"
         "  bind=fail       the device fails to bind\n";
}

Simulation::Simulation(const std::vector<SimulatedDeviceSpec>& specs) : specs_(specs) {
  std::vector<emulator::EmulatedDevice> devices;
  for (std::size_t i = 0; i < specs_.size(); ++i) {
    const SimulatedDeviceSpec& spec = specs_[i];
    emulator::CameraConfig config;
    config.chipId = spec.chip;
    config.flashPart = spec.part;
    config.downloadBlockSize = spec.block.value_or(IsTunnelBound(spec.binding) ? 64 : 4096);
    config.flashDataBlockLength = spec.readBlock;
    config.stuckBusy = spec.stuckBusy;
    config.stuckWip = spec.stuckWip;
    auto camera = std::make_shared<emulator::EmulatedCamera>(config);
    if (spec.byte0 || spec.version) {
      camera->LoadFlash(emulator::FactoryFlash(
          spec.chip, spec.byte0.value_or(emulator::DefaultByte0(spec.chip)),
          spec.version.value_or(emulator::DefaultVersion(spec.chip))));
    }
    std::error_code ec;
    bool unloadable = false;
    if (!spec.image.empty() && std::filesystem::exists(spec.image, ec)) {
      if (!camera->LoadFlashFile(spec.image)) {
        unloadable = true;
        loadErrors_.push_back("cannot load flash image '" + spec.image +
                              "' (it must hold exactly 65536 bytes)");
      }
    }
    emulator::EmulatedDevice device;
    device.name = "Emulated camera " + std::to_string(i + 1);
    device.device = camera;
    device.binding = spec.binding;
    device.bindFails = spec.bindFails;
    if (spec.fail || spec.unplug) {
      device.faults = std::make_shared<emulator::FaultPlan>();
      device.faults->failAt = spec.fail;
      device.faults->unplugFrom = spec.unplug;
    }
    devices.push_back(std::move(device));
    cameras_.push_back(std::move(camera));
    unloadable_.push_back(unloadable);
  }
  devices_ = std::make_unique<emulator::EmulatedDeviceEnvironment>(std::move(devices));
}

bool Simulation::SaveImages(std::string* error) const {
  for (std::size_t i = 0; i < specs_.size(); ++i) {
    if (specs_[i].image.empty() || unloadable_[i]) continue;
    if (!cameras_[i]->SaveFlashFile(specs_[i].image)) {
      if (error) *error = "cannot write flash image '" + specs_[i].image + "'";
      return false;
    }
  }
  return true;
}

}  // namespace torvane
