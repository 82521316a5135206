// The firmware update itself: repair the map, dump it to zaze_pm.txt, and
// write the image into the "firmware" partition, verified by reading it back.
#pragma once

#include "device/ImageCopy.h"
#include "device/Repair.h"
#include "device/UpdateRecord.h"

// Set by the wizard before it starts the worker, and not changed while the
// worker runs.
extern signed char FoundDriveLetter;  // 0 before a search, 0xFF after a failed one
// UTF-8 on Windows NT, where a path of 259 characters may take three bytes
// a character; ANSI on the 9x family (see device/Platform.h).
constexpr int kFirmwarePathSize = 3 * 259 + 1;
extern char FirmwarePath[kFirmwarePathSize];

enum class UpdateResult {
  kUpdated,      // written and read back: "Updated firmware!"
  kRefused,      // the firmware partition was not touched (the map may have been repaired)
  kRestored,     // the update failed; the firmware that was there is back
  kNotRestored,  // it failed and could not be put back: a box named the backup
};

// The whole update of the zAze on drive `driveLetter` with the image at
// `imagePath`. Reports through the status log, error boxes and the progress
// bar; sends nothing to the wizard.
UpdateResult RunFirmwareUpdate(char driveLetter, const char* imagePath);

// What RunFirmwareUpdate would do, found without writing anything to the
// drive or to a file: the same checks, told through the same log lines and
// boxes up to the first refusal.
struct UpdatePlan {
  bool goesAhead;          // the image would be written; false when refused
  MapPlan map;             // what the repair would write
  uint32_t firmwareStart;  // where the image would go, in bytes
  uint32_t firmwareLength;
  BackupFiles files;  // where the update would keep what it replaces
};
UpdatePlan PlanFirmwareUpdate(char driveLetter, const char* imagePath);

// Thread start routine for _beginthread; the argument is ignored. Runs the
// update of FoundDriveLetter with FirmwarePath and ends by sending the
// wizard ID_WIZARD_LAST.
void FirmwareUpdateThread(void* unused);
