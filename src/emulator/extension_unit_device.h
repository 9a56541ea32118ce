// The camera side of the extension unit, at the level of its requests: one
// function per request. The emulated camera implements it; the bindings
// (kernel-streaming property control, driver tunnel, and later others) carry
// requests to it.
#pragma once

#include <cstdint>
#include <span>

#include "platform/status.h"

namespace torvane::emulator {

class ExtensionUnitDevice {
 public:
  virtual ~ExtensionUnitDevice() = default;
  virtual HRESULT SetCur(std::uint32_t selector, std::span<const std::uint8_t> data) = 0;
  // Fills data (its size is the requested length).
  virtual HRESULT GetCur(std::uint32_t selector, std::span<std::uint8_t> data) = 0;
  virtual HRESULT GetLen(std::uint32_t selector, std::uint32_t* length) = 0;
};

}  // namespace torvane::emulator
