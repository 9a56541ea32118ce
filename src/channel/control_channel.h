// The one road to the camera: set, get and size the extension unit's
// selectors, through the kernel-streaming property binding or the camera
// driver's tunnel.
#pragma once

#include <cstdint>
#include <span>

#include "channel/chip_family.h"
#include "platform/kernel_streaming.h"

namespace torvane {

enum class ChannelMode : std::int32_t { Tunnel = 0, ExtensionUnit = 1, None = 2 };

enum class RequestOp { Set, Get, Length };

// One request as the channel made it: for Set the bytes sent, for Get the
// bytes received (null when nothing was), for Length the length reported.
struct RequestRecord {
  RequestOp op;
  std::uint32_t selector;
  std::uint32_t length;
  std::span<const std::uint8_t> data;
  bool lengthWritten;
  HRESULT status;
};

// Sees every request after it has been made (traces, counters).
class RequestObserver {
 public:
  virtual ~RequestObserver() = default;
  virtual void OnRequest(const RequestRecord& record) = 0;
};

// Tunnel frame sizes: SET_CUR and GET_LEN travel in a 72-byte frame, GET_CUR
// requests and replies in 4096-byte buffers.
inline constexpr std::uint32_t kTunnelSmallFrame = 72;
inline constexpr std::uint32_t kTunnelLargeFrame = 4096;
inline constexpr std::uint32_t kTunnelMaxSetData = kTunnelSmallFrame - 4;
inline constexpr std::uint32_t kTunnelMaxGetData = kTunnelLargeFrame;

std::uint32_t TunnelRequestWord(std::uint8_t requestCode, std::uint32_t selector,
                                std::uint32_t length);

class ControlChannel {
 public:
  HRESULT SetSelector(std::uint32_t selector, std::uint32_t length, const std::uint8_t* data);
  HRESULT GetSelector(std::uint32_t selector, std::uint32_t length, std::uint8_t* data);
  HRESULT GetSelectorLength(std::uint32_t selector, std::uint32_t* length);

  // 0 found, 1 not found, or the negative status of get_NumNodes.
  std::int32_t FindExtensionUnitNode(IKsTopologyInfo* topology, IKsControl* control);
  std::int32_t AttachTunnel(IVendorTunnel* tunnel);

  void SetObserver(RequestObserver* observer) { observer_ = observer; }

  // Written directly by discovery, which owns the binding.
  std::uint32_t nodeId = 0;
  IKsControl* ksControl = nullptr;      // borrowed; the capture filter keeps it alive
  IVendorTunnel* vendorTunnel = nullptr;  // borrowed from the flash engine's reference
  KSP_NODE nodeProperty{};
  ChannelMode mode = ChannelMode::None;
  ChipFamily chipFamily = FamilyUnknown;

 private:
  HRESULT KsRequest(std::uint32_t selector, std::uint32_t flags, void* data, std::uint32_t length,
                    std::uint32_t* bytesReturned);
  void Notify(const RequestRecord& record) const {
    if (observer_) observer_->OnRequest(record);
  }

  RequestObserver* observer_ = nullptr;
};

}  // namespace torvane
