// Bringing the zAze's partition map into its fixed shape: 3 entries in 62
// blocks, the "firmware" partition at block 63, 65477 blocks long.
#pragma once

#include <cstdint>

#include "device/MapCopy.h"
#include "device/RawDrive.h"

constexpr uint32_t kRepairedMapBlocks = 62;
constexpr uint32_t kRepairedMapEntries = 3;
constexpr uint32_t kFirmwareStartBlock = 63;
constexpr uint32_t kFirmwareBlocks = 65477;

// 1 when the map is in order or has been rewritten; 0 when it cannot be
// examined or written, or when it is not a zAze's map (no "firmware" entry
// before "disk"), in which case nothing is written. Reads the whole map
// before its first write, and keeps what it replaces in memory: when a write
// fails, the map is put back as it was. Closes its drive before returning.
int RepairPartitionMap(char driveLetter);

struct MapRepair {
  int result = 0;            // as RepairPartitionMap
  uint32_t savedBlocks = 0;  // blocks 1 to savedBlocks are in the map backup; 0 when none
  uint32_t savedSum = 0;     // their CRC-32
  bool notPutBack = false;   // a write failed and the map could not be put back
  // Why it failed, where that is more than a number: the drive would not
  // open, or it refused the write as write-protected (nothing was written).
  RawDriveRefusal openRefusal = RawDriveRefusal::kNone;
  bool writeProtected = false;
};

// RepairPartitionMap that also saves the blocks it is about to replace in
// `mapBackup`, on the medium, before its first write; it writes nothing when
// that file cannot be kept. The file stays when the map was rewritten or
// could not be put back, and goes when the map is as it was.
MapRepair RepairPartitionMapKeeping(char driveLetter, const char* mapBackup);

enum class RepairPlan {
  kRefused,  // the repair would write nothing and return 0; it said why
  kInOrder,  // nothing to write
  kRewrite,  // block 1 and the firmware entries before "disk" would be written
};

constexpr uint32_t kPlannedEntries = 8;

struct MapPlan {
  RepairPlan kind;
  uint32_t held;                      // entries 0 to held - 1 were read
  uint32_t changed[kPlannedEntries];  // the entries a rewrite writes, in order
  uint32_t changedCount;              // how many (listed up to kPlannedEntries)
  RawDriveRefusal openRefusal;        // why the drive would not open, if it did not
};

// What the repair would do to the map of drive `letter`, writing nothing:
// it reads and logs as the repair does, and leaves in `map` the entries as
// the repair would leave them (host order).
MapPlan PlanMapRepair(char driveLetter, MapCopy& map);
