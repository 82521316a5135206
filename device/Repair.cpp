// The map is read whole before anything is written, so that a disk which is
// not a zAze's (no "firmware" entry before "disk"), or one whose partitions
// the fixed shape would hide or overlap, is left exactly as it was.
#include "device/Repair.h"

#include <cstring>

#include "device/DeviceUi.h"
#include "device/MapReader.h"
#include "device/Platform.h"
#include "device/RawDrive.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

uint32_t EntryOffset(uint32_t index) { return (index + 1) * kBlockSize; }

void LogReadFailure(const MapEntriesRead& scan) {
  if (!scan.readFailed) return;
  LogStatus("    <Drive read failed! fixDc:2 GLE: 0x%x ret: %ld>",
            static_cast<unsigned>(scan.errorCode), static_cast<long>(scan.got));
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
    // The rewritten map counts only its first entries: a data volume or a
    // firmware entry past them would vanish from every reader.
    if (i >= kRepairedMapEntries && (firmware || HasPartName(entry, "disk"))) {
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

// Converts `entry` to disk order and writes it as entry `index`; 1 on success,
// 0 after logging the failure.
int WriteEntry(RawDrive& drive, PartitionMapEntry& entry, uint32_t index) {
  SwapPartitionMapEntry(entry);
  const int32_t put = drive.Write(&entry, EntryOffset(index), kBlockSize);
  // A short write leaves the entry half old, half new: that is a failure too.
  if (put == static_cast<int32_t>(kBlockSize)) return 1;
  LogStatus("    <Unable to write to the drive! GLE: 0x%x ret: %ld>",
            static_cast<unsigned>(LastErrorCode()), static_cast<long>(put));
  return 0;
}

// Writes block 1, then each firmware entry met before "disk", logging the
// entries in the order they lie on the disk. Fields not named here keep what
// the disk held.
int RewriteMap(RawDrive& drive, MapCopy& map, const MapEntriesRead& scan) {
  PartitionMapEntry& own = map[0];
  own.pmSig = kPartitionMapSignature;
  own.pmPartBlkCnt = kRepairedMapBlocks;
  own.pmMapBlkCnt = kRepairedMapEntries;
  own.pmPyPartStart = 1;
  if (!WriteEntry(drive, own, 0)) return 0;

  for (uint32_t i = 1; i < scan.held; ++i) {
    PartitionMapEntry& entry = map[i];
    if (HasPartName(entry, "firmware")) {
      LogStatus("    <Firmware partition found...>");
      entry.pmPyPartStart = kFirmwareStartBlock;
      entry.pmPartBlkCnt = kFirmwareBlocks;
      entry.pmSig = kPartitionMapSignature;
      entry.pmMapBlkCnt = kRepairedMapEntries;
      if (!WriteEntry(drive, entry, i)) return 0;
    } else if (HasPartName(entry, "disk")) {
      LogStatus("    <Drive found...>");
    } else {
      LogStatus("    <Found: %.32s>", entry.pmPartName);
    }
  }
  return 1;
}

}  // namespace

int RepairPartitionMap(char driveLetter) {
  RawDrive drive;  // closes on every way out
  if (drive.Open(driveLetter) != 1) {
    LogStatus("    <Unable to open drive \"%c\">", driveLetter);
    return 0;
  }

  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  // Only a whole block is the map's entry: the rest of a short read would be
  // zeros written back over what the disk holds.
  if (start.kind == MapStart::kUnreadable) {
    LogStatus("    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>",
              static_cast<unsigned>(start.errorCode), static_cast<long>(start.got));
    return 0;
  }
  if (start.kind == MapStart::kNotAMap) {
    LogStatus("    <Current drive isn't a Mac Drive!>");
    return 0;
  }
  LogStatus("    <Checking partition information...>");

  const uint32_t entries = first.pmMapBlkCnt;
  MapCopy map;
  MapEntriesRead scan = {0, false, true, 0, 0};  // no room until the copy holds block 1
  if (entries <= kMaxMapEntries && map.Hold(1)) {
    map[0] = first;
    // Every entry is read, also those after "disk": a rewrite must know what
    // each one claims.
    scan = ReadMapEntries(drive, map, entries);
  }
  if (scan.noMemory) {
    LogStatus("    <Not enough memory for the partition map, nothing was changed!>");
    return 0;
  }
  if (!FirmwareBeforeDisk(map, scan.held)) {
    LogReadFailure(scan);
    LogStatus("    <No firmware partition found, nothing was changed!>");
    return 0;
  }
  if (first.pmPartBlkCnt == kRepairedMapBlocks) {
    LogReadFailure(scan);
    LogStatus("    <Partition information is Okay>");
    return 1;
  }
  if (RewriteWouldLoseData(map, scan)) return 0;
  return RewriteMap(drive, map, scan);
}
