// Putting the previous firmware back after an update that did not finish:
// the wizard offers it when it finds the zAze again, and the command line
// can ask for it.
#pragma once

#include "device/UpdateRecord.h"
#include "device/UpdateWorker.h"

// Puts back what the update of `record` replaced on the zAze on drive
// `letter`: the firmware range from its backup, and the map blocks when
// that update rewrote the map, each only where they differ, flushed and read
// back. Nothing is written unless the drive is still that zAze and both
// backups read back as the record describes them. Closes the record when
// everything is back. Reports through the status log, the progress bar and
// error boxes: kRestored, kRefused (nothing written) or kNotRestored.
UpdateResult RestoreUnfinishedUpdate(char letter, UpdateRecord& record);
