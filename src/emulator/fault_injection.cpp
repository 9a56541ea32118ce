#include "emulator/fault_injection.h"

#include <utility>

#include "channel/selectors.h"

namespace torvane::emulator {

bool FaultPlan::NextFails() { return Failed(NextRequest()); }

HRESULT FaultPlan::NextRequest() {
  ++requestsSeen;
  if (Unplugged()) return STATUS_DEVICE_NOT_CONNECTED;
  if (failAt != 0 && requestsSeen == failAt) return STATUS_GEN_FAILURE;
  return S_OK;
}

bool FaultPlan::Unplugged() const { return unplugFrom != 0 && requestsSeen >= unplugFrom; }

namespace {

bool IsUnplugged(const std::shared_ptr<FaultPlan>& plan) { return plan && plan->Unplugged(); }

HRESULT CountRequest(const std::shared_ptr<FaultPlan>& plan) {
  return plan ? plan->NextRequest() : S_OK;
}

}  // namespace

// --- FaultingKsControl ---

FaultingKsControl::FaultingKsControl(Ref<IKsControl> inner, std::shared_ptr<FaultPlan> plan,
                                     std::shared_ptr<RefLedger> ledger)
    : ComObject(std::move(ledger)), inner_(std::move(inner)), plan_(std::move(plan)) {}

Ref<IKsControl> FaultingKsControl::Create(Ref<IKsControl> inner, std::shared_ptr<FaultPlan> plan,
                                          std::shared_ptr<RefLedger> ledger) {
  if (!inner) return nullptr;
  return Ref<IKsControl>::Adopt(
      new FaultingKsControl(std::move(inner), std::move(plan), std::move(ledger)));
}

HRESULT FaultingKsControl::QueryInterface(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IKsControl) return Hand<IKsControl>(out);
  return NoInterface(out);
}

HRESULT FaultingKsControl::KsProperty(const KSP_NODE* property, std::uint32_t propertyLength,
                                      void* data, std::uint32_t dataLength,
                                      std::uint32_t* bytesReturned) {
  const HRESULT fault = CountRequest(plan_);
  if (Failed(fault)) return fault;
  return inner_->KsProperty(property, propertyLength, data, dataLength, bytesReturned);
}

// --- FaultingTopology ---

FaultingTopology::FaultingTopology(Ref<IKsTopologyInfo> inner, std::shared_ptr<FaultPlan> plan,
                                   std::shared_ptr<RefLedger> ledger)
    : ComObject(std::move(ledger)), inner_(std::move(inner)), plan_(std::move(plan)) {}

Ref<IKsTopologyInfo> FaultingTopology::Create(Ref<IKsTopologyInfo> inner,
                                              std::shared_ptr<FaultPlan> plan,
                                              std::shared_ptr<RefLedger> ledger) {
  if (!inner) return nullptr;
  return Ref<IKsTopologyInfo>::Adopt(
      new FaultingTopology(std::move(inner), std::move(plan), std::move(ledger)));
}

HRESULT FaultingTopology::QueryInterface(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IKsTopologyInfo) return Hand<IKsTopologyInfo>(out);
  return NoInterface(out);
}

HRESULT FaultingTopology::get_NumNodes(std::uint32_t* count) {
  if (IsUnplugged(plan_)) return STATUS_DEVICE_NOT_CONNECTED;
  return inner_->get_NumNodes(count);
}

HRESULT FaultingTopology::get_NodeType(std::uint32_t nodeIndex, Guid* nodeType) {
  if (IsUnplugged(plan_)) return STATUS_DEVICE_NOT_CONNECTED;
  return inner_->get_NodeType(nodeIndex, nodeType);
}

// --- FaultingTunnel ---

FaultingTunnel::FaultingTunnel(Ref<IVendorTunnel> inner, std::shared_ptr<FaultPlan> plan,
                               std::shared_ptr<RefLedger> ledger)
    : ComObject(std::move(ledger)), inner_(std::move(inner)), plan_(std::move(plan)) {}

Ref<IVendorTunnel> FaultingTunnel::Create(Ref<IVendorTunnel> inner,
                                          std::shared_ptr<FaultPlan> plan,
                                          std::shared_ptr<RefLedger> ledger) {
  if (!inner) return nullptr;
  return Ref<IVendorTunnel>::Adopt(
      new FaultingTunnel(std::move(inner), std::move(plan), std::move(ledger)));
}

HRESULT FaultingTunnel::QueryInterface(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IVendorTunnel) return Hand<IVendorTunnel>(out);
  return NoInterface(out);
}

HRESULT FaultingTunnel::Reserved() { return inner_->Reserved(); }

HRESULT FaultingTunnel::Send(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) {
  failedReply_.reset();
  const HRESULT fault = CountRequest(plan_);
  if (Failed(fault)) {
    // Byte 2 of the request word is the request code.
    const bool isGet =
        buffer && bufferSize >= 4 && (buffer[2] == UVC_GET_CUR || buffer[2] == UVC_GET_LEN);
    if (isGet) failedReply_ = fault;
    return fault;
  }
  return inner_->Send(code, buffer, bufferSize);
}

HRESULT FaultingTunnel::Receive(std::uint32_t code, std::uint8_t* buffer,
                                std::uint32_t bufferSize) {
  if (failedReply_) {
    const HRESULT status = *failedReply_;
    failedReply_.reset();
    return status;
  }
  if (IsUnplugged(plan_)) return STATUS_DEVICE_NOT_CONNECTED;
  return inner_->Receive(code, buffer, bufferSize);
}

// --- FaultingFilter ---

FaultingFilter::FaultingFilter(Ref<IBaseFilter> inner, std::shared_ptr<FaultPlan> plan,
                               std::shared_ptr<RefLedger> ledger)
    : ComObject(ledger), inner_(std::move(inner)) {
  Ref<IKsControl> control;
  if (Succeeded(inner_.As(&control))) control_ = FaultingKsControl::Create(control, plan, ledger);
  Ref<IKsTopologyInfo> topology;
  if (Succeeded(inner_.As(&topology))) topology_ = FaultingTopology::Create(topology, plan, ledger);
  Ref<IVendorTunnel> tunnel;
  if (Succeeded(inner_.As(&tunnel))) tunnel_ = FaultingTunnel::Create(tunnel, plan, ledger);
}

Ref<IBaseFilter> FaultingFilter::Create(Ref<IBaseFilter> inner, std::shared_ptr<FaultPlan> plan,
                                        std::shared_ptr<RefLedger> ledger) {
  if (!inner) return nullptr;
  return Ref<IBaseFilter>::Adopt(
      new FaultingFilter(std::move(inner), std::move(plan), std::move(ledger)));
}

namespace {

template <class I>
HRESULT HandWrapped(const Ref<I>& wrapped, void** out) {
  if (!wrapped) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  wrapped->AddRef();
  *out = wrapped.Get();
  return S_OK;
}

}  // namespace

HRESULT FaultingFilter::QueryInterface(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IBaseFilter) return Hand<IBaseFilter>(out);
  if (iid == IID_IKsControl) return HandWrapped(control_, out);
  if (iid == IID_IKsTopologyInfo) return HandWrapped(topology_, out);
  if (iid == IID_IVendorTunnel) return HandWrapped(tunnel_, out);
  return NoInterface(out);
}

// --- FaultingMoniker ---

FaultingMoniker::FaultingMoniker(Ref<IMoniker> inner, std::shared_ptr<FaultPlan> plan,
                                 std::shared_ptr<RefLedger> ledger)
    : ComObject(std::move(ledger)), inner_(std::move(inner)), plan_(std::move(plan)) {}

Ref<IMoniker> FaultingMoniker::Create(Ref<IMoniker> inner, std::shared_ptr<FaultPlan> plan,
                                      std::shared_ptr<RefLedger> ledger) {
  if (!inner) return nullptr;
  return Ref<IMoniker>::Adopt(
      new FaultingMoniker(std::move(inner), std::move(plan), std::move(ledger)));
}

HRESULT FaultingMoniker::QueryInterface(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown) return Hand<IMoniker>(out);
  return NoInterface(out);
}

HRESULT FaultingMoniker::BindToObject(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsUnplugged(plan_)) return STATUS_DEVICE_NOT_CONNECTED;
  Ref<IBaseFilter> filter;
  const HRESULT status = inner_->BindToObject(IID_IBaseFilter, filter.PutVoid());
  if (Failed(status)) return status;
  if (!filter) return E_FAIL;
  const Ref<IBaseFilter> wrapped = FaultingFilter::Create(std::move(filter), plan_, ledger());
  return wrapped->QueryInterface(iid, out);
}

std::string FaultingMoniker::FriendlyName() { return inner_->FriendlyName(); }

}  // namespace torvane::emulator
