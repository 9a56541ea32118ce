// Faults on the way to a camera, whatever serves it: wrappers around the
// platform interfaces (property control, topology, driver tunnel, capture
// filter, device moniker) that fail requests by a shared FaultPlan. They wrap
// any implementation of those interfaces, emulated or not.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "emulator/com_object.h"
#include "platform/device_enumeration.h"
#include "platform/kernel_streaming.h"

namespace torvane::emulator {

// Fails requests on the way to a device, whatever the binding: the Nth
// request (counted from 1, one per control-channel request), or every
// request from the Nth on (an unplugged camera). 0 disables a rule.
//
// A control-channel request is one KsProperty call, or one tunnel Send
// together with the Receive that follows a GET. Topology queries and binds
// are not requests; they fail once the camera has been unplugged.
struct FaultPlan {
  std::uint32_t failAt = 0;
  std::uint32_t unplugFrom = 0;
  std::uint32_t requestsSeen = 0;
  // Whether the next request fails; counts it.
  bool NextFails();
  // Counts the next request: S_OK when it goes through, otherwise the
  // status it fails with (STATUS_DEVICE_NOT_CONNECTED once unplugged,
  // STATUS_GEN_FAILURE for the single failure).
  HRESULT NextRequest();
  // Whether the unplug point has been reached (the Nth request was made).
  bool Unplugged() const;
};

// Every KsProperty call is one request; a failed one returns without
// calling the wrapped control and writes nothing.
class FaultingKsControl final : public ComObject<FaultingKsControl, IKsControl> {
 public:
  static Ref<IKsControl> Create(Ref<IKsControl> inner, std::shared_ptr<FaultPlan> plan,
                                std::shared_ptr<RefLedger> ledger = nullptr);

  HRESULT QueryInterface(const Guid& iid, void** out) override;
  HRESULT KsProperty(const KSP_NODE* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t* bytesReturned) override;

 private:
  friend class ComObject<FaultingKsControl, IKsControl>;
  FaultingKsControl(Ref<IKsControl> inner, std::shared_ptr<FaultPlan> plan,
                    std::shared_ptr<RefLedger> ledger);
  ~FaultingKsControl() = default;

  Ref<IKsControl> inner_;
  std::shared_ptr<FaultPlan> plan_;
};

// Topology queries are not counted; once unplugged they fail.
class FaultingTopology final : public ComObject<FaultingTopology, IKsTopologyInfo> {
 public:
  static Ref<IKsTopologyInfo> Create(Ref<IKsTopologyInfo> inner, std::shared_ptr<FaultPlan> plan,
                                     std::shared_ptr<RefLedger> ledger = nullptr);

  HRESULT QueryInterface(const Guid& iid, void** out) override;
  HRESULT get_NumNodes(std::uint32_t* count) override;
  HRESULT get_NodeType(std::uint32_t nodeIndex, Guid* nodeType) override;

 private:
  friend class ComObject<FaultingTopology, IKsTopologyInfo>;
  FaultingTopology(Ref<IKsTopologyInfo> inner, std::shared_ptr<FaultPlan> plan,
                   std::shared_ptr<RefLedger> ledger);
  ~FaultingTopology() = default;

  Ref<IKsTopologyInfo> inner_;
  std::shared_ptr<FaultPlan> plan_;
};

// Every Send is one request. When the Send of a GET fails, the Receive that
// follows belongs to the same request: it fails with the same status and
// leaves the buffer alone.
class FaultingTunnel final : public ComObject<FaultingTunnel, IVendorTunnel> {
 public:
  static Ref<IVendorTunnel> Create(Ref<IVendorTunnel> inner, std::shared_ptr<FaultPlan> plan,
                                   std::shared_ptr<RefLedger> ledger = nullptr);

  HRESULT QueryInterface(const Guid& iid, void** out) override;
  HRESULT Reserved() override;
  HRESULT Receive(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) override;
  HRESULT Send(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) override;

 private:
  friend class ComObject<FaultingTunnel, IVendorTunnel>;
  FaultingTunnel(Ref<IVendorTunnel> inner, std::shared_ptr<FaultPlan> plan,
                 std::shared_ptr<RefLedger> ledger);
  ~FaultingTunnel() = default;

  Ref<IVendorTunnel> inner_;
  std::shared_ptr<FaultPlan> plan_;
  std::optional<HRESULT> failedReply_;
};

// A capture filter whose extension-unit interfaces come wrapped. Each
// wrapper is made once and kept for the filter's life, because the control
// channel borrows the IKsControl pointer after releasing its reference.
class FaultingFilter final : public ComObject<FaultingFilter, IBaseFilter> {
 public:
  static Ref<IBaseFilter> Create(Ref<IBaseFilter> inner, std::shared_ptr<FaultPlan> plan,
                                 std::shared_ptr<RefLedger> ledger = nullptr);

  // IBaseFilter and IUnknown are this object; IKsControl, IKsTopologyInfo
  // and IVendorTunnel the wrapped interfaces the inner filter offers;
  // nothing else.
  HRESULT QueryInterface(const Guid& iid, void** out) override;

 private:
  friend class ComObject<FaultingFilter, IBaseFilter>;
  FaultingFilter(Ref<IBaseFilter> inner, std::shared_ptr<FaultPlan> plan,
                 std::shared_ptr<RefLedger> ledger);
  ~FaultingFilter() = default;

  Ref<IBaseFilter> inner_;
  Ref<IKsControl> control_;
  Ref<IKsTopologyInfo> topology_;
  Ref<IVendorTunnel> tunnel_;
};

// A device moniker that binds to a FaultingFilter, and fails to bind once
// the camera has been unplugged.
class FaultingMoniker final : public ComObject<FaultingMoniker, IMoniker> {
 public:
  static Ref<IMoniker> Create(Ref<IMoniker> inner, std::shared_ptr<FaultPlan> plan,
                              std::shared_ptr<RefLedger> ledger = nullptr);

  HRESULT QueryInterface(const Guid& iid, void** out) override;
  HRESULT BindToObject(const Guid& iid, void** out) override;
  std::string FriendlyName() override;

 private:
  friend class ComObject<FaultingMoniker, IMoniker>;
  FaultingMoniker(Ref<IMoniker> inner, std::shared_ptr<FaultPlan> plan,
                  std::shared_ptr<RefLedger> ledger);
  ~FaultingMoniker() = default;

  Ref<IMoniker> inner_;
  std::shared_ptr<FaultPlan> plan_;
};

}  // namespace torvane::emulator
