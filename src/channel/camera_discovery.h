// Finding the camera among the video capture devices and binding the
// control channel to it.
#pragma once

#include <cstdint>
#include <memory>

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
};

// Walks the devices in the system's order and keeps the first whose chip
// belongs to a family the filter admits; its channel then holds mode and
// chipFamily. 0 found, 1 none (or enumeration failed), 160 bad filter.
// observer, when given, is attached to a newly created channel.
std::int32_t DiscoverCamera(DeviceEnvironment& devices, std::uint8_t familyFilter,
                            CameraBinding& binding, RequestObserver* observer);

// The chip ID read through the channel in its current mode; 0xFF when the
// read fails.
std::uint8_t ReadChipId(ControlChannel& channel);

}  // namespace torvane
