// The operating system's video capture devices, as a DeviceEnvironment.
#pragma once

#include <memory>

#include "platform/device_enumeration.h"

namespace torvane {

std::unique_ptr<DeviceEnvironment> CreateSystemDeviceEnvironment();

}  // namespace torvane
