// Video capture device enumeration: a system device enumerator hands out a
// class enumerator over the devices of a category, in the system's order;
// each device moniker binds to its capture filter.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com.h"
#include "platform/kernel_streaming.h"

namespace torvane {

class IMoniker : public IUnknown {
 public:
  // The device's capture filter, or a negative status when binding fails.
  virtual HRESULT BindToObject(const Guid& iid, void** out) = 0;
  // A name for people (the device's friendly name), or empty.
  virtual std::string FriendlyName() = 0;

 protected:
  ~IMoniker() = default;
};

class IEnumMoniker : public IUnknown {
 public:
  virtual HRESULT Reset() = 0;
  // S_OK with one moniker in *out, S_FALSE at the end.
  virtual HRESULT Next(Ref<IMoniker>* out) = 0;

 protected:
  ~IEnumMoniker() = default;
};

class ICreateDevEnum : public IUnknown {
 public:
  static constexpr const Guid& Iid() { return IID_ICreateDevEnum; }
  // S_OK with an enumerator, S_FALSE (no enumerator) for an empty category.
  virtual HRESULT CreateClassEnumerator(const Guid& category, Ref<IEnumMoniker>* out,
                                        std::uint32_t flags) = 0;

 protected:
  ~ICreateDevEnum() = default;
};

// What the system offers for device discovery: the apartment set-up and the
// system device enumerator. One implementation per backend (the operating
// system's devices, or the emulated ones).
class DeviceEnvironment {
 public:
  virtual ~DeviceEnvironment() = default;
  // Initialises the calling thread's apartment where the system has one.
  virtual HRESULT CoInitialize() = 0;
  virtual HRESULT CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) = 0;
};

}  // namespace torvane
