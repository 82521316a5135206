// The firmware update itself: repair the map, dump it to zaze_pm.txt, and
// write the image into the "firmware" partition, verified by reading it back.
#pragma once

#include "device/ImageCopy.h"

// Set by the wizard before it starts the worker, and not changed while the
// worker runs.
extern signed char FoundDriveLetter;  // 0 before a search, 0xFF after a failed one
extern char FirmwarePath[260];

// Thread start routine for _beginthread; the argument is ignored. Reports
// through the status log, error boxes and the progress bar, and ends by
// sending the wizard ID_WIZARD_LAST.
void FirmwareUpdateThread(void* unused);
