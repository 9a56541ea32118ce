// The camera extension unit's control selectors.
#pragma once

#include <cstdint>

namespace torvane {

inline constexpr std::uint32_t SEL_REG_ADDRESS = 2;
inline constexpr std::uint32_t SEL_REG_VALUE = 3;
inline constexpr std::uint32_t SEL_OPCODE_INDEX = 7;
inline constexpr std::uint32_t SEL_OPCODE_VALUE = 8;
inline constexpr std::uint32_t SEL_DOWNLOAD_MODE = 9;
inline constexpr std::uint32_t SEL_DOWNLOAD_BLOCK = 10;
inline constexpr std::uint32_t SEL_DOWNLOAD_CHECKSUM = 11;
inline constexpr std::uint32_t SEL_PROGRAM_ADDRESS = 13;
inline constexpr std::uint32_t SEL_FLASH_ADDRESS = 14;
inline constexpr std::uint32_t SEL_FLASH_DATA = 15;
inline constexpr std::uint32_t SEL_OPCODE_FLAGS = 16;
inline constexpr std::uint32_t SEL_FAMILY_AX_PREPARE = 20;

// USB Video Class request codes, as they appear in tunnel frames.
inline constexpr std::uint8_t UVC_SET_CUR = 0x01;
inline constexpr std::uint8_t UVC_GET_CUR = 0x81;
inline constexpr std::uint8_t UVC_GET_LEN = 0x85;

}  // namespace torvane
