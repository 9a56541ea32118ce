// Finding and opening the camera over emulated capture devices: the real
// device walk, bindings, chip-ID read and flash identification against
// emulated cameras.
#include "channel/camera_discovery.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/selectors.h"
#include "support/emulated_rig.h"

namespace torvane {
namespace {

using emulator::BindingKind;
using emulator::CameraConfig;
using emulator::EmulatedCamera;
using emulator::EmulatedDevice;
using fakes::EmulatedRig;

// A camera on a device, or (without a chip) a capture device that is not
// one of our cameras.
struct DeviceEntry {
  std::optional<std::uint8_t> chip;
  BindingKind binding = BindingKind::ExtensionUnit;
  bool bindFails = false;
};

std::vector<EmulatedDevice> Devices(const std::vector<DeviceEntry>& entries) {
  std::vector<EmulatedDevice> devices;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DeviceEntry& entry = entries[i];
    std::shared_ptr<EmulatedCamera> camera;
    if (entry.chip) {
      CameraConfig config;
      config.chipId = *entry.chip;
      camera = std::make_shared<EmulatedCamera>(config);
    }
    EmulatedDevice device = fakes::CameraDevice(camera, entry.binding, "device " + std::to_string(i));
    device.bindFails = entry.bindFails;
    devices.push_back(device);
  }
  return devices;
}

// Counts every use of the system's device enumeration.
class CountingDevices final : public DeviceEnvironment {
 public:
  explicit CountingDevices(DeviceEnvironment& inner) : inner_(inner) {}
  HRESULT CoInitialize() override {
    ++calls;
    return inner_.CoInitialize();
  }
  HRESULT CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) override {
    ++calls;
    return inner_.CreateSystemDeviceEnum(out);
  }
  int calls = 0;

 private:
  DeviceEnvironment& inner_;
};

std::size_t CameraRequests(EmulatedRig& rig) {
  std::size_t total = 0;
  for (const EmulatedDevice& device : rig.devices().devices()) {
    if (auto* camera = dynamic_cast<EmulatedCamera*>(device.device.get())) {
      total += camera->log().size();
    }
  }
  return total;
}

// After a failed open nothing is bound and nothing is held, and the reads
// that need a camera fail without sending a request.
void ExpectNothingBound(EmulatedRig& rig, CameraUpdater& updater) {
  EXPECT_FALSE(updater.engine.channel);
  EXPECT_FALSE(updater.engine.filter);
  EXPECT_FALSE(updater.engine.tunnel);
  EXPECT_FALSE(updater.engine.control);
  EXPECT_EQ(rig.ledger().live(), 0);

  const std::size_t observed = rig.requests.requests.size();
  const std::size_t received = CameraRequests(rig);
  std::vector<std::uint8_t> block(0x10000, 0xEE);
  EXPECT_EQ(updater.ReadFirstBlock(block.data(), block.size(), 0, 0), 1);
  std::uint32_t version = 0xDEADBEEF;
  EXPECT_EQ(updater.ReadFirmwareVersion(&version), 1);
  EXPECT_EQ(version, 0xDEADBEEFu);
  EXPECT_EQ(block[0], 0xEE);
  EXPECT_EQ(rig.requests.requests.size(), observed);
  EXPECT_EQ(CameraRequests(rig), received);
}

// ---------------------------------------------------------------------------

// Every edge of the family table: the family comes from the high four bits
// and sets the chip-select level with which the flash is then identified.
TEST(OpenOverEmulatedDevices, ChipIdDecidesFamilyAndChipSelectLevel) {
  struct Case {
    std::uint8_t chip;
    std::optional<ChipFamily> family;
    std::uint8_t chipSelectLevel;
  };
  const Case cases[] = {
      {0x5F, std::nullopt, 0}, {0x60, Family6x, 2},     {0x6A, Family6x, 2},
      {0x6F, Family6x, 2},     {0x70, std::nullopt, 0}, {0x7F, std::nullopt, 0},
      {0x80, Family8x, 0},     {0x85, Family8x, 0},     {0x8F, Family8x, 0},
      {0x90, Family9x, 2},     {0x9C, Family9x, 2},     {0x9F, Family9x, 2},
      {0xA0, FamilyAx, 0},     {0xA3, FamilyAx, 0},     {0xAF, FamilyAx, 0},
      {0xB0, std::nullopt, 0}, {0xFF, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "chip 0x" << std::hex << int{c.chip});
    CameraConfig config;
    config.chipId = c.chip;
    config.flashPart = 0x7E;  // kind 3: found only with the right chip select
    EmulatedRig rig(config, BindingKind::ExtensionUnit);
    auto updater = rig.NewUpdater();
    updater->engine.chipSelectLevel = 7;
    updater->engine.flashKind = 0;

    if (!c.family) {
      EXPECT_EQ(updater->Open(AnyFamily), 1);
      EXPECT_EQ(updater->engine.chipSelectLevel, 7) << "unchanged without a camera";
      ExpectNothingBound(rig, *updater);
      continue;
    }
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    ASSERT_TRUE(updater->engine.channel);
    EXPECT_EQ(updater->engine.channel->chipFamily, *c.family);
    EXPECT_EQ(updater->engine.channel->mode, ChannelMode::ExtensionUnit);
    EXPECT_EQ(updater->engine.chipSelectLevel, c.chipSelectLevel);
    EXPECT_EQ(updater->engine.flashKind, 3);
    EXPECT_GT(rig.ledger().live(), 0);
    updater.reset();
    EXPECT_EQ(rig.ledger().live(), 0);
  }
}

// The filter admits the families by their high bits; a filter out of range
// is refused before the devices are even enumerated.
TEST(OpenOverEmulatedDevices, FilterChoosesAmongTheCameras) {
  struct Case {
    std::uint8_t filter;
    std::int32_t result;
    std::optional<std::uint8_t> acceptedChip;
  };
  const Case cases[] = {
      {100, 160, std::nullopt},  {106, 160, std::nullopt}, {AnyFamily, 0, 0x85},
      {Only6x, 0, 0x61},         {Only9x, 1, std::nullopt}, {Only8x, 0, 0x85},
      {OnlyAx, 1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "filter " << int{c.filter});
    EmulatedRig rig(Devices({{0x85}, {0x61}}));
    CountingDevices counting(rig.devices());
    UpdaterEnvironment environment = rig.Environment();
    environment.devices = &counting;
    CameraUpdater updater(environment);

    EXPECT_EQ(updater.Open(c.filter), c.result);
    if (c.result == 160) {
      EXPECT_EQ(counting.calls, 0);
      EXPECT_EQ(CameraRequests(rig), 0u);
      EXPECT_FALSE(updater.engine.channel);
    } else if (c.result == 1) {
      ExpectNothingBound(rig, updater);
    } else {
      ASSERT_TRUE(updater.engine.channel);
      EXPECT_EQ(ReadChipId(*updater.engine.channel), *c.acceptedChip);
    }
  }
  // 101 to 105 are all accepted as filters.
  for (std::uint8_t filter = AnyFamily; filter <= OnlyAx; ++filter) {
    EmulatedRig rig(Devices({{0xA3}}));
    EXPECT_NE(rig.NewUpdater()->Open(filter), 160) << int{filter};
  }
}

// The walk in the system's order: devices without a binding, devices that
// are not our camera and chips of no family are passed over, the first
// camera that qualifies wins, and a device that cannot be bound ends the
// search.
TEST(OpenOverEmulatedDevices, WalksTheDevicesInOrder) {
  struct Case {
    const char* name;
    std::vector<DeviceEntry> devices;
    std::int32_t result;
    std::uint8_t chip;
    ChannelMode mode;
  };
  const Case cases[] = {
      {"no devices at all", {}, 1, 0, ChannelMode::None},
      {"neither binding is passed over",
       {{0x6A, BindingKind::None}, {0x85}}, 0, 0x85, ChannelMode::ExtensionUnit},
      {"only a device with neither binding", {{0x6A, BindingKind::None}}, 1, 0, ChannelMode::None},
      {"a capture device that is not our camera",
       {{std::nullopt}, {std::nullopt, BindingKind::Tunnel}, {0xA3, BindingKind::Tunnel}},
       0, 0xA3, ChannelMode::Tunnel},
      {"the first qualifying camera wins",
       {{0x7F}, {0x9C, BindingKind::ExtensionUnitSetB}, {0xA3}}, 0, 0x9C,
       ChannelMode::ExtensionUnit},
      {"a bind failure ends the search",
       {{0x5F}, {0x6A, BindingKind::ExtensionUnit, true}, {0xA3}}, 1, 0, ChannelMode::None},
      {"a bind failure after the camera is never reached",
       {{0xA3}, {0x6A, BindingKind::ExtensionUnit, true}}, 0, 0xA3, ChannelMode::ExtensionUnit},
      {"both bindings end in the tunnel", {{0x85, BindingKind::Both}}, 0, 0x85,
       ChannelMode::Tunnel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedRig rig(Devices(c.devices));
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), c.result);
    if (c.result == 0) {
      ASSERT_TRUE(updater->engine.channel);
      EXPECT_EQ(updater->engine.channel->mode, c.mode);
      EXPECT_EQ(updater->engine.channel->chipFamily, *FamilyForChipId(c.chip));
      EXPECT_EQ(ReadChipId(*updater->engine.channel), c.chip);
      EXPECT_TRUE(updater->engine.filter);
      EXPECT_EQ(static_cast<bool>(updater->engine.tunnel), c.mode == ChannelMode::Tunnel);
    } else {
      ExpectNothingBound(rig, *updater);
    }
    updater.reset();
    EXPECT_EQ(rig.ledger().live(), 0);
  }
}

// With both bindings the chip ID read through the tunnel decides, also when
// it fails and the extension unit's read had found a camera.
TEST(OpenOverEmulatedDevices, TheTunnelsChipIdReplacesTheExtensionUnits) {
  // Where the two chip-ID reads fall among the channel's requests.
  std::size_t unitRead = 0;
  std::size_t tunnelRead = 0;
  {
    EmulatedRig rig(Devices({{0x85, BindingKind::Both}}));
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    const auto& requests = rig.requests.requests;
    const auto first = fakes::FirstRequest(requests, RequestOp::Get, SEL_REG_VALUE);
    ASSERT_TRUE(first);
    const auto second = fakes::FirstRequest(requests, RequestOp::Get, SEL_REG_VALUE, *first + 1);
    ASSERT_TRUE(second);
    unitRead = *first;
    tunnelRead = *second;
  }

  struct Case {
    const char* name;
    std::size_t failedRequest;  // position among the channel's requests
    std::int32_t result;
  };
  const Case cases[] = {
      {"the extension unit's read fails", unitRead, 0},
      {"the tunnel's read fails", tunnelRead, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedDevice device = Devices({{0x85, BindingKind::Both}})[0];
    device.faults = std::make_shared<emulator::FaultPlan>();
    device.faults->failAt = static_cast<std::uint32_t>(c.failedRequest + 1);
    EmulatedRig rig({device});
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), c.result);
    if (c.result == 0) {
      EXPECT_EQ(updater->engine.channel->mode, ChannelMode::Tunnel);
      EXPECT_EQ(updater->engine.channel->chipFamily, Family8x);
    } else {
      ExpectNothingBound(rig, *updater);
    }
    updater.reset();
    EXPECT_EQ(rig.ledger().live(), 0);
  }
}

// The node search asks property set A first; a unit on set B answers it
// with "set not found" and is then found on set B, at whichever node it
// sits.
TEST(OpenOverEmulatedDevices, ExtensionUnitIsFoundOnEitherPropertySet) {
  struct Case {
    BindingKind binding;
    std::uint32_t nodeCount;
    std::uint32_t unitNode;
  };
  const Case cases[] = {
      {BindingKind::ExtensionUnit, 5, 3},
      {BindingKind::ExtensionUnitSetB, 5, 3},
      {BindingKind::ExtensionUnitSetB, 2, 0},
      {BindingKind::ExtensionUnitSetB, 9, 8},
  };
  for (const Case& c : cases) {
    const bool setB = c.binding == BindingKind::ExtensionUnitSetB;
    SCOPED_TRACE(testing::Message() << (setB ? "set B" : "set A") << ", node " << c.unitNode);
    EmulatedDevice device = Devices({{0x6A, c.binding}})[0];
    device.nodeCount = c.nodeCount;
    device.extensionUnitNode = c.unitNode;
    EmulatedRig rig({device});
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    const ControlChannel& channel = *updater->engine.channel;
    EXPECT_EQ(channel.nodeId, c.unitNode);
    EXPECT_TRUE(channel.nodeProperty.Property.Set == (setB ? XU_PROPERTY_SET_B : XU_PROPERTY_SET_A));

    const auto& requests = rig.requests.requests;
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].selector, SEL_REG_ADDRESS);
    if (setB) {
      EXPECT_EQ(requests[0].status, STATUS_SET_NOT_FOUND);
      EXPECT_EQ(requests[1].selector, SEL_REG_ADDRESS);
      EXPECT_EQ(requests[1].status, S_OK);
    } else {
      EXPECT_EQ(requests[0].status, S_OK);
    }
    EXPECT_EQ(updater->engine.flashKind, 0) << "the flash answers through the unit found";

    const auto listed = ListDevices(rig.devices(), nullptr);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].propertySetB, setB);
    EXPECT_EQ(listed[0].chipId, 0x6A);
  }
}

// The listing probes every device as the search does, but goes on past a
// device that cannot be bound, and holds nothing afterwards.
TEST(ListDevicesOverEmulatedDevices, DescribesEveryDevice) {
  EmulatedRig rig(Devices({{0x6A, BindingKind::None},
                           {0x85, BindingKind::ExtensionUnit, true},
                           {std::nullopt},
                           {0x85, BindingKind::ExtensionUnitSetB},
                           {0xA3, BindingKind::Both},
                           {0x70, BindingKind::Tunnel}}));
  fakes::RequestLog observed;
  const auto listed = ListDevices(rig.devices(), &observed);
  EXPECT_EQ(rig.ledger().live(), 0);
  EXPECT_FALSE(observed.requests.empty());

  struct Expected {
    bool bindFailed;
    bool extensionUnit;
    bool propertySetB;
    bool tunnel;
    std::uint8_t chipId;
    std::optional<ChipFamily> family;
  };
  const Expected expected[] = {
      {false, false, false, false, 0xFF, std::nullopt},
      {true, false, false, false, 0xFF, std::nullopt},
      {false, true, false, false, 0xFF, std::nullopt},
      {false, true, true, false, 0x85, Family8x},
      {false, true, false, true, 0xA3, FamilyAx},
      {false, false, false, true, 0x70, std::nullopt},
  };
  ASSERT_EQ(listed.size(), std::size(expected));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(listed[i].name, "device " + std::to_string(i));
    EXPECT_EQ(listed[i].bindFailed, expected[i].bindFailed);
    EXPECT_EQ(listed[i].extensionUnit, expected[i].extensionUnit);
    EXPECT_EQ(listed[i].propertySetB, expected[i].propertySetB);
    EXPECT_EQ(listed[i].tunnel, expected[i].tunnel);
    EXPECT_EQ(listed[i].chipId, expected[i].chipId);
    EXPECT_EQ(listed[i].family, expected[i].family);
  }
}

// An updater reused for a second open keeps its channel; either way every
// reference goes when the updater does.
TEST(OpenOverEmulatedDevices, ReferencesAreReleasedWithTheUpdater) {
  EmulatedRig rig(Devices({{0x7F}, {0x9C, BindingKind::Both}}));
  {
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);
    const ControlChannel* channel = updater->engine.channel.get();
    ASSERT_EQ(updater->Open(Only9x), 0);
    EXPECT_EQ(updater->engine.channel.get(), channel);
    EXPECT_GT(rig.ledger().live(), 0);
    ASSERT_EQ(updater->Open(OnlyAx), 1);
    EXPECT_EQ(rig.ledger().live(), 0);
  }
  EXPECT_EQ(rig.ledger().live(), 0);
}

}  // namespace
}  // namespace torvane
