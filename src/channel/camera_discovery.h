// Finding the camera among the video capture devices and binding the
// control channel to it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/control_channel.h"
#include "platform/device_enumeration.h"

namespace torvane {

// Which families a search admits.
enum FamilyFilter : std::uint8_t {
  AnyFamily = 101,
  Only6x = 102,
  Only9x = 103,
  Only8x = 104,
  OnlyAx = 105,
};

// What a search leaves for its caller. channel is created when missing and
// reused otherwise; after a failed search it is destroyed and both
// references are empty.
struct CameraBinding {
  std::unique_ptr<ControlChannel> channel;
  Ref<IBaseFilter> filter;
  Ref<IVendorTunnel> tunnel;
  // The channel's property control. Kept as a reference of its own rather
  // than trusting the filter to keep a borrowed interface alive.
  Ref<IKsControl> control;
};

// Walks the devices in the system's order and keeps the first whose chip
// belongs to a family the filter admits; its channel then holds mode and
// chipFamily. 0 found, 1 none (or enumeration failed), 160 bad filter.
// observer, when given, is attached to a newly created channel.
std::int32_t DiscoverCamera(DeviceEnvironment& devices, std::uint8_t familyFilter,
                            CameraBinding& binding, RequestObserver* observer);

// What one video capture device offers, for listings.
struct DeviceSummary {
  std::string name;
  bool bindFailed = false;
  bool extensionUnit = false;
  bool propertySetB = false;
  bool tunnel = false;
  std::uint8_t chipId = 0xFF;  // read through the binding that wins
  std::optional<ChipFamily> family;
};

// Every video capture device in the system's order, probed as the search
// probes them (a device that fails to bind is listed and skipped).
std::vector<DeviceSummary> ListDevices(DeviceEnvironment& devices, RequestObserver* observer);

// The chip ID read through the channel in its current mode; 0xFF when the
// read fails.
std::uint8_t ReadChipId(ControlChannel& channel);

}  // namespace torvane
