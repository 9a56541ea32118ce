#include "channel/control_channel.h"

#include <algorithm>
#include <array>
#include <vector>

#include "channel/selectors.h"

namespace torvane {

namespace {

void PutLe32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
         (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

constexpr std::uint32_t kFlagsSet = KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY;
constexpr std::uint32_t kFlagsGet = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY;

}  // namespace

std::uint32_t TunnelRequestWord(std::uint8_t requestCode, std::uint32_t selector,
                                std::uint32_t length) {
  // GET_LEN always names the 2-byte answer size of the USB Video Class.
  if (requestCode == UVC_GET_LEN) length = 2;
  return (selector << 24) | (static_cast<std::uint32_t>(requestCode) << 16) | (length & 0xFFFF);
}

HRESULT ControlChannel::KsRequest(std::uint32_t selector, std::uint32_t flags, void* data,
                                  std::uint32_t length, std::uint32_t* bytesReturned) {
  nodeProperty.Property.Id = selector;
  nodeProperty.Property.Flags = flags;
  nodeProperty.NodeId = nodeId;
  if (!ksControl) return E_POINTER;
  return ksControl->KsProperty(&nodeProperty, sizeof(KSP_NODE), data, length, bytesReturned);
}

HRESULT ControlChannel::SetSelector(std::uint32_t selector, std::uint32_t length,
                                    const std::uint8_t* data) {
  HRESULT status = 1;
  switch (mode) {
    case ChannelMode::ExtensionUnit: {
      std::uint32_t scratch = 0;
      status = KsRequest(selector, kFlagsSet, const_cast<std::uint8_t*>(data), length, &scratch);
      break;
    }
    case ChannelMode::Tunnel: {
      // A frame holds 68 data bytes; a larger request is refused unsent
      // rather than cut short or read past.
      if (length > kTunnelMaxSetData || (length && !data)) {
        status = E_INVALIDARG;
        break;
      }
      std::array<std::uint8_t, kTunnelSmallFrame> frame{};
      PutLe32(frame.data(), TunnelRequestWord(UVC_SET_CUR, selector, length));
      if (length) std::copy_n(data, length, frame.begin() + 4);
      status = vendorTunnel ? vendorTunnel->Send(TUNNEL_COMMAND_CODE, frame.data(), kTunnelSmallFrame)
                            : E_POINTER;
      break;
    }
    case ChannelMode::None:
      return 1;
  }
  Notify({RequestOp::Set, selector, length,
          data ? std::span<const std::uint8_t>(data, length) : std::span<const std::uint8_t>(),
          false, status});
  return status;
}

HRESULT ControlChannel::GetSelector(std::uint32_t selector, std::uint32_t length,
                                    std::uint8_t* data) {
  HRESULT status = 0;
  bool delivered = false;
  switch (mode) {
    case ChannelMode::ExtensionUnit: {
      std::uint32_t scratch = 0;
      status = KsRequest(selector, kFlagsGet, data, length, &scratch);
      delivered = Succeeded(status);
      break;
    }
    case ChannelMode::Tunnel: {
      if (length > kTunnelMaxGetData || (length && !data)) {
        status = E_INVALIDARG;
        break;
      }
      if (!vendorTunnel) {
        status = E_POINTER;
        break;
      }
      std::vector<std::uint8_t> request(kTunnelLargeFrame, 0);
      PutLe32(request.data(), TunnelRequestWord(UVC_GET_CUR, selector, length));
      // A failed send shows only through the receive that follows.
      vendorTunnel->Send(TUNNEL_COMMAND_CODE, request.data(), kTunnelLargeFrame);
      std::vector<std::uint8_t> reply(kTunnelLargeFrame, 0);
      status = vendorTunnel->Receive(TUNNEL_COMMAND_CODE, reply.data(), kTunnelLargeFrame);
      if (length) std::copy_n(reply.begin(), length, data);
      delivered = true;
      break;
    }
    case ChannelMode::None:
      return 0;
  }
  Notify({RequestOp::Get, selector, length,
          delivered && data ? std::span<const std::uint8_t>(data, length)
                            : std::span<const std::uint8_t>(),
          false, status});
  return status;
}

HRESULT ControlChannel::GetSelectorLength(std::uint32_t selector, std::uint32_t* length) {
  if (!length) return E_POINTER;
  HRESULT status = 0;
  bool written = false;
  switch (mode) {
    case ChannelMode::ExtensionUnit: {
      std::uint32_t returned = 0;
      status = KsRequest(selector, kFlagsGet, nullptr, 0, &returned);
      if (status == STATUS_MORE_DATA) {
        *length = returned;
        written = true;
        status = 0;
      }
      break;
    }
    case ChannelMode::Tunnel: {
      if (!vendorTunnel) {
        status = E_POINTER;
        break;
      }
      std::array<std::uint8_t, kTunnelSmallFrame> frame{};
      PutLe32(frame.data(), TunnelRequestWord(UVC_GET_LEN, selector, 2));
      vendorTunnel->Send(TUNNEL_COMMAND_CODE, frame.data(), kTunnelSmallFrame);
      status = vendorTunnel->Receive(TUNNEL_COMMAND_CODE, frame.data(), kTunnelSmallFrame);
      *length = GetLe32(frame.data());
      written = true;
      break;
    }
    case ChannelMode::None:
      return 0;
  }
  Notify({RequestOp::Length, selector, written ? *length : 0, {}, written, status});
  return status;
}

std::int32_t ControlChannel::FindExtensionUnitNode(IKsTopologyInfo* topology,
                                                   IKsControl* control) {
  ksControl = control;
  if (!topology) return E_POINTER;
  std::uint32_t count = 0;
  const HRESULT numStatus = topology->get_NumNodes(&count);
  if (Failed(numStatus)) return numStatus;
  for (std::uint32_t i = 0; i < count; ++i) {
    Guid type;
    if (Failed(topology->get_NodeType(i, &type)) || !(type == KSNODETYPE_DEV_SPECIFIC)) continue;
    nodeProperty.Property.Set = XU_PROPERTY_SET_A;
    nodeId = i;
    std::array<std::uint8_t, 2> scratch{};
    HRESULT probe = GetSelector(SEL_REG_ADDRESS, 2, scratch.data());
    if (probe == STATUS_SET_NOT_FOUND) {
      nodeProperty.Property.Set = XU_PROPERTY_SET_B;
      probe = GetSelector(SEL_REG_ADDRESS, 2, scratch.data());
    }
    if (probe == 0) return 0;
  }
  return 1;
}

std::int32_t ControlChannel::AttachTunnel(IVendorTunnel* tunnel) {
  vendorTunnel = tunnel;
  return 0;
}

}  // namespace torvane
