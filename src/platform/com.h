// Reference-counted interfaces in the COM style and the smart reference that
// owns them. Every reference the system obtains lives in a Ref, so it is
// released exactly once, when its owner goes.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/guid.h"
#include "platform/status.h"

namespace torvane {

class IUnknown {
 public:
  static constexpr const Guid& Iid() { return IID_IUnknown; }
  // On success *out holds a new reference to the interface iid; otherwise
  // *out is null and the status is E_NOINTERFACE.
  virtual HRESULT QueryInterface(const Guid& iid, void** out) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static Ref Adopt(T* raw) {
    Ref r;
    r.ptr_ = raw;
    return r;
  }
  // Adds a reference of its own.
  static Ref Share(T* raw) {
    if (raw) raw->AddRef();
    return Adopt(raw);
  }
  Ref(const Ref& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~Ref() { Reset(); }

  void Reset() {
    if (T* p = std::exchange(ptr_, nullptr)) p->Release();
  }
  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // For out parameters: drops the current reference first.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // QueryInterface into another smart reference; its status is returned.
  template <class Q>
  HRESULT As(Ref<Q>* out) const {
    if (!out) return E_POINTER;
    if (!ptr_) {
      out->Reset();
      return E_POINTER;
    }
    return ptr_->QueryInterface(Q::Iid(), out->PutVoid());
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace torvane
