#include "emulator/spi_nor_flash.h"

#include <algorithm>
#include <cstdio>

namespace torvane::emulator {
namespace {

constexpr std::uint32_t kAddressMask = kFlashSize - 1;

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

bool IsErase(const FlashPart& part, std::uint8_t opcode) { return part.EraseSize(opcode) != 0; }

}  // namespace

SpiNorFlash::SpiNorFlash(const FlashPart& part, std::uint32_t wipPollsPerOperation, bool stuckWip,
                         RejectSink reject)
    : part_(part),
      wipPollsPerOperation_(wipPollsPerOperation),
      stuckWipConfig_(stuckWip),
      reject_(std::move(reject)),
      memory_(kFlashSize, 0xFF) {}

void SpiNorFlash::Reject(const std::string& line) const {
  if (reject_) reject_("flash " + Hex(part_.code, 2) + ": " + line);
}

void SpiNorFlash::Select() {
  if (selected_) return;
  selected_ = true;
  phase_ = Phase::Idle;
  count_ = 0;
  address_ = 0;
}

void SpiNorFlash::BeginCommand(std::uint8_t opcode) {
  opcode_ = opcode;
  // Enable-write-status covers only the command right after it.
  statusWriteEnabledByEwsr_ = enableWriteStatusArmed_;
  enableWriteStatusArmed_ = false;
  if (WriteInProgress() && opcode != kCmdReadStatus) {
    Reject("command " + Hex(opcode, 2) + " ignored while a write is in progress");
    phase_ = Phase::Ignored;
    return;
  }
  if (!part_.Implements(opcode)) {
    Reject("command " + Hex(opcode, 2) + " not implemented");
    phase_ = Phase::Ignored;
    return;
  }
  phase_ = Phase::Active;
  if (opcode == kCmdProgram) {
    pageMask_.fill(false);
  }
}

std::uint8_t SpiNorFlash::ReadStatusForHost() {
  const std::uint8_t value = PeekStatus();
  if (!wipStuck_ && wipRemaining_ > 0) --wipRemaining_;
  return value;
}

std::uint8_t SpiNorFlash::Transfer(std::uint8_t out) {
  if (!selected_) {
    Reject("byte " + Hex(out, 2) + " clocked with chip select released");
    return 0xFF;
  }
  ++count_;
  if (count_ == 1) {
    BeginCommand(out);
    return 0xFF;
  }
  if (phase_ != Phase::Active) return 0xFF;

  // Bytes 2..4 of addressed commands carry the address, most significant
  // first.
  const auto takeAddress = [&] {
    if (count_ >= 2 && count_ <= 4) {
      address_ = (address_ << 8) | out;
      return true;
    }
    return false;
  };
  switch (opcode_) {
    case kCmdRead:
      if (takeAddress()) return 0xFF;
      return memory_[address_++ & kAddressMask];
    case kCmdFastRead:
      if (takeAddress() || count_ == 5) return 0xFF;  // one dummy byte
      return memory_[address_++ & kAddressMask];
    case kCmdReadStatus:
      return ReadStatusForHost();
    case kCmdReadIdLegacy:
      if (takeAddress()) return 0xFF;
      return part_.answer90[(count_ - 5) % 3];
    case kCmdReadSignature:
      if (takeAddress()) return 0xFF;
      return part_.answerAB[(count_ - 5) % 3];
    case kCmdJedecId:
      return part_.answer9F[(count_ - 2) % 3];
    case kCmdProgram:
      if (takeAddress()) return 0xFF;
      // The page buffer wraps: byte k lands at page offset (start + k), and
      // a later byte replaces an earlier one at the same offset.
      {
        const std::uint32_t offset = (address_ + (count_ - 5)) % kPageSize;
        pageData_[offset] = out;
        pageMask_[offset] = true;
      }
      return 0xFF;
    case kCmdWriteStatus:
      if (count_ == 2) statusValue_ = out;
      return 0xFF;
    default:
      if (IsErase(part_, opcode_)) takeAddress();
      return 0xFF;
  }
}

void SpiNorFlash::Deselect() {
  if (!selected_) return;
  selected_ = false;
  if (phase_ == Phase::Active) ExecuteAtDeselect();
  phase_ = Phase::Idle;
  count_ = 0;
}

void SpiNorFlash::ExecuteAtDeselect() {
  // Single-byte commands latch only when chip select rises right after the
  // eighth bit.
  const auto exactLength = [&](std::uint32_t expected) {
    if (count_ == expected) return true;
    Reject("command " + Hex(opcode_, 2) + " ended after " + std::to_string(count_) +
           " bytes, ignored");
    return false;
  };
  switch (opcode_) {
    case kCmdWriteEnable:
      if (exactLength(1)) status_ |= kStatusWel;
      return;
    case kCmdWriteDisable:
      if (exactLength(1)) status_ &= static_cast<std::uint8_t>(~kStatusWel);
      return;
    case kCmdEnableWriteStatus:
      if (exactLength(1)) enableWriteStatusArmed_ = true;
      return;
    case kCmdWriteStatus:
      if (exactLength(2)) ExecuteStatusWrite();
      return;
    case kCmdProgram:
      if (count_ < 4) {
        Reject("program ended inside its address, ignored");
        return;
      }
      ExecuteProgram();
      return;
    default:
      break;
  }
  const std::uint32_t eraseSize = part_.EraseSize(opcode_);
  if (eraseSize != 0) {
    const bool chipErase = opcode_ == kCmdChipEraseC7 || opcode_ == kCmdChipErase60;
    if (exactLength(chipErase ? 1 : 4)) ExecuteErase(eraseSize);
  }
}

bool SpiNorFlash::MayModify(const char* what) {
  if ((status_ & kStatusWel) == 0) {
    Reject(std::string(what) + " without write enable, ignored");
    return false;
  }
  if ((status_ & kStatusBlockProtect) != 0) {
    Reject(std::string(what) + " refused: block protection set (status " + Hex(PeekStatus(), 2) +
           ")");
    return false;
  }
  return true;
}

void SpiNorFlash::StartOperation() {
  status_ &= static_cast<std::uint8_t>(~kStatusWel);
  if (stuckWipConfig_) {
    wipStuck_ = true;
  } else {
    wipRemaining_ = wipPollsPerOperation_;
  }
}

void SpiNorFlash::ExecuteProgram() {
  const std::uint32_t start = address_ & kAddressMask;
  if (!MayModify(("program at " + Hex(start, 4)).c_str())) return;
  const std::uint32_t page = start & ~(kPageSize - 1);
  for (std::uint32_t offset = 0; offset < kPageSize; ++offset) {
    if (pageMask_[offset]) memory_[page + offset] &= pageData_[offset];
  }
  StartOperation();
}

void SpiNorFlash::ExecuteErase(std::uint32_t size) {
  const std::uint32_t base = address_ & kAddressMask & ~(size - 1);
  if (!MayModify(("erase of " + Hex(size, 5) + " bytes at " + Hex(base, 4)).c_str())) return;
  std::fill_n(memory_.begin() + base, size, std::uint8_t{0xFF});
  StartOperation();
}

void SpiNorFlash::ExecuteStatusWrite() {
  const bool allowed = part_.StatusWriteNeedsEnableWriteStatus() ? statusWriteEnabledByEwsr_
                                                                 : (status_ & kStatusWel) != 0;
  if (!allowed) {
    Reject(part_.StatusWriteNeedsEnableWriteStatus()
               ? "status write without enable-write-status (0x50) right before it, ignored"
               : "status write without write enable, ignored");
    return;
  }
  // Bits 0 and 1 are not writable.
  status_ = static_cast<std::uint8_t>((statusValue_ & 0xFC) | (status_ & kStatusWel));
  StartOperation();
}

bool SpiNorFlash::Load(std::span<const std::uint8_t> contents) {
  if (contents.size() != kFlashSize) return false;
  std::copy(contents.begin(), contents.end(), memory_.begin());
  return true;
}

std::uint8_t SpiNorFlash::PeekStatus() const {
  return static_cast<std::uint8_t>(status_ | (WriteInProgress() ? kStatusWip : 0));
}

void SpiNorFlash::SetStatus(std::uint8_t value) {
  status_ = static_cast<std::uint8_t>(value & 0xFE);
}

}  // namespace torvane::emulator
