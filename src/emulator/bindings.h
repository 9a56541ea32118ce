// The emulated capture filter: what a video capture device binds to. It
// carries the extension unit's requests to an ExtensionUnitDevice through
// the kernel-streaming property binding (IKsControl with its topology,
// IKsTopologyInfo), through the camera driver's tunnel (IVendorTunnel), both
// or neither, and checks every request as strictly as a driver would.
#pragma once

#include <cstdint>
#include <memory>

#include "emulator/com_object.h"
#include "emulator/extension_unit_device.h"
#include "platform/kernel_streaming.h"

namespace torvane::emulator {

enum class BindingKind {
  ExtensionUnit,      // topology + property control, property set A
  ExtensionUnitSetB,  // the same, answering on property set B
  Tunnel,             // the driver tunnel only
  Both,               // topology + property control and the tunnel
  None,               // a capture filter with neither
};

struct CaptureFilterConfig {
  // Null for a device that is not one of our cameras: every extension-unit
  // request is answered STATUS_SET_NOT_FOUND.
  std::shared_ptr<ExtensionUnitDevice> unit;
  BindingKind binding = BindingKind::ExtensionUnit;
  // Nodes of the filter's topology; the extension unit
  // (KSNODETYPE_DEV_SPECIFIC) sits at extensionUnitNode, the others are
  // ordinary video nodes. An index at or beyond nodeCount leaves the
  // topology without an extension unit.
  std::uint32_t nodeCount = 5;
  std::uint32_t extensionUnitNode = 3;
};

// The property set the extension unit of a filter of that kind answers to.
const Guid& UnitPropertySet(BindingKind binding);

// A new capture filter, counted in ledger (which may be null).
Ref<IBaseFilter> CreateCaptureFilter(CaptureFilterConfig config,
                                     std::shared_ptr<RefLedger> ledger);

}  // namespace torvane::emulator
