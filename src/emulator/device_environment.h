// Emulated video capture devices: an ordered list of devices, each of which
// binds (or fails to bind) to a capture filter that offers the
// extension-unit property binding with its topology, the driver tunnel, both
// or neither, carried to an ExtensionUnitDevice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/bindings.h"
#include "emulator/com_object.h"
#include "emulator/extension_unit_device.h"
#include "emulator/fault_injection.h"
#include "platform/device_enumeration.h"

namespace torvane::emulator {

// RefLedger and ComObject: emulator/com_object.h. FaultPlan and the faulting
// wrappers: emulator/fault_injection.h. BindingKind and the capture filter:
// emulator/bindings.h.

struct EmulatedDevice {
  std::string name;
  // Null for a device that is not one of our cameras: its filter offers the
  // chosen binding but no extension unit answers the camera's requests.
  std::shared_ptr<ExtensionUnitDevice> device;
  BindingKind binding = BindingKind::ExtensionUnit;
  bool bindFails = false;
  // Shared by every binding of the device; may be null. When set, the
  // device's moniker and filter come wrapped (emulator/fault_injection.h).
  std::shared_ptr<FaultPlan> faults;
  // Topology of the capture filter: node count and the index of the
  // extension unit's node.
  std::uint32_t nodeCount = 5;
  std::uint32_t extensionUnitNode = 3;
};

// The devices as the system would list them. Everything handed out holds
// the device list and the ledger, so it stays usable after the environment
// is gone.
class EmulatedDeviceEnvironment final : public DeviceEnvironment {
 public:
  explicit EmulatedDeviceEnvironment(std::vector<EmulatedDevice> devices);
  ~EmulatedDeviceEnvironment() override;

  // Nothing to initialise; S_OK.
  HRESULT CoInitialize() override;
  HRESULT CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) override;

  // References held to every object this environment handed out.
  const RefLedger& ledger() const { return *ledger_; }
  // The same ledger, for checks after the environment is gone.
  std::shared_ptr<const RefLedger> sharedLedger() const { return ledger_; }
  const std::vector<EmulatedDevice>& devices() const { return *devices_; }

 private:
  std::shared_ptr<const std::vector<EmulatedDevice>> devices_;
  std::shared_ptr<RefLedger> ledger_;
};

}  // namespace torvane::emulator
