// Emulated video capture devices: an ordered list of devices, each of which
// binds (or fails to bind) to a capture filter that offers the
// extension-unit property binding with its topology, the driver tunnel, both
// or neither, carried to an ExtensionUnitDevice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/extension_unit_device.h"
#include "platform/device_enumeration.h"

namespace torvane::emulator {

// Counts the references held to emulated objects, so that tests can see
// that everything obtained was released.
class RefLedger {
 public:
  void Add() { ++live_; }
  void Remove() { --live_; }
  std::int64_t live() const { return live_; }

 private:
  std::int64_t live_ = 0;
};

// Fails requests on the way to a device, whatever the binding: the Nth
// request (counted from 1, one per control-channel request), or every
// request from the Nth on (an unplugged camera). 0 disables a rule.
struct FaultPlan {
  std::uint32_t failAt = 0;
  std::uint32_t unplugFrom = 0;
  std::uint32_t requestsSeen = 0;
  // Whether the next request fails; counts it.
  bool NextFails();
};

enum class BindingKind {
  ExtensionUnit,      // topology + property control, property set A
  ExtensionUnitSetB,  // the same, answering on property set B
  Tunnel,             // the driver tunnel only
  Both,               // topology + property control and the tunnel
  None,               // a capture filter with neither
};

struct EmulatedDevice {
  std::string name;
  // Null for a device that is not one of our cameras: its filter offers the
  // chosen binding but no extension unit answers the camera's requests.
  std::shared_ptr<ExtensionUnitDevice> device;
  BindingKind binding = BindingKind::ExtensionUnit;
  bool bindFails = false;
  // Shared by every binding of the device; may be null.
  std::shared_ptr<FaultPlan> faults;
};

class EmulatedDeviceEnvironment final : public DeviceEnvironment {
 public:
  explicit EmulatedDeviceEnvironment(std::vector<EmulatedDevice> devices);
  ~EmulatedDeviceEnvironment() override;

  HRESULT CoInitialize() override;
  HRESULT CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) override;

  const RefLedger& ledger() const { return *ledger_; }
  const std::vector<EmulatedDevice>& devices() const { return devices_; }

 private:
  std::vector<EmulatedDevice> devices_;
  std::shared_ptr<RefLedger> ledger_;
};

}  // namespace torvane::emulator
