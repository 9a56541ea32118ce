#include "support/scripted_camera.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "channel/selectors.h"

namespace torvane::fakes {

namespace {

bool IsSet(const KSP_NODE& property) {
  return (property.Property.Flags & KSPROPERTY_TYPE_SET) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------

HRESULT RecordingKsControl::KsProperty(const KSP_NODE* property, std::uint32_t propertyLength,
                                       void* data, std::uint32_t dataLength,
                                       std::uint32_t* bytesReturned) {
  KsAnswer answer = defaultAnswer;
  if (!answers_.empty()) {
    answer = std::move(answers_.front());
    answers_.pop_front();
  }
  KsCall call{};
  if (property) call.property = *property;
  call.propertyLength = propertyLength;
  call.dataPresent = data != nullptr;
  call.dataLength = dataLength;
  call.bytesReturnedPresent = bytesReturned != nullptr;
  call.status = answer.status;
  auto* bytes = static_cast<std::uint8_t*>(data);
  if (property && IsSet(*property)) {
    if (bytes) call.sent.assign(bytes, bytes + dataLength);
  } else if (bytes) {
    std::copy_n(answer.data.begin(), std::min<std::size_t>(answer.data.size(), dataLength), bytes);
  }
  if (bytesReturned) *bytesReturned = answer.bytesReturned;
  calls_.push_back(std::move(call));
  return answer.status;
}

// ---------------------------------------------------------------------------

HRESULT RecordingTunnel::Send(std::uint32_t code, std::uint8_t* buffer, std::uint32_t bufferSize) {
  HRESULT status = defaultSendStatus;
  if (!sendStatuses_.empty()) {
    status = sendStatuses_.front();
    sendStatuses_.pop_front();
  }
  TunnelCall call{TunnelCall::Kind::Send, code, bufferSize, {}, status};
  if (buffer) call.buffer.assign(buffer, buffer + bufferSize);
  calls_.push_back(std::move(call));
  return status;
}

HRESULT RecordingTunnel::Receive(std::uint32_t code, std::uint8_t* buffer,
                                 std::uint32_t bufferSize) {
  TunnelReply reply = defaultReply;
  if (!replies_.empty()) {
    reply = std::move(replies_.front());
    replies_.pop_front();
  }
  TunnelCall call{TunnelCall::Kind::Receive, code, bufferSize, {}, reply.status};
  if (buffer) {
    std::copy_n(reply.bytes.begin(), std::min<std::size_t>(reply.bytes.size(), bufferSize),
                buffer);
    call.buffer.assign(buffer, buffer + bufferSize);
  }
  calls_.push_back(std::move(call));
  return reply.status;
}

// ---------------------------------------------------------------------------

HRESULT ScriptedTopology::get_NumNodes(std::uint32_t* count) {
  if (!count) return E_POINTER;
  if (Failed(numNodesStatus)) return numNodesStatus;
  *count = static_cast<std::uint32_t>(nodes.size());
  return numNodesStatus;
}

HRESULT ScriptedTopology::get_NodeType(std::uint32_t nodeIndex, Guid* nodeType) {
  ++nodeTypeQueries;
  if (!nodeType) return E_POINTER;
  if (nodeIndex >= nodes.size()) return E_INVALIDARG;
  if (Failed(nodes[nodeIndex].status)) return nodes[nodeIndex].status;
  *nodeType = nodes[nodeIndex].type;
  return S_OK;
}

// ---------------------------------------------------------------------------

std::string Describe(const RegisterAccess& access) {
  char text[48];
  std::snprintf(text, sizeof text, "%s %04X %02X", access.write ? "W" : "R", access.address,
                access.value);
  return text;
}

void PrintTo(const RegisterAccess& access, std::ostream* os) { *os << Describe(access); }

ScriptedCamera::ScriptedCamera() : flash(0x10000) {
  // A pattern that differs between neighbouring bytes and 256-byte pages.
  for (std::size_t i = 0; i < flash.size(); ++i) {
    flash[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 8));
  }
}

std::uint8_t ScriptedCamera::Register(std::uint16_t address) const {
  const auto it = registers_.find(address);
  return it == registers_.end() ? 0 : it->second;
}

void ScriptedCamera::ScriptReads(std::uint16_t address, std::vector<std::uint8_t> values) {
  auto& queue = scriptedReads_[address];
  queue.insert(queue.end(), values.begin(), values.end());
}

void ScriptedCamera::ScriptLengths(std::uint32_t selector, std::vector<std::uint32_t> lengths) {
  auto& queue = scriptedLengths_[selector];
  queue.insert(queue.end(), lengths.begin(), lengths.end());
}

void ScriptedCamera::QueueGetReply(std::uint32_t selector, std::vector<std::uint8_t> bytes) {
  getReplies_[selector].push_back(std::move(bytes));
}

std::uint8_t ScriptedCamera::ReadRegisterValue(std::uint16_t address) {
  std::uint8_t value = Register(address);
  auto queue = scriptedReads_.find(address);
  if (queue != scriptedReads_.end() && !queue->second.empty()) {
    value = queue->second.front();
    queue->second.pop_front();
  }
  const auto stuck = stuck_.find(address);
  return stuck == stuck_.end() ? value : stuck->second;
}

std::vector<RegisterAccess> ScriptedCamera::RegisterAccesses() const {
  std::vector<RegisterAccess> accesses;
  std::uint16_t address = 0;
  for (const CameraRequest& request : requests_) {
    if (request.selector == SEL_REG_ADDRESS && request.op == RequestOp::Set &&
        request.data.size() >= 2) {
      address = static_cast<std::uint16_t>(request.data[0] | (request.data[1] << 8));
    } else if (request.selector == SEL_REG_VALUE && request.op != RequestOp::Length) {
      const std::uint8_t value = request.data.empty() ? 0 : request.data[0];
      accesses.push_back({request.op == RequestOp::Set, address, value, request.status});
    }
  }
  return accesses;
}

HRESULT ScriptedCamera::KsProperty(const KSP_NODE* property, std::uint32_t /*propertyLength*/,
                                   void* data, std::uint32_t dataLength,
                                   std::uint32_t* bytesReturned) {
  if (!property) return E_POINTER;
  auto* bytes = static_cast<std::uint8_t*>(data);
  CameraRequest request{};
  request.selector = property->Property.Id;
  request.length = dataLength;
  if (IsSet(*property)) {
    request.op = RequestOp::Set;
    if (bytes) request.data.assign(bytes, bytes + dataLength);
  } else {
    request.op = (bytes == nullptr && dataLength == 0) ? RequestOp::Length : RequestOp::Get;
  }
  if (request.op == RequestOp::Length) request.length = 0;

  HRESULT status = S_OK;
  if (failRequest) status = failRequest(request, requests_.size());
  if (Succeeded(status) && failRegister && request.selector == SEL_REG_VALUE &&
      request.op != RequestOp::Length) {
    status = failRegister({request.op == RequestOp::Set, latchedAddress_,
                           request.data.empty() ? std::uint8_t{0} : request.data[0], S_OK});
  }
  if (Succeeded(status)) status = Serve(request, bytes);
  request.status = status;
  if (request.op == RequestOp::Length && Succeeded(status)) {
    // The kernel-streaming way of answering a size query.
    if (bytesReturned) *bytesReturned = request.length;
    status = STATUS_MORE_DATA;
  }
  requests_.push_back(std::move(request));
  return status;
}

HRESULT ScriptedCamera::Serve(CameraRequest& request, std::uint8_t* data) {
  switch (request.op) {
    case RequestOp::Length: {
      std::uint32_t length = lengths_.count(request.selector) ? lengths_[request.selector] : 0;
      auto queue = scriptedLengths_.find(request.selector);
      if (queue != scriptedLengths_.end() && !queue->second.empty()) {
        length = queue->second.front();
        queue->second.pop_front();
      }
      request.length = length;
      return S_OK;
    }
    case RequestOp::Set:
      if (request.selector == SEL_REG_ADDRESS && request.data.size() >= 2) {
        latchedAddress_ = static_cast<std::uint16_t>(request.data[0] | (request.data[1] << 8));
      } else if (request.selector == SEL_REG_VALUE && !request.data.empty()) {
        registers_[latchedAddress_] = request.data[0];
      } else if (request.selector == SEL_FLASH_ADDRESS && request.data.size() >= 4) {
        const std::uint32_t address = request.data[0] | (request.data[1] << 8) |
                                      (request.data[2] << 16) |
                                      (static_cast<std::uint32_t>(request.data[3]) << 24);
        flashPosition_ = static_cast<std::uint32_t>(address % flash.size());
      }
      return S_OK;
    case RequestOp::Get: {
      request.data.assign(request.length, 0);
      auto replies = getReplies_.find(request.selector);
      if (replies != getReplies_.end() && !replies->second.empty()) {
        const auto& reply = replies->second.front();
        std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), request.length),
                    request.data.begin());
        replies->second.pop_front();
      } else if (request.selector == SEL_REG_VALUE && request.length >= 1) {
        request.data[0] = ReadRegisterValue(latchedAddress_);
      } else if (request.selector == SEL_FLASH_DATA && !flash.empty()) {
        for (std::uint32_t i = 0; i < request.length; ++i) {
          request.data[i] = flash[(flashPosition_ + i) % flash.size()];
        }
        flashPosition_ = static_cast<std::uint32_t>((flashPosition_ + request.length) % flash.size());
      }
      if (data) std::copy(request.data.begin(), request.data.end(), data);
      return S_OK;
    }
  }
  return E_FAIL;
}

// ---------------------------------------------------------------------------

std::unique_ptr<ControlChannel> MakeExtensionUnitChannel(IKsControl* control, ChipFamily family) {
  auto channel = std::make_unique<ControlChannel>();
  channel->mode = ChannelMode::ExtensionUnit;
  channel->ksControl = control;
  channel->nodeProperty.Property.Set = XU_PROPERTY_SET_A;
  channel->chipFamily = family;
  return channel;
}

void AttachCamera(FlashEngine& engine, ScriptedCamera& camera, ChipFamily family) {
  engine.channel = MakeExtensionUnitChannel(&camera, family);
  if (family != FamilyUnknown) engine.chipSelectLevel = ChipSelectLevelFor(family);
}

}  // namespace torvane::fakes
