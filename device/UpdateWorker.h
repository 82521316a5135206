// The firmware update itself: repair the map, dump it to zaze_pm.txt, and
// write the image into the "firmware" partition, verified by reading it back.
#pragma once

#include "device/ImageCopy.h"

// Set by the wizard before it starts the worker, and not changed while the
// worker runs.
extern signed char FoundDriveLetter;  // 0 before a search, 0xFF after a failed one
extern char FirmwarePath[260];

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

// Thread start routine for _beginthread; the argument is ignored. Runs the
// update of FoundDriveLetter with FirmwarePath and ends by sending the
// wizard ID_WIZARD_LAST.
void FirmwareUpdateThread(void* unused);
