#include "channel/camera_discovery.h"

#include "channel/chip_family.h"
#include "channel/register_access.h"

namespace torvane {

namespace {

bool FilterAdmits(std::uint8_t familyFilter, std::uint8_t chipId) {
  switch (familyFilter) {
    case AnyFamily: return true;
    case Only6x: return (chipId & 0xF0) == 0x60;
    case Only9x: return (chipId & 0xF0) == 0x90;
    case Only8x: return (chipId & 0xF0) == 0x80;
    case OnlyAx: return (chipId & 0xF0) == 0xA0;
    default: return false;
  }
}

// Ends a failed search: no channel, no references.
std::int32_t NoCamera(CameraBinding& binding) {
  binding.channel.reset();
  binding.filter.Reset();
  binding.tunnel.Reset();
  binding.control.Reset();
  return 1;
}

// Drops a device that was passed over; the channel must not keep pointers
// into it.
void PassOver(CameraBinding& binding) {
  binding.tunnel.Reset();
  binding.control.Reset();
  binding.filter.Reset();
  binding.channel->ksControl = nullptr;
  binding.channel->vendorTunnel = nullptr;
}

struct ProbeResult {
  bool extensionUnit = false;
  bool tunnel = false;
  // The node search found a unit that answers on the set it settled on.
  bool unitFound = false;
  std::uint8_t chipId = 0xFF;
};

// Binds the channel to the device whose filter binding holds: first through
// the extension unit's property control, then, when offered, through the
// driver tunnel, which wins. The chip ID is read through each binding made.
ProbeResult ProbeDevice(CameraBinding& binding) {
  ControlChannel& channel = *binding.channel;
  ProbeResult result;
  binding.filter.As(&binding.control);
  {
    Ref<IKsTopologyInfo> topology;
    if (Succeeded(binding.filter.As(&topology)) && topology) {
      channel.mode = ChannelMode::ExtensionUnit;
      result.unitFound = channel.FindExtensionUnitNode(topology.Get(), binding.control.Get()) == 0;
      result.extensionUnit = true;
    }
  }
  if (result.extensionUnit) result.chipId = ReadChipId(channel);

  if (Succeeded(binding.filter.As(&binding.tunnel)) && binding.tunnel) {
    channel.mode = ChannelMode::Tunnel;
    channel.AttachTunnel(binding.tunnel.Get());
    result.chipId = ReadChipId(channel);
    result.tunnel = true;
  } else {
    binding.tunnel.Reset();
  }
  return result;
}

// The class enumerator over the video capture devices, or null.
Ref<IEnumMoniker> VideoInputDevices(DeviceEnvironment& devices) {
  Ref<IEnumMoniker> monikers;
  Ref<ICreateDevEnum> systemEnum;
  if (Failed(devices.CreateSystemDeviceEnum(&systemEnum)) || !systemEnum) return {};
  if (systemEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
    return {};
  return monikers;
}

}  // namespace

std::uint8_t ReadChipId(ControlChannel& channel) {
  std::uint8_t chipId = 0xFF;
  if (Failed(ReadRegister(channel, REG_CHIP_ID, &chipId))) return 0xFF;
  return chipId;
}

std::int32_t DiscoverCamera(DeviceEnvironment& devices, std::uint8_t familyFilter,
                            CameraBinding& binding, RequestObserver* observer) {
  if (familyFilter < AnyFamily || familyFilter > OnlyAx) return 160;
  binding.tunnel.Reset();
  devices.CoInitialize();

  Ref<IEnumMoniker> monikers = VideoInputDevices(devices);
  if (!monikers) return 1;
  monikers->Reset();

  if (!binding.channel) {
    binding.channel = std::make_unique<ControlChannel>();
    binding.channel->SetObserver(observer);
  }

  for (;;) {
    Ref<IMoniker> moniker;
    if (monikers->Next(&moniker) != S_OK || !moniker) return NoCamera(binding);
    if (Failed(moniker->BindToObject(IID_IBaseFilter, binding.filter.PutVoid())) ||
        !binding.filter) {
      // A device that cannot be bound ends the search.
      return NoCamera(binding);
    }
    const ProbeResult probe = ProbeDevice(binding);
    const auto family = FamilyForChipId(probe.chipId);
    if ((probe.extensionUnit || probe.tunnel) && family &&
        FilterAdmits(familyFilter, probe.chipId)) {
      binding.channel->chipFamily = *family;
      return 0;
    }
    PassOver(binding);
  }
}

std::vector<DeviceSummary> ListDevices(DeviceEnvironment& devices, RequestObserver* observer) {
  std::vector<DeviceSummary> list;
  devices.CoInitialize();
  Ref<IEnumMoniker> monikers = VideoInputDevices(devices);
  if (!monikers) return list;
  monikers->Reset();
  for (;;) {
    Ref<IMoniker> moniker;
    if (monikers->Next(&moniker) != S_OK || !moniker) return list;
    DeviceSummary summary;
    summary.name = moniker->FriendlyName();
    CameraBinding binding;
    binding.channel = std::make_unique<ControlChannel>();
    binding.channel->SetObserver(observer);
    if (Failed(moniker->BindToObject(IID_IBaseFilter, binding.filter.PutVoid())) ||
        !binding.filter) {
      summary.bindFailed = true;
      list.push_back(summary);
      continue;
    }
    const ProbeResult probe = ProbeDevice(binding);
    summary.extensionUnit = probe.extensionUnit;
    summary.tunnel = probe.tunnel;
    if (probe.extensionUnit || probe.tunnel) {
      summary.chipId = probe.chipId;
      summary.family = FamilyForChipId(probe.chipId);
      // A search that found no unit leaves the header on set B without any
      // unit answering there.
      summary.propertySetB = probe.unitFound &&
                             binding.channel->nodeProperty.Property.Set == XU_PROPERTY_SET_B;
    }
    list.push_back(summary);
    PassOver(binding);
  }
}

}  // namespace torvane
