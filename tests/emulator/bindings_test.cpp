#include "emulator/bindings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "channel/control_channel.h"
#include "channel/selectors.h"
#include "emulator/scripted_unit.h"

namespace torvane::emulator {
namespace {

using scripted::ScriptedUnit;
using scripted::SetCall;
using scripted::UnitCall;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kGet = KSPROPERTY_TYPE_TOPOLOGY | KSPROPERTY_TYPE_GET;
constexpr std::uint32_t kSet = KSPROPERTY_TYPE_TOPOLOGY | KSPROPERTY_TYPE_SET;

UnitCall GetCall(std::uint32_t selector, Bytes answered) {
  const auto length = static_cast<std::uint32_t>(answered.size());
  return {UnitCall::Op::Get, selector, std::move(answered), length};
}
UnitCall LenCall(std::uint32_t selector, std::uint32_t length) {
  return {UnitCall::Op::Len, selector, {}, length};
}

const char* KindName(BindingKind kind) {
  switch (kind) {
    case BindingKind::ExtensionUnit: return "ExtensionUnit";
    case BindingKind::ExtensionUnitSetB: return "ExtensionUnitSetB";
    case BindingKind::Tunnel: return "Tunnel";
    case BindingKind::Both: return "Both";
    case BindingKind::None: return "None";
  }
  return "?";
}

// A filter over a scripted unit; every reference it hands out is counted.
struct FilterFixture {
  explicit FilterFixture(BindingKind kind, bool withUnit = true) {
    unit->values[SEL_REG_ADDRESS] = {0x34, 0x12};
    unit->values[SEL_REG_VALUE] = {0x5A};
    unit->lengths[SEL_FLASH_DATA] = 4096;
    CaptureFilterConfig config;
    config.unit = withUnit ? unit : nullptr;
    config.binding = kind;
    filter = CreateCaptureFilter(config, ledger);
  }
  template <class I>
  Ref<I> Query() {
    Ref<I> out;
    filter.As(&out);
    return out;
  }

  std::shared_ptr<ScriptedUnit> unit = std::make_shared<ScriptedUnit>();
  std::shared_ptr<RefLedger> ledger = std::make_shared<RefLedger>();
  Ref<IBaseFilter> filter;
};

// ---------------------------------------------------------------------------
// Interfaces per binding kind

template <class I>
void ExpectOffered(const Ref<IBaseFilter>& filter, bool offered, const char* what) {
  SCOPED_TRACE(what);
  Ref<I> out;
  EXPECT_EQ(filter.As(&out), offered ? S_OK : E_NOINTERFACE);
  EXPECT_EQ(static_cast<bool>(out), offered);
}

TEST(CaptureFilter, OffersTheInterfacesOfItsBinding) {
  struct Case {
    BindingKind kind;
    bool properties;  // IKsControl and IKsTopologyInfo
    bool tunnel;
  };
  const Case cases[] = {
      {BindingKind::ExtensionUnit, true, false}, {BindingKind::ExtensionUnitSetB, true, false},
      {BindingKind::Tunnel, false, true},        {BindingKind::Both, true, true},
      {BindingKind::None, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(KindName(c.kind));
    auto ledger = std::make_shared<RefLedger>();
    {
      FilterFixture f(c.kind);
      ExpectOffered<IUnknown>(f.filter, true, "IUnknown");
      ExpectOffered<IBaseFilter>(f.filter, true, "IBaseFilter");
      ExpectOffered<IKsControl>(f.filter, c.properties, "IKsControl");
      ExpectOffered<IKsTopologyInfo>(f.filter, c.properties, "IKsTopologyInfo");
      ExpectOffered<IVendorTunnel>(f.filter, c.tunnel, "IVendorTunnel");

      void* out = &out;
      EXPECT_EQ(f.filter->QueryInterface(IID_ICreateDevEnum, &out), E_NOINTERFACE);
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(f.filter->QueryInterface(IID_IBaseFilter, nullptr), E_POINTER);
      EXPECT_GT(f.ledger->live(), 0);
      f.filter.Reset();
      EXPECT_EQ(f.ledger->live(), 0);
    }
  }
}

TEST(CaptureFilter, EveryInterfaceLeadsBackToTheSameFilter) {
  FilterFixture f(BindingKind::Both);
  auto control = f.Query<IKsControl>();
  auto tunnel = f.Query<IVendorTunnel>();
  Ref<IBaseFilter> fromControl;
  Ref<IBaseFilter> fromTunnel;
  ASSERT_EQ(control.As(&fromControl), S_OK);
  ASSERT_EQ(tunnel.As(&fromTunnel), S_OK);
  EXPECT_EQ(fromControl.Get(), f.filter.Get());
  EXPECT_EQ(fromTunnel.Get(), f.filter.Get());

  // The filter lives as long as any of its interfaces.
  f.filter.Reset();
  fromControl.Reset();
  fromTunnel.Reset();
  control.Reset();
  EXPECT_GT(f.ledger->live(), 0);
  tunnel.Reset();
  EXPECT_EQ(f.ledger->live(), 0);
}

// ---------------------------------------------------------------------------
// Topology

TEST(CaptureFilter, TopologyPlacesTheExtensionUnitAtItsNode) {
  struct Case {
    std::uint32_t nodeCount;
    std::uint32_t unitNode;
    int expectedUnitAt;  // -1: no extension unit in the topology
  };
  const Case cases[] = {{5, 3, 3}, {5, 0, 0}, {5, 4, 4}, {1, 0, 0}, {4, 7, -1}, {0, 0, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("nodes " + std::to_string(c.nodeCount) + " unit " + std::to_string(c.unitNode));
    CaptureFilterConfig config;
    config.unit = std::make_shared<ScriptedUnit>();
    config.nodeCount = c.nodeCount;
    config.extensionUnitNode = c.unitNode;
    auto filter = CreateCaptureFilter(config, nullptr);
    Ref<IKsTopologyInfo> topology;
    ASSERT_EQ(filter.As(&topology), S_OK);

    std::uint32_t count = 99;
    ASSERT_EQ(topology->get_NumNodes(&count), S_OK);
    EXPECT_EQ(count, c.nodeCount);
    int unitAt = -1;
    for (std::uint32_t i = 0; i < count; ++i) {
      Guid type;
      ASSERT_EQ(topology->get_NodeType(i, &type), S_OK);
      EXPECT_NE(type, Guid{}) << "node " << i;
      if (type == KSNODETYPE_DEV_SPECIFIC) {
        EXPECT_EQ(unitAt, -1) << "a second extension unit at " << i;
        unitAt = static_cast<int>(i);
      }
    }
    EXPECT_EQ(unitAt, c.expectedUnitAt);

    Guid untouched = XU_PROPERTY_SET_A;
    EXPECT_EQ(topology->get_NodeType(count, &untouched), E_INVALIDARG);
    EXPECT_EQ(untouched, XU_PROPERTY_SET_A);
    EXPECT_EQ(topology->get_NumNodes(nullptr), E_POINTER);
  }
}

// ---------------------------------------------------------------------------
// Property requests

struct KsCase {
  const char* name;
  BindingKind kind;
  Guid set;
  std::uint32_t node;
  std::uint32_t flags;
  std::uint32_t headerLength;
  bool nullData;  // the length query: null data, length 0
  HRESULT status;
  std::uint32_t bytesReturned;
  std::vector<UnitCall> unitCalls;
  Bytes dataAfter;  // the 2-byte buffer after the call (initially EE EE)
};

TEST(CaptureFilter, KsPropertyServesOnlyTheUnitsNodeAndSet) {
  const Bytes untouched = {0xEE, 0xEE};
  const KsCase cases[] = {
      {"get, set A", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kGet, 32, false, S_OK, 2,
       {GetCall(SEL_REG_ADDRESS, {0x34, 0x12})}, {0x34, 0x12}},
      {"set, set A", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kSet, 32, false, S_OK, 0,
       {SetCall(SEL_REG_ADDRESS, {0xEE, 0xEE})}, untouched},
      {"length query", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kGet, 32, true,
       STATUS_MORE_DATA, 0, {LenCall(SEL_REG_ADDRESS, 0)}, untouched},
      {"longer header is fine", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kGet, 40, false,
       S_OK, 2, {GetCall(SEL_REG_ADDRESS, {0x34, 0x12})}, {0x34, 0x12}},
      {"set B on a set-A unit", BindingKind::ExtensionUnit, XU_PROPERTY_SET_B, 3, kGet, 32, false,
       STATUS_SET_NOT_FOUND, 0, {}, untouched},
      {"set A on a set-B unit", BindingKind::ExtensionUnitSetB, XU_PROPERTY_SET_A, 3, kGet, 32,
       false, STATUS_SET_NOT_FOUND, 0, {}, untouched},
      {"set B on a set-B unit", BindingKind::ExtensionUnitSetB, XU_PROPERTY_SET_B, 3, kGet, 32,
       false, S_OK, 2, {GetCall(SEL_REG_ADDRESS, {0x34, 0x12})}, {0x34, 0x12}},
      {"set A with both bindings", BindingKind::Both, XU_PROPERTY_SET_A, 3, kSet, 32, false, S_OK,
       0, {SetCall(SEL_REG_ADDRESS, {0xEE, 0xEE})}, untouched},
      {"another node", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 2, kGet, 32, false,
       STATUS_SET_NOT_FOUND, 0, {}, untouched},
      {"node past the topology", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 9, kSet, 32,
       false, STATUS_SET_NOT_FOUND, 0, {}, untouched},
      {"short header", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kGet, 24, false,
       E_INVALIDARG, 77, {}, untouched},
      {"no topology flag", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, KSPROPERTY_TYPE_GET,
       32, false, E_INVALIDARG, 77, {}, untouched},
      {"get and set at once", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kGet | kSet, 32,
       false, E_INVALIDARG, 77, {}, untouched},
      {"neither get nor set", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3,
       KSPROPERTY_TYPE_TOPOLOGY, 32, false, E_INVALIDARG, 77, {}, untouched},
      {"another flag besides", BindingKind::ExtensionUnit, XU_PROPERTY_SET_A, 3, kGet | 0x200, 32,
       false, E_INVALIDARG, 77, {}, untouched},
  };
  for (const KsCase& c : cases) {
    SCOPED_TRACE(c.name);
    FilterFixture f(c.kind);
    auto control = f.Query<IKsControl>();
    ASSERT_TRUE(control);
    KSP_NODE header;
    header.Property.Set = c.set;
    header.Property.Id = SEL_REG_ADDRESS;
    header.Property.Flags = c.flags;
    header.NodeId = c.node;
    // A header longer than KSP_NODE: the tail is not read.
    std::array<KSP_NODE, 2> headers{header, header};
    Bytes data = untouched;
    std::uint32_t returned = 77;
    const HRESULT status =
        control->KsProperty(headers.data(), c.headerLength, c.nullData ? nullptr : data.data(),
                            c.nullData ? 0 : 2, &returned);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(returned, c.bytesReturned);
    EXPECT_EQ(f.unit->calls, c.unitCalls);
    EXPECT_EQ(data, c.dataAfter);
  }
}

TEST(CaptureFilter, LengthQueryAnswersMoreDataWithTheSize) {
  FilterFixture f(BindingKind::ExtensionUnit);
  auto control = f.Query<IKsControl>();
  KSP_NODE header;
  header.Property = {XU_PROPERTY_SET_A, SEL_FLASH_DATA, kGet};
  header.NodeId = 3;
  std::uint32_t returned = 0;
  EXPECT_EQ(control->KsProperty(&header, 32, nullptr, 0, &returned), MakeStatus(0x800700EAu));
  EXPECT_EQ(returned, 4096u);

  // A failing unit's status comes back as it is, with nothing returned.
  f.unit->lenStatus = STATUS_GEN_FAILURE;
  returned = 55;
  EXPECT_EQ(control->KsProperty(&header, 32, nullptr, 0, &returned), STATUS_GEN_FAILURE);
  EXPECT_EQ(returned, 0u);
}

TEST(CaptureFilter, KsPropertyRefusesMissingPointers) {
  FilterFixture f(BindingKind::ExtensionUnit);
  auto control = f.Query<IKsControl>();
  KSP_NODE header;
  header.Property = {XU_PROPERTY_SET_A, SEL_REG_VALUE, kGet};
  header.NodeId = 3;
  std::uint8_t byte = 0;
  std::uint32_t returned = 0;
  EXPECT_EQ(control->KsProperty(nullptr, 32, &byte, 1, &returned), E_POINTER);
  EXPECT_EQ(control->KsProperty(&header, 32, &byte, 1, nullptr), E_POINTER);
  EXPECT_EQ(control->KsProperty(&header, 32, nullptr, 1, &returned), E_POINTER);
  header.Property.Flags = kSet;
  EXPECT_EQ(control->KsProperty(&header, 32, nullptr, 1, &returned), E_POINTER);
  EXPECT_TRUE(f.unit->calls.empty());
}

TEST(CaptureFilter, UnitFailuresComeBackUnchanged) {
  FilterFixture f(BindingKind::ExtensionUnit);
  f.unit->setStatus = STATUS_GEN_FAILURE;
  f.unit->getStatus = E_FAIL;
  auto control = f.Query<IKsControl>();
  KSP_NODE header;
  header.Property = {XU_PROPERTY_SET_A, SEL_REG_VALUE, kGet};
  header.NodeId = 3;
  std::uint8_t byte = 0;
  std::uint32_t returned = 9;
  EXPECT_EQ(control->KsProperty(&header, 32, &byte, 1, &returned), E_FAIL);
  EXPECT_EQ(returned, 0u);
  header.Property.Flags = kSet;
  EXPECT_EQ(control->KsProperty(&header, 32, &byte, 1, &returned), STATUS_GEN_FAILURE);
}

TEST(CaptureFilter, ADeviceThatIsNotOurCameraKnowsNoSet) {
  for (BindingKind kind : {BindingKind::ExtensionUnit, BindingKind::ExtensionUnitSetB}) {
    SCOPED_TRACE(KindName(kind));
    FilterFixture f(kind, /*withUnit=*/false);
    auto control = f.Query<IKsControl>();
    KSP_NODE header;
    header.Property = {UnitPropertySet(kind), SEL_REG_ADDRESS, kGet};
    header.NodeId = 3;
    Bytes data = {1, 2};
    std::uint32_t returned = 0;
    EXPECT_EQ(control->KsProperty(&header, 32, data.data(), 2, &returned), STATUS_SET_NOT_FOUND);
    EXPECT_EQ(control->KsProperty(&header, 32, nullptr, 0, &returned), STATUS_SET_NOT_FOUND);
    header.Property.Flags = kSet;
    EXPECT_EQ(control->KsProperty(&header, 32, data.data(), 2, &returned), STATUS_SET_NOT_FOUND);
    EXPECT_EQ(data, (Bytes{1, 2}));
  }
}

// ---------------------------------------------------------------------------
// Tunnel frames

struct TunnelCase {
  const char* name;
  Bytes frame;
  std::uint32_t frameSize;  // the buffer handed over; the frame is zero-padded to it
  std::uint32_t code;
  HRESULT sendStatus;
  std::vector<UnitCall> unitCalls;
  HRESULT receiveStatus;  // of a Receive into a 72-byte buffer right after
  Bytes reply;            // the start of that buffer (filled with CC before)
};

Bytes SetCurFrame(std::uint8_t selector, std::uint16_t length, std::size_t payloadBytes) {
  Bytes frame = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8), 0x01,
                 selector};
  for (std::size_t i = 0; i < payloadBytes; ++i) frame.push_back(static_cast<std::uint8_t>(i));
  return frame;
}

TEST(CaptureFilter, TunnelFramesAreReadByteForByte) {
  const Bytes cc = {0xCC, 0xCC, 0xCC, 0xCC};
  Bytes payload68;
  for (std::uint8_t i = 0; i < 68; ++i) payload68.push_back(i);
  const TunnelCase cases[] = {
      {"SET_CUR of selector 2 with FF 20", {0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}, 6, 35, S_OK,
       {SetCall(2, {0xFF, 0x20})}, E_FAIL, cc},
      {"the same in a 72-byte frame", {0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}, 72, 35, S_OK,
       {SetCall(2, {0xFF, 0x20})}, E_FAIL, cc},
      {"SET_CUR of 68 bytes", SetCurFrame(15, 68, 68), 72, 35, S_OK, {SetCall(15, payload68)},
       E_FAIL, cc},
      {"SET_CUR of nothing", {0x00, 0x00, 0x01, 0x09}, 4, 35, S_OK, {SetCall(9, {})}, E_FAIL, cc},
      {"GET_CUR of one byte of selector 3", {0x01, 0x00, 0x81, 0x03, 0, 0, 0, 0}, 4096, 35, S_OK,
       {GetCall(3, {0x5A})}, S_OK, {0x5A, 0xCC, 0xCC, 0xCC}},
      {"GET_CUR of two bytes of selector 2", {0x02, 0x00, 0x81, 0x02, 0, 0, 0, 0}, 8, 35, S_OK,
       {GetCall(2, {0x34, 0x12})}, S_OK, {0x34, 0x12, 0xCC, 0xCC}},
      {"GET_LEN of selector 15", {0x02, 0x00, 0x85, 0x0F, 0, 0, 0, 0}, 72, 35, S_OK,
       {LenCall(15, 4096)}, S_OK, {0x00, 0x10, 0x00, 0x00}},
      {"another command code", {0x02, 0x00, 0x01, 0x02, 0xFF, 0x20}, 72, 34, E_INVALIDARG, {},
       E_FAIL, cc},
      {"unknown request code", {0x02, 0x00, 0x82, 0x02, 0, 0, 0, 0}, 72, 35, E_INVALIDARG, {},
       E_FAIL, cc},
      {"SET_CUR payload past the frame", {0x03, 0x00, 0x01, 0x02, 0xFF, 0x20}, 6, 35,
       E_INVALIDARG, {}, E_FAIL, cc},
      {"SET_CUR of 69 bytes", SetCurFrame(15, 69, 69), 73, 35, E_INVALIDARG, {}, E_FAIL, cc},
      {"SET_CUR claiming 0xFFFF bytes", SetCurFrame(15, 0xFFFF, 0), 72, 35, E_INVALIDARG, {},
       E_FAIL, cc},
      {"frame shorter than its request word", {0x02, 0x00, 0x81}, 3, 35, E_INVALIDARG, {}, E_FAIL,
       cc},
      {"GET_CUR of 4097 bytes", {0x01, 0x10, 0x81, 0x0F, 0, 0, 0, 0}, 4096, 35, E_INVALIDARG, {},
       E_FAIL, cc},
  };
  for (const TunnelCase& c : cases) {
    SCOPED_TRACE(c.name);
    FilterFixture f(BindingKind::Tunnel);
    auto tunnel = f.Query<IVendorTunnel>();
    ASSERT_TRUE(tunnel);
    Bytes frame = c.frame;
    frame.resize(c.frameSize, 0);
    const Bytes sent = frame;
    EXPECT_EQ(tunnel->Send(c.code, frame.data(), c.frameSize), c.sendStatus);
    EXPECT_EQ(frame, sent) << "Send wrote into the frame";
    EXPECT_EQ(f.unit->calls, c.unitCalls);

    Bytes reply(72, 0xCC);
    EXPECT_EQ(tunnel->Receive(TUNNEL_COMMAND_CODE, reply.data(), 72), c.receiveStatus);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + static_cast<long>(c.reply.size())), c.reply);
    EXPECT_TRUE(std::all_of(reply.begin() + static_cast<long>(c.reply.size()), reply.end(),
                            [](std::uint8_t b) { return b == 0xCC; }));
  }
}

TEST(CaptureFilter, SetCurStatusIsTheUnits) {
  FilterFixture f(BindingKind::Tunnel);
  f.unit->setStatus = STATUS_GEN_FAILURE;
  auto tunnel = f.Query<IVendorTunnel>();
  Bytes frame = {0x01, 0x00, 0x01, 0x03, 0x07};
  EXPECT_EQ(tunnel->Send(35, frame.data(), 5), STATUS_GEN_FAILURE);
}

TEST(CaptureFilter, AReplyIsDeliveredOnceAndNeverStale) {
  FilterFixture f(BindingKind::Tunnel);
  auto tunnel = f.Query<IVendorTunnel>();
  Bytes get = {0x01, 0x00, 0x81, 0x03, 0, 0, 0, 0};
  Bytes reply(8, 0);

  ASSERT_EQ(tunnel->Send(35, get.data(), 8), S_OK);
  // Receive with a wrong code or no buffer is refused and keeps the reply.
  EXPECT_EQ(tunnel->Receive(34, reply.data(), 8), E_INVALIDARG);
  EXPECT_EQ(tunnel->Receive(35, nullptr, 8), E_POINTER);
  EXPECT_EQ(tunnel->Receive(35, reply.data(), 8), S_OK);
  EXPECT_EQ(reply[0], 0x5A);
  reply[0] = 0;
  EXPECT_EQ(tunnel->Receive(35, reply.data(), 8), E_FAIL);
  EXPECT_EQ(reply[0], 0);

  // A later Send that is refused drops the earlier GET's reply.
  ASSERT_EQ(tunnel->Send(35, get.data(), 8), S_OK);
  Bytes bad = {0x01, 0x00, 0x99, 0x03};
  EXPECT_EQ(tunnel->Send(35, bad.data(), 4), E_INVALIDARG);
  EXPECT_EQ(tunnel->Receive(35, reply.data(), 8), E_FAIL);
  EXPECT_EQ(reply[0], 0);
}

TEST(CaptureFilter, RepliesThatDoNotFitAreNotCut) {
  struct Case {
    const char* name;
    Bytes frame;
    std::uint32_t receiveSize;
    HRESULT status;
  };
  const Case cases[] = {
      {"GET_CUR of 2 into 1", {0x02, 0x00, 0x81, 0x02, 0, 0, 0, 0}, 1, E_INVALIDARG},
      {"GET_CUR of 2 into 2", {0x02, 0x00, 0x81, 0x02, 0, 0, 0, 0}, 2, S_OK},
      {"GET_LEN into 3", {0x02, 0x00, 0x85, 0x0F, 0, 0, 0, 0}, 3, E_INVALIDARG},
      {"GET_LEN into 4", {0x02, 0x00, 0x85, 0x0F, 0, 0, 0, 0}, 4, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilterFixture f(BindingKind::Tunnel);
    auto tunnel = f.Query<IVendorTunnel>();
    Bytes frame = c.frame;
    ASSERT_EQ(tunnel->Send(35, frame.data(), 8), S_OK);
    Bytes reply(8, 0xCC);
    EXPECT_EQ(tunnel->Receive(35, reply.data(), c.receiveSize), c.status);
    if (Failed(c.status)) {
      EXPECT_EQ(reply, Bytes(8, 0xCC));
    }
  }
}

TEST(CaptureFilter, AFailedGetDeliversItsStatusAndNoData) {
  struct Case {
    const char* name;
    Bytes frame;
    bool withUnit;
    HRESULT expected;
  };
  const Case cases[] = {
      {"GET_CUR, unit fails", {0x01, 0x00, 0x81, 0x03, 0, 0, 0, 0}, true, STATUS_GEN_FAILURE},
      {"GET_LEN, unit fails", {0x02, 0x00, 0x85, 0x0F, 0, 0, 0, 0}, true, STATUS_GEN_FAILURE},
      {"GET_CUR, not our camera", {0x01, 0x00, 0x81, 0x03, 0, 0, 0, 0}, false,
       STATUS_SET_NOT_FOUND},
      {"GET_LEN, not our camera", {0x02, 0x00, 0x85, 0x0F, 0, 0, 0, 0}, false,
       STATUS_SET_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FilterFixture f(BindingKind::Tunnel, c.withUnit);
    f.unit->getStatus = STATUS_GEN_FAILURE;
    f.unit->lenStatus = STATUS_GEN_FAILURE;
    auto tunnel = f.Query<IVendorTunnel>();
    Bytes frame = c.frame;
    EXPECT_EQ(tunnel->Send(35, frame.data(), 8), S_OK);
    Bytes reply(8, 0xCC);
    EXPECT_EQ(tunnel->Receive(35, reply.data(), 8), c.expected);
    EXPECT_EQ(reply, Bytes(8, 0xCC));
  }
  FilterFixture foreign(BindingKind::Tunnel, /*withUnit=*/false);
  auto tunnel = foreign.Query<IVendorTunnel>();
  Bytes set = {0x01, 0x00, 0x01, 0x03, 0x07};
  EXPECT_EQ(tunnel->Send(35, set.data(), 5), STATUS_SET_NOT_FOUND);
  EXPECT_TRUE(Failed(tunnel->Reserved()));
}

// ---------------------------------------------------------------------------
// End to end: the host's control channel over each binding.

struct ChannelCase {
  BindingKind kind;
  ChannelMode mode;
};

class ChannelOverFilter : public ::testing::TestWithParam<ChannelCase> {
 protected:
  void SetUp() override {
    fixture_ = std::make_unique<FilterFixture>(GetParam().kind);
    if (GetParam().mode == ChannelMode::Tunnel) {
      tunnel_ = fixture_->Query<IVendorTunnel>();
      channel_.mode = ChannelMode::Tunnel;
      channel_.AttachTunnel(tunnel_.Get());
    } else {
      control_ = fixture_->Query<IKsControl>();
      auto topology = fixture_->Query<IKsTopologyInfo>();
      channel_.mode = ChannelMode::ExtensionUnit;
      ASSERT_EQ(channel_.FindExtensionUnitNode(topology.Get(), control_.Get()), 0);
    }
    fixture_->unit->calls.clear();
  }

  std::unique_ptr<FilterFixture> fixture_;
  Ref<IKsControl> control_;
  Ref<IVendorTunnel> tunnel_;
  ControlChannel channel_;
};

TEST_P(ChannelOverFilter, RequestsArriveAsTheChannelMadeThem) {
  ScriptedUnit& unit = *fixture_->unit;
  const std::uint8_t address[] = {0xFF, 0x20};
  EXPECT_EQ(channel_.SetSelector(SEL_REG_ADDRESS, 2, address), S_OK);
  std::uint8_t value = 0;
  EXPECT_EQ(channel_.GetSelector(SEL_REG_VALUE, 1, &value), S_OK);
  EXPECT_EQ(value, 0x5A);
  std::uint32_t length = 0;
  EXPECT_EQ(channel_.GetSelectorLength(SEL_FLASH_DATA, &length), S_OK);
  EXPECT_EQ(length, 4096u);
  Bytes block(4096, 0);
  unit.values[SEL_FLASH_DATA] = Bytes(4096, 0xA5);
  EXPECT_EQ(channel_.GetSelector(SEL_FLASH_DATA, 4096, block.data()), S_OK);
  EXPECT_EQ(block, Bytes(4096, 0xA5));

  const std::vector<UnitCall> expected = {SetCall(SEL_REG_ADDRESS, {0xFF, 0x20}),
                                          GetCall(SEL_REG_VALUE, {0x5A}),
                                          LenCall(SEL_FLASH_DATA, 4096),
                                          GetCall(SEL_FLASH_DATA, Bytes(4096, 0xA5))};
  EXPECT_EQ(unit.calls, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bindings, ChannelOverFilter,
    ::testing::Values(ChannelCase{BindingKind::ExtensionUnit, ChannelMode::ExtensionUnit},
                      ChannelCase{BindingKind::ExtensionUnitSetB, ChannelMode::ExtensionUnit},
                      ChannelCase{BindingKind::Tunnel, ChannelMode::Tunnel},
                      ChannelCase{BindingKind::Both, ChannelMode::Tunnel}),
    [](const ::testing::TestParamInfo<ChannelCase>& param) {
      return std::string(KindName(param.param.kind)) +
             (param.param.mode == ChannelMode::Tunnel ? "_Tunnel" : "_Properties");
    });

TEST(CaptureFilter, NodeSearchSettlesOnTheUnitsNodeAndSet) {
  struct Case {
    BindingKind kind;
    std::uint32_t unitNode;
    bool withUnit;
    std::int32_t result;
    std::uint32_t nodeId;
    Guid set;
  };
  const Case cases[] = {
      {BindingKind::ExtensionUnit, 3, true, 0, 3, XU_PROPERTY_SET_A},
      {BindingKind::ExtensionUnitSetB, 3, true, 0, 3, XU_PROPERTY_SET_B},
      {BindingKind::ExtensionUnit, 1, true, 0, 1, XU_PROPERTY_SET_A},
      {BindingKind::Both, 4, true, 0, 4, XU_PROPERTY_SET_A},
      // Not our camera: both sets are refused, the search runs out.
      {BindingKind::ExtensionUnit, 3, false, 1, 3, XU_PROPERTY_SET_B},
      // No extension unit in the topology: nothing is probed.
      {BindingKind::ExtensionUnit, 5, true, 1, 0, Guid{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(KindName(c.kind)) + " unit at " + std::to_string(c.unitNode));
    auto unit = std::make_shared<ScriptedUnit>();
    CaptureFilterConfig config;
    config.unit = c.withUnit ? unit : nullptr;
    config.binding = c.kind;
    config.extensionUnitNode = c.unitNode;
    auto filter = CreateCaptureFilter(config, nullptr);
    Ref<IKsControl> control;
    Ref<IKsTopologyInfo> topology;
    ASSERT_EQ(filter.As(&control), S_OK);
    ASSERT_EQ(filter.As(&topology), S_OK);
    ControlChannel channel;
    channel.mode = ChannelMode::ExtensionUnit;
    EXPECT_EQ(channel.FindExtensionUnitNode(topology.Get(), control.Get()), c.result);
    EXPECT_EQ(channel.nodeId, c.nodeId);
    EXPECT_EQ(channel.nodeProperty.Property.Set, c.set);
    // Only the probe that found the unit reached it.
    EXPECT_EQ(unit->calls.size(), c.result == 0 ? 1u : 0u);
  }
}

}  // namespace
}  // namespace torvane::emulator
