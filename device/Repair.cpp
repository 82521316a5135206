// The map is read whole before anything is written, so that a disk which is
// not a zAze's (no "firmware" entry before "disk"), or one whose partitions
// the fixed shape would hide or overlap, is left exactly as it was.
#include "device/Repair.h"

#include <cstdio>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/DeviceUi.h"
#include "device/MapReader.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/UpdateRecord.h"

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

// The map blocks as they are on the disk, blocks 1 to `count`: what the
// rewrite replaces, and what a failed rewrite puts back.
class SavedMap {
 public:
  explicit SavedMap(const MapCopy& map, uint32_t count) : count_(count) {
    if (!copy_.Hold(count)) return;
    for (uint32_t i = 0; i < count; ++i) {
      copy_[i] = map[i];
      SwapPartitionMapEntry(copy_[i]);
    }
    held_ = true;
  }
  bool held() const { return held_; }
  uint32_t count() const { return count_; }
  const PartitionMapEntry& operator[](uint32_t index) const { return copy_[index]; }
  uint32_t Sum() const { return Crc32(&copy_[0], count_ * kBlockSize); }

  // Writes the blocks to `name`, puts them on the medium and reads them back.
  bool Keep(const char* name) const {
    std::FILE* file = std::fopen(name, "wb");
    if (file == nullptr) return false;
    const size_t bytes = static_cast<size_t>(count_) * kBlockSize;
    const bool written = std::fwrite(&copy_[0], 1, bytes, file) == bytes && SyncFile(file) == 1;
    if (std::fclose(file) != 0 || !written || !ReadsBack(name)) {
      std::remove(name);
      return false;
    }
    return true;
  }

 private:
  bool ReadsBack(const char* name) const {
    ScopedFile file(std::fopen(name, "rb"));
    PartitionMapEntry entry;
    for (uint32_t i = 0; file.get() != nullptr && i < count_; ++i) {
      if (std::fread(&entry, 1, kBlockSize, file.get()) != kBlockSize ||
          std::memcmp(&entry, &copy_[i], kBlockSize) != 0) {
        return false;
      }
    }
    return file.get() != nullptr && std::fgetc(file.get()) == EOF;
  }

  MapCopy copy_;
  uint32_t count_;
  bool held_ = false;
};

// Writes block 1, then each firmware entry met before "disk", logging the
// entries in the order they lie on the disk. Fields not named here keep what
// the disk held. Returns the entry whose write failed, or `held` when every
// write succeeded.
uint32_t RewriteMap(RawDrive& drive, MapCopy& map, uint32_t held) {
  PartitionMapEntry& own = map[0];
  own.pmSig = kPartitionMapSignature;
  own.pmPartBlkCnt = kRepairedMapBlocks;
  own.pmMapBlkCnt = kRepairedMapEntries;
  own.pmPyPartStart = 1;
  if (!WriteEntry(drive, own, 0)) return 0;

  for (uint32_t i = 1; i < held; ++i) {
    PartitionMapEntry& entry = map[i];
    if (HasPartName(entry, "firmware")) {
      LogStatus("    <Firmware partition found...>");
      entry.pmPyPartStart = kFirmwareStartBlock;
      entry.pmPartBlkCnt = kFirmwareBlocks;
      entry.pmSig = kPartitionMapSignature;
      entry.pmMapBlkCnt = kRepairedMapEntries;
      if (!WriteEntry(drive, entry, i)) return i;
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
  MapRepair repair = {0, 0, 0, false};
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
  const uint32_t failed = RewriteMap(drive, map, held);
  if (failed == held) {
    repair.result = 1;
    return repair;
  }
  if (PutMapBack(drive, letter, reinterpret_cast<const unsigned char*>(&saved[0]), failed + 1)) {
    LogStatus("    <The partition map was put back as it was.>");
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

}  // namespace

MapRepair RepairPartitionMapKeeping(char driveLetter, const char* mapBackup) {
  const MapRepair refused = {0, 0, 0, false};
  RawDrive drive;  // closes on every way out
  if (drive.Open(driveLetter) != 1) {
    LogStatus("    <Unable to open drive \"%c\">", driveLetter);
    return refused;
  }

  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  // Only a whole block is the map's entry: the rest of a short read would be
  // zeros written back over what the disk holds.
  if (start.kind == MapStart::kUnreadable) {
    LogStatus("    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>",
              static_cast<unsigned>(start.errorCode), static_cast<long>(start.got));
    return refused;
  }
  if (start.kind == MapStart::kNotAMap) {
    LogStatus("    <Current drive isn't a Mac Drive!>");
    return refused;
  }
  LogStatus("    <Checking partition information...>");

  const uint32_t entries = first.pmMapBlkCnt;
  // The map's entries lie in the map's own blocks: a count beyond them is
  // corrupt, and reading that many blocks could take hours.
  if (entries > first.pmPartBlkCnt) {
    LogStatus("    <The map claims %lu entries in %lu blocks, nothing was changed!>",
              static_cast<unsigned long>(entries), static_cast<unsigned long>(first.pmPartBlkCnt));
    return refused;
  }
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
    return refused;
  }
  if (!FirmwareBeforeDisk(map, scan.held)) {
    LogReadFailure(scan);
    LogStatus("    <No firmware partition found, nothing was changed!>");
    return refused;
  }
  if (first.pmPartBlkCnt == kRepairedMapBlocks) {
    LogReadFailure(scan);
    LogStatus("    <Partition information is Okay>");
    return {1, 0, 0, false};
  }
  if (RewriteWouldLoseData(map, scan)) return refused;
  return Rewrite(drive, driveLetter, map, scan.held, mapBackup);
}

int RepairPartitionMap(char driveLetter) {
  return RepairPartitionMapKeeping(driveLetter, nullptr).result;
}

bool PutMapBack(RawDrive& drive, char letter, const unsigned char* saved, uint32_t count) {
  // A failed transfer leaves a drive refusing every other.
  drive.Close();
  if (drive.Open(letter) != 1) return false;
  bool wrote = false;
  PartitionMapEntry now;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* block = saved + static_cast<size_t>(i) * kBlockSize;
    const int32_t got = drive.Read(&now, EntryOffset(i), kBlockSize);
    if (got == static_cast<int32_t>(kBlockSize) && std::memcmp(&now, block, kBlockSize) == 0) {
      continue;
    }
    if (got != static_cast<int32_t>(kBlockSize)) {
      drive.Close();
      if (drive.Open(letter) != 1) return false;
    }
    if (drive.Write(block, EntryOffset(i), kBlockSize) != static_cast<int32_t>(kBlockSize)) {
      return false;
    }
    wrote = true;
  }
  if (wrote && drive.Flush() != 1) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (drive.Read(&now, EntryOffset(i), kBlockSize) != static_cast<int32_t>(kBlockSize) ||
        std::memcmp(&now, saved + static_cast<size_t>(i) * kBlockSize, kBlockSize) != 0) {
      return false;
    }
  }
  return true;
}
