// The outcomes of an update attempt and everything the user is told about
// them: status texts and command-line exit statuses, in one place.
#pragma once

#include <cstdint>
#include <string>

namespace torvane {

enum class UpdateOutcome {
  None,             // no attempt has ended yet
  NoCamera,
  FlashTypeFailed,
  FirstBlockFailed,
  VersionFailed,
  NotQualified,     // finished without download
  HeaderMismatch,   // finished without download
  DownloadFailed,
  Completed,
  Closed,           // the press after a final outcome
};

namespace texts {
inline constexpr const char* kWelcome =
    "Please connect your Zanfor QV-5830 webcam to the system and press the \"Update\" button "
    "below.\r\n";
inline constexpr const char* kPrepare = "Prepare information...\r\n";
inline constexpr const char* kNoCamera = "Please plug in Zanfor 5830 webcam(2).\r\n";
inline constexpr const char* kFound = "Zanfor Webcam is found.\r\n";
inline constexpr const char* kFlashTypeFailed = "can't get Flash type";
inline constexpr const char* kFirstBlockFailed = "upload flash error, please plug usb again!";
inline constexpr const char* kVersionFailed = "Get flash version err, plug again!";
inline constexpr const char* kNotQualifiedPrefix = "FlashCode is ";
inline constexpr const char* kHeaderMismatchPrefix = "HeaderFile isn't ";
inline constexpr const char* kDownloading = "Downloading ...";
inline constexpr const char* kDownloadFailed = "Upgrade failed\r\n";
inline constexpr const char* kCompleted = "Update completed,please reboot your system.\r\n";
inline constexpr const char* kButtonUpdate = "Update";
inline constexpr const char* kButtonDone = "Done";
}  // namespace texts

// "v%x, finished.\r\n" with the code version.
std::string NotQualifiedSuffix(std::uint32_t codeVersion);
// "%s, finished!\r\n" with "V132".
std::string HeaderMismatchSuffix();

// Command-line exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitFinished = 2;
inline constexpr int kExitUsage = 64;

int ExitStatusFor(UpdateOutcome outcome);
// A short machine-readable name ("completed", "no-camera", ...).
const char* OutcomeName(UpdateOutcome outcome);

// Whether a camera with this flash byte 0 and code version takes the update.
bool QualifiesForUpdate(std::uint8_t flashByte0, std::uint32_t codeVersion);

}  // namespace torvane
