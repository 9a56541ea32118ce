#include "flash/flash_engine.h"

#include "channel/register_access.h"
#include "channel/selectors.h"

namespace torvane {

namespace {
constexpr std::uint8_t kBridgeEnable = 0x80;
constexpr std::uint8_t kOpWriteDisable = 0x04;
constexpr std::uint8_t kOpWriteEnable = 0x06;
constexpr std::uint8_t kOpEnableWriteStatus = 0x50;
constexpr std::uint8_t kOpReadStatus = 0x05;
constexpr std::uint8_t kOpWriteStatus = 0x01;
constexpr std::uint8_t kOpProgram = 0x02;
constexpr std::uint8_t kOpJedecId = 0x9F;
}  // namespace

HRESULT FlashEngine::WriteRegister(std::uint16_t address, std::uint8_t value) {
  if (!channel) return E_POINTER;
  return torvane::WriteRegister(*channel, address, value);
}

HRESULT FlashEngine::ReadRegister(std::uint16_t address, std::uint8_t* value) {
  if (!channel) return E_POINTER;
  return torvane::ReadRegister(*channel, address, value);
}

bool FlashEngine::WaitSpiIdle() {
  // After one expiry the bridge is taken as dead: one read, no spinning.
  const std::uint32_t limit = timedOut_ ? 1 : kSpiIdleReadLimit;
  for (std::uint32_t i = 0; i < limit; ++i) {
    // A failed read leaves the preset nonzero byte, so it counts as busy.
    std::uint8_t busy = 0xFF;
    ReadRegister(REG_SPI_BUSY, &busy);
    if (busy == 0) return true;
  }
  timedOut_ = true;
  return false;
}

void FlashEngine::SendWriteDisable() {
  WriteRegister(REG_SPI_CONTROL, kBridgeEnable);
  Send(kOpWriteDisable);
  WaitSpiIdle();
}

int FlashEngine::CycleDownloadMode() {
  if (!channel) return 0;
  const std::uint8_t enter = 1;
  const std::uint8_t leave = 0;
  channel->SetSelector(SEL_DOWNLOAD_MODE, 1, &enter);
  return Succeeded(channel->SetSelector(SEL_DOWNLOAD_MODE, 1, &leave)) ? 1 : 0;
}

int FlashEngine::ReadFlashId(std::uint8_t command, std::uint8_t out[3]) {
  SendWriteDisable();
  Assert();
  Send(command);
  if (command != kOpJedecId) {
    WaitSpiIdle();
    for (int i = 0; i < 3; ++i) {
      Send(0x00);
      WaitSpiIdle();
    }
  }
  for (int i = 0; i < 3; ++i) {
    std::uint8_t discarded = 0;
    ReadRegister(REG_SPI_RX_START, &discarded);
    WaitSpiIdle();
    ReadRegister(REG_SPI_RX, &out[i]);
    WaitSpiIdle();
  }
  Release();
  return 1;
}

HRESULT FlashEngine::EnableCommand(std::uint8_t opcode) {
  WriteRegister(REG_SPI_CONTROL, kBridgeEnable);
  Assert();
  Send(opcode);
  WaitSpiIdle();
  return Release();
}

HRESULT FlashEngine::WriteEnable() { return EnableCommand(kOpWriteEnable); }

HRESULT FlashEngine::EnableWriteStatus() { return EnableCommand(kOpEnableWriteStatus); }

std::uint8_t FlashEngine::PollFlashStatus() {
  WriteRegister(REG_SPI_CONTROL, kBridgeEnable);
  const std::uint32_t limit = timedOut_ ? 1 : kFlashStatusPollLimit;
  std::uint8_t status = 0;
  for (std::uint32_t cycle = 0; cycle < limit; ++cycle) {
    Assert();
    Send(kOpReadStatus);
    WaitSpiIdle();
    std::uint8_t discarded = 0;
    ReadRegister(REG_SPI_RX_START, &discarded);
    WaitSpiIdle();
    // A failed read keeps the preset busy bit, so it is polled again.
    status = 0x01;
    ReadRegister(REG_SPI_RX, &status);
    Release();
    if ((status & 0x01) == 0) return status;
  }
  timedOut_ = true;
  return status;
}

int FlashEngine::ProgramRecord(const FlashWriteRecord& record) {
  if (Failed(WriteRegister(REG_SPI_CONTROL, kBridgeEnable))) return 0;
  WriteEnable();
  if (Failed(Assert())) return 0;
  if (Failed(Send(kOpProgram))) return 0;
  WaitSpiIdle();
  for (std::uint8_t byte : record.address) {
    if (Failed(Send(byte))) return 0;
    WaitSpiIdle();
  }
  const std::uint16_t count = record.count > record.data.size()
                                  ? static_cast<std::uint16_t>(record.data.size())
                                  : record.count;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (Failed(Send(record.data[i]))) return 0;
    WaitSpiIdle();
  }
  if (Failed(Release())) return 0;
  PollFlashStatus();
  SendWriteDisable();
  const bool disabled = Succeeded(WriteRegister(REG_SPI_CONTROL, 0));
  return disabled && !timedOut_ ? 1 : 0;
}

void FlashEngine::WriteStatusRegister(std::uint8_t value, bool useEnableWriteStatus) {
  if (PollFlashStatus() == value) return;
  if (useEnableWriteStatus) {
    EnableWriteStatus();
  } else {
    WriteEnable();
  }
  WriteRegister(REG_SPI_CONTROL, kBridgeEnable);
  Assert();
  Send(kOpWriteStatus);
  WaitSpiIdle();
  Send(value);
  WaitSpiIdle();
  Release();
  PollFlashStatus();
}

}  // namespace torvane
