// Camera register access: every access is a set of SEL_REG_ADDRESS with the
// 16-bit address low byte first, then a set or get of one byte of
// SEL_REG_VALUE.
#pragma once

#include <cstdint>

#include "channel/control_channel.h"

namespace torvane {

// The camera registers the system uses.
inline constexpr std::uint16_t REG_SPI_CONTROL = 0x2020;
inline constexpr std::uint16_t REG_SPI_BUSY = 0x2021;
inline constexpr std::uint16_t REG_SPI_TX = 0x2022;
inline constexpr std::uint16_t REG_SPI_RX_START = 0x2023;
inline constexpr std::uint16_t REG_SPI_RX = 0x2024;
inline constexpr std::uint16_t REG_SPI_CS = 0x2025;
inline constexpr std::uint16_t REG_GPIO_A = 0x2041;
inline constexpr std::uint16_t REG_GPIO_B = 0x2043;
inline constexpr std::uint16_t REG_CHIP_ID = 0x20FF;
inline constexpr std::uint16_t REG_PROJECT_CODE = 0x250F;

// The status of the value request; the address request's is not examined.
HRESULT WriteRegister(ControlChannel& channel, std::uint16_t address, std::uint8_t value);
// The status of the value request; *value is meaningful only on success.
HRESULT ReadRegister(ControlChannel& channel, std::uint16_t address, std::uint8_t* value);

}  // namespace torvane
