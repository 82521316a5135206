// The copy of an image into the firmware partition, guarded: what it
// replaces is saved and the update recorded, both on the medium, before the
// first write; a copy that fails is put back.
#pragma once

#include <cstdint>
#include <cstdio>

#include "device/Placement.h"
#include "device/Repair.h"
#include "device/UpdateRecord.h"
#include "device/UpdateWorker.h"

class RawDrive;

struct CopyGuard {
  char letter;
  BackupFiles files;  // where this update keeps what it replaces
  MapRepair repair;   // what its repair kept of the map
};

// Writes `length` bytes of `image` into the partition of entry `index` of
// `map`, read back and compared. Tells the user of every outcome and keeps
// the update's record: removed after "Updated firmware!", closed when the
// previous firmware is back whole. An earlier update of this zAze that did
// not finish keeps its record open, since its backup, not this one, holds
// the last whole firmware.
UpdateResult CopyWithBackup(RawDrive& drive, const CopyGuard& guard, std::FILE* image,
                            const MapView& map, uint32_t index, uint32_t length);
