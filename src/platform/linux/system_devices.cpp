#include "platform/linux/system_devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/com_object.h"
#include "platform/moniker_list.h"
#include "platform/system_devices.h"

namespace torvane {

namespace linux_devices {

namespace {

// An open file descriptor, closed with its owner.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Close(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_;
};

// An interrupted ioctl is repeated, a few times at most.
int Ioctl(int fd, unsigned long request, void* argument) {
  int result = -1;
  for (int attempt = 0; attempt < 8; ++attempt) {
    result = ::ioctl(fd, request, argument);
    if (result != -1 || errno != EINTR) break;
  }
  return result;
}

UniqueFd OpenNode(const std::string& path, int access) {
  return UniqueFd(::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC));
}

// "video" followed by digits only; the number's digits are returned.
bool VideoNodeNumber(const std::string& name, std::string* digits) {
  constexpr std::string_view kPrefix = "video";
  if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  const std::string rest = name.substr(kPrefix.size());
  if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  *digits = rest;
  return true;
}

std::string FixedString(const __u8* text, std::size_t size) {
  const auto* chars = reinterpret_cast<const char*>(text);
  return std::string(chars, ::strnlen(chars, size));
}

bool QueryCaptureNode(const std::string& path, VideoCaptureNode* node) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const UniqueFd fd = OpenNode(path, O_RDONLY);
  if (!fd) return false;
  v4l2_capability caps{};
  if (Ioctl(fd.get(), VIDIOC_QUERYCAP, &caps) != 0) return false;
  // device_caps describes this node; capabilities the whole device.
  const std::uint32_t nodeCaps =
      (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
  if (!(nodeCaps & V4L2_CAP_VIDEO_CAPTURE)) return false;
  node->path = path;
  node->card = FixedString(caps.card, sizeof caps.card);
  node->busInfo = FixedString(caps.bus_info, sizeof caps.bus_info);
  return true;
}

HRESULT StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return STATUS_DEVICE_NOT_CONNECTED;
    default:
      return E_FAIL;
  }
}

// A bound V4L2 node. It keeps the node open for the life of the filter.
class NodeFilter final : public ComObject<NodeFilter, IBaseFilter> {
 public:
  NodeFilter(VideoCaptureNode node, UniqueFd fd) : node_(std::move(node)), fd_(std::move(fd)) {}

  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IBaseFilter) return Hand<IBaseFilter>(out);
    return QueryExtensionUnit(iid, out);
  }

 private:
  friend class ComObject<NodeFilter, IBaseFilter>;
  ~NodeFilter() = default;

  // The seam for the uvcvideo extension-unit binding: it is to find the
  // camera's extension unit in the USB descriptors of node_ (by busInfo),
  // answer IKsTopologyInfo with a node list that holds it, and serve
  // IKsControl on that node through UVCIOC_CTRL_QUERY on fd_ (SET_CUR,
  // GET_CUR, and GET_LEN for the length query). Until then no
  // extension-unit interface is offered and discovery passes the node over.
  HRESULT QueryExtensionUnit(const Guid& /*iid*/, void** out) { return NoInterface(out); }

  VideoCaptureNode node_;
  UniqueFd fd_;
};

class NodeMoniker final : public ComObject<NodeMoniker, IMoniker> {
 public:
  explicit NodeMoniker(VideoCaptureNode node) : node_(std::move(node)) {}

  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown) return Hand<IMoniker>(out);
    return NoInterface(out);
  }

  HRESULT BindToObject(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    UniqueFd fd = OpenNode(node_.path, O_RDWR);
    if (!fd) return StatusFromErrno(errno);
    const auto filter = Ref<IBaseFilter>::Adopt(new NodeFilter(node_, std::move(fd)));
    return filter->QueryInterface(iid, out);
  }

  std::string FriendlyName() override { return node_.card; }

 private:
  friend class ComObject<NodeMoniker, IMoniker>;
  ~NodeMoniker() = default;

  VideoCaptureNode node_;
};

class NodeEnvironment final : public DeviceEnvironment {
 public:
  explicit NodeEnvironment(std::string directory) : directory_(std::move(directory)) {}

  // There is no apartment to set up.
  HRESULT CoInitialize() override { return S_OK; }

  HRESULT CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) override {
    if (!out) return E_POINTER;
    // The nodes are listed afresh at every enumeration.
    *out = DeviceListEnum::Create([directory = directory_] {
      auto nodes = std::make_shared<std::vector<VideoCaptureNode>>(ListVideoCaptureNodes(directory));
      DeviceListEnum::Listing listing;
      listing.count = nodes->size();
      listing.make = [nodes](std::size_t index) {
        return Ref<IMoniker>::Adopt(new NodeMoniker((*nodes)[index]));
      };
      return listing;
    });
    return S_OK;
  }

 private:
  std::string directory_;
};

}  // namespace

std::vector<VideoCaptureNode> ListVideoCaptureNodes(const std::string& directory) {
  struct Candidate {
    std::string digits;
    std::string path;
  };
  std::vector<Candidate> candidates;
  std::error_code error;
  std::filesystem::directory_iterator it(directory, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    std::string digits;
    if (VideoNodeNumber(it->path().filename().string(), &digits)) {
      candidates.push_back({digits, it->path().string()});
    }
  }
  // By number, so that video10 follows video9; a number with more digits is
  // the larger one (leading zeros aside, which the kernel does not use).
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size();
    return a.digits < b.digits;
  });
  std::vector<VideoCaptureNode> nodes;
  for (const Candidate& candidate : candidates) {
    VideoCaptureNode node;
    if (QueryCaptureNode(candidate.path, &node)) nodes.push_back(std::move(node));
  }
  return nodes;
}

std::unique_ptr<DeviceEnvironment> CreateDeviceEnvironment(std::string directory) {
  return std::make_unique<NodeEnvironment>(std::move(directory));
}

}  // namespace linux_devices

std::unique_ptr<DeviceEnvironment> CreateSystemDeviceEnvironment() {
  return linux_devices::CreateDeviceEnvironment("/dev");
}

}  // namespace torvane
