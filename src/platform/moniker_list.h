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

}  // namespace torvane
