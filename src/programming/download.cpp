#include "programming/download.h"

#include <algorithm>
#include <array>

#include "channel/selectors.h"
#include "flash/flash_identification.h"
#include "programming/firmware_image.h"
#include "programming/host_programming.h"

namespace torvane {

namespace {

constexpr FlashKind kHostProgrammedKind = 6;
constexpr FlashKind kEnableWriteStatusKind = 1;
constexpr std::uint8_t kGpioDownloadBit = 0x02;
constexpr std::uint32_t kVersionFieldSize = 4;

FlashWriteRecord RecordAt(std::uint32_t address, const std::uint8_t* bytes, std::uint16_t count) {
  FlashWriteRecord record;
  record.address = {0x00, static_cast<std::uint8_t>((address >> 8) & 0xFF),
                    static_cast<std::uint8_t>(address & 0xFF)};
  std::copy_n(bytes, count, record.data.begin());
  record.count = count;
  return record;
}

// One run of the device-assisted download, from the GPIO step to leaving
// download mode. Every abort still leaves download mode.
class DeviceDownload {
 public:
  DeviceDownload(FlashEngine& engine, const SettingsSource& settings, Sleeper& sleeper,
                 std::uint8_t* image, std::uint32_t length, FlashKind kind,
                 std::uint32_t versionOffset, ProgressReport* progress)
      : engine_(engine),
        channel_(*engine.channel),
        settings_(settings),
        sleeper_(sleeper),
        image_(image),
        length_(length),
        kind_(kind),
        versionOffset_(versionOffset),
        ax_(channel_.chipFamily == FamilyAx),
        progress_(progress) {}

  std::int32_t Run(std::uint8_t* hostChecksumOut, std::uint8_t* deviceChecksumOut) {
    ApplyGpioSetting();
    checksum_ = ImageChecksum(image_, length_);
    if (hostChecksumOut) *hostChecksumOut = checksum_;
    LoadOpcodeTable(engine_, kind_);
    if (ax_) {
      const std::uint8_t prepare = 0x01;
      channel_.SetSelector(SEL_FAMILY_AX_PREPARE, 1, &prepare);
    }
    engine_.WriteStatusRegister(0x00, kind_ == kEnableWriteStatusKind);

    // A flash that never finished its status write is not written further.
    if (!Abort(engine_.TimedOut()) && EnterDownloadMode() && QueryBlockSize() && SendBlocks()) {
      Report(progress_, PROGRESS_CHECK, 95);
      std::uint8_t deviceChecksum = 0;
      if (QueryChecksum(&deviceChecksum)) {
        sleeper_.Sleep(kChecksumSettleMilliseconds);
        if (deviceChecksumOut) *deviceChecksumOut = deviceChecksum;
        if (deviceChecksum != checksum_ || retries_ != 0 || engine_.TimedOut()) {
          failed_ = true;
        } else {
          MarkValid();
        }
      }
    }
    return LeaveDownloadMode();
  }

 private:
  // Marks the download failed when the condition holds; returns it.
  bool Abort(bool condition) {
    if (condition) failed_ = true;
    return condition;
  }

  void ApplyGpioSetting() {
    if (settings_.ReadGpioSetting() != 1) return;
    SetGpioBit(REG_GPIO_A);
    sleeper_.Sleep(kGpioSettleMilliseconds);
    SetGpioBit(REG_GPIO_B);
  }

  void SetGpioBit(std::uint16_t reg) {
    std::uint8_t value = 0;
    engine_.ReadRegister(reg, &value);
    engine_.WriteRegister(reg, static_cast<std::uint8_t>(value | kGpioDownloadBit));
  }

  bool EnterDownloadMode() {
    const std::uint8_t enter = 0x01;
    if (Succeeded(channel_.SetSelector(SEL_DOWNLOAD_MODE, 1, &enter))) return true;
    ++retries_;
    return !Abort(Failed(channel_.SetSelector(SEL_DOWNLOAD_MODE, 1, &enter)));
  }

  bool QueryBlockSize() {
    // The first answer is always asked for and ignored.
    channel_.GetSelectorLength(SEL_DOWNLOAD_BLOCK, &blockSize_);
    if (Failed(channel_.GetSelectorLength(SEL_DOWNLOAD_BLOCK, &blockSize_))) {
      ++retries_;
      if (Abort(Failed(channel_.GetSelectorLength(SEL_DOWNLOAD_BLOCK, &blockSize_)))) return false;
    }
    // 0 would never advance, more than the buffer does not fit it, and the
    // tunnel refuses what does not fit one frame.
    const std::uint32_t limit =
        channel_.mode == ChannelMode::Tunnel ? kTunnelMaxSetData : kDownloadBlockLimit;
    return !Abort(blockSize_ == 0 || blockSize_ > limit);
  }

  bool SendBlocks() {
    std::array<std::uint8_t, kDownloadBlockLimit> block;
    std::uint32_t offset = 0;
    while (offset < length_) {
      Report(progress_, PROGRESS_DATA, static_cast<std::uint8_t>(offset * 90u / length_ + 5u));
      const std::uint32_t remaining = length_ - offset;
      if (blockSize_ <= remaining) {
        std::copy_n(image_ + offset, blockSize_, block.begin());
        offset += blockSize_;
      } else {
        // The short last block is filled with 0xFF, each fill byte
        // complementing the running checksum, so that it stays the XOR of
        // every byte sent.
        std::copy_n(image_ + offset, remaining, block.begin());
        const std::uint32_t fill = blockSize_ - remaining;
        std::fill_n(block.begin() + remaining, fill, 0xFF);
        if (fill % 2 == 1) checksum_ = static_cast<std::uint8_t>(~checksum_);
        offset = length_;
      }
      const HRESULT status = channel_.SetSelector(SEL_DOWNLOAD_BLOCK, blockSize_, block.data());
      if (!firstBlockSent_) {
        firstBlockSent_ = true;
        ProgramFirstBlockMarkers();
      }
      if (Failed(status)) {
        ++retries_;
        if (Abort(Failed(channel_.SetSelector(SEL_DOWNLOAD_BLOCK, blockSize_, block.data())))) {
          return false;
        }
      }
      if (Abort(engine_.TimedOut())) return false;
    }
    return true;
  }

  void ProgramFirstBlockMarkers() {
    const std::uint8_t pending = ax_ ? MARK_PENDING_AX : MARK_PENDING;
    engine_.ProgramRecord(RecordAt(0, &pending, 1));
    // A short image without the version field has nothing to program there.
    if (static_cast<std::uint64_t>(versionOffset_) + kVersionFieldSize <= length_) {
      engine_.ProgramRecord(RecordAt(versionOffset_, image_ + versionOffset_, kVersionFieldSize));
    }
  }

  bool QueryChecksum(std::uint8_t* deviceChecksum) {
    if (Succeeded(channel_.GetSelector(SEL_DOWNLOAD_CHECKSUM, 1, deviceChecksum))) return true;
    if (Succeeded(channel_.GetSelector(SEL_DOWNLOAD_CHECKSUM, 1, deviceChecksum))) return true;
    ++retries_;
    return !Abort(Failed(channel_.GetSelector(SEL_DOWNLOAD_CHECKSUM, 1, deviceChecksum)));
  }

  void MarkValid() {
    const FlashWriteRecord valid =
        ax_ ? RecordAt(0, MARK_VALID_AX, 2) : RecordAt(0, &MARK_VALID, 1);
    // An unwritten valid marker leaves the flash unconfirmed: not a success.
    if (Abort(engine_.ProgramRecord(valid) != 1)) return;
    engine_.WriteStatusRegister(0x0C, kind_ == kEnableWriteStatusKind);
  }

  std::int32_t LeaveDownloadMode() {
    const std::uint8_t leave = 0x00;
    const bool left = Succeeded(channel_.SetSelector(SEL_DOWNLOAD_MODE, 1, &leave)) ||
                      Succeeded(channel_.SetSelector(SEL_DOWNLOAD_MODE, 1, &leave));
    Report(progress_, PROGRESS_END, 100);
    const bool ok = left && !failed_ && retries_ == 0 && !engine_.TimedOut();
    return ok ? kDownloadOk : kDownloadFailed;
  }

  FlashEngine& engine_;
  ControlChannel& channel_;
  const SettingsSource& settings_;
  Sleeper& sleeper_;
  std::uint8_t* image_;
  std::uint32_t length_;
  FlashKind kind_;
  std::uint32_t versionOffset_;
  bool ax_;
  ProgressReport* progress_;

  std::uint8_t checksum_ = 0;
  std::uint32_t blockSize_ = 0;
  std::uint32_t retries_ = 0;
  bool failed_ = false;
  bool firstBlockSent_ = false;
};

}  // namespace

std::int32_t DownloadImage(FlashEngine& engine, const SettingsSource& settings, Sleeper& sleeper,
                           std::uint8_t* image, std::uint32_t length, std::uint32_t kind,
                           std::uint8_t* hostChecksumOut, std::uint8_t* deviceChecksumOut,
                           ProgressReport* progress) {
  const auto flashKind = static_cast<FlashKind>(kind & 0xFF);
  if (flashKind > kHostProgrammedKind) return kDownloadKindOutOfRange;
  if (!image || !engine.channel) return kDownloadFailed;
  const ChipFamily family = engine.channel->chipFamily;
  const auto typeOffset = FlashTypeOffsetFor(family);
  const auto versionOffset = VersionOffsetFor(family);
  // Only the four known families have a place for the flash-type byte and
  // the version; a longer image than the flash does not fit it.
  if (!typeOffset || !versionOffset || length > kImageSize) return kDownloadFailed;

  engine.ClearTimeout();
  if (*typeOffset < length) image[*typeOffset] = FlashTypeByteFor(flashKind);
  Report(progress, PROGRESS_START, 5);

  if (flashKind == kHostProgrammedKind && family != FamilyAx) {
    return ProgramFromHost(engine, settings, image, length, hostChecksumOut, deviceChecksumOut,
                           progress) == 1
               ? kDownloadOk
               : kDownloadFailed;
  }
  DeviceDownload download(engine, settings, sleeper, image, length, flashKind, *versionOffset,
                          progress);
  return download.Run(hostChecksumOut, deviceChecksumOut);
}

}  // namespace torvane
