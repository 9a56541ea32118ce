#include "emulator/bindings.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "channel/control_channel.h"
#include "channel/selectors.h"

namespace torvane::emulator {

namespace {

// E_NOTIMPL: the tunnel's first method does nothing the updater needs.
constexpr HRESULT kNotImplemented = MakeStatus(0x80004001u);

// Ordinary node types of a USB video camera's topology.
constexpr Guid KSNODETYPE_VIDEO_CAMERA_TERMINAL{
    0xDFF229E6, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr Guid KSNODETYPE_VIDEO_PROCESSING{
    0xDFF229E5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr Guid KSNODETYPE_VIDEO_SELECTOR{
    0xDFF229E4, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr Guid KSNODETYPE_VIDEO_STREAMING{
    0xDFF229E3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr std::array<Guid, 4> kOrdinaryNodes = {KSNODETYPE_VIDEO_CAMERA_TERMINAL,
                                                KSNODETYPE_VIDEO_PROCESSING,
                                                KSNODETYPE_VIDEO_SELECTOR,
                                                KSNODETYPE_VIDEO_STREAMING};

constexpr std::uint32_t kFlagsGet = KSPROPERTY_TYPE_TOPOLOGY | KSPROPERTY_TYPE_GET;
constexpr std::uint32_t kFlagsSet = KSPROPERTY_TYPE_TOPOLOGY | KSPROPERTY_TYPE_SET;

std::uint32_t GetLe32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
         (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

bool OffersProperties(BindingKind kind) {
  return kind == BindingKind::ExtensionUnit || kind == BindingKind::ExtensionUnitSetB ||
         kind == BindingKind::Both;
}

bool OffersTunnel(BindingKind kind) {
  return kind == BindingKind::Tunnel || kind == BindingKind::Both;
}

// The reply to the last GET sent through the tunnel, waiting for Receive.
struct TunnelReply {
  HRESULT status = S_OK;
  std::vector<std::uint8_t> bytes;  // nothing when the request failed
};

class CaptureFilter final : public ComObject<CaptureFilter, IBaseFilter, IKsControl,
                                             IKsTopologyInfo, IVendorTunnel> {
 public:
  CaptureFilter(CaptureFilterConfig config, std::shared_ptr<RefLedger> ledger)
      : ComObject(std::move(ledger)), config_(std::move(config)) {}

  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IBaseFilter) return Hand<IBaseFilter>(out);
    if (OffersProperties(config_.binding)) {
      if (iid == IID_IKsControl) return Hand<IKsControl>(out);
      if (iid == IID_IKsTopologyInfo) return Hand<IKsTopologyInfo>(out);
    }
    if (OffersTunnel(config_.binding) && iid == IID_IVendorTunnel) return Hand<IVendorTunnel>(out);
    return NoInterface(out);
  }

  // IKsTopologyInfo

  HRESULT get_NumNodes(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = config_.nodeCount;
    return S_OK;
  }

  HRESULT get_NodeType(std::uint32_t nodeIndex, Guid* nodeType) override {
    if (!nodeType) return E_POINTER;
    if (nodeIndex >= config_.nodeCount) return E_INVALIDARG;
    *nodeType = nodeIndex == config_.extensionUnitNode
                    ? KSNODETYPE_DEV_SPECIFIC
                    : kOrdinaryNodes[nodeIndex % kOrdinaryNodes.size()];
    return S_OK;
  }

  // IKsControl

  HRESULT KsProperty(const KSP_NODE* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t* bytesReturned) override {
    if (!property || !bytesReturned) return E_POINTER;
    if (propertyLength < sizeof(KSP_NODE)) return E_INVALIDARG;
    const std::uint32_t flags = property->Property.Flags;
    if (flags != kFlagsGet && flags != kFlagsSet) return E_INVALIDARG;
    if (!data && dataLength != 0) return E_POINTER;
    *bytesReturned = 0;
    // A node without the set, another set on the unit's node and a device
    // that is not our camera all look alike to the caller.
    if (!config_.unit || config_.extensionUnitNode >= config_.nodeCount ||
        property->NodeId != config_.extensionUnitNode ||
        !(property->Property.Set == UnitPropertySet(config_.binding))) {
      return STATUS_SET_NOT_FOUND;
    }
    ExtensionUnitDevice& unit = *config_.unit;
    const std::uint32_t selector = property->Property.Id;
    auto* bytes = static_cast<std::uint8_t*>(data);
    if (flags == kFlagsSet) return unit.SetCur(selector, std::span<const std::uint8_t>(bytes, dataLength));
    if (!data) {
      std::uint32_t length = 0;
      const HRESULT status = unit.GetLen(selector, &length);
      if (Failed(status)) return status;
      *bytesReturned = length;
      return STATUS_MORE_DATA;
    }
    const HRESULT status = unit.GetCur(selector, std::span<std::uint8_t>(bytes, dataLength));
    if (Succeeded(status)) *bytesReturned = dataLength;
    return status;
  }

  // IVendorTunnel

  HRESULT Reserved() override { return kNotImplemented; }

  HRESULT Send(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) override {
    // A reply belongs to the Send just before its Receive; whatever this
    // Send is, an older reply must not be delivered in its place.
    reply_.reset();
    if (code != TUNNEL_COMMAND_CODE) return E_INVALIDARG;
    if (!buffer) return E_POINTER;
    if (bufferSize < 4) return E_INVALIDARG;
    const std::uint32_t word = GetLe32(buffer);
    const std::uint32_t length = word & 0xFFFF;
    const auto request = static_cast<std::uint8_t>(word >> 16);
    const std::uint32_t selector = word >> 24;
    switch (request) {
      case UVC_SET_CUR:
        if (length > kTunnelMaxSetData || length > bufferSize - 4) return E_INVALIDARG;
        if (!config_.unit) return STATUS_SET_NOT_FOUND;
        return config_.unit->SetCur(selector, std::span<const std::uint8_t>(buffer + 4, length));
      case UVC_GET_CUR: {
        if (length > kTunnelMaxGetData) return E_INVALIDARG;
        TunnelReply reply;
        if (!config_.unit) {
          reply.status = STATUS_SET_NOT_FOUND;
        } else {
          reply.bytes.assign(length, 0);
          reply.status = config_.unit->GetCur(selector, reply.bytes);
        }
        Keep(std::move(reply));
        return S_OK;
      }
      case UVC_GET_LEN: {
        TunnelReply reply;
        std::uint32_t answer = 0;
        reply.status = config_.unit ? config_.unit->GetLen(selector, &answer) : STATUS_SET_NOT_FOUND;
        reply.bytes = {static_cast<std::uint8_t>(answer), static_cast<std::uint8_t>(answer >> 8),
                       static_cast<std::uint8_t>(answer >> 16),
                       static_cast<std::uint8_t>(answer >> 24)};
        Keep(std::move(reply));
        return S_OK;
      }
      default:
        return E_INVALIDARG;
    }
  }

  HRESULT Receive(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) override {
    if (code != TUNNEL_COMMAND_CODE) return E_INVALIDARG;
    if (!buffer) return E_POINTER;
    if (!reply_) return E_FAIL;
    const TunnelReply reply = std::move(*reply_);
    reply_.reset();
    if (Failed(reply.status)) return reply.status;
    // A reply cut to fit would pass for a whole one.
    if (reply.bytes.size() > bufferSize) return E_INVALIDARG;
    std::copy(reply.bytes.begin(), reply.bytes.end(), buffer);
    return reply.status;
  }

 private:
  friend class ComObject<CaptureFilter, IBaseFilter, IKsControl, IKsTopologyInfo, IVendorTunnel>;
  ~CaptureFilter() = default;

  void Keep(TunnelReply reply) {
    if (Failed(reply.status)) reply.bytes.clear();
    reply_ = std::move(reply);
  }

  CaptureFilterConfig config_;
  std::optional<TunnelReply> reply_;
};

}  // namespace

const Guid& UnitPropertySet(BindingKind binding) {
  return binding == BindingKind::ExtensionUnitSetB ? XU_PROPERTY_SET_B : XU_PROPERTY_SET_A;
}

Ref<IBaseFilter> CreateCaptureFilter(CaptureFilterConfig config,
                                     std::shared_ptr<RefLedger> ledger) {
  return Ref<IBaseFilter>::Adopt(new CaptureFilter(std::move(config), std::move(ledger)));
}

}  // namespace torvane::emulator
