#include "emulator/device_environment.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/camera_discovery.h"
#include "channel/control_channel.h"
#include "channel/selectors.h"
#include "emulator/scripted_unit.h"

namespace torvane::emulator {
namespace {

using scripted::ScriptedUnit;

EmulatedDevice Device(std::string name, BindingKind binding = BindingKind::ExtensionUnit,
                      bool bindFails = false) {
  EmulatedDevice device;
  device.name = std::move(name);
  device.device = std::make_shared<ScriptedUnit>();
  device.binding = binding;
  device.bindFails = bindFails;
  return device;
}

Ref<IEnumMoniker> VideoDevices(DeviceEnvironment& environment) {
  Ref<ICreateDevEnum> devEnum;
  EXPECT_EQ(environment.CreateSystemDeviceEnum(&devEnum), S_OK);
  Ref<IEnumMoniker> monikers;
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
  return monikers;
}

std::vector<Ref<IMoniker>> AllMonikers(IEnumMoniker& monikers) {
  std::vector<Ref<IMoniker>> all;
  Ref<IMoniker> moniker;
  // Bounded: no test lists more than a handful of devices.
  for (int i = 0; i < 100 && monikers.Next(&moniker) == S_OK; ++i) all.push_back(moniker);
  return all;
}

TEST(EmulatedDeviceEnvironment, ListsTheDevicesInOrder) {
  EmulatedDeviceEnvironment environment(
      {Device("first"), Device("second", BindingKind::Tunnel), Device("third")});
  EXPECT_EQ(environment.CoInitialize(), S_OK);
  auto monikers = VideoDevices(environment);
  ASSERT_TRUE(monikers);
  ASSERT_EQ(monikers->Reset(), S_OK);

  std::vector<std::string> names;
  for (const auto& moniker : AllMonikers(*monikers.Get())) names.push_back(moniker->FriendlyName());
  EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "third"}));

  Ref<IMoniker> past;
  EXPECT_EQ(monikers->Next(&past), S_FALSE);
  EXPECT_FALSE(past);
  EXPECT_EQ(monikers->Next(nullptr), E_POINTER);

  // Reset starts the walk again.
  ASSERT_EQ(monikers->Reset(), S_OK);
  Ref<IMoniker> again;
  ASSERT_EQ(monikers->Next(&again), S_OK);
  EXPECT_EQ(again->FriendlyName(), "first");
}

TEST(EmulatedDeviceEnvironment, OnlyANonEmptyVideoCategoryHasAnEnumerator) {
  struct Case {
    const char* name;
    std::vector<EmulatedDevice> devices;
    Guid category;
    HRESULT status;
  };
  const Case cases[] = {
      {"video devices", {Device("cam")}, CLSID_VideoInputDeviceCategory, S_OK},
      {"no devices", {}, CLSID_VideoInputDeviceCategory, S_FALSE},
      {"another category", {Device("cam")}, CLSID_SystemDeviceEnum, S_FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedDeviceEnvironment environment(c.devices);
    Ref<ICreateDevEnum> devEnum;
    ASSERT_EQ(environment.CreateSystemDeviceEnum(&devEnum), S_OK);
    Ref<IEnumMoniker> monikers;
    EXPECT_EQ(devEnum->CreateClassEnumerator(c.category, &monikers, 0), c.status);
    EXPECT_EQ(static_cast<bool>(monikers), c.status == S_OK);
    EXPECT_EQ(devEnum->CreateClassEnumerator(c.category, nullptr, 0), E_POINTER);
  }
}

TEST(EmulatedDeviceEnvironment, ADeviceThatFailsToBindGivesNoFilter) {
  EmulatedDeviceEnvironment environment(
      {Device("good"), Device("broken", BindingKind::ExtensionUnit, /*bindFails=*/true),
       Device("later")});
  auto monikers = VideoDevices(environment);
  const auto all = AllMonikers(*monikers.Get());
  ASSERT_EQ(all.size(), 3u);
  const bool binds[] = {true, false, true};
  for (std::size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(all[i]->FriendlyName());
    Ref<IBaseFilter> filter;
    const HRESULT status = all[i]->BindToObject(IID_IBaseFilter, filter.PutVoid());
    EXPECT_EQ(Succeeded(status), binds[i]);
    EXPECT_EQ(static_cast<bool>(filter), binds[i]);
  }
}

TEST(EmulatedDeviceEnvironment, EveryReferenceObtainedIsCountedUntilReleased) {
  EmulatedDeviceEnvironment environment({Device("a", BindingKind::Both),
                                         Device("b", BindingKind::ExtensionUnitSetB),
                                         Device("c", BindingKind::Tunnel),
                                         Device("d", BindingKind::None)});
  {
    Ref<ICreateDevEnum> devEnum;
    ASSERT_EQ(environment.CreateSystemDeviceEnum(&devEnum), S_OK);
    EXPECT_EQ(environment.ledger().live(), 1);
    Ref<IEnumMoniker> monikers;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    devEnum.Reset();
    std::vector<Ref<IUnknown>> held;
    for (const auto& moniker : AllMonikers(*monikers.Get())) {
      Ref<IBaseFilter> filter;
      ASSERT_EQ(moniker->BindToObject(IID_IBaseFilter, filter.PutVoid()), S_OK);
      Ref<IKsControl> control;
      Ref<IKsTopologyInfo> topology;
      Ref<IVendorTunnel> tunnel;
      filter.As(&control);
      filter.As(&topology);
      filter.As(&tunnel);
      Ref<IUnknown> unknown;
      ASSERT_EQ(filter.As(&unknown), S_OK);
      held.push_back(unknown);
      held.push_back(Ref<IUnknown>::Share(moniker.Get()));
    }
    EXPECT_GT(environment.ledger().live(), 0);
  }
  EXPECT_EQ(environment.ledger().live(), 0);
}

TEST(EmulatedDeviceEnvironment, ObjectsOutliveTheEnvironment) {
  auto unit = std::make_shared<ScriptedUnit>();
  unit->values[SEL_REG_VALUE] = {0x9C};
  EmulatedDevice device = Device("cam", BindingKind::Tunnel);
  device.device = unit;
  auto environment = std::make_unique<EmulatedDeviceEnvironment>(std::vector{device});
  const auto ledger = environment->sharedLedger();
  Ref<IEnumMoniker> monikers = VideoDevices(*environment);
  environment.reset();

  Ref<IMoniker> moniker;
  ASSERT_EQ(monikers->Next(&moniker), S_OK);
  EXPECT_EQ(moniker->FriendlyName(), "cam");
  Ref<IVendorTunnel> tunnel;
  ASSERT_EQ(moniker->BindToObject(IID_IVendorTunnel, tunnel.PutVoid()), S_OK);
  ControlChannel channel;
  channel.mode = ChannelMode::Tunnel;
  channel.AttachTunnel(tunnel.Get());
  std::uint8_t value = 0;
  EXPECT_EQ(channel.GetSelector(SEL_REG_VALUE, 1, &value), S_OK);
  EXPECT_EQ(value, 0x9C);

  monikers.Reset();
  moniker.Reset();
  tunnel.Reset();
  EXPECT_EQ(ledger->live(), 0);
}

TEST(EmulatedDeviceEnvironment, TheDevicesTopologyIsItsOwn) {
  struct Case {
    std::uint32_t nodeCount;
    std::uint32_t unitNode;
    std::int32_t found;
  };
  const Case cases[] = {{5, 3, 0}, {7, 6, 0}, {2, 0, 0}, {3, 3, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("unit at " + std::to_string(c.unitNode) + " of " + std::to_string(c.nodeCount));
    EmulatedDevice device = Device("cam");
    device.nodeCount = c.nodeCount;
    device.extensionUnitNode = c.unitNode;
    EmulatedDeviceEnvironment environment({device});
    auto monikers = VideoDevices(environment);
    Ref<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(&moniker), S_OK);
    Ref<IBaseFilter> filter;
    ASSERT_EQ(moniker->BindToObject(IID_IBaseFilter, filter.PutVoid()), S_OK);
    Ref<IKsControl> control;
    Ref<IKsTopologyInfo> topology;
    ASSERT_EQ(filter.As(&control), S_OK);
    ASSERT_EQ(filter.As(&topology), S_OK);
    ControlChannel channel;
    channel.mode = ChannelMode::ExtensionUnit;
    EXPECT_EQ(channel.FindExtensionUnitNode(topology.Get(), control.Get()), c.found);
    if (c.found == 0) {
      EXPECT_EQ(channel.nodeId, c.unitNode);
    }
  }
}

TEST(EmulatedDeviceEnvironment, ADeviceWithAFaultPlanIsServedThroughIt) {
  EmulatedDevice device = Device("cam", BindingKind::Both);
  device.faults = std::make_shared<FaultPlan>();
  device.faults->failAt = 1;
  EmulatedDeviceEnvironment environment({device});
  {
    auto monikers = VideoDevices(environment);
    Ref<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(&moniker), S_OK);
    EXPECT_EQ(moniker->FriendlyName(), "cam");
    Ref<IVendorTunnel> tunnel;
    ASSERT_EQ(moniker->BindToObject(IID_IVendorTunnel, tunnel.PutVoid()), S_OK);
    ControlChannel channel;
    channel.mode = ChannelMode::Tunnel;
    channel.AttachTunnel(tunnel.Get());
    const std::uint8_t value = 1;
    EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &value), STATUS_GEN_FAILURE);
    EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &value), S_OK);
    EXPECT_EQ(device.faults->requestsSeen, 2u);
  }
  EXPECT_EQ(environment.ledger().live(), 0);
}

// The host's discovery walks these devices as it would the system's, and
// once its binding is dropped nothing is left referenced.
TEST(EmulatedDeviceEnvironment, DiscoveryFindsTheCameraAndReleasesEverything) {
  auto cameraWithChip = [](std::string name, BindingKind binding, std::uint8_t chipId) {
    EmulatedDevice device = Device(std::move(name), binding);
    auto unit = std::make_shared<ScriptedUnit>();
    unit->values[SEL_REG_VALUE] = {chipId};
    device.device = unit;
    return device;
  };
  EmulatedDevice foreign = Device("foreign", BindingKind::ExtensionUnit);
  foreign.device = nullptr;
  const std::vector<EmulatedDevice> devices = {
      Device("webcam", BindingKind::None), foreign,
      cameraWithChip("8x", BindingKind::ExtensionUnitSetB, 0x85),
      cameraWithChip("ax", BindingKind::Both, 0xA3)};

  struct Case {
    std::uint8_t filter;
    std::int32_t result;
    ChipFamily family;
    ChannelMode mode;
  };
  const Case cases[] = {
      {AnyFamily, 0, Family8x, ChannelMode::ExtensionUnit},
      {OnlyAx, 0, FamilyAx, ChannelMode::Tunnel},
      {Only6x, 1, FamilyUnknown, ChannelMode::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.filter));
    EmulatedDeviceEnvironment environment(devices);
    {
      CameraBinding binding;
      ASSERT_EQ(DiscoverCamera(environment, c.filter, binding, nullptr), c.result);
      if (c.result == 0) {
        ASSERT_TRUE(binding.channel);
        EXPECT_EQ(binding.channel->chipFamily, c.family);
        EXPECT_EQ(binding.channel->mode, c.mode);
        EXPECT_GT(environment.ledger().live(), 0);
      } else {
        EXPECT_FALSE(binding.channel);
        EXPECT_EQ(environment.ledger().live(), 0);
      }
    }
    EXPECT_EQ(environment.ledger().live(), 0);
  }
}

}  // namespace
}  // namespace torvane::emulator
