// The map is read whole before anything is written, so that a disk which is
// not a zAze's (no "firmware" entry before "disk"), or one whose partitions
// the fixed shape would hide or overlap, is left exactly as it was.
#include "device/Repair.h"

#include <cstdio>
#include <cstring>

#include "device/DeviceUi.h"
#include "device/MapReader.h"
#include "device/MapSave.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/StatusLine.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

uint32_t EntryOffset(uint32_t index) { return (index + 1) * kBlockSize; }

void LogReadFailure(const MapEntriesRead& scan) {
  if (!scan.readFailed) return;
  LogFailure(scan.errorCode, "    <Drive read failed! fixDc:2 GLE: 0x%x ret: %ld>",
             static_cast<unsigned>(scan.errorCode), static_cast<long>(scan.got));
}

bool NamedBeforeTheEnd(const MapCopy& map, uint32_t held, const char* name) {
  for (uint32_t i = 1; i < held; ++i) {
    if (HasPartName(map[i], name)) return true;
  }
  return false;
}

// Whether a "firmware" entry comes before any "disk" among those read.
bool FirmwareBeforeDisk(const MapCopy& map, uint32_t held) {
  for (uint32_t i = 1; i < held; ++i) {
    if (HasPartName(map[i], "disk")) return false;
    if (HasPartName(map[i], "firmware")) return true;
  }
  return false;
}

// Why the fixed shape cannot be written over this map without losing a
// partition: logged, and then nothing is written. False when it can.
bool RewriteWouldLoseData(const MapCopy& map, const MapEntriesRead& scan) {
  if (scan.readFailed) {
    LogReadFailure(scan);
    LogStatus("    <Part of the map could not be read, nothing was changed!>");
    return true;
  }
  for (uint32_t i = 1; i < scan.held; ++i) {
    const PartitionMapEntry& entry = map[i];
    const bool firmware = HasPartName(entry, "firmware");
    // The rewritten map counts only its first entries: a partition past
    // them (the data volume, a second volume of the user's, a driver) would
    // vanish from every reader. Only free space, and blocks that are no
    // entry at all, may.
    const bool claims = entry.pmSig == kPartitionMapSignature && !IsFreeSpace(entry);
    if (i >= kRepairedMapEntries && (claims || firmware || HasPartName(entry, "disk"))) {
      LogStatus("    <\"%.32s\" would lie outside the repaired map, nothing was changed!>",
                entry.pmPartName);
      return true;
    }
    if (firmware || IsFreeSpace(entry)) continue;
    if (ExtentsOverlap(1, kRepairedMapBlocks, entry.pmPyPartStart, entry.pmPartBlkCnt) ||
        ExtentsOverlap(kFirmwareStartBlock, kFirmwareBlocks, entry.pmPyPartStart,
                       entry.pmPartBlkCnt)) {
      LogStatus("    <The repaired map would overlap \"%.32s\", nothing was changed!>",
                entry.pmPartName);
      return true;
    }
  }
  return false;
}

// Converts `entry` to disk order and writes it as entry `index`; 0 with the
// system's error code in `error` after logging the failure.
int WriteEntry(RawDrive& drive, PartitionMapEntry& entry, uint32_t index, uint32_t& error) {
  SwapPartitionMapEntry(entry);
  const int32_t put = drive.Write(&entry, EntryOffset(index), kBlockSize);
  // A short write leaves the entry half old, half new: that is a failure too.
  if (put == static_cast<int32_t>(kBlockSize)) return 1;
  error = TransferError(put);
  LogFailure(error, "    <Unable to write to the drive! GLE: 0x%x ret: %ld>",
             static_cast<unsigned>(error), static_cast<long>(put));
  return 0;
}

// Brings block 1 and each firmware entry met before "disk" to the fixed
// shape, in that order, and writes each one when `drive` is given; logs the
// entries in the order they lie on the disk. Fields not named here keep what
// the disk held. Lists the entries it changes in `plan`, when given. Returns
// the entry whose write failed (its error code in `error`), or `held` when
// there was none.
uint32_t RewriteMap(RawDrive* drive, MapCopy& map, uint32_t held, MapPlan* plan, uint32_t& error) {
  const auto change = [&](uint32_t i) {
    if (plan != nullptr && plan->changedCount < kPlannedEntries) {
      plan->changed[plan->changedCount] = i;
    }
    if (plan != nullptr) ++plan->changedCount;
    return drive == nullptr || WriteEntry(*drive, map[i], i, error) == 1;
  };
  PartitionMapEntry& own = map[0];
  own.pmSig = kPartitionMapSignature;
  own.pmPartBlkCnt = kRepairedMapBlocks;
  own.pmMapBlkCnt = kRepairedMapEntries;
  own.pmPyPartStart = 1;
  if (!change(0)) return 0;

  for (uint32_t i = 1; i < held; ++i) {
    PartitionMapEntry& entry = map[i];
    if (HasPartName(entry, "firmware")) {
      LogStatus("    <Firmware partition found...>");
      entry.pmPyPartStart = kFirmwareStartBlock;
      entry.pmPartBlkCnt = kFirmwareBlocks;
      entry.pmSig = kPartitionMapSignature;
      entry.pmMapBlkCnt = kRepairedMapEntries;
      if (!change(i)) return i;
    } else if (HasPartName(entry, "disk")) {
      LogStatus("    <Drive found...>");
    } else {
      LogStatus("    <Found: %.32s>", entry.pmPartName);
    }
  }
  return held;
}

// Saves what the rewrite replaces, rewrites, and puts the map back when a
// write fails.
MapRepair Rewrite(RawDrive& drive, char letter, MapCopy& map, uint32_t held,
                  const char* mapBackup) {
  MapRepair repair;
  const SavedMap saved(map, held);
  if (!saved.held()) {
    LogStatus("    <Not enough memory for the partition map, nothing was changed!>");
    return repair;
  }
  if (mapBackup != nullptr) {
    if (!saved.Keep(mapBackup)) {
      LogStatus("    <Unable to save the partition map to %s, nothing was changed!>", mapBackup);
      return repair;
    }
    repair.savedBlocks = held;
    repair.savedSum = saved.Sum();
  }
  uint32_t error = 0;
  const uint32_t failed = RewriteMap(&drive, map, held, nullptr, error);
  if (failed == held) {
    repair.result = 1;
    return repair;
  }
  if (PutMapBack(drive, letter, saved.Bytes(), failed + 1)) {
    // A locked zAze refuses the first write and takes nothing: say so, so
    // that the user does not fear a half-changed map.
    repair.writeProtected = failed == 0 && ClassifyError(error) == SystemError::kWriteProtected;
    LogStatus(repair.writeProtected ? "    <The zAze is write-protected: nothing was written!>"
                                    : "    <The partition map was put back as it was.>");
    if (mapBackup != nullptr) std::remove(mapBackup);
    repair.savedBlocks = 0;
    return repair;
  }
  repair.notPutBack = true;
  if (mapBackup != nullptr) {
    LogStatus("    <Unable to put the partition map back! It is saved in %s.>", mapBackup);
  } else {
    LogStatus("    <Unable to put the partition map back!>");
  }
  return repair;
}

// Reads the map of the open drive whole and decides what the repair does
// with it, logging as it goes: the entries are in `map`, 0 to `held` - 1.
RepairPlan ExamineMap(RawDrive& drive, MapCopy& map, uint32_t& held) {
  held = 0;
  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  // Only a whole block is the map's entry: the rest of a short read would be
  // zeros written back over what the disk holds.
  if (start.kind == MapStart::kUnreadable) {
    LogFailure(start.errorCode, "    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>",
               static_cast<unsigned>(start.errorCode), static_cast<long>(start.got));
    return RepairPlan::kRefused;
  }
  if (start.kind == MapStart::kNotAMap) {
    LogStatus("    <Current drive isn't a Mac Drive!>");
    return RepairPlan::kRefused;
  }
  LogStatus("    <Checking partition information...>");

  const uint32_t entries = first.pmMapBlkCnt;
  // The map's entries lie in the map's own blocks: a count beyond them is
  // corrupt, and reading that many blocks could take hours.
  if (entries > first.pmPartBlkCnt) {
    LogStatus("    <The map claims %lu entries in %lu blocks, nothing was changed!>",
              static_cast<unsigned long>(entries), static_cast<unsigned long>(first.pmPartBlkCnt));
    return RepairPlan::kRefused;
  }
  MapEntriesRead scan = {0, false, true, 0, 0};  // no room until the copy holds block 1
  if (entries <= kMaxMapEntries && map.Hold(1)) {
    map[0] = first;
    // Every entry is read, also those after "disk": a rewrite must know what
    // each one claims.
    scan = ReadMapEntries(drive, map, entries);
  }
  if (scan.noMemory) {
    LogStatus("    <Not enough memory for the partition map, nothing was changed!>");
    return RepairPlan::kRefused;
  }
  held = scan.held;
  if (!FirmwareBeforeDisk(map, scan.held)) {
    LogReadFailure(scan);
    // Cut short before a "disk" or "firmware" entry, the map may well be a
    // zAze's: the read failed, which trying again may mend.
    const bool cutShort = scan.readFailed && !NamedBeforeTheEnd(map, scan.held, "disk") &&
                          !NamedBeforeTheEnd(map, scan.held, "firmware");
    LogStatus(cutShort ? "    <Part of the map could not be read, nothing was changed!>"
                       : "    <No firmware partition found, nothing was changed!>");
    return RepairPlan::kRefused;
  }
  if (first.pmPartBlkCnt == kRepairedMapBlocks) {
    LogReadFailure(scan);
    LogStatus("    <Partition information is Okay>");
    return RepairPlan::kInOrder;
  }
  return RewriteWouldLoseData(map, scan) ? RepairPlan::kRefused : RepairPlan::kRewrite;
}

// The line for a drive that would not open, with the system's words.
void LogNotOpened(const RawDrive& drive, char letter) {
  LogFailure(drive.OpenError(), "    <Unable to open drive \"%c\">", letter);
}

}  // namespace

MapRepair RepairPartitionMapKeeping(char driveLetter, const char* mapBackup) {
  MapRepair repair;
  RawDrive drive;  // closes on every way out
  if (drive.Open(driveLetter) != 1) {
    LogNotOpened(drive, driveLetter);
    repair.openRefusal = drive.OpenRefusal();
    return repair;
  }
  MapCopy map;
  uint32_t held = 0;
  switch (ExamineMap(drive, map, held)) {
    case RepairPlan::kInOrder:
      repair.result = 1;
      return repair;
    case RepairPlan::kRewrite:
      return Rewrite(drive, driveLetter, map, held, mapBackup);
    case RepairPlan::kRefused:
      break;
  }
  return repair;
}

int RepairPartitionMap(char driveLetter) {
  return RepairPartitionMapKeeping(driveLetter, nullptr).result;
}

MapPlan PlanMapRepair(char driveLetter, MapCopy& map) {
  MapPlan plan = {RepairPlan::kRefused, 0, {}, 0, RawDriveRefusal::kNone};
  RawDrive drive;
  if (drive.Open(driveLetter) != 1) {
    LogNotOpened(drive, driveLetter);
    plan.openRefusal = drive.OpenRefusal();
    return plan;
  }
  plan.kind = ExamineMap(drive, map, plan.held);
  uint32_t unused = 0;
  if (plan.kind == RepairPlan::kRewrite) RewriteMap(nullptr, map, plan.held, &plan, unused);
  return plan;
}
