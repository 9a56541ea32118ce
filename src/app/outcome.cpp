#include "app/outcome.h"

#include <cstdio>

namespace torvane {

std::string NotQualifiedSuffix(std::uint32_t codeVersion) {
  char text[32];
  std::snprintf(text, sizeof text, "v%x, finished.\r\n", static_cast<unsigned>(codeVersion));
  return text;
}

std::string HeaderMismatchSuffix() {
  char text[32];
  std::snprintf(text, sizeof text, "%s, finished!\r\n", "V132");
  return text;
}

int ExitStatusFor(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Completed:
    case UpdateOutcome::Closed:
      return kExitSuccess;
    case UpdateOutcome::NotQualified:
    case UpdateOutcome::HeaderMismatch:
      return kExitFinished;
    case UpdateOutcome::None:
    case UpdateOutcome::NoCamera:
    case UpdateOutcome::FlashTypeFailed:
    case UpdateOutcome::FirstBlockFailed:
    case UpdateOutcome::VersionFailed:
    case UpdateOutcome::DownloadFailed:
      break;
  }
  return kExitFailure;
}

const char* OutcomeName(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::None: return "none";
    case UpdateOutcome::NoCamera: return "no-camera";
    case UpdateOutcome::FlashTypeFailed: return "flash-type-failed";
    case UpdateOutcome::FirstBlockFailed: return "first-block-failed";
    case UpdateOutcome::VersionFailed: return "version-failed";
    case UpdateOutcome::NotQualified: return "not-qualified";
    case UpdateOutcome::HeaderMismatch: return "header-mismatch";
    case UpdateOutcome::DownloadFailed: return "download-failed";
    case UpdateOutcome::Completed: return "completed";
    case UpdateOutcome::Closed: return "closed";
  }
  return "none";
}

bool QualifiesForUpdate(std::uint8_t flashByte0, std::uint32_t codeVersion) {
  const std::uint32_t expected = flashByte0 == 0x89 ? 0x128 : 0x100;
  if (expected == 0x128) return codeVersion == 0x128;
  return codeVersion == 0x132 || codeVersion == 0x128;
}

}  // namespace torvane
