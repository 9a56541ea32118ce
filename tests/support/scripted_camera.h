// Test doubles for the camera's side of the control channel.
//
// - RecordingKsControl, RecordingTunnel and ScriptedTopology stand in for the
//   platform interfaces one call at a time: each call is recorded whole and
//   answered from a queue of scripted answers, then from a default answer.
//   They serve exact-bytes tests of the channel's two bindings.
// - ScriptedCamera is a register- and block-level camera behind IKsControl:
//   it decodes the selector requests, keeps registers and a flash image, and
//   logs what it saw both as selector requests and as register accesses.
//   Reads can be scripted per register and any request can be made to fail.
//   It models no flash chip: the answers a sequence needs are scripted.
//
// All of them are plain objects owned by the test (on the stack or in a
// fixture). Their reference counts only count; nothing is ever deleted
// through Release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "channel/chip_family.h"
#include "channel/control_channel.h"
#include "flash/flash_engine.h"
#include "flash/settings_source.h"
#include "platform/kernel_streaming.h"

namespace torvane::fakes {

// IUnknown for a fake: answers its own interface and IUnknown, counts the
// references handed out and returned.
template <class Interface>
class FakeComObject : public Interface {
 public:
  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == Interface::Iid()) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return ++references_; }
  std::uint32_t Release() override { return --references_; }
  // References taken through AddRef/QueryInterface and not yet released.
  std::uint32_t OutstandingReferences() const { return references_; }

 private:
  std::uint32_t references_ = 0;
};

// ---------------------------------------------------------------------------
// Kernel-streaming property control, one recorded call at a time.

struct KsCall {
  KSP_NODE property;             // the header as it was at the call
  std::uint32_t propertyLength;
  bool dataPresent;              // whether a data buffer was passed
  std::uint32_t dataLength;
  std::vector<std::uint8_t> sent;  // SET: the data bytes passed in
  bool bytesReturnedPresent;
  HRESULT status;
};

struct KsAnswer {
  HRESULT status = S_OK;
  // GET: written into the caller's buffer, cut to its length.
  std::vector<std::uint8_t> data;
  // Stored in the bytes-returned count when one is passed.
  std::uint32_t bytesReturned = 0;
};

class RecordingKsControl final : public FakeComObject<IKsControl> {
 public:
  // Answers the next call; calls beyond the queue get defaultAnswer.
  void QueueAnswer(KsAnswer answer) { answers_.push_back(std::move(answer)); }
  KsAnswer defaultAnswer;

  const std::vector<KsCall>& Calls() const { return calls_; }

  HRESULT KsProperty(const KSP_NODE* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t* bytesReturned) override;

 private:
  std::deque<KsAnswer> answers_;
  std::vector<KsCall> calls_;
};

// ---------------------------------------------------------------------------
// The driver's tunnel, one recorded call at a time.

struct TunnelCall {
  enum class Kind { Send, Receive };
  Kind kind;
  std::uint32_t code;
  std::uint32_t bufferSize;
  // Send: the whole frame as handed over. Receive: the buffer as the fake
  // left it (reply written).
  std::vector<std::uint8_t> buffer;
  HRESULT status;
};

struct TunnelReply {
  HRESULT status = S_OK;
  // Written at offset 0 of the receive buffer, cut to its size.
  std::vector<std::uint8_t> bytes;
};

class RecordingTunnel final : public FakeComObject<IVendorTunnel> {
 public:
  void QueueSendStatus(HRESULT status) { sendStatuses_.push_back(status); }
  HRESULT defaultSendStatus = S_OK;
  void QueueReply(TunnelReply reply) { replies_.push_back(std::move(reply)); }
  TunnelReply defaultReply;

  const std::vector<TunnelCall>& Calls() const { return calls_; }
  std::size_t ReservedCalls() const { return reservedCalls_; }

  HRESULT Reserved() override {
    ++reservedCalls_;
    return E_FAIL;
  }
  HRESULT Receive(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) override;
  HRESULT Send(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) override;

 private:
  std::deque<HRESULT> sendStatuses_;
  std::deque<TunnelReply> replies_;
  std::vector<TunnelCall> calls_;
  std::size_t reservedCalls_ = 0;
};

// ---------------------------------------------------------------------------
// A filter topology: a node count and each node's type.

class ScriptedTopology final : public FakeComObject<IKsTopologyInfo> {
 public:
  struct Node {
    Guid type;
    HRESULT status = S_OK;  // a failing get_NodeType answers this
  };
  HRESULT numNodesStatus = S_OK;
  std::vector<Node> nodes;
  std::size_t nodeTypeQueries = 0;

  HRESULT get_NumNodes(std::uint32_t* count) override;
  HRESULT get_NodeType(std::uint32_t nodeIndex, Guid* nodeType) override;
};

// ---------------------------------------------------------------------------
// A register- and block-level camera.

// One request as the camera saw it.
struct CameraRequest {
  RequestOp op;
  std::uint32_t selector;
  std::uint32_t length;  // Set/Get: the data length; Length: the length answered
  std::vector<std::uint8_t> data;  // Set: bytes received; Get: bytes answered
  HRESULT status;
};

// One register access: the address request and the value request that
// followed it. Accesses whose value request never came are not listed.
struct RegisterAccess {
  bool write;
  std::uint16_t address;
  std::uint8_t value;  // written, or answered
  HRESULT status;      // of the value request

  friend bool operator==(const RegisterAccess& a, const RegisterAccess& b) {
    return a.write == b.write && a.address == b.address && a.value == b.value;
  }
};
// For expectation tables (status left out of the comparison).
inline RegisterAccess W(std::uint16_t address, std::uint8_t value) {
  return {true, address, value, S_OK};
}
inline RegisterAccess R(std::uint16_t address, std::uint8_t value) {
  return {false, address, value, S_OK};
}
std::string Describe(const RegisterAccess& access);
void PrintTo(const RegisterAccess& access, std::ostream* os);

class ScriptedCamera final : public FakeComObject<IKsControl> {
 public:
  ScriptedCamera();

  // Registers. A read answers the next value scripted for that register,
  // then the register's current value: the last one written or set, else 0
  // (so REG_SPI_BUSY reads idle unless scripted otherwise).
  void SetRegister(std::uint16_t address, std::uint8_t value) { registers_[address] = value; }
  std::uint8_t Register(std::uint16_t address) const;
  void ScriptReads(std::uint16_t address, std::vector<std::uint8_t> values);
  // Every read of the register answers value, scripted or not (a bridge
  // that stays busy, a status that never clears).
  void StickRegister(std::uint16_t address, std::uint8_t value) { stuck_[address] = value; }

  // Flash blocks. Sets of SEL_FLASH_ADDRESS move the read position (taken
  // modulo the image size); each get of SEL_FLASH_DATA answers the bytes
  // from there and moves on, so blocks continue where the last one ended.
  std::vector<std::uint8_t> flash;  // 64 KiB, filled with a pattern
  std::uint32_t FlashPosition() const { return flashPosition_; }

  // Length queries answer the next scripted length for the selector, then
  // the set one (0 when none was set).
  void SetSelectorLength(std::uint32_t selector, std::uint32_t length) {
    lengths_[selector] = length;
  }
  void ScriptLengths(std::uint32_t selector, std::vector<std::uint32_t> lengths);

  // Gets of other selectors answer the next queued reply, else zeros.
  void QueueGetReply(std::uint32_t selector, std::vector<std::uint8_t> bytes);

  // Failure injection. Asked before each request is served, with the
  // request as it would be logged (for a Get, no data yet) and its index in
  // the log; a negative answer fails the request: it is logged with that
  // status and has no effect on the camera.
  std::function<HRESULT(const CameraRequest& request, std::size_t index)> failRequest;
  // The same for register value requests, with the latched address.
  std::function<HRESULT(const RegisterAccess& access)> failRegister;

  const std::vector<CameraRequest>& Requests() const { return requests_; }
  std::vector<RegisterAccess> RegisterAccesses() const;
  void ClearLog() { requests_.clear(); }

  HRESULT KsProperty(const KSP_NODE* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t* bytesReturned) override;

 private:
  HRESULT Serve(CameraRequest& request, std::uint8_t* data);
  std::uint8_t ReadRegisterValue(std::uint16_t address);

  std::map<std::uint16_t, std::uint8_t> registers_;
  std::map<std::uint16_t, std::deque<std::uint8_t>> scriptedReads_;
  std::map<std::uint16_t, std::uint8_t> stuck_;
  std::map<std::uint32_t, std::uint32_t> lengths_;
  std::map<std::uint32_t, std::deque<std::uint32_t>> scriptedLengths_;
  std::map<std::uint32_t, std::deque<std::vector<std::uint8_t>>> getReplies_;
  std::uint16_t latchedAddress_ = 0;
  std::uint32_t flashPosition_ = 0;
  std::vector<CameraRequest> requests_;
};

// A channel bound to control in ExtensionUnit mode (node 0, set A).
std::unique_ptr<ControlChannel> MakeExtensionUnitChannel(IKsControl* control,
                                                         ChipFamily family = FamilyUnknown);

// Gives engine a channel to camera for a camera of family, with the chip
// select level that family uses (as opening the camera does).
void AttachCamera(FlashEngine& engine, ScriptedCamera& camera, ChipFamily family);

// Settings that answer fixed values and count the reads.
class ScriptedSettings final : public SettingsSource {
 public:
  explicit ScriptedSettings(std::string project = "ASDF", int gpio = 0)
      : project_(std::move(project)), gpio_(gpio) {}
  int ReadGpioSetting() const override {
    ++gpioReads;
    return gpio_;
  }
  std::string ReadProjectSetting() const override {
    ++projectReads;
    return project_;
  }
  mutable std::size_t gpioReads = 0;
  mutable std::size_t projectReads = 0;

 private:
  std::string project_;
  int gpio_;
};

}  // namespace torvane::fakes
