#include "device/Causes.h"

#include <cstdio>

#include "device/Contact.h"
#include "device/DeviceUi.h"

namespace {

constexpr char kAdministrator[] =
    "Zephlar needs administrator rights to reach the zAze. Close Zephlar, then right-click "
    "zephlar.exe and choose \"Run as administrator\" (on Windows 2000 and XP: \"Run as...\" and "
    "an administrator account).";
constexpr char kInUse[] =
    "Another program is using the zAze (a disk tool, a backup or virus scanner). Close that "
    "program and start the update again.";
constexpr char kSectors[] =
    "The disk has sectors of another size than 512 bytes, which Zephlar does not support. Nothing "
    "was written to it.";
constexpr char kReadOnly[] =
    "The zAze is write-protected: nothing was written to it. Slide its lock switch off (or make "
    "its disk writable) and start the update again.";

}  // namespace

const char* CauseOfRefusal(RawDriveRefusal refusal) {
  switch (refusal) {
    case RawDriveRefusal::kPermission:
      return kAdministrator;
    case RawDriveRefusal::kInUse:
      return kInUse;
    case RawDriveRefusal::kWrongSectorSize:
      return kSectors;
    case RawDriveRefusal::kReadOnly:
      return kReadOnly;
    case RawDriveRefusal::kNotFound:
      return kDisconnectedCause;
    case RawDriveRefusal::kNone:
    case RawDriveRefusal::kOther:
      break;
  }
  return nullptr;
}

void ShowBoxWithCause(const char* headline, const char* cause) {
  char text[768];
  if (cause == nullptr) {
    std::snprintf(text, sizeof text, "%s\n\n%s", headline, ZEPHLAR_SUPPORT_LINE);
  } else {
    std::snprintf(text, sizeof text, "%s\n\n%s\n\n%s", headline, cause, ZEPHLAR_SUPPORT_LINE);
  }
  ShowUpdateError(text);
}

void TellWriteProtected() {
  LogStatus("The zAze is write-protected: nothing was written.");
  ShowWriteProtectedBox();
}

void ShowWriteProtectedBox() {
  ShowBoxWithCause(
      "Error: Your zAze is write-protected, so nothing was written to it.",
      "Slide its lock switch off (or make its disk writable), and start the update again.");
}
