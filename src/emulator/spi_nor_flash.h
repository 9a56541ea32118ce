// A serial NOR flash at the level of its pins: chip select and one byte
// clocked each way per transfer. Commands take effect the way they do on
// the real parts: a program, erase or status write executes when chip
// select is released, needs the write-enable latch beforehand, leaves the
// part busy for a while, and does nothing to a protected array.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "emulator/flash_parts.h"

namespace torvane::emulator {

class SpiNorFlash {
 public:
  // Receives one line for each command the part refused or ignored.
  using RejectSink = std::function<void(const std::string&)>;

  // wipPollsPerOperation: status reads for which the write-in-progress bit
  // stays set after an operation; stuckWip keeps it set for good.
  SpiNorFlash(const FlashPart& part, std::uint32_t wipPollsPerOperation, bool stuckWip,
              RejectSink reject);

  // Chip select driven active; starts a new command. No effect while
  // already selected.
  void Select();
  // One byte out to the part and the byte it drives back (0xFF where it
  // drives nothing). Ignored, and answered with 0xFF, while not selected.
  std::uint8_t Transfer(std::uint8_t out);
  // Chip select released: the command ends and executes.
  void Deselect();

  bool selected() const { return selected_; }
  const FlashPart& part() const { return part_; }

  std::span<const std::uint8_t> contents() const { return memory_; }
  // Replaces the array; anything but kFlashSize bytes is refused (false).
  bool Load(std::span<const std::uint8_t> contents);

  // The status byte the next status read would return, without counting as
  // a read.
  std::uint8_t PeekStatus() const;
  // Sets the status register as a test or a factory would: bit 1 (write
  // enable) and bits 2..7 from the value; bit 0 reflects operations only.
  void SetStatus(std::uint8_t value);
  bool WriteInProgress() const { return wipStuck_ || wipRemaining_ > 0; }

 private:
  enum class Phase { Idle, Ignored, Active };

  void BeginCommand(std::uint8_t opcode);
  void ExecuteAtDeselect();
  void ExecuteProgram();
  void ExecuteErase(std::uint32_t size);
  void ExecuteStatusWrite();
  // Common gate of the three modifying operations; false when refused.
  bool MayModify(const char* what);
  void StartOperation();
  std::uint8_t ReadStatusForHost();
  void Reject(const std::string& line) const;

  const FlashPart& part_;
  std::uint32_t wipPollsPerOperation_;
  bool stuckWipConfig_;
  RejectSink reject_;

  std::vector<std::uint8_t> memory_;
  std::uint8_t status_ = 0;  // bits 1..7; bit 0 is derived
  std::uint32_t wipRemaining_ = 0;
  bool wipStuck_ = false;
  // 0x50 was the last command; a status write right after it is allowed on
  // parts that need it.
  bool enableWriteStatusArmed_ = false;

  bool selected_ = false;
  Phase phase_ = Phase::Idle;
  std::uint8_t opcode_ = 0;
  std::uint32_t count_ = 0;  // bytes of this command, opcode included
  std::uint32_t address_ = 0;
  bool statusWriteEnabledByEwsr_ = false;
  std::uint8_t statusValue_ = 0;
  std::array<std::uint8_t, kPageSize> pageData_{};
  std::array<bool, kPageSize> pageMask_{};
};

}  // namespace torvane::emulator
