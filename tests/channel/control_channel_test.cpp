#include "channel/control_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "channel/selectors.h"
#include "support/scripted_camera.h"

namespace torvane {
namespace {

using fakes::KsAnswer;
using fakes::RecordingKsControl;
using fakes::RecordingTunnel;
using fakes::ScriptedTopology;
using fakes::TunnelCall;
using fakes::TunnelReply;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kFlagsSet = 0x10000002;
constexpr std::uint32_t kFlagsGet = 0x10000001;

// A whole frame: the given leading bytes, zeros up to size.
Bytes Frame(Bytes head, std::size_t size) {
  head.resize(size, 0);
  return head;
}

// ---------------------------------------------------------------------------
// Tunnel binding: the frames byte for byte.

class TunnelChannel : public ::testing::Test {
 protected:
  TunnelChannel() {
    channel.mode = ChannelMode::Tunnel;
    EXPECT_EQ(channel.AttachTunnel(&tunnel), 0);
  }
  RecordingTunnel tunnel;
  ControlChannel channel;
};

TEST_F(TunnelChannel, SetCurSendsOneSmallFrameAndReturnsTheSendStatus) {
  for (const HRESULT sendStatus : {S_OK, MakeStatus(7), E_FAIL}) {
    RecordingTunnel fresh;
    channel.AttachTunnel(&fresh);
    fresh.QueueSendStatus(sendStatus);
    const std::uint8_t address[2] = {0xFF, 0x20};
    EXPECT_EQ(channel.SetSelector(SEL_REG_ADDRESS, 2, address), sendStatus);
    ASSERT_EQ(fresh.Calls().size(), 1u);
    const TunnelCall& call = fresh.Calls()[0];
    EXPECT_EQ(call.kind, TunnelCall::Kind::Send);
    EXPECT_EQ(call.code, 35u);
    EXPECT_EQ(call.bufferSize, 72u);
    EXPECT_EQ(call.buffer, Frame({0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}, 72));
  }
}

TEST_F(TunnelChannel, GetCurSendsTheRequestThenReceivesIntoASeparateBuffer) {
  struct Case {
    HRESULT sendStatus;
    HRESULT receiveStatus;
  };
  // The send's status is never the result; the reply is copied even when
  // the receive fails.
  for (const Case c : {Case{S_OK, S_OK}, Case{E_FAIL, S_OK}, Case{S_OK, E_FAIL},
                       Case{S_OK, MakeStatus(2)}}) {
    RecordingTunnel fresh;
    channel.AttachTunnel(&fresh);
    fresh.QueueSendStatus(c.sendStatus);
    fresh.QueueReply({c.receiveStatus, {0x5A, 0x77}});
    std::uint8_t value = 0;
    EXPECT_EQ(channel.GetSelector(SEL_REG_VALUE, 1, &value), c.receiveStatus);
    EXPECT_EQ(value, 0x5A);
    ASSERT_EQ(fresh.Calls().size(), 2u);
    const TunnelCall& send = fresh.Calls()[0];
    EXPECT_EQ(send.kind, TunnelCall::Kind::Send);
    EXPECT_EQ(send.code, 35u);
    EXPECT_EQ(send.bufferSize, 4096u);
    EXPECT_EQ(send.buffer, Frame({0x01, 0x00, 0x81, 0x03, 0x00, 0x00, 0x00, 0x00}, 4096));
    const TunnelCall& receive = fresh.Calls()[1];
    EXPECT_EQ(receive.kind, TunnelCall::Kind::Receive);
    EXPECT_EQ(receive.code, 35u);
    EXPECT_EQ(receive.bufferSize, 4096u);
  }
}

TEST_F(TunnelChannel, GetLenReadsFourLittleEndianBytesFromTheSameSmallFrame) {
  struct Case {
    Bytes reply;
    HRESULT receiveStatus;
    std::uint32_t length;
  };
  const Case cases[] = {
      {{0x00, 0x10, 0x00, 0x00}, S_OK, 4096},
      {{0x04, 0x03, 0x02, 0x01}, S_OK, 0x01020304},
      {{0x00, 0x04, 0x00, 0x00}, E_FAIL, 1024},  // written whatever Receive said
  };
  for (const Case& c : cases) {
    RecordingTunnel fresh;
    channel.AttachTunnel(&fresh);
    fresh.QueueReply({c.receiveStatus, c.reply});
    std::uint32_t length = 0;
    EXPECT_EQ(channel.GetSelectorLength(SEL_FLASH_DATA, &length), c.receiveStatus);
    EXPECT_EQ(length, c.length);
    ASSERT_EQ(fresh.Calls().size(), 2u);
    EXPECT_EQ(fresh.Calls()[0].kind, TunnelCall::Kind::Send);
    EXPECT_EQ(fresh.Calls()[0].code, 35u);
    EXPECT_EQ(fresh.Calls()[0].buffer,
              Frame({0x02, 0x00, 0x85, 0x0F, 0x00, 0x00, 0x00, 0x00}, 72));
    EXPECT_EQ(fresh.Calls()[1].kind, TunnelCall::Kind::Receive);
    EXPECT_EQ(fresh.Calls()[1].code, 35u);
    EXPECT_EQ(fresh.Calls()[1].bufferSize, 72u);
  }
}

TEST_F(TunnelChannel, RequestsBeyondTheFrameAreRefusedUnsent) {
  Bytes data(kTunnelMaxSetData + 1, 0xAB);
  EXPECT_TRUE(Failed(channel.SetSelector(SEL_FLASH_DATA, 69, data.data())));
  EXPECT_TRUE(Failed(channel.SetSelector(SEL_FLASH_DATA, 4096, data.data())));

  Bytes big(kTunnelMaxGetData + 1, 0xCD);
  EXPECT_TRUE(Failed(channel.GetSelector(SEL_FLASH_DATA, 4097, big.data())));
  EXPECT_EQ(big, Bytes(4097, 0xCD));
  EXPECT_TRUE(tunnel.Calls().empty());
}

TEST_F(TunnelChannel, RequestsAtTheFrameLimitGoThroughWhole) {
  Bytes data(68);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(channel.SetSelector(SEL_DOWNLOAD_BLOCK, 68, data.data()), S_OK);
  ASSERT_EQ(tunnel.Calls().size(), 1u);
  const Bytes& frame = tunnel.Calls()[0].buffer;
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0x44, 0x00, 0x01, 0x0A}));
  EXPECT_EQ(Bytes(frame.begin() + 4, frame.end()), data);

  Bytes reply(4096);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i * 3);
  tunnel.QueueReply({S_OK, reply});
  Bytes block(4096, 0);
  EXPECT_EQ(channel.GetSelector(SEL_FLASH_DATA, 4096, block.data()), S_OK);
  EXPECT_EQ(block, reply);
  // The request word's length field holds the low 16 bits: 4096 = 0x1000.
  EXPECT_EQ(Bytes(tunnel.Calls()[1].buffer.begin(), tunnel.Calls()[1].buffer.begin() + 8),
            (Bytes{0x00, 0x10, 0x81, 0x0F, 0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------
// Kernel-streaming binding: the property header.

class ExtensionUnitChannel : public ::testing::Test {
 protected:
  ExtensionUnitChannel() {
    channel.mode = ChannelMode::ExtensionUnit;
    channel.ksControl = &control;
    channel.nodeId = 7;
    channel.nodeProperty.Property.Set = XU_PROPERTY_SET_B;
  }
  void ExpectHeader(const fakes::KsCall& call, std::uint32_t selector, std::uint32_t flags) {
    EXPECT_EQ(call.property.Property.Set, XU_PROPERTY_SET_B);
    EXPECT_EQ(call.property.Property.Id, selector);
    EXPECT_EQ(call.property.Property.Flags, flags);
    EXPECT_EQ(call.property.NodeId, 7u);
    EXPECT_EQ(call.property.Reserved, 0u);
    EXPECT_EQ(call.propertyLength, 32u);
    EXPECT_TRUE(call.bytesReturnedPresent);
  }
  RecordingKsControl control;
  ControlChannel channel;
};

TEST_F(ExtensionUnitChannel, EachRequestRewritesIdAndFlagsAndPassesDataThrough) {
  control.QueueAnswer({MakeStatus(3), {}, 0});
  control.QueueAnswer({E_FAIL, {0x11, 0x22}, 0});
  const std::uint8_t value = 0x5A;
  EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &value), MakeStatus(3));
  std::uint8_t got[2] = {0, 0};
  EXPECT_EQ(channel.GetSelector(SEL_REG_ADDRESS, 2, got), E_FAIL);
  EXPECT_EQ(got[0], 0x11);
  EXPECT_EQ(got[1], 0x22);

  ASSERT_EQ(control.Calls().size(), 2u);
  ExpectHeader(control.Calls()[0], SEL_REG_VALUE, kFlagsSet);
  EXPECT_EQ(control.Calls()[0].sent, Bytes{0x5A});
  EXPECT_EQ(control.Calls()[0].dataLength, 1u);
  ExpectHeader(control.Calls()[1], SEL_REG_ADDRESS, kFlagsGet);
  EXPECT_TRUE(control.Calls()[1].dataPresent);
  EXPECT_EQ(control.Calls()[1].dataLength, 2u);
}

TEST_F(ExtensionUnitChannel, LengthQueryTakesTheSizeOnlyFromMoreData) {
  struct Case {
    HRESULT answer;
    HRESULT result;
    bool written;
  };
  const Case cases[] = {
      {STATUS_MORE_DATA, S_OK, true},
      {S_OK, S_OK, false},
      {S_FALSE, S_FALSE, false},
      {E_FAIL, E_FAIL, false},
      {STATUS_SET_NOT_FOUND, STATUS_SET_NOT_FOUND, false},
  };
  for (const Case& c : cases) {
    RecordingKsControl fresh;
    channel.ksControl = &fresh;
    fresh.QueueAnswer({c.answer, {}, 4096});
    std::uint32_t length = 0xDEADBEEF;
    EXPECT_EQ(channel.GetSelectorLength(SEL_FLASH_DATA, &length), c.result);
    EXPECT_EQ(length, c.written ? 4096u : 0xDEADBEEF);
    ASSERT_EQ(fresh.Calls().size(), 1u);
    ExpectHeader(fresh.Calls()[0], SEL_FLASH_DATA, kFlagsGet);
    EXPECT_FALSE(fresh.Calls()[0].dataPresent);
    EXPECT_EQ(fresh.Calls()[0].dataLength, 0u);
  }
}

TEST_F(ExtensionUnitChannel, WithoutAControlEveryRequestIsAPointerError) {
  channel.ksControl = nullptr;
  std::uint8_t byte = 0x42;
  std::uint32_t length = 99;
  EXPECT_EQ(channel.SetSelector(SEL_REG_VALUE, 1, &byte), E_POINTER);
  EXPECT_EQ(channel.GetSelector(SEL_REG_VALUE, 1, &byte), E_POINTER);
  EXPECT_EQ(channel.GetSelectorLength(SEL_FLASH_DATA, &length), E_POINTER);
  EXPECT_EQ(byte, 0x42);
  EXPECT_EQ(length, 99u);
}

// ---------------------------------------------------------------------------
// Behaviour common to the modes.

TEST(ControlChannelModes, NullLengthPointerIsRefusedInEveryModeBeforeAnythingIsSent) {
  for (const ChannelMode mode : {ChannelMode::Tunnel, ChannelMode::ExtensionUnit, ChannelMode::None}) {
    RecordingKsControl control;
    RecordingTunnel tunnel;
    ControlChannel channel;
    channel.ksControl = &control;
    channel.AttachTunnel(&tunnel);
    channel.mode = mode;
    EXPECT_EQ(channel.GetSelectorLength(SEL_FLASH_DATA, nullptr), E_POINTER);
    EXPECT_TRUE(control.Calls().empty());
    EXPECT_TRUE(tunnel.Calls().empty());
  }
}

TEST(ControlChannelModes, NoneModeSendsNothingAndLeavesBuffersAlone) {
  RecordingKsControl control;
  RecordingTunnel tunnel;
  ControlChannel channel;
  channel.ksControl = &control;
  channel.AttachTunnel(&tunnel);
  ASSERT_EQ(channel.mode, ChannelMode::None);

  const std::uint8_t out[2] = {1, 2};
  EXPECT_EQ(channel.SetSelector(SEL_REG_ADDRESS, 2, out), 1);
  std::uint8_t in[2] = {0xA1, 0xA2};
  EXPECT_EQ(channel.GetSelector(SEL_REG_ADDRESS, 2, in), 0);
  EXPECT_EQ(in[0], 0xA1);
  EXPECT_EQ(in[1], 0xA2);
  std::uint32_t length = 1234;
  EXPECT_EQ(channel.GetSelectorLength(SEL_FLASH_DATA, &length), 0);
  EXPECT_EQ(length, 1234u);
  EXPECT_TRUE(control.Calls().empty());
  EXPECT_TRUE(tunnel.Calls().empty());
}

TEST(ControlChannelModes, ConstructionStateAndTunnelAttach) {
  ControlChannel channel;
  EXPECT_EQ(channel.mode, ChannelMode::None);
  EXPECT_EQ(channel.chipFamily, FamilyUnknown);
  EXPECT_EQ(channel.nodeId, 0u);
  EXPECT_EQ(channel.ksControl, nullptr);
  EXPECT_EQ(channel.vendorTunnel, nullptr);
  const KSP_NODE zero{};
  EXPECT_EQ(std::memcmp(&channel.nodeProperty, &zero, sizeof zero), 0);

  RecordingTunnel tunnel;
  EXPECT_EQ(channel.AttachTunnel(&tunnel), 0);
  EXPECT_EQ(channel.vendorTunnel, &tunnel);
  EXPECT_EQ(tunnel.OutstandingReferences(), 0u);  // borrowed, not kept
}

// ---------------------------------------------------------------------------
// The extension-unit node search.

constexpr Guid kOtherNodeType{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(FindExtensionUnitNode, StoresTheControlEvenWhenThereIsNothingToSearch) {
  for (const HRESULT numStatus : {S_OK, E_FAIL}) {
    RecordingKsControl control;
    ScriptedTopology topology;
    topology.numNodesStatus = numStatus;
    ControlChannel channel;
    channel.mode = ChannelMode::ExtensionUnit;
    EXPECT_EQ(channel.FindExtensionUnitNode(&topology, &control), numStatus == S_OK ? 1 : E_FAIL);
    EXPECT_EQ(channel.ksControl, &control);
    EXPECT_TRUE(control.Calls().empty());
  }
}

struct Probe {
  std::uint32_t node;
  Guid set;
};

struct NodeSearchCase {
  const char* name;
  std::vector<ScriptedTopology::Node> nodes;
  std::vector<HRESULT> probeAnswers;  // in order
  std::int32_t result;
  std::uint32_t nodeId;
  Guid set;
  std::vector<Probe> probes;
};

void PrintTo(const NodeSearchCase& c, std::ostream* os) { *os << c.name; }

class NodeSearch : public ::testing::TestWithParam<NodeSearchCase> {};

TEST_P(NodeSearch, ProbesDeviceSpecificNodesAndTriesSetBOnlyAfterSetNotFound) {
  const NodeSearchCase& c = GetParam();
  RecordingKsControl control;
  control.defaultAnswer.status = E_FAIL;
  for (HRESULT answer : c.probeAnswers) control.QueueAnswer({answer, {}, 0});
  ScriptedTopology topology;
  topology.nodes = c.nodes;
  ControlChannel channel;
  channel.mode = ChannelMode::ExtensionUnit;
  // Values from before the search, kept when no node qualifies.
  channel.nodeId = 9;
  channel.nodeProperty.Property.Set = XU_PROPERTY_SET_B;

  EXPECT_EQ(channel.FindExtensionUnitNode(&topology, &control), c.result);
  EXPECT_EQ(channel.nodeId, c.nodeId);
  EXPECT_EQ(channel.nodeProperty.Property.Set, c.set);
  ASSERT_EQ(control.Calls().size(), c.probes.size());
  for (std::size_t i = 0; i < c.probes.size(); ++i) {
    const fakes::KsCall& call = control.Calls()[i];
    EXPECT_EQ(call.property.NodeId, c.probes[i].node) << "probe " << i;
    EXPECT_EQ(call.property.Property.Set, c.probes[i].set) << "probe " << i;
    EXPECT_EQ(call.property.Property.Id, SEL_REG_ADDRESS);
    EXPECT_EQ(call.property.Property.Flags, kFlagsGet);
    EXPECT_EQ(call.dataLength, 2u);
    EXPECT_TRUE(call.dataPresent);
  }
}

const ScriptedTopology::Node kDev{KSNODETYPE_DEV_SPECIFIC, S_OK};
const ScriptedTopology::Node kOther{kOtherNodeType, S_OK};
const ScriptedTopology::Node kUnreadable{KSNODETYPE_DEV_SPECIFIC, E_FAIL};

INSTANTIATE_TEST_SUITE_P(
    Cases, NodeSearch,
    ::testing::Values(
        NodeSearchCase{"SetBAtIndexThree",
                       {kOther, kUnreadable, kOther, kDev},
                       {STATUS_SET_NOT_FOUND, S_OK},
                       0, 3, XU_PROPERTY_SET_B,
                       {{3, XU_PROPERTY_SET_A}, {3, XU_PROPERTY_SET_B}}},
        NodeSearchCase{"OtherFailureMovesOnWithoutSetB",
                       {kDev, kDev},
                       {E_FAIL, S_OK},
                       0, 1, XU_PROPERTY_SET_A,
                       {{0, XU_PROPERTY_SET_A}, {1, XU_PROPERTY_SET_A}}},
        NodeSearchCase{"OnlyExactZeroAccepts",
                       {kDev, kDev},
                       {STATUS_SET_NOT_FOUND, E_FAIL, S_FALSE},
                       1, 1, XU_PROPERTY_SET_A,
                       {{0, XU_PROPERTY_SET_A}, {0, XU_PROPERTY_SET_B}, {1, XU_PROPERTY_SET_A}}},
        NodeSearchCase{"SetBFailingToo",
                       {kDev},
                       {STATUS_SET_NOT_FOUND, STATUS_SET_NOT_FOUND},
                       1, 0, XU_PROPERTY_SET_B,
                       {{0, XU_PROPERTY_SET_A}, {0, XU_PROPERTY_SET_B}}},
        NodeSearchCase{"NoDeviceSpecificNodeSendsNothing",
                       {kOther, kUnreadable, kOther},
                       {},
                       1, 9, XU_PROPERTY_SET_B,
                       {}}),
    [](const ::testing::TestParamInfo<NodeSearchCase>& param) { return param.param.name; });

}  // namespace
}  // namespace torvane
