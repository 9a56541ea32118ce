#include "emulator/device_environment.h"

#include <utility>

#include "platform/moniker_list.h"

namespace torvane::emulator {

namespace {

using DeviceList = std::shared_ptr<const std::vector<EmulatedDevice>>;

class DeviceMoniker final : public ComObject<DeviceMoniker, IMoniker> {
 public:
  DeviceMoniker(DeviceList devices, std::size_t index, std::shared_ptr<RefLedger> ledger)
      : ComObject(std::move(ledger)), devices_(std::move(devices)), index_(index) {}

  HRESULT QueryInterface(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown) return Hand<IMoniker>(out);
    return NoInterface(out);
  }

  HRESULT BindToObject(const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const EmulatedDevice& device = (*devices_)[index_];
    if (device.bindFails) return E_FAIL;
    CaptureFilterConfig config;
    config.unit = device.device;
    config.binding = device.binding;
    config.nodeCount = device.nodeCount;
    config.extensionUnitNode = device.extensionUnitNode;
    const Ref<IBaseFilter> filter = CreateCaptureFilter(std::move(config), ledger());
    return filter->QueryInterface(iid, out);
  }

  std::string FriendlyName() override { return (*devices_)[index_].name; }

 private:
  friend class ComObject<DeviceMoniker, IMoniker>;
  ~DeviceMoniker() = default;

  DeviceList devices_;
  std::size_t index_;
};

}  // namespace

EmulatedDeviceEnvironment::EmulatedDeviceEnvironment(std::vector<EmulatedDevice> devices)
    : devices_(std::make_shared<const std::vector<EmulatedDevice>>(std::move(devices))),
      ledger_(std::make_shared<RefLedger>()) {}

EmulatedDeviceEnvironment::~EmulatedDeviceEnvironment() = default;

HRESULT EmulatedDeviceEnvironment::CoInitialize() { return S_OK; }

HRESULT EmulatedDeviceEnvironment::CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) {
  if (!out) return E_POINTER;
  *out = DeviceListEnum::Create(
      [devices = devices_, ledger = ledger_] {
        DeviceListEnum::Listing listing;
        listing.count = devices->size();
        listing.make = [devices, ledger](std::size_t index) {
          auto moniker = Ref<IMoniker>::Adopt(new DeviceMoniker(devices, index, ledger));
          const auto& faults = (*devices)[index].faults;
          return faults ? FaultingMoniker::Create(std::move(moniker), faults, ledger) : moniker;
        };
        return listing;
      },
      ledger_);
  return S_OK;
}

}  // namespace torvane::emulator
