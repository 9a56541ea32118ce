// What the "Update" button runs: one attempt from finding the camera to the
// download, reported through a view. Written once for every front end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/outcome.h"
#include "app/update_view.h"
#include "programming/camera_updater.h"
#include "programming/firmware_image.h"

namespace torvane {

class UpdateProcedure {
 public:
  // view, image and the environment's members are borrowed and must outlive
  // the procedure.
  UpdateProcedure(UpdateView& view, const UpdaterEnvironment& environment, FirmwareImage& image);
  UpdateProcedure(const UpdateProcedure&) = delete;
  UpdateProcedure& operator=(const UpdateProcedure&) = delete;

  // The dialog's initialisation: the welcome text, not yet done.
  void OnInitDialog();
  // One press of the button.
  void OnBnClickedUpdate();

  UpdateOutcome lastOutcome() const { return m_lastOutcome; }

  // Dialog state, in the dialog's declaration order.
  std::unique_ptr<CameraUpdater> m_pUpdater;
  std::int32_t m_nLastResult = 0;
  std::string m_strStatus;
  std::unique_ptr<std::uint8_t[]> m_pFlashBuffer;
  std::int32_t m_bDone = 0;

  static constexpr std::size_t kFlashBufferSize = 0x10000;

 private:
  void ShowStatus(const std::string& text);
  void Finish(UpdateOutcome outcome);

  UpdateView& view_;
  UpdaterEnvironment environment_;
  FirmwareImage& image_;
  UpdateOutcome m_lastOutcome = UpdateOutcome::None;
};

}  // namespace torvane
