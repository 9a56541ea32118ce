// The emulated camera: a controller with a register file, a byte-wide bridge
// to an SPI NOR flash, opcode-table, block-read, download and host
// programming selectors. It keeps real state, so that a wrong sequence fails
// here as it would on a camera.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emulator/extension_unit_device.h"
#include "emulator/flash_parts.h"

namespace torvane::emulator {

// kFlashSize comes with the flash parts (flash_parts.h).

struct CameraConfig {
  std::uint8_t chipId = 0xA3;
  // Identification code of the fitted part (0x79 to 0x81), or 0x78 for a
  // part the updater does not know; any other code fits that part too.
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
// marker at address 0 and the version where the family's probe reads it
// (0x6_/0x9_: word at 0x800C = version & 0xFFFF; 0x8_: word at 0xB70E =
// version >> 8 and byte at 0xDB40 = version & 0xFF; 0xA_: word at 0x678E and
// byte at 0x6040 likewise). Chips of no known family get no version.
std::vector<std::uint8_t> FactoryFlash(std::uint8_t chipId, std::uint8_t byte0,
                                       std::uint32_t version);

// What a new camera's flash starts with: a byte 0 and a version with which
// the camera takes the update where its family can (0xA_: 0x89 and 0x12801;
// 0x8_: 0x55 and 0x12800; 0x6_/0x9_: 0x55 and 0x9001, a 16-bit version that
// never qualifies).
std::uint8_t DefaultByte0(std::uint8_t chipId);
std::uint32_t DefaultVersion(std::uint8_t chipId);

// The flash status register of a new camera: block protection set, as a
// camera that was updated before leaves it.
inline constexpr std::uint8_t kPowerOnFlashStatus = 0x0C;

// The REG_SPI_CS value that selects the flash on a chip: 2 on 0x6_ and 0x9_
// chips, 0 on 0x8_ and 0xA_ chips; none on other chips, whose bridge never
// reaches the flash. Any other value releases chip select.
std::optional<std::uint8_t> ChipSelectAssertLevel(std::uint8_t chipId);

// Opcode table slots, as the camera numbers them (1..12), and the flag.
inline constexpr std::size_t kOpcodeSlots = 12;
struct CameraOpcodeTable {
  std::array<std::uint8_t, kOpcodeSlots> slots;  // slots[0] is slot 1
  std::uint8_t flag;
  std::uint8_t Slot(std::size_t slot) const { return slots[slot - 1]; }
};
// The table a camera holds before any is loaded: the ordinary command set.
inline constexpr CameraOpcodeTable kPowerOnOpcodeTable = {
    {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0};

// The camera's own firmware gives up waiting for its flash after this many
// status reads; the flash then stays busy and ignores what follows.
inline constexpr std::uint32_t kCameraFlashPollLimit = 4096;

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
  // kFlashSize bytes; any other size is refused, leaves the flash as it was
  // and is noted among the rejections.
  void LoadFlash(std::span<const std::uint8_t> contents);
  // As a status read would see it (write in progress included), without
  // counting as one.
  std::uint8_t flashStatusRegister() const;
  // Bits 1..7 from the value; bit 0 only ever reflects a running operation.
  void SetFlashStatusRegister(std::uint8_t value);
  // The register's value, without the side effects of a read.
  std::uint8_t Register(std::uint16_t address) const;
  bool InDownloadMode() const;
  const CameraOpcodeTable& opcodeTable() const;
  bool FamilyAxPrepared() const;
  // Position of the next block read; also the base of host programming.
  std::uint32_t flashAddress() const;
  // The XOR of every byte received since download mode was entered.
  std::uint8_t downloadChecksum() const;

  const std::vector<LoggedRequest>& log() const;
  void ClearLog();
  // Operations the hardware refused or ignored (a byte sent with chip select
  // released, a program without write enable, a write into a protected
  // block, ...), one line each, for tests and diagnostics.
  const std::vector<std::string>& rejections() const;
  void ClearRejections();

  // The flash as a file of kFlashSize bytes. Load fails (false) on a missing
  // or wrongly sized file and leaves the flash as it was.
  bool LoadFlashFile(const std::string& path);
  bool SaveFlashFile(const std::string& path) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace torvane::emulator
