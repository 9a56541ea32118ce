// A selector-level camera for the programming tests. It keeps a 64 KiB
// flash and serves the download, block-read and host-programming selectors
// the way the updater relies on, decodes the serial-flash commands sent
// through the register bridge (programs, status writes and reads), and can
// be told to fail any request. It is reached through the extension-unit
// binding (IKsControl) or the driver tunnel (IVendorTunnel).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "channel/chip_family.h"
#include "channel/control_channel.h"
#include "channel/selectors.h"
#include "flash/flash_engine.h"
#include "flash/settings_source.h"
#include "platform/kernel_streaming.h"

namespace torvane::programming_test {

struct Request {
  RequestOp op;
  std::uint32_t selector;
  std::vector<std::uint8_t> data;  // Set: bytes received; Get: bytes answered
  HRESULT status;
};

// One serial-flash command, from chip-select assert to release.
struct SpiCommand {
  std::vector<std::uint8_t> bytes;
  std::size_t requestIndex;  // index of the request that ended it
};

// A page program (0x02) as the flash received it.
struct FlashProgram {
  std::uint32_t address;
  std::vector<std::uint8_t> data;
  std::size_t requestIndex;  // index of the request that ended it
};

class ProgrammingCamera {
 public:
  explicit ProgrammingCamera(std::uint8_t chipSelectAssert) : csAssert_(chipSelectAssert) {
    flash.fill(0xFF);
  }

  // Statuses for the next requests of one kind, then success.
  void Fail(RequestOp op, std::uint32_t selector, std::vector<HRESULT> statuses) {
    auto& queue = scripts_[{op, selector}];
    queue.insert(queue.end(), statuses.begin(), statuses.end());
  }

  HRESULT Set(std::uint32_t selector, std::span<const std::uint8_t> data) {
    const HRESULT status = Next(RequestOp::Set, selector);
    log.push_back({RequestOp::Set, selector, {data.begin(), data.end()}, status});
    if (onRequest) onRequest(log.back());
    if (Succeeded(status)) ApplySet(selector, data);
    return status;
  }

  HRESULT Get(std::uint32_t selector, std::span<std::uint8_t> data) {
    const HRESULT status = Next(RequestOp::Get, selector);
    if (Succeeded(status) || deliverDespiteFailure) Answer(selector, data);
    log.push_back({RequestOp::Get, selector,
                   Succeeded(status) || deliverDespiteFailure
                       ? std::vector<std::uint8_t>(data.begin(), data.end())
                       : std::vector<std::uint8_t>(),
                   status});
    if (onRequest) onRequest(log.back());
    return status;
  }

  HRESULT Length(std::uint32_t selector, std::uint32_t* length) {
    const HRESULT status = Next(RequestOp::Length, selector);
    std::uint32_t answer = 0;
    if (selector == SEL_DOWNLOAD_BLOCK) answer = downloadBlockSize;
    if (selector == SEL_FLASH_DATA) answer = flashDataLength;
    if (Succeeded(status)) *length = answer;
    log.push_back({RequestOp::Length, selector, {}, status});
    if (onRequest) onRequest(log.back());
    return status;
  }

  // Requests of one kind, in order.
  std::vector<Request> Requests(RequestOp op, std::uint32_t selector) const {
    std::vector<Request> out;
    for (const auto& r : log) {
      if (r.op == op && r.selector == selector) out.push_back(r);
    }
    return out;
  }
  std::size_t Count(RequestOp op, std::uint32_t selector) const {
    return Requests(op, selector).size();
  }
  // The values written to SEL_DOWNLOAD_MODE, in order.
  std::vector<std::uint8_t> DownloadModeSets() const {
    std::vector<std::uint8_t> out;
    for (const auto& r : Requests(RequestOp::Set, SEL_DOWNLOAD_MODE)) out.push_back(r.data.at(0));
    return out;
  }
  std::vector<std::pair<std::uint16_t, std::uint8_t>> RegisterWritesTo(std::uint16_t reg) const {
    std::vector<std::pair<std::uint16_t, std::uint8_t>> out;
    for (const auto& w : registerWrites) {
      if (w.first == reg) out.push_back(w);
    }
    return out;
  }
  // The status-register values written with command 0x01.
  std::vector<std::uint8_t> StatusWrites() const {
    std::vector<std::uint8_t> out;
    for (const auto& c : spiCommands) {
      if (c.bytes.size() >= 2 && c.bytes[0] == 0x01) out.push_back(c.bytes[1]);
    }
    return out;
  }
  // Index of the first or last request of one kind; log.size() when none.
  std::size_t FirstIndex(RequestOp op, std::uint32_t selector) const {
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i].op == op && log[i].selector == selector) return i;
    }
    return log.size();
  }
  std::size_t LastIndex(RequestOp op, std::uint32_t selector) const {
    for (std::size_t i = log.size(); i-- > 0;) {
      if (log[i].op == op && log[i].selector == selector) return i;
    }
    return log.size();
  }
  bool SentSpiCommand(std::uint8_t opcode) const {
    return std::any_of(spiCommands.begin(), spiCommands.end(),
                       [&](const SpiCommand& c) { return !c.bytes.empty() && c.bytes[0] == opcode; });
  }

  // Camera behaviour.
  std::uint32_t downloadBlockSize = 4096;
  std::uint32_t flashDataLength = 4096;
  std::optional<std::uint8_t> checksumAnswer;  // else the XOR of the blocks received
  std::uint8_t flashStatus = 0;
  bool stuckBusy = false;
  bool ignoreHostProgramming = false;
  bool deliverDespiteFailure = false;
  std::function<void(const Request&)> onRequest;

  // What happened.
  std::array<std::uint8_t, 0x10000> flash;
  std::vector<Request> log;
  std::vector<SpiCommand> spiCommands;
  std::vector<FlashProgram> programs;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> registerWrites;
  std::map<std::uint16_t, std::uint8_t> registers;
  std::vector<std::vector<std::uint8_t>> blocks;
  std::uint8_t receivedChecksum = 0;

 private:
  HRESULT Next(RequestOp op, std::uint32_t selector) {
    auto it = scripts_.find({op, selector});
    if (it == scripts_.end() || it->second.empty()) return S_OK;
    const HRESULT status = it->second.front();
    it->second.pop_front();
    return status;
  }

  static std::uint32_t Address16(std::span<const std::uint8_t> data) {
    return data.size() >= 2 ? static_cast<std::uint32_t>(data[0] | data[1] << 8) : 0;
  }

  void ApplySet(std::uint32_t selector, std::span<const std::uint8_t> data) {
    switch (selector) {
      case SEL_REG_ADDRESS: registerAddress_ = static_cast<std::uint16_t>(Address16(data)); break;
      case SEL_REG_VALUE:
        if (!data.empty()) WriteRegister(registerAddress_, data[0]);
        break;
      case SEL_DOWNLOAD_MODE:
        if (!data.empty() && data[0] == 1) {
          receivedChecksum = 0;
          downloadPosition_ = 0;
        }
        break;
      case SEL_DOWNLOAD_BLOCK:
        blocks.emplace_back(data.begin(), data.end());
        for (std::uint8_t b : data) {
          receivedChecksum ^= b;
          if (downloadPosition_ < flash.size()) flash[downloadPosition_] = b;
          ++downloadPosition_;
        }
        break;
      case SEL_PROGRAM_ADDRESS:
        if (!ignoreHostProgramming) {
          const std::uint32_t sector = Address16(data) & ~0xFFFu;
          std::fill_n(flash.begin() + sector, 0x1000, 0xFF);
        }
        break;
      case SEL_FLASH_ADDRESS: flashAddress_ = Address16(data); break;
      case SEL_FLASH_DATA:
        // The upper half of each 64-byte group lands at the address plus the
        // group's offset.
        if (!ignoreHostProgramming) {
          for (std::size_t group = 0; group + 64 <= data.size(); group += 64) {
            for (std::size_t j = 0; j < 32; ++j) {
              flash[(flashAddress_ + group + j) & 0xFFFF] &= data[group + 32 + j];
            }
          }
        }
        break;
      default: break;
    }
  }

  void Answer(std::uint32_t selector, std::span<std::uint8_t> data) {
    switch (selector) {
      case SEL_REG_VALUE:
        if (!data.empty()) data[0] = ReadRegister(registerAddress_);
        break;
      case SEL_DOWNLOAD_CHECKSUM:
        if (!data.empty()) data[0] = checksumAnswer.value_or(receivedChecksum);
        break;
      case SEL_FLASH_DATA:
        for (auto& b : data) {
          b = flash[flashAddress_ & 0xFFFF];
          flashAddress_ = (flashAddress_ + 1) & 0xFFFF;
        }
        break;
      default: std::fill(data.begin(), data.end(), 0); break;
    }
  }

  void WriteRegister(std::uint16_t reg, std::uint8_t value) {
    registerWrites.emplace_back(reg, value);
    registers[reg] = value;
    if (reg == REG_SPI_CS) {
      if (value == csAssert_) {
        selected_ = true;
        current_.bytes.clear();
      } else if (selected_) {
        selected_ = false;
        EndCommand();
      }
    } else if (reg == REG_SPI_TX && selected_) {
      current_.bytes.push_back(value);
    }
  }

  std::uint8_t ReadRegister(std::uint16_t reg) {
    if (reg == REG_SPI_BUSY) return stuckBusy ? 1 : 0;
    if (reg == REG_SPI_RX) {
      return selected_ && !current_.bytes.empty() && current_.bytes[0] == 0x05 ? flashStatus : 0;
    }
    auto it = registers.find(reg);
    return it == registers.end() ? 0 : it->second;
  }

  void EndCommand() {
    current_.requestIndex = log.size() - 1;
    spiCommands.push_back(current_);
    const auto& b = current_.bytes;
    if (b.size() >= 4 && b[0] == 0x02) {
      const std::uint32_t address = static_cast<std::uint32_t>(b[1] << 16 | b[2] << 8 | b[3]);
      std::vector<std::uint8_t> data(b.begin() + 4, b.end());
      for (std::size_t i = 0; i < data.size(); ++i) flash[(address + i) & 0xFFFF] &= data[i];
      programs.push_back({address, data, log.size() - 1});
    } else if (b.size() >= 2 && b[0] == 0x01) {
      flashStatus = b[1];
    }
  }

  std::uint8_t csAssert_;
  std::map<std::pair<RequestOp, std::uint32_t>, std::deque<HRESULT>> scripts_;
  std::uint16_t registerAddress_ = 0;
  std::uint32_t flashAddress_ = 0;
  std::size_t downloadPosition_ = 0;
  bool selected_ = false;
  SpiCommand current_;
};

// The kernel-streaming binding to the camera.
class CameraKsControl final : public IKsControl {
 public:
  explicit CameraKsControl(ProgrammingCamera& camera) : camera_(camera) {}
  HRESULT QueryInterface(const Guid&, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return 1; }
  std::uint32_t Release() override { return 1; }

  HRESULT KsProperty(const KSP_NODE* property, std::uint32_t, void* data, std::uint32_t dataLength,
                     std::uint32_t* bytesReturned) override {
    auto* bytes = static_cast<std::uint8_t*>(data);
    const std::uint32_t selector = property->Property.Id;
    if (property->Property.Flags & KSPROPERTY_TYPE_SET) {
      return camera_.Set(selector, {bytes, dataLength});
    }
    if (!data && dataLength == 0) {
      std::uint32_t length = 0;
      const HRESULT status = camera_.Length(selector, &length);
      if (Failed(status)) return status;
      if (bytesReturned) *bytesReturned = length;
      return STATUS_MORE_DATA;
    }
    return camera_.Get(selector, {bytes, dataLength});
  }

 private:
  ProgrammingCamera& camera_;
};

// The driver tunnel to the camera; counts every call it gets.
class CameraTunnel final : public IVendorTunnel {
 public:
  explicit CameraTunnel(ProgrammingCamera& camera) : camera_(camera) {}
  HRESULT QueryInterface(const Guid&, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return 1; }
  std::uint32_t Release() override { return 1; }
  HRESULT Reserved() override { return E_FAIL; }

  HRESULT Send(std::uint32_t, std::uint8_t* buffer, std::uint32_t bufferSize) override {
    ++calls;
    if (bufferSize < 4) return E_INVALIDARG;
    const std::uint32_t word = static_cast<std::uint32_t>(buffer[0] | buffer[1] << 8 |
                                                          buffer[2] << 16 | buffer[3] << 24);
    const std::uint32_t selector = word >> 24;
    const auto code = static_cast<std::uint8_t>(word >> 16);
    const std::uint32_t length = word & 0xFFFF;
    reply_.assign(4, 0);
    if (code == UVC_SET_CUR) {
      if (length + 4 > bufferSize) return E_INVALIDARG;
      return camera_.Set(selector, {buffer + 4, length});
    }
    if (code == UVC_GET_CUR) {
      reply_.assign(length, 0);
      replyStatus_ = camera_.Get(selector, reply_);
      return S_OK;
    }
    if (code == UVC_GET_LEN) {
      std::uint32_t answer = 0;
      replyStatus_ = camera_.Length(selector, &answer);
      for (int i = 0; i < 4; ++i) reply_[i] = static_cast<std::uint8_t>(answer >> (8 * i));
      return S_OK;
    }
    return E_INVALIDARG;
  }

  HRESULT Receive(std::uint32_t, std::uint8_t* buffer, std::uint32_t bufferSize) override {
    ++calls;
    std::copy_n(reply_.begin(), std::min<std::size_t>(reply_.size(), bufferSize), buffer);
    return replyStatus_;
  }

  std::size_t calls = 0;

 private:
  ProgrammingCamera& camera_;
  std::vector<std::uint8_t> reply_;
  HRESULT replyStatus_ = S_OK;
};

class FixedSettings final : public SettingsSource {
 public:
  explicit FixedSettings(int gpio = 0) : gpio_(gpio) {}
  int ReadGpioSetting() const override { return gpio_; }
  std::string ReadProjectSetting() const override { return "ASDF"; }

 private:
  int gpio_;
};

// A flash engine bound to a ProgrammingCamera as discovery would leave it.
struct CameraRig {
  explicit CameraRig(ChipFamily family, ChannelMode mode = ChannelMode::ExtensionUnit)
      : camera(ChipSelectLevelFor(family)), ks(camera), tunnel(camera) {
    engine.channel = std::make_unique<ControlChannel>();
    engine.channel->mode = mode;
    engine.channel->chipFamily = family;
    if (mode == ChannelMode::Tunnel) {
      engine.channel->vendorTunnel = &tunnel;
    } else {
      engine.channel->ksControl = &ks;
    }
    engine.chipSelectLevel = ChipSelectLevelFor(family);
  }

  ProgrammingCamera camera;
  CameraKsControl ks;
  CameraTunnel tunnel;
  FlashEngine engine;
};

}  // namespace torvane::programming_test
