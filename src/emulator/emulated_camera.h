// The emulated camera: a controller with a register file, a byte-wide bridge
// to an SPI NOR flash, opcode-table, block-read, download and host
// programming selectors. It keeps real state, so that a wrong sequence fails
// here as it would on a camera.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/extension_unit_device.h"

namespace torvane::emulator {

inline constexpr std::uint32_t kFlashSize = 0x10000;

struct CameraConfig {
  std::uint8_t chipId = 0xA3;
  // Identification code of the fitted part (0x79 to 0x81), or 0x78 for a
  // part the updater does not know.
  std::uint8_t flashPart = 0x79;
  // REG_SPI_BUSY reads nonzero this many times after each transfer.
  std::uint32_t busyReadsPerTransfer = 1;
  // The flash's write-in-progress bit stays set for this many status reads
  // after a program or erase.
  std::uint32_t wipPollsPerOperation = 2;
  // Length announced for SEL_DOWNLOAD_BLOCK.
  std::uint32_t downloadBlockSize = 4096;
  // Length announced for SEL_FLASH_DATA.
  std::uint32_t flashDataBlockLength = 4096;
  // Project code this camera's build expects (Family6x and Family9x only).
  std::uint8_t expectedProjectCode = 0xC3;
  bool stuckBusy = false;
  bool stuckWip = false;
};

// Flash contents as a factory would leave them: an old firmware body, the
// marker at address 0 and the version where the family's probe reads it.
std::vector<std::uint8_t> FactoryFlash(std::uint8_t chipId, std::uint8_t byte0,
                                       std::uint32_t version);

enum class LoggedOp { Set, Get, Length };

struct LoggedRequest {
  LoggedOp op;
  std::uint32_t selector;
  std::vector<std::uint8_t> data;  // Set: bytes received; Get: bytes answered
  std::uint32_t length;            // Set/Get: data length; Length: length answered
  HRESULT status;
};

class EmulatedCamera final : public ExtensionUnitDevice {
 public:
  explicit EmulatedCamera(const CameraConfig& config);
  ~EmulatedCamera() override;

  HRESULT SetCur(std::uint32_t selector, std::span<const std::uint8_t> data) override;
  HRESULT GetCur(std::uint32_t selector, std::span<std::uint8_t> data) override;
  HRESULT GetLen(std::uint32_t selector, std::uint32_t* length) override;

  const CameraConfig& config() const;
  std::span<const std::uint8_t> flash() const;
  void LoadFlash(std::span<const std::uint8_t> contents);  // kFlashSize bytes
  std::uint8_t flashStatusRegister() const;
  void SetFlashStatusRegister(std::uint8_t value);
  std::uint8_t Register(std::uint16_t address) const;
  bool InDownloadMode() const;

  const std::vector<LoggedRequest>& log() const;
  void ClearLog();
  // Operations the hardware refused or ignored (a byte sent with chip select
  // released, a program without write enable, a write into a protected
  // block, ...), one line each, for tests and diagnostics.
  const std::vector<std::string>& rejections() const;

  // The flash as a file of kFlashSize bytes. Load fails (false) on a missing
  // or wrongly sized file and leaves the flash as it was.
  bool LoadFlashFile(const std::string& path);
  bool SaveFlashFile(const std::string& path) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace torvane::emulator
