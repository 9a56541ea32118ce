// The kernel-streaming property request and the interfaces that carry the
// extension-unit requests: the property control, the filter topology and the
// camera driver's private tunnel.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace torvane {

struct KSPROPERTY {
  Guid Set;
  std::uint32_t Id = 0;
  std::uint32_t Flags = 0;
};

struct KSP_NODE {
  KSPROPERTY Property;
  std::uint32_t NodeId = 0;
  std::uint32_t Reserved = 0;
};
static_assert(sizeof(KSPROPERTY) == 24);
static_assert(sizeof(KSP_NODE) == 32);

inline constexpr std::uint32_t KSPROPERTY_TYPE_GET = 0x00000001;
inline constexpr std::uint32_t KSPROPERTY_TYPE_SET = 0x00000002;
inline constexpr std::uint32_t KSPROPERTY_TYPE_TOPOLOGY = 0x10000000;

class IKsControl : public IUnknown {
 public:
  static constexpr const Guid& Iid() { return IID_IKsControl; }
  // Performs the request that the property header describes. A GET writes
  // the answer into data; a GET with null data and length 0 answers
  // STATUS_MORE_DATA with the property's size in *bytesReturned.
  virtual HRESULT KsProperty(const KSP_NODE* property, std::uint32_t propertyLength, void* data,
                             std::uint32_t dataLength, std::uint32_t* bytesReturned) = 0;

 protected:
  ~IKsControl() = default;
};

class IKsTopologyInfo : public IUnknown {
 public:
  static constexpr const Guid& Iid() { return IID_IKsTopologyInfo; }
  virtual HRESULT get_NumNodes(std::uint32_t* count) = 0;
  virtual HRESULT get_NodeType(std::uint32_t nodeIndex, Guid* nodeType) = 0;

 protected:
  ~IKsTopologyInfo() = default;
};

inline constexpr std::uint32_t TUNNEL_COMMAND_CODE = 35;

// The camera driver's private interface. Send takes a request frame; Receive
// writes the reply to the last GET request sent into the buffer, from offset
// 0. The buffer sizes travel with the calls so that no side reads or writes
// past a frame.
class IVendorTunnel : public IUnknown {
 public:
  static constexpr const Guid& Iid() { return IID_IVendorTunnel; }
  virtual HRESULT Reserved() = 0;
  virtual HRESULT Receive(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) = 0;
  virtual HRESULT Send(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) = 0;

 protected:
  ~IVendorTunnel() = default;
};

// A capture filter. The extension-unit interfaces are reached from it by
// QueryInterface.
class IBaseFilter : public IUnknown {
 public:
  static constexpr const Guid& Iid() { return IID_IBaseFilter; }

 protected:
  ~IBaseFilter() = default;
};

}  // namespace torvane
