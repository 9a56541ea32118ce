// 32-bit result statuses in the HRESULT convention: zero or positive is
// success, negative is failure.
#pragma once

#include <cstdint>

namespace torvane {

using HRESULT = std::int32_t;

constexpr HRESULT MakeStatus(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = MakeStatus(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeStatus(0x80004003u);
inline constexpr HRESULT E_FAIL = MakeStatus(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057u);
// HRESULT_FROM_WIN32(ERROR_MORE_DATA): a length query answered with the size.
inline constexpr HRESULT STATUS_MORE_DATA = MakeStatus(0x800700EAu);
// HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND): the node does not serve that property set.
inline constexpr HRESULT STATUS_SET_NOT_FOUND = MakeStatus(0x80070492u);
// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED): the device has gone away.
inline constexpr HRESULT STATUS_DEVICE_NOT_CONNECTED = MakeStatus(0x8007048Fu);
// HRESULT_FROM_WIN32(ERROR_GEN_FAILURE): the device rejected the request.
inline constexpr HRESULT STATUS_GEN_FAILURE = MakeStatus(0x8007001Fu);

constexpr bool Succeeded(HRESULT status) { return status >= 0; }
constexpr bool Failed(HRESULT status) { return status < 0; }

}  // namespace torvane
