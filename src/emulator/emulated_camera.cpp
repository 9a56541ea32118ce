#include "emulator/emulated_camera.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "channel/selectors.h"
#include "emulator/spi_nor_flash.h"

namespace torvane::emulator {
namespace {

// The camera's register map, as its firmware knows it.
constexpr std::uint16_t kRegSpiControl = 0x2020;
constexpr std::uint16_t kRegSpiBusy = 0x2021;
constexpr std::uint16_t kRegSpiTx = 0x2022;
constexpr std::uint16_t kRegSpiRxStart = 0x2023;
constexpr std::uint16_t kRegSpiRx = 0x2024;
constexpr std::uint16_t kRegSpiCs = 0x2025;
constexpr std::uint16_t kRegChipId = 0x20FF;
constexpr std::uint16_t kRegProjectCode = 0x250F;
constexpr std::uint8_t kBridgeEnable = 0x80;

// Every refused request answers this, as a stalled control endpoint does.
constexpr HRESULT kRefused = STATUS_GEN_FAILURE;

// Length of the host-programming block on SEL_FLASH_DATA, and its layout:
// every 64-byte group carries data in its upper 32 bytes only.
constexpr std::uint32_t kProgramBlockLength = 4096;
constexpr std::uint32_t kProgramGroup = 64;
constexpr std::uint32_t kProgramGroupData = 32;

enum class Family { A6x9x, A8x, Ax, Unknown };

Family FamilyOf(std::uint8_t chipId) {
  switch (chipId & 0xF0) {
    case 0x60:
    case 0x90:
      return Family::A6x9x;
    case 0x80:
      return Family::A8x;
    case 0xA0:
      return Family::Ax;
    default:
      return Family::Unknown;
  }
}

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::uint32_t LittleEndian32(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Data read on a 0x6_/0x9_ chip whose project code is wrong: never equal to
// the flash byte.
std::uint8_t ScrambleMask(std::uint32_t address) {
  return static_cast<std::uint8_t>(0x80 | ((address * 37u + 0x2Bu) & 0x7F));
}

void PutWord(std::vector<std::uint8_t>& flash, std::uint32_t at, std::uint32_t value) {
  flash[at] = static_cast<std::uint8_t>(value & 0xFF);
  flash[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

std::optional<std::uint8_t> ChipSelectAssertLevel(std::uint8_t chipId) {
  switch (FamilyOf(chipId)) {
    case Family::A6x9x:
      return std::uint8_t{2};
    case Family::A8x:
    case Family::Ax:
      return std::uint8_t{0};
    case Family::Unknown:
      break;
  }
  return std::nullopt;
}

std::uint8_t DefaultByte0(std::uint8_t chipId) {
  return FamilyOf(chipId) == Family::Ax ? 0x89 : 0x55;
}

std::uint32_t DefaultVersion(std::uint8_t chipId) {
  switch (FamilyOf(chipId)) {
    case Family::Ax:
      return 0x12801;
    case Family::A8x:
      return 0x12800;
    case Family::A6x9x:
      return 0x9001;
    case Family::Unknown:
      break;
  }
  return 0;
}

std::vector<std::uint8_t> FactoryFlash(std::uint8_t chipId, std::uint8_t byte0,
                                       std::uint32_t version) {
  std::vector<std::uint8_t> flash(kFlashSize);
  for (std::uint32_t i = 0; i < kFlashSize; ++i) {
    // An arbitrary but fixed body, so that tests can tell old from new.
    flash[i] = static_cast<std::uint8_t>((i * 167u) ^ (i >> 8) * 13u ^ 0x5Au);
  }
  flash[0] = byte0;
  switch (FamilyOf(chipId)) {
    case Family::A6x9x:
      PutWord(flash, 0x800C, version & 0xFFFF);
      break;
    case Family::A8x:
      PutWord(flash, 0xB70E, (version >> 8) & 0xFFFF);
      flash[0xDB40] = static_cast<std::uint8_t>(version & 0xFF);
      break;
    case Family::Ax:
      PutWord(flash, 0x678E, (version >> 8) & 0xFFFF);
      flash[0x6040] = static_cast<std::uint8_t>(version & 0xFF);
      break;
    case Family::Unknown:
      break;
  }
  return flash;
}

struct EmulatedCamera::State {
  explicit State(const CameraConfig& cfg)
      : config(cfg),
        family(FamilyOf(cfg.chipId)),
        assertLevel(ChipSelectAssertLevel(cfg.chipId)),
        flash(FlashPartFor(cfg.flashPart), cfg.wipPollsPerOperation, cfg.stuckWip,
              [this](const std::string& line) { rejections.push_back(line); }),
        registers(0x10000, 0) {
    registers[kRegChipId] = cfg.chipId;
    // The camera's own start-up sets the project code its build expects, so
    // reads come out right until a host writes another code.
    registers[kRegProjectCode] = cfg.expectedProjectCode;
    // Chip select starts released whatever the family's polarity.
    registers[kRegSpiCs] = static_cast<std::uint8_t>(assertLevel && *assertLevel == 0 ? 2 : 0);
    flash.Load(FactoryFlash(cfg.chipId, DefaultByte0(cfg.chipId), DefaultVersion(cfg.chipId)));
    flash.SetStatus(kPowerOnFlashStatus);
  }

  void Reject(const std::string& line) { rejections.push_back(line); }

  // --- Register file and SPI bridge ---

  void WriteRegister(std::uint16_t address, std::uint8_t value);
  std::uint8_t ReadRegister(std::uint16_t address);
  bool BridgeEnabled() const { return (registers[kRegSpiControl] & kBridgeEnable) != 0; }
  void StartTransfer() { busyRemaining = config.busyReadsPerTransfer; }

  // --- The camera firmware's own flash work, with the loaded opcodes ---

  // The bridge and the firmware share the flash; while the host holds chip
  // select the firmware cannot use it.
  bool FlashFree(const char* operation) {
    if (!flash.selected()) return true;
    Reject(std::string("camera: ") + operation + " refused, the bridge holds chip select");
    return false;
  }
  void SendAddress(std::uint32_t address) {
    flash.Transfer(static_cast<std::uint8_t>((address >> 16) & 0xFF));
    flash.Transfer(static_cast<std::uint8_t>((address >> 8) & 0xFF));
    flash.Transfer(static_cast<std::uint8_t>(address & 0xFF));
  }
  bool WaitFlashReady() {
    for (std::uint32_t poll = 0; poll < kCameraFlashPollLimit; ++poll) {
      flash.Select();
      flash.Transfer(table.Slot(3));
      const std::uint8_t status = flash.Transfer(0x00);
      flash.Deselect();
      if ((status & kStatusWip) == 0) return true;
    }
    Reject("camera: flash still busy after " + std::to_string(kCameraFlashPollLimit) +
           " status reads");
    return false;
  }
  void WriteEnableFlash() {
    flash.Select();
    flash.Transfer(table.Slot(4));
    flash.Deselect();
  }
  void EraseSector(std::uint32_t address) {
    if (!WaitFlashReady()) return;
    WriteEnableFlash();
    flash.Select();
    flash.Transfer(table.Slot(6));
    SendAddress(address);
    flash.Deselect();
    WaitFlashReady();
  }
  // Splits at page boundaries, one program command per page piece.
  void ProgramFlash(std::uint32_t address, std::span<const std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
      const std::uint32_t at = address + static_cast<std::uint32_t>(done);
      const std::size_t piece =
          std::min<std::size_t>(data.size() - done, kPageSize - at % kPageSize);
      if (!WaitFlashReady()) return;
      WriteEnableFlash();
      flash.Select();
      flash.Transfer(table.Slot(9));
      SendAddress(at);
      for (std::size_t i = 0; i < piece; ++i) flash.Transfer(data[done + i]);
      flash.Deselect();
      done += piece;
    }
    WaitFlashReady();
  }
  void ReadFlash(std::uint32_t address, std::span<std::uint8_t> out) {
    if (!WaitFlashReady()) {
      std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
      return;
    }
    flash.Select();
    flash.Transfer(table.Slot(1));
    SendAddress(address);
    for (auto& byte : out) byte = flash.Transfer(0x00);
    flash.Deselect();
  }

  // --- Selectors ---

  HRESULT SetSelector(std::uint32_t selector, std::span<const std::uint8_t> data);
  HRESULT GetSelector(std::uint32_t selector, std::span<std::uint8_t> data);
  std::optional<std::uint32_t> SelectorLength(std::uint32_t selector) const;
  HRESULT EnterDownloadMode();
  HRESULT DownloadBlock(std::span<const std::uint8_t> data);
  HRESULT ProgramBlock(std::span<const std::uint8_t> data);
  HRESULT ReadBlock(std::span<std::uint8_t> data);

  CameraConfig config;
  Family family;
  std::optional<std::uint8_t> assertLevel;
  std::vector<std::string> rejections;  // before flash: the flash reports into it
  SpiNorFlash flash;
  std::vector<std::uint8_t> registers;
  std::uint16_t registerAddress = 0;
  std::uint32_t busyRemaining = 0;

  CameraOpcodeTable table = kPowerOnOpcodeTable;
  std::uint8_t opcodeIndex = 0;  // 0: no slot chosen yet

  std::uint32_t flashAddress = 0;
  bool downloadMode = false;
  std::uint8_t checksum = 0;
  std::uint32_t downloadPosition = 0;
  // Sectors erased since download mode was entered; each is erased just
  // before the first block byte lands in it.
  std::vector<bool> downloadErased = std::vector<bool>(kFlashSize / kSectorSize, false);
  bool axPrepared = false;

  std::vector<LoggedRequest> log;
};

void EmulatedCamera::State::WriteRegister(std::uint16_t address, std::uint8_t value) {
  switch (address) {
    case kRegChipId:
    case kRegSpiBusy:
    case kRegSpiRxStart:
    case kRegSpiRx:
      Reject("register " + Hex(address, 4) + " is read-only, write of " + Hex(value, 2) +
             " ignored");
      return;
    case kRegSpiCs: {
      registers[address] = value;
      const bool assert = assertLevel && value == *assertLevel;
      if (assert) {
        flash.Select();
      } else {
        flash.Deselect();
      }
      return;
    }
    case kRegSpiTx:
      registers[address] = value;
      if (!BridgeEnabled()) {
        Reject("SPI TX " + Hex(value, 2) + " with the bridge disabled");
        return;
      }
      StartTransfer();
      if (!flash.selected()) {
        Reject("SPI TX " + Hex(value, 2) + " with chip select released (CS " +
               Hex(registers[kRegSpiCs], 2) + ")");
        return;
      }
      flash.Transfer(value);
      return;
    default:
      registers[address] = value;
      return;
  }
}

std::uint8_t EmulatedCamera::State::ReadRegister(std::uint16_t address) {
  switch (address) {
    case kRegSpiBusy:
      if (config.stuckBusy) return 0x01;
      if (busyRemaining > 0) {
        --busyRemaining;
        return 0x01;
      }
      return 0x00;
    case kRegSpiRxStart: {
      // Reading starts a reception; what the read itself returns is the
      // previous byte, which the host must not take for the new one.
      const std::uint8_t previous = registers[kRegSpiRx];
      if (!BridgeEnabled()) {
        Reject("SPI reception with the bridge disabled");
        return previous;
      }
      StartTransfer();
      if (!flash.selected()) {
        Reject("SPI reception with chip select released (CS " + Hex(registers[kRegSpiCs], 2) + ")");
        registers[kRegSpiRx] = 0xFF;  // nobody drives the line
        return previous;
      }
      registers[kRegSpiRx] = flash.Transfer(0x00);
      return previous;
    }
    default:
      return registers[address];
  }
}

std::optional<std::uint32_t> EmulatedCamera::State::SelectorLength(std::uint32_t selector) const {
  switch (selector) {
    case SEL_REG_ADDRESS:
      return 2;
    case SEL_REG_VALUE:
    case SEL_OPCODE_INDEX:
    case SEL_OPCODE_VALUE:
    case SEL_DOWNLOAD_MODE:
    case SEL_DOWNLOAD_CHECKSUM:
    case SEL_OPCODE_FLAGS:
      return 1;
    case SEL_DOWNLOAD_BLOCK:
      return config.downloadBlockSize;
    case SEL_PROGRAM_ADDRESS:
    case SEL_FLASH_ADDRESS:
      return 4;
    case SEL_FLASH_DATA:
      return config.flashDataBlockLength;
    case SEL_FAMILY_AX_PREPARE:
      // Only the 0xA_ chips have this control.
      if (family == Family::Ax) return 1;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

HRESULT EmulatedCamera::State::SetSelector(std::uint32_t selector,
                                           std::span<const std::uint8_t> data) {
  const auto expectLength = [&](std::size_t length) {
    if (data.size() == length) return true;
    Reject("selector " + std::to_string(selector) + ": SET_CUR of " + std::to_string(data.size()) +
           " bytes, expected " + std::to_string(length));
    return false;
  };
  switch (selector) {
    case SEL_REG_ADDRESS:
      if (!expectLength(2)) return kRefused;
      registerAddress = static_cast<std::uint16_t>(data[0] | data[1] << 8);
      return S_OK;
    case SEL_REG_VALUE:
      if (!expectLength(1)) return kRefused;
      WriteRegister(registerAddress, data[0]);
      return S_OK;
    case SEL_OPCODE_INDEX:
      if (!expectLength(1)) return kRefused;
      if (data[0] < 1 || data[0] > kOpcodeSlots) {
        Reject("opcode slot " + std::to_string(data[0]) + " does not exist");
        return kRefused;
      }
      opcodeIndex = data[0];
      return S_OK;
    case SEL_OPCODE_VALUE:
      if (!expectLength(1)) return kRefused;
      if (opcodeIndex == 0) {
        Reject("opcode value without a slot chosen");
        return kRefused;
      }
      table.slots[opcodeIndex - 1] = data[0];
      return S_OK;
    case SEL_OPCODE_FLAGS:
      if (!expectLength(1)) return kRefused;
      table.flag = data[0];
      return S_OK;
    case SEL_DOWNLOAD_MODE:
      if (!expectLength(1)) return kRefused;
      if (data[0] == 1) return EnterDownloadMode();
      if (data[0] == 0) {
        downloadMode = false;
        axPrepared = false;
        return S_OK;
      }
      Reject("download mode value " + Hex(data[0], 2) + " not understood");
      return kRefused;
    case SEL_DOWNLOAD_BLOCK:
      return DownloadBlock(data);
    case SEL_PROGRAM_ADDRESS:
      if (!expectLength(4)) return kRefused;
      if (!FlashFree("sector erase")) return kRefused;
      EraseSector(LittleEndian32(data));
      return S_OK;
    case SEL_FLASH_ADDRESS:
      if (!expectLength(4)) return kRefused;
      flashAddress = LittleEndian32(data);
      return S_OK;
    case SEL_FLASH_DATA:
      return ProgramBlock(data);
    case SEL_FAMILY_AX_PREPARE:
      if (family != Family::Ax) break;
      if (!expectLength(1)) return kRefused;
      if (data[0] > 1) {
        Reject("prepare value " + Hex(data[0], 2) + " not understood");
        return kRefused;
      }
      axPrepared = data[0] == 1;
      return S_OK;
    default:
      break;
  }
  Reject("SET_CUR of unknown selector " + std::to_string(selector));
  return kRefused;
}

HRESULT EmulatedCamera::State::GetSelector(std::uint32_t selector, std::span<std::uint8_t> data) {
  const auto expectLength = [&](std::size_t length) {
    if (data.size() == length) return true;
    Reject("selector " + std::to_string(selector) + ": GET_CUR of " + std::to_string(data.size()) +
           " bytes, expected " + std::to_string(length));
    return false;
  };
  switch (selector) {
    case SEL_REG_ADDRESS:
      if (!expectLength(2)) return kRefused;
      data[0] = static_cast<std::uint8_t>(registerAddress & 0xFF);
      data[1] = static_cast<std::uint8_t>(registerAddress >> 8);
      return S_OK;
    case SEL_REG_VALUE:
      if (!expectLength(1)) return kRefused;
      data[0] = ReadRegister(registerAddress);
      return S_OK;
    case SEL_DOWNLOAD_CHECKSUM:
      if (!expectLength(1)) return kRefused;
      if (!downloadMode) {
        Reject("checksum asked outside download mode");
        return kRefused;
      }
      data[0] = checksum;
      return S_OK;
    case SEL_FLASH_DATA:
      return ReadBlock(data);
    default:
      break;
  }
  Reject("GET_CUR of selector " + std::to_string(selector) + ", which offers none");
  return kRefused;
}

HRESULT EmulatedCamera::State::EnterDownloadMode() {
  if (!FlashFree("download mode")) return kRefused;
  // Nothing is erased yet: the camera erases each sector, with the loaded
  // table's erase command, right before the first block byte lands in it.
  // Entering and leaving without blocks (as host programming does at its
  // end) leaves the flash alone.
  downloadMode = true;
  checksum = 0;
  downloadPosition = 0;
  std::fill(downloadErased.begin(), downloadErased.end(), false);
  return S_OK;
}

HRESULT EmulatedCamera::State::DownloadBlock(std::span<const std::uint8_t> data) {
  if (!downloadMode) {
    Reject("download block outside download mode");
    return kRefused;
  }
  if (data.size() != config.downloadBlockSize) {
    Reject("download block of " + std::to_string(data.size()) + " bytes, announced " +
           std::to_string(config.downloadBlockSize));
    return kRefused;
  }
  if (family == Family::Ax && !axPrepared) {
    Reject("download block before the 0xA_ prepare step");
    return kRefused;
  }
  if (!FlashFree("download block")) return kRefused;
  for (std::uint8_t byte : data) checksum ^= byte;
  if (downloadPosition < kFlashSize) {
    const std::size_t kept = std::min<std::size_t>(data.size(), kFlashSize - downloadPosition);
    const std::uint32_t last = downloadPosition + static_cast<std::uint32_t>(kept) - 1;
    for (std::uint32_t sector = downloadPosition / kSectorSize; kept && sector <= last / kSectorSize;
         ++sector) {
      if (downloadErased[sector]) continue;
      downloadErased[sector] = true;
      EraseSector(sector * kSectorSize);
    }
    ProgramFlash(downloadPosition, data.first(kept));
  }
  // Saturating, so that endless blocks cannot wrap back into the flash.
  downloadPosition = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::uint64_t{downloadPosition} + data.size(), kFlashSize));
  return S_OK;
}

HRESULT EmulatedCamera::State::ProgramBlock(std::span<const std::uint8_t> data) {
  if (data.size() != kProgramBlockLength) {
    Reject("flash data block of " + std::to_string(data.size()) + " bytes, expected " +
           std::to_string(kProgramBlockLength));
    return kRefused;
  }
  if (!FlashFree("flash data block")) return kRefused;
  for (std::uint32_t group = 0; group < kProgramBlockLength / kProgramGroup; ++group) {
    const auto upperHalf = data.subspan(group * kProgramGroup + (kProgramGroup - kProgramGroupData),
                                        kProgramGroupData);
    ProgramFlash(flashAddress + group * kProgramGroup, upperHalf);
  }
  return S_OK;
}

HRESULT EmulatedCamera::State::ReadBlock(std::span<std::uint8_t> data) {
  if (data.size() != config.flashDataBlockLength) {
    Reject("flash data read of " + std::to_string(data.size()) + " bytes, announced " +
           std::to_string(config.flashDataBlockLength));
    return kRefused;
  }
  if (!FlashFree("flash data read")) return kRefused;
  ReadFlash(flashAddress, data);
  if (family == Family::A6x9x && registers[kRegProjectCode] != config.expectedProjectCode) {
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] ^= ScrambleMask(flashAddress + static_cast<std::uint32_t>(i));
    }
  }
  flashAddress += static_cast<std::uint32_t>(data.size());
  return S_OK;
}

EmulatedCamera::EmulatedCamera(const CameraConfig& config)
    : state_(std::make_unique<State>(config)) {}

EmulatedCamera::~EmulatedCamera() = default;

HRESULT EmulatedCamera::SetCur(std::uint32_t selector, std::span<const std::uint8_t> data) {
  const HRESULT status = state_->SetSelector(selector, data);
  state_->log.push_back({LoggedOp::Set, selector,
                         std::vector<std::uint8_t>(data.begin(), data.end()),
                         static_cast<std::uint32_t>(data.size()), status});
  return status;
}

HRESULT EmulatedCamera::GetCur(std::uint32_t selector, std::span<std::uint8_t> data) {
  const HRESULT status = state_->GetSelector(selector, data);
  std::vector<std::uint8_t> answered;
  if (Succeeded(status)) answered.assign(data.begin(), data.end());
  state_->log.push_back({LoggedOp::Get, selector, std::move(answered),
                         static_cast<std::uint32_t>(data.size()), status});
  return status;
}

HRESULT EmulatedCamera::GetLen(std::uint32_t selector, std::uint32_t* length) {
  HRESULT status = S_OK;
  std::uint32_t answered = 0;
  if (length == nullptr) {
    status = E_POINTER;
  } else if (const auto known = state_->SelectorLength(selector)) {
    answered = *known;
    *length = answered;
  } else {
    state_->Reject("GET_LEN of unknown selector " + std::to_string(selector));
    status = kRefused;
  }
  state_->log.push_back({LoggedOp::Length, selector, {}, answered, status});
  return status;
}

const CameraConfig& EmulatedCamera::config() const { return state_->config; }

std::span<const std::uint8_t> EmulatedCamera::flash() const { return state_->flash.contents(); }

void EmulatedCamera::LoadFlash(std::span<const std::uint8_t> contents) {
  if (!state_->flash.Load(contents)) {
    state_->Reject("flash image of " + std::to_string(contents.size()) + " bytes not loaded");
  }
}

std::uint8_t EmulatedCamera::flashStatusRegister() const { return state_->flash.PeekStatus(); }

void EmulatedCamera::SetFlashStatusRegister(std::uint8_t value) { state_->flash.SetStatus(value); }

std::uint8_t EmulatedCamera::Register(std::uint16_t address) const {
  if (address == kRegSpiBusy) {
    return (state_->config.stuckBusy || state_->busyRemaining > 0) ? 0x01 : 0x00;
  }
  return state_->registers[address];
}

bool EmulatedCamera::InDownloadMode() const { return state_->downloadMode; }

const CameraOpcodeTable& EmulatedCamera::opcodeTable() const { return state_->table; }

bool EmulatedCamera::FamilyAxPrepared() const { return state_->axPrepared; }

std::uint32_t EmulatedCamera::flashAddress() const { return state_->flashAddress; }

std::uint8_t EmulatedCamera::downloadChecksum() const { return state_->checksum; }

const std::vector<LoggedRequest>& EmulatedCamera::log() const { return state_->log; }

void EmulatedCamera::ClearLog() { state_->log.clear(); }

const std::vector<std::string>& EmulatedCamera::rejections() const { return state_->rejections; }

void EmulatedCamera::ClearRejections() { state_->rejections.clear(); }

bool EmulatedCamera::LoadFlashFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::vector<std::uint8_t> contents;
  contents.reserve(kFlashSize);
  // One byte more than the flash holds is enough to tell a file too long.
  char byte = 0;
  while (contents.size() <= kFlashSize && file.get(byte)) {
    contents.push_back(static_cast<std::uint8_t>(byte));
  }
  if (contents.size() != kFlashSize) return false;
  return state_->flash.Load(contents);
}

bool EmulatedCamera::SaveFlashFile(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  const auto contents = state_->flash.contents();
  file.write(reinterpret_cast<const char*>(contents.data()),
             static_cast<std::streamsize>(contents.size()));
  file.flush();
  return static_cast<bool>(file);
}

}  // namespace torvane::emulator
