// Video capture devices on Linux: the V4L2 nodes that capture video,
// listed as device monikers. A bound node is a capture filter; the
// extension-unit binding through uvcvideo is not offered yet.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/device_enumeration.h"

namespace torvane::linux_devices {

struct VideoCaptureNode {
  std::string path;     // e.g. "/dev/video0"
  std::string card;     // the driver's name for the device
  std::string busInfo;  // where it sits, e.g. "usb-0000:00:14.0-1"
};

// The character devices named video<N> in directory that answer
// VIDIOC_QUERYCAP as video capture devices, in the order of N. Anything
// that cannot be opened or queried is left out.
std::vector<VideoCaptureNode> ListVideoCaptureNodes(const std::string& directory);

// The device environment over the nodes of directory ("/dev" for the
// system's own); the list is taken afresh by each class enumerator.
std::unique_ptr<DeviceEnvironment> CreateDeviceEnvironment(std::string directory);

}  // namespace torvane::linux_devices
