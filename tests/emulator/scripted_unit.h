// A small extension unit for the binding tests: each selector holds the
// bytes last set (or preset), length queries answer a preset length, any
// request can be made to fail, and every call is recorded whole.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "emulator/extension_unit_device.h"

namespace torvane::emulator::scripted {

struct UnitCall {
  enum class Op { Set, Get, Len };
  Op op;
  std::uint32_t selector;
  std::vector<std::uint8_t> data;  // Set: bytes received; Get: bytes answered
  std::uint32_t length;            // Get: length asked; Len: length answered

  friend bool operator==(const UnitCall&, const UnitCall&) = default;
};

inline UnitCall SetCall(std::uint32_t selector, std::vector<std::uint8_t> data) {
  const auto length = static_cast<std::uint32_t>(data.size());
  return {UnitCall::Op::Set, selector, std::move(data), length};
}

class ScriptedUnit final : public ExtensionUnitDevice {
 public:
  std::map<std::uint32_t, std::vector<std::uint8_t>> values;
  std::map<std::uint32_t, std::uint32_t> lengths;
  HRESULT setStatus = S_OK;
  HRESULT getStatus = S_OK;
  HRESULT lenStatus = S_OK;
  std::vector<UnitCall> calls;

  HRESULT SetCur(std::uint32_t selector, std::span<const std::uint8_t> data) override {
    calls.push_back(SetCall(selector, {data.begin(), data.end()}));
    if (Succeeded(setStatus)) values[selector].assign(data.begin(), data.end());
    return setStatus;
  }

  // Answers the selector's bytes, zeros beyond them.
  HRESULT GetCur(std::uint32_t selector, std::span<std::uint8_t> data) override {
    const std::vector<std::uint8_t>& value = values[selector];
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = i < value.size() ? value[i] : 0;
    calls.push_back({UnitCall::Op::Get, selector, {data.begin(), data.end()},
                     static_cast<std::uint32_t>(data.size())});
    return getStatus;
  }

  HRESULT GetLen(std::uint32_t selector, std::uint32_t* length) override {
    *length = lengths[selector];
    calls.push_back({UnitCall::Op::Len, selector, {}, *length});
    return lenStatus;
  }
};

}  // namespace torvane::emulator::scripted
