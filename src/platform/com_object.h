// Reference counting for objects that implement the COM-style interfaces
// (emulated devices, system backends). A shared ledger may count every
// reference too, so that tests can see that everything obtained was
// released; it is shared so that objects which outlive their owner still have
// somewhere to count.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/com.h"

namespace torvane {

class RefLedger {
 public:
  void Add() { ++live_; }
  void Remove() { --live_; }
  std::int64_t live() const { return live_; }

 private:
  std::int64_t live_ = 0;
};

// Implements AddRef and Release for every interface of Self at once; Self
// (a final class) supplies QueryInterface and uses Hand to give out
// references. A new object starts with the one reference its creator holds.
// A null ledger is allowed: the object then counts only for itself.
template <class Self, class... Interfaces>
class ComObject : public Interfaces... {
 public:
  std::uint32_t AddRef() override {
    if (ledger_) ledger_->Add();
    return ++refs_;
  }
  std::uint32_t Release() override {
    if (ledger_) ledger_->Remove();
    const std::uint32_t left = --refs_;
    if (left == 0) delete static_cast<Self*>(this);
    return left;
  }

 protected:
  explicit ComObject(std::shared_ptr<RefLedger> ledger = nullptr) : ledger_(std::move(ledger)) {
    if (ledger_) ledger_->Add();
  }
  ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // A new reference to this object's interface I in *out.
  template <class I>
  HRESULT Hand(void** out) {
    I* iface = static_cast<Self*>(this);
    iface->AddRef();
    *out = iface;
    return S_OK;
  }
  static HRESULT NoInterface(void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
  }

  const std::shared_ptr<RefLedger>& ledger() const { return ledger_; }

 private:
  std::uint32_t refs_ = 1;
  std::shared_ptr<RefLedger> ledger_;
};

}  // namespace torvane
