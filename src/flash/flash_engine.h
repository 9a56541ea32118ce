// The camera's register bridge to its serial flash and the hand-built
// serial-flash commands sent through it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "channel/control_channel.h"
#include "channel/register_access.h"
#include "platform/kernel_streaming.h"

namespace torvane {

using FlashKind = std::uint8_t;
using FlashTypeCode = std::uint8_t;

// Bounds on the two busy loops. A byte transfer ends within microseconds,
// so a thousand busy reads (about a second at a millisecond per USB request)
// means the bridge is dead. A status poll cycle costs about fourteen
// requests; 2,000 cycles (roughly half a minute on a camera) outlast any
// erase of the parts in use.
inline constexpr std::uint32_t kSpiIdleReadLimit = 1000;
inline constexpr std::uint32_t kFlashStatusPollLimit = 2000;

struct FlashWriteRecord {
  std::array<std::uint8_t, 3> address{};  // most significant byte first
  std::array<std::uint8_t, 33> data{};
  std::uint16_t count = 0;
};

class FlashEngine {
 public:
  FlashEngine() = default;
  FlashEngine(const FlashEngine&) = delete;
  FlashEngine& operator=(const FlashEngine&) = delete;

  HRESULT WriteRegister(std::uint16_t address, std::uint8_t value);
  HRESULT ReadRegister(std::uint16_t address, std::uint8_t* value);

  // Reads REG_SPI_BUSY until it reads 0. False when the bound expired (the
  // expiry is also latched, see TimedOut).
  bool WaitSpiIdle();
  void SendWriteDisable();
  // 1 when leaving download mode succeeded, else 0; 0 without a channel.
  int CycleDownloadMode();
  // Always 1.
  int ReadFlashId(std::uint8_t command, std::uint8_t out[3]);
  HRESULT WriteEnable();
  HRESULT EnableWriteStatus();
  // The status byte last read; bit 0 clear unless the bound expired.
  std::uint8_t PollFlashStatus();
  // 1 on success, 0 when a write that must succeed failed or a busy bound
  // expired.
  int ProgramRecord(const FlashWriteRecord& record);
  void WriteStatusRegister(std::uint8_t value, bool useEnableWriteStatus);

  // Whether a busy bound has expired since the last ClearTimeout. Once it
  // has, later waits give up at once instead of spinning again on a camera
  // that has stopped answering; the requests themselves still go out.
  bool TimedOut() const { return timedOut_; }
  void ClearTimeout() { timedOut_ = false; }

  std::unique_ptr<ControlChannel> channel;
  Ref<IBaseFilter> filter;
  Ref<IVendorTunnel> tunnel;
  // Keeps the channel's property control alive for as long as it is used.
  Ref<IKsControl> control;
  FlashKind flashKind = 0;
  // Written to REG_SPI_CS to assert chip select; 2 minus it releases.
  std::uint8_t chipSelectLevel = 0;

 private:
  HRESULT Assert() { return WriteRegister(REG_SPI_CS, chipSelectLevel); }
  HRESULT Release() {
    return WriteRegister(REG_SPI_CS, static_cast<std::uint8_t>(2 - chipSelectLevel));
  }
  HRESULT Send(std::uint8_t byte) { return WriteRegister(REG_SPI_TX, byte); }
  HRESULT EnableCommand(std::uint8_t opcode);

  bool timedOut_ = false;
};

}  // namespace torvane
