#include "emulator/fault_injection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/control_channel.h"
#include "channel/selectors.h"
#include "emulator/device_environment.h"
#include "emulator/scripted_unit.h"
#include "support/scripted_camera.h"

namespace torvane::emulator {
namespace {

using scripted::ScriptedUnit;

constexpr HRESULT kGen = STATUS_GEN_FAILURE;
constexpr HRESULT kGone = STATUS_DEVICE_NOT_CONNECTED;

TEST(FaultPlan, FailsTheRequestsItNames) {
  struct Case {
    std::uint32_t failAt;
    std::uint32_t unplugFrom;
    std::vector<HRESULT> statuses;  // of requests 1, 2, ...
  };
  const Case cases[] = {
      {0, 0, {S_OK, S_OK, S_OK, S_OK, S_OK}},
      {1, 0, {kGen, S_OK, S_OK, S_OK, S_OK}},
      {3, 0, {S_OK, S_OK, kGen, S_OK, S_OK}},
      {0, 1, {kGone, kGone, kGone, kGone, kGone}},
      {0, 4, {S_OK, S_OK, S_OK, kGone, kGone}},
      {2, 4, {S_OK, kGen, S_OK, kGone, kGone}},
      {5, 3, {S_OK, S_OK, kGone, kGone, kGone}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("failAt " + std::to_string(c.failAt) + " unplugFrom " +
                 std::to_string(c.unplugFrom));
    FaultPlan plan{c.failAt, c.unplugFrom};
    FaultPlan counted{c.failAt, c.unplugFrom};
    for (std::size_t i = 0; i < c.statuses.size(); ++i) {
      EXPECT_EQ(plan.Unplugged(), c.unplugFrom != 0 && i >= c.unplugFrom) << "before request " << i + 1;
      EXPECT_EQ(plan.NextRequest(), c.statuses[i]) << "request " << i + 1;
      EXPECT_EQ(counted.NextFails(), Failed(c.statuses[i])) << "request " << i + 1;
    }
    EXPECT_EQ(plan.requestsSeen, c.statuses.size());
  }
}

// ---------------------------------------------------------------------------
// Counting as the host's control channel makes its requests, over each
// binding of an emulated device.

enum class Step { Set, Get, Length };

struct Outcome {
  HRESULT status;
  bool reachedUnit;
};

class FaultsThroughTheChannel : public ::testing::TestWithParam<ChannelMode> {
 protected:
  // A Both device, so that the same plan sits on either binding.
  void Bind(std::uint32_t failAt, std::uint32_t unplugFrom) {
    unit_->values[SEL_REG_VALUE] = {0x5A};
    unit_->lengths[SEL_FLASH_DATA] = 4096;
    plan_ = std::make_shared<FaultPlan>();
    plan_->failAt = failAt;
    plan_->unplugFrom = unplugFrom;
    EmulatedDevice device;
    device.name = "cam";
    device.device = unit_;
    device.binding = BindingKind::Both;
    device.faults = plan_;
    environment_ = std::make_unique<EmulatedDeviceEnvironment>(std::vector{device});

    Ref<ICreateDevEnum> devEnum;
    ASSERT_EQ(environment_->CreateSystemDeviceEnum(&devEnum), S_OK);
    Ref<IEnumMoniker> monikers;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    ASSERT_EQ(monikers->Next(&moniker_), S_OK);
    ASSERT_EQ(moniker_->BindToObject(IID_IBaseFilter, filter_.PutVoid()), S_OK);
    ASSERT_EQ(filter_.As(&control_), S_OK);
    ASSERT_EQ(filter_.As(&tunnel_), S_OK);
    // Bound by hand, so that no probe is counted before the requests under test.
    channel_.ksControl = control_.Get();
    channel_.nodeId = 3;
    channel_.nodeProperty.Property.Set = XU_PROPERTY_SET_A;
    channel_.AttachTunnel(tunnel_.Get());
    channel_.mode = GetParam();
  }

  Outcome Run(Step step) {
    const std::size_t callsBefore = unit_->calls.size();
    HRESULT status = S_OK;
    switch (step) {
      case Step::Set: {
        const std::uint8_t address[] = {0xFF, 0x20};
        status = channel_.SetSelector(SEL_REG_ADDRESS, 2, address);
        break;
      }
      case Step::Get: {
        std::uint8_t value = 0xEE;
        status = channel_.GetSelector(SEL_REG_VALUE, 1, &value);
        // A failed request delivers nothing of the camera's.
        EXPECT_EQ(value == 0x5A, Succeeded(status));
        break;
      }
      case Step::Length: {
        std::uint32_t length = 7;
        status = channel_.GetSelectorLength(SEL_FLASH_DATA, &length);
        EXPECT_EQ(length == 4096, Succeeded(status));
        break;
      }
    }
    return {status, unit_->calls.size() > callsBefore};
  }

  std::shared_ptr<ScriptedUnit> unit_ = std::make_shared<ScriptedUnit>();
  std::shared_ptr<FaultPlan> plan_;
  std::unique_ptr<EmulatedDeviceEnvironment> environment_;
  Ref<IMoniker> moniker_;
  Ref<IBaseFilter> filter_;
  Ref<IKsControl> control_;
  Ref<IVendorTunnel> tunnel_;
  ControlChannel channel_;
};

TEST_P(FaultsThroughTheChannel, OneCountPerRequest) {
  const std::vector<Step> steps = {Step::Set, Step::Get, Step::Length,
                                   Step::Get, Step::Set, Step::Length};
  struct Case {
    std::uint32_t failAt;
    std::uint32_t unplugFrom;
    std::vector<HRESULT> statuses;  // per step
  };
  const Case cases[] = {
      {0, 0, {S_OK, S_OK, S_OK, S_OK, S_OK, S_OK}},
      {1, 0, {kGen, S_OK, S_OK, S_OK, S_OK, S_OK}},
      {2, 0, {S_OK, kGen, S_OK, S_OK, S_OK, S_OK}},
      {3, 0, {S_OK, S_OK, kGen, S_OK, S_OK, S_OK}},
      {6, 0, {S_OK, S_OK, S_OK, S_OK, S_OK, kGen}},
      {0, 2, {S_OK, kGone, kGone, kGone, kGone, kGone}},
      {0, 3, {S_OK, S_OK, kGone, kGone, kGone, kGone}},
      {1, 5, {kGen, S_OK, S_OK, S_OK, kGone, kGone}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("failAt " + std::to_string(c.failAt) + " unplugFrom " +
                 std::to_string(c.unplugFrom));
    unit_->calls.clear();
    channel_ = ControlChannel();
    Bind(c.failAt, c.unplugFrom);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Outcome outcome = Run(steps[i]);
      EXPECT_EQ(outcome.status, c.statuses[i]) << "request " << i + 1;
      EXPECT_EQ(outcome.reachedUnit, Succeeded(c.statuses[i])) << "request " << i + 1;
    }
    EXPECT_EQ(plan_->requestsSeen, steps.size());
    control_.Reset();
    tunnel_.Reset();
    filter_.Reset();
    moniker_.Reset();
    EXPECT_EQ(environment_->ledger().live(), 0);
  }
}

TEST_P(FaultsThroughTheChannel, AnUnpluggedCameraAnswersNothingAtAll) {
  Bind(0, 2);
  EXPECT_EQ(Run(Step::Set).status, S_OK);
  Ref<IKsTopologyInfo> topology;
  ASSERT_EQ(filter_.As(&topology), S_OK);
  std::uint32_t count = 0;
  EXPECT_EQ(topology->get_NumNodes(&count), S_OK);

  EXPECT_EQ(Run(Step::Get).status, kGone);
  EXPECT_EQ(topology->get_NumNodes(&count), kGone);
  Guid type;
  EXPECT_EQ(topology->get_NodeType(3, &type), kGone);
  Ref<IBaseFilter> again;
  EXPECT_EQ(moniker_->BindToObject(IID_IBaseFilter, again.PutVoid()), kGone);
  EXPECT_FALSE(again);
  std::vector<std::uint8_t> reply(8, 0xCC);
  EXPECT_EQ(tunnel_->Receive(TUNNEL_COMMAND_CODE, reply.data(), 8), kGone);
  EXPECT_EQ(reply, std::vector<std::uint8_t>(8, 0xCC));
  // Topology and binds are not requests.
  EXPECT_EQ(plan_->requestsSeen, 2u);
}

INSTANTIATE_TEST_SUITE_P(Bindings, FaultsThroughTheChannel,
                         ::testing::Values(ChannelMode::ExtensionUnit, ChannelMode::Tunnel),
                         [](const ::testing::TestParamInfo<ChannelMode>& param) {
                           return std::string(param.param == ChannelMode::Tunnel ? "Tunnel"
                                                                                 : "Properties");
                         });

TEST(FaultingBindings, BothBindingsShareOneCount) {
  auto unit = std::make_shared<ScriptedUnit>();
  auto plan = std::make_shared<FaultPlan>();
  plan->failAt = 3;
  auto ledger = std::make_shared<RefLedger>();
  CaptureFilterConfig config;
  config.unit = unit;
  config.binding = BindingKind::Both;
  {
    auto filter = FaultingFilter::Create(CreateCaptureFilter(config, ledger), plan, ledger);
    Ref<IKsControl> control;
    Ref<IKsTopologyInfo> topology;
    Ref<IVendorTunnel> tunnel;
    ASSERT_EQ(filter.As(&control), S_OK);
    ASSERT_EQ(filter.As(&topology), S_OK);
    ASSERT_EQ(filter.As(&tunnel), S_OK);
    ControlChannel channel;
    channel.mode = ChannelMode::ExtensionUnit;
    // Request 1: the node search's probe.
    ASSERT_EQ(channel.FindExtensionUnitNode(topology.Get(), control.Get()), 0);
    const std::uint8_t byte = 1;
    EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &byte), S_OK);  // 2
    channel.mode = ChannelMode::Tunnel;
    channel.AttachTunnel(tunnel.Get());
    EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &byte), kGen);  // 3
    channel.mode = ChannelMode::ExtensionUnit;
    EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &byte), S_OK);  // 4
    EXPECT_EQ(plan->requestsSeen, 4u);
    EXPECT_EQ(unit->calls.size(), 3u);
  }
  EXPECT_EQ(ledger->live(), 0);
}

TEST(FaultingBindings, TheBorrowedControlStaysValidWhileTheFilterLives) {
  auto ledger = std::make_shared<RefLedger>();
  CaptureFilterConfig config;
  config.unit = std::make_shared<ScriptedUnit>();
  auto filter = FaultingFilter::Create(CreateCaptureFilter(config, ledger),
                                       std::make_shared<FaultPlan>(), ledger);
  IKsControl* borrowed = nullptr;
  {
    Ref<IKsControl> first;
    Ref<IKsControl> second;
    ASSERT_EQ(filter.As(&first), S_OK);
    ASSERT_EQ(filter.As(&second), S_OK);
    EXPECT_EQ(first.Get(), second.Get());
    borrowed = first.Get();
  }
  // The references are gone; the filter still holds the wrapper.
  ControlChannel channel;
  channel.mode = ChannelMode::ExtensionUnit;
  channel.ksControl = borrowed;
  channel.nodeId = 3;
  channel.nodeProperty.Property.Set = XU_PROPERTY_SET_A;
  const std::uint8_t byte = 1;
  EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &byte), S_OK);

  Ref<IVendorTunnel> none;
  EXPECT_EQ(filter.As(&none), E_NOINTERFACE);
  filter.Reset();
  EXPECT_EQ(ledger->live(), 0);
}

// ---------------------------------------------------------------------------
// The wrappers around another backend's interfaces.

TEST(FaultingBindings, WrapAnyPropertyControl) {
  fakes::RecordingKsControl inner;
  inner.defaultAnswer.status = STATUS_MORE_DATA;
  inner.defaultAnswer.bytesReturned = 64;
  auto plan = std::make_shared<FaultPlan>();
  plan->failAt = 1;
  {
    auto control = FaultingKsControl::Create(Ref<IKsControl>::Share(&inner), plan);
    auto channel = fakes::MakeExtensionUnitChannel(control.Get());
    std::uint32_t length = 5;
    EXPECT_EQ(channel->GetSelectorLength(SEL_FLASH_DATA, &length), kGen);
    EXPECT_EQ(length, 5u);
    EXPECT_TRUE(inner.Calls().empty());
    EXPECT_EQ(channel->GetSelectorLength(SEL_FLASH_DATA, &length), S_OK);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(inner.Calls().size(), 1u);
  }
  EXPECT_EQ(inner.OutstandingReferences(), 0u);
}

TEST(FaultingBindings, WrapAnyTunnel) {
  struct Case {
    const char* name;
    RequestOp op;
    std::uint32_t failAt;
    HRESULT status;
    std::size_t innerCalls;  // Send and Receive calls that reached the inner tunnel
  };
  const Case cases[] = {
      {"SET_CUR fails", RequestOp::Set, 1, kGen, 0},
      {"GET_CUR fails with its Receive", RequestOp::Get, 1, kGen, 0},
      {"GET_LEN fails with its Receive", RequestOp::Length, 1, kGen, 0},
      {"SET_CUR passes", RequestOp::Set, 2, S_OK, 1},
      {"GET_CUR passes", RequestOp::Get, 2, S_OK, 2},
      {"GET_LEN passes", RequestOp::Length, 2, S_OK, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::RecordingTunnel inner;
    inner.defaultReply.bytes = {0x00, 0x10, 0x00, 0x00};
    auto plan = std::make_shared<FaultPlan>();
    plan->failAt = c.failAt;
    {
      auto tunnel = FaultingTunnel::Create(Ref<IVendorTunnel>::Share(&inner), plan);
      ControlChannel channel;
      channel.mode = ChannelMode::Tunnel;
      channel.AttachTunnel(tunnel.Get());
      std::uint8_t data[2] = {0xEE, 0xEE};
      std::uint32_t length = 0;
      HRESULT status = S_OK;
      switch (c.op) {
        case RequestOp::Set: status = channel.SetSelector(SEL_REG_ADDRESS, 2, data); break;
        case RequestOp::Get: status = channel.GetSelector(SEL_REG_ADDRESS, 2, data); break;
        case RequestOp::Length: status = channel.GetSelectorLength(SEL_FLASH_DATA, &length); break;
      }
      EXPECT_EQ(status, c.status);
      EXPECT_EQ(inner.Calls().size(), c.innerCalls);
      if (c.op == RequestOp::Length && Succeeded(c.status)) {
        EXPECT_EQ(length, 4096u);
      }
      EXPECT_EQ(plan->requestsSeen, 1u);
    }
    EXPECT_EQ(inner.OutstandingReferences(), 0u);
  }
}

}  // namespace
}  // namespace torvane::emulator
