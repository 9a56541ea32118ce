#include "app/update_procedure.h"


#include "channel/camera_discovery.h"
#include "flash/flash_identification.h"

namespace torvane {

UpdateProcedure::UpdateProcedure(UpdateView& view, const UpdaterEnvironment& environment,
                                 FirmwareImage& image)
    : m_pFlashBuffer(new std::uint8_t[kFlashBufferSize]),
      view_(view),
      environment_(environment),
      image_(image) {}

void UpdateProcedure::OnInitDialog() {
  m_strStatus = texts::kWelcome;
  view_.ShowStatus(m_strStatus);
  m_bDone = 0;
}

void UpdateProcedure::ShowStatus(const std::string& text) {
  m_strStatus = text;
  view_.ShowStatus(m_strStatus);
}

void UpdateProcedure::Finish(UpdateOutcome outcome) {
  m_lastOutcome = outcome;
}

void UpdateProcedure::OnBnClickedUpdate() {
  if (m_bDone) {
    view_.Close();
    Finish(UpdateOutcome::Closed);
    return;
  }

  ShowStatus(texts::kPrepare);
  view_.RepaintNow();

  // The new attempt's updater replaces the previous one.
  m_pUpdater = std::make_unique<CameraUpdater>(environment_);
  CameraUpdater& updater = *m_pUpdater;

  m_nLastResult = updater.Open(AnyFamily);
  if (m_nLastResult != 0) {
    ShowStatus(texts::kNoCamera);
    return Finish(UpdateOutcome::NoCamera);
  }
  ShowStatus(texts::kFound);
  view_.RepaintNow();

  FlashTypeCode code = 0;
  m_nLastResult = updater.DetectFlashType(&code);
  if (m_nLastResult != 0) {
    ShowStatus(texts::kFlashTypeFailed);
    return Finish(UpdateOutcome::FlashTypeFailed);
  }
  const FlashKind kind = FlashKindForCode(code).value_or(0);

  m_nLastResult = updater.ReadFirstBlock(m_pFlashBuffer.get(), kFlashBufferSize, 0, kind);
  if (m_nLastResult != 0) {
    ShowStatus(texts::kFirstBlockFailed);
    return Finish(UpdateOutcome::FirstBlockFailed);
  }
  const std::uint8_t flashByte0 = m_pFlashBuffer[0];

  std::uint32_t version = 0;
  m_nLastResult = updater.ReadFirmwareVersion(&version);
  if (m_nLastResult != 0) {
    ShowStatus(texts::kVersionFailed);
    return Finish(UpdateOutcome::VersionFailed);
  }
  const std::uint32_t codeVersion = version >> 8;

  view_.SetProgressRange(0, 100);
  view_.SetProgress(10);

  if (!QualifiesForUpdate(flashByte0, codeVersion)) {
    view_.SetProgress(0);
    ShowStatus(std::string(texts::kNotQualifiedPrefix) + NotQualifiedSuffix(codeVersion));
    m_bDone = 1;
    view_.SetButtonCaption(texts::kButtonDone);
    return Finish(UpdateOutcome::NotQualified);
  }

  if (ImageHeaderVersion(image_.bytes()) != kRequiredHeaderVersion) {
    ShowStatus(std::string(texts::kHeaderMismatchPrefix) + HeaderMismatchSuffix());
    view_.SetProgress(0);
    m_bDone = 1;
    view_.SetButtonCaption(texts::kButtonDone);
    return Finish(UpdateOutcome::HeaderMismatch);
  }

  view_.EnableButton(false);
  ShowStatus(texts::kDownloading);
  view_.RepaintNow();
  view_.SetProgress(50);

  m_nLastResult = updater.Download(image_.data(), image_.size(), kind, nullptr, nullptr, nullptr);
  view_.EnableButton(true);

  if (m_nLastResult != 0) {
    view_.SetProgress(0);
    ShowStatus(texts::kDownloadFailed);
    return Finish(UpdateOutcome::DownloadFailed);
  }
  view_.SetProgress(100);
  m_strStatus = texts::kCompleted;
  m_bDone = 1;
  view_.SetButtonCaption(texts::kButtonDone);
  view_.ShowStatus(m_strStatus);
  Finish(UpdateOutcome::Completed);
}

}  // namespace torvane
