// A class enumerator over a fixed list of devices, whose monikers are made
// on demand; shared by every device backend.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

#include "platform/com_object.h"
#include "platform/device_enumeration.h"

namespace torvane {

class MonikerListEnumerator final : public ComObject<MonikerListEnumerator, IEnumMoniker> {
 public:
  using MonikerFactory = std::function<Ref<IMoniker>(std::size_t index)>;

  // A new enumerator over count devices; make(i) gives device i's moniker.
  static Ref<IEnumMoniker> Create(std::size_t count, MonikerFactory make,
                                  std::shared_ptr<RefLedger> ledger = nullptr) {
    return Ref<IEnumMoniker>::Adopt(
        new MonikerListEnumerator(count, std::move(make), std::move(ledger)));
  }

  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown) return Hand<IEnumMoniker>(out);
    return NoInterface(out);
  }

  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

  HRESULT Next(Ref<IMoniker>* out) override {
    if (!out) return E_POINTER;
    out->Reset();
    if (next_ >= count_) return S_FALSE;
    *out = make_(next_++);
    return S_OK;
  }

 private:
  friend class ComObject<MonikerListEnumerator, IEnumMoniker>;
  MonikerListEnumerator(std::size_t count, MonikerFactory make, std::shared_ptr<RefLedger> ledger)
      : ComObject(std::move(ledger)), count_(count), make_(std::move(make)) {}
  ~MonikerListEnumerator() = default;

  std::size_t count_;
  MonikerFactory make_;
  std::size_t next_ = 0;
};

// The system device enumerator of a backend: the video input category lists
// whatever list() finds at the time of asking (a count and the factory of
// its monikers); an empty list, like any other category, gives S_FALSE and no
// enumerator, as the system's own enumerator does.
class DeviceListEnum final : public ComObject<DeviceListEnum, ICreateDevEnum> {
 public:
  struct Listing {
    std::size_t count = 0;
    MonikerListEnumerator::MonikerFactory make;
  };
  using Lister = std::function<Listing()>;

  static Ref<ICreateDevEnum> Create(Lister list, std::shared_ptr<RefLedger> ledger = nullptr) {
    return Ref<ICreateDevEnum>::Adopt(new DeviceListEnum(std::move(list), std::move(ledger)));
  }

  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ICreateDevEnum) return Hand<ICreateDevEnum>(out);
    return NoInterface(out);
  }

  HRESULT CreateClassEnumerator(const Guid& category, Ref<IEnumMoniker>* out,
                                std::uint32_t /*flags*/) override {
    if (!out) return E_POINTER;
    out->Reset();
    if (!(category == CLSID_VideoInputDeviceCategory)) return S_FALSE;
    Listing listing = list_();
    if (listing.count == 0) return S_FALSE;
    *out = MonikerListEnumerator::Create(listing.count, std::move(listing.make), ledger());
    return S_OK;
  }

 private:
  friend class ComObject<DeviceListEnum, ICreateDevEnum>;
  DeviceListEnum(Lister list, std::shared_ptr<RefLedger> ledger)
      : ComObject(std::move(ledger)), list_(std::move(list)) {}
  ~DeviceListEnum() = default;

  Lister list_;
};

}  // namespace torvane
