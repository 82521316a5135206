// An arbitrary disk held in memory as drive A, an image file, and faults:
// discovery, then the update worker (repair, the map walk, the dump, the copy
// and its verification) run over them as the wizard runs them.
//
// Input: 8 header bytes, then the disk's bytes from block 1 on (block 0 and
// whatever the input does not reach are zeros).
//   [0..1] disk size in blocks, little-endian, at most 512
//   [2..4] image size in bytes, little-endian, at most 256 KiB
//   [5]    bits 0-5: the transfer to fail, counted from 1 (0: none);
//          bits 6-7: how (0 and 3 an error, 1 a short count, 2 positioning)
//   [6]    bit 0: no image file; bits 1-2: the dump file cannot be created
//          (1) or the disk it is on is full (2); bit 3: the disk ends
//          2 * [7] + 1 bytes before its last whole block
//   [7]    see bit 3 of [6]
//
// Invariants: a block changes only where the worker may write the image (a
// firmware partition of the map as repaired, outside the map and every other
// partition) or, within the map as it was, in the four numbers repair sets
// of block 1 and of firmware entries; "Updated firmware!" only when the
// partition holds the image; no success when a worker transfer or a repair
// write failed; ID_WIZARD_LAST once and last; every open of the drive closed;
// a dump that could not be written is not left as if it had been.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/Discovery.h"
#include "device/PartitionMap.h"
#include "device/UpdateWorker.h"
#include "tests/fuzz/FuzzTargets.h"
#include "tests/support/MemoryDrive.h"
#include "tests/support/RecordingUi.h"

namespace {

constexpr char kTarget[] = "disk";
constexpr uint32_t kBlock = 512;
constexpr size_t kHeader = 8;
constexpr uint32_t kMaxDiskBlocks = 512;
constexpr uint32_t kMaxImageBytes = 256u << 10;
constexpr char kImageName[] = "firmware.img";
constexpr char kDumpName[] = "zaze_pm.txt";

enum class DumpTrouble { kNone, kCannotCreate, kDiskFull };

struct DiskCase {
  uint32_t imageBytes = 0;
  uint32_t failAt = 0;
  DriveFault fault = DriveFault::kNone;
  bool noImage = false;
  DumpTrouble dump = DumpTrouble::kNone;
};

const std::string& ImagePattern() {
  static const std::string pattern = [] {
    std::string bytes(kMaxImageBytes, '\0');
    uint32_t state = 0x2545F491u;
    for (char& c : bytes) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>((state >> 24) | 1);  // never zero, so it shows on a zeroed disk
    }
    // The maker's text where the worker checks for it, so that images of 150
    // bytes and more reach the copy.
    static const char kMaker[] = "Apple Computer, Inc.";
    std::memcpy(&bytes[130], kMaker, sizeof kMaker - 1);
    return bytes;
  }();
  return pattern;
}

// Reads the header into a case and lays the disk's bytes into `disk`.
DiskCase Parse(const uint8_t* data, size_t size, std::string& disk) {
  uint8_t header[kHeader] = {};
  std::memcpy(header, data, std::min(size, kHeader));
  DiskCase c;
  const uint32_t blocks = std::min<uint32_t>(header[0] | header[1] << 8, kMaxDiskBlocks);
  c.imageBytes = (header[2] | header[3] << 8 | header[4] << 16) % (kMaxImageBytes + 1);
  c.failAt = header[5] & 0x3F;
  static const DriveFault kFaults[] = {DriveFault::kError, DriveFault::kShortCount,
                                       DriveFault::kSeekFailure, DriveFault::kError};
  c.fault = c.failAt == 0 ? DriveFault::kNone : kFaults[header[5] >> 6];
  c.noImage = (header[6] & 1) != 0;
  const int dump = (header[6] >> 1) & 3;
  c.dump = dump == 1   ? DumpTrouble::kCannotCreate
           : dump == 2 ? DumpTrouble::kDiskFull
                       : DumpTrouble::kNone;
  size_t bytes = static_cast<size_t>(blocks) * kBlock;
  const size_t cut = 2u * header[7] + 1;
  if ((header[6] & 8) != 0) bytes = bytes > cut ? bytes - cut : 0;
  disk.assign(bytes, '\0');
  if (size > kHeader && bytes > kBlock) {
    std::memcpy(&disk[kBlock], data + kHeader, std::min(size - kHeader, bytes - kBlock));
  }
  return c;
}

// Entry `index` of `disk` in host order; the part past the disk's end reads as
// zeros.
PartitionMapEntry EntryOf(const std::string& disk, uint64_t index) {
  PartitionMapEntry entry;
  std::memset(&entry, 0, sizeof entry);
  const uint64_t at = (index + 1) * kBlock;
  if (at < disk.size()) {
    std::memcpy(&entry, &disk[at], std::min<uint64_t>(kBlock, disk.size() - at));
  }
  return SwapPartitionMapEntry(entry);
}

// Entries of the map on `disk` that lie on it (0 when block 1 is not the
// map's own entry).
uint32_t MapEntries(const std::string& disk) {
  const PartitionMapEntry first = EntryOf(disk, 0);
  if (!HasPartName(first, "partition map")) return 0;
  const uint64_t onDisk = disk.size() / kBlock;
  return static_cast<uint32_t>(std::min<uint64_t>(first.pmMapBlkCnt, onDisk > 1 ? onDisk - 1 : 0));
}

struct Extent {
  uint64_t first;
  uint64_t count;
  bool Holds(uint64_t block) const { return block >= first && block - first < count; }
};

bool IsFree(const PartitionMapEntry& entry) {
  return std::strncmp(entry.pmParType, "Apple_Free", sizeof entry.pmParType) == 0;
}

// Where the worker may write an image on the map as repaired: a firmware
// partition, less block 0, the map's blocks and every other partition.
class WritableBlocks {
 public:
  explicit WritableBlocks(const std::string& after) {
    const PartitionMapEntry first = EntryOf(after, 0);
    if (!HasPartName(first, "partition map")) return;
    mapBlocks_ = static_cast<uint64_t>(first.pmMapBlkCnt) + 1;
    const uint32_t entries = MapEntries(after);
    for (uint32_t i = 0; i < entries; ++i) {
      const PartitionMapEntry entry = EntryOf(after, i);
      const Extent extent = {entry.pmPyPartStart, entry.pmPartBlkCnt};
      if (i > 0 && HasPartName(entry, "firmware")) {
        firmware_.push_back(extent);
        firmwareIndex_.push_back(others_.size());
      }
      if (!IsFree(entry)) others_.push_back(extent);
    }
  }

  bool Holds(uint64_t block) const {
    if (block < mapBlocks_) return false;
    for (size_t f = 0; f < firmware_.size(); ++f) {
      if (!firmware_[f].Holds(block)) continue;
      bool claimed = false;
      for (size_t o = 0; o < others_.size() && !claimed; ++o) {
        claimed = o != firmwareIndex_[f] && others_[o].Holds(block);
      }
      if (!claimed) return true;
    }
    return false;
  }

  const std::vector<Extent>& Firmware() const { return firmware_; }

 private:
  uint64_t mapBlocks_ = 0;
  std::vector<Extent> firmware_;
  std::vector<size_t> firmwareIndex_;  // its place in others_
  std::vector<Extent> others_;
};

// Repair changes pmSig, pmMapBlkCnt, pmPyPartStart and pmPartBlkCnt, and
// nothing else, of block 1 and of entries named "firmware".
bool OnlyRepairedNumbersDiffer(const char* before, const char* after) {
  for (uint32_t i = 0; i < kBlock; ++i) {
    const bool repaired = i < 2 || (i >= 4 && i < 16);
    if (!repaired && before[i] != after[i]) return false;
  }
  return true;
}

void CheckChanges(const std::string& before, const std::string& after) {
  if (before.size() != after.size()) {
    FuzzFail(kTarget, "the disk changed its size");
    return;
  }
  const WritableBlocks writable(after);
  const uint32_t mapBefore = MapEntries(before);
  const uint64_t blocks = (before.size() + kBlock - 1) / kBlock;
  for (uint64_t b = 0; b < blocks; ++b) {
    const size_t at = static_cast<size_t>(b) * kBlock;
    const size_t length = std::min<size_t>(kBlock, before.size() - at);
    if (std::memcmp(&before[at], &after[at], length) == 0 || writable.Holds(b)) continue;
    const bool repairable = b >= 1 && b <= mapBefore && length == kBlock &&
                            (b == 1 || HasPartName(EntryOf(before, b - 1), "firmware"));
    if (!repairable) {
      FuzzFail(kTarget, "a block outside the map and the firmware partition changed");
      return;
    }
    if (!OnlyRepairedNumbersDiffer(&before[at], &after[at])) {
      FuzzFail(kTarget, "repair changed more of an entry than its four numbers");
      return;
    }
  }
}

// Firmware partitions that begin with the image.
size_t PartitionsHoldingImage(const std::string& after, uint32_t imageBytes) {
  const WritableBlocks map(after);
  size_t holding = 0;
  for (const Extent& extent : map.Firmware()) {
    const uint64_t at = extent.first * kBlock;
    if (imageBytes == 0 || at + imageBytes > after.size()) continue;
    if (std::memcmp(&after[static_cast<size_t>(at)], ImagePattern().data(), imageBytes) == 0) {
      ++holding;
    }
  }
  return holding;
}

// The image file holds the first imageBytes of the pattern. It is kept from
// one input to the next and only grown or cut, since writing it anew each time
// would cost more than the run.
void PrepareImage(const DiskCase& c) {
  if (c.noImage) {
    std::remove(kImageName);
    return;
  }
  struct stat file = {};
  long written = stat(kImageName, &file) == 0 ? static_cast<long>(file.st_size) : -1;
  const long wanted = static_cast<long>(c.imageBytes);
  if (written > wanted && truncate(kImageName, wanted) == 0) written = wanted;
  if (written == wanted) return;
  const long from = written < 0 ? 0 : written;
  std::FILE* image = std::fopen(kImageName, from == 0 ? "wb" : "ab");
  if (image == nullptr) {
    FuzzFail(kTarget, "cannot write the image file");
    return;
  }
  std::fwrite(ImagePattern().data() + from, 1, static_cast<size_t>(wanted - from), image);
  std::fclose(image);
}

void PrepareFiles(const DiskCase& c) {
  PrepareImage(c);
  std::remove(kDumpName);
  if (c.dump == DumpTrouble::kCannotCreate) mkdir(kDumpName, 0755);
  if (c.dump == DumpTrouble::kDiskFull && symlink("/dev/full", kDumpName) != 0) {
    FuzzFail(kTarget, "cannot link the dump file to /dev/full");
  }
}

void RemoveDump() {
  std::remove(kDumpName);  // a file, the link or the empty directory
}

// How many events the worker had reported when the chosen transfer failed.
size_t eventsAtFault = 0;

void NoteFault(void*) { eventsAtFault = RecordedUi().size(); }

void CheckReport(const DiskCase& c, const MemoryDrive& drive, const std::string& after) {
  const std::vector<UiEvent> events = RecordedUi();
  int updated = 0;
  int updatedAfterFault = 0;
  int boxesAfterFault = 0;
  size_t index = 0;
  bool repairFailed = false;
  bool dumpOpened = false;
  bool dumpFailureTold = false;
  for (const UiEvent& event : events) {
    const bool afterFault = drive.Faulted() && index++ >= eventsAtFault;
    if (event.kind == UiEvent::kErrorBox) {
      boxesAfterFault += afterFault ? 1 : 0;
      repairFailed |= event.text.find("Error: Unable to modify the zAze's partition table") == 0;
    }
    if (event.kind != UiEvent::kLog) continue;
    updated += event.text == "Updated firmware!" ? 1 : 0;
    updatedAfterFault += afterFault && event.text == "Updated firmware!" ? 1 : 0;
    dumpOpened |= event.text.find("Opened zaze_pm.txt successfully") == 0;
    dumpFailureTold |= event.text.find("Unable to write") == 0;
  }
  if (RecordedWizardLastCount() != 1 || events.empty() ||
      events.back().kind != UiEvent::kWizardLast) {
    FuzzFail(kTarget, "ID_WIZARD_LAST is not sent once, last of all");
  }
  if (drive.IsOpen() || drive.Opens() != drive.Closes()) {
    FuzzFail(kTarget, "an open of the drive was not closed");
  }
  if (updated > 0 && static_cast<size_t>(updated) > PartitionsHoldingImage(after, c.imageBytes)) {
    FuzzFail(kTarget, "\"Updated firmware!\" without the image in the partition");
  }
  // Sessions: 1 discovery's probe, 2 repair, 3 the worker. A success told
  // before the failure (of another firmware partition) still stands.
  if (drive.Faulted()) {
    const bool inWorker = drive.FaultedSession() >= 3;
    const bool repairWrite = drive.FaultedSession() == 2 && drive.FaultedWrite();
    if ((inWorker || repairWrite) && updatedAfterFault > 0) {
      FuzzFail(kTarget, "\"Updated firmware!\" after a failed transfer");
    }
    if (inWorker && boxesAfterFault == 0)
      FuzzFail(kTarget, "a failed worker transfer was not told");
    if (repairWrite && !repairFailed) FuzzFail(kTarget, "repair did not fail on a failed write");
  }
  if (c.dump == DumpTrouble::kDiskFull && dumpOpened && !dumpFailureTold) {
    FuzzFail(kTarget, "a dump to a full disk is left as if it had been written");
  }
}

}  // namespace

void FuzzDiskSetUp() {
  ImagePattern();
  // Drive A is the disk; no other candidate opens.
  const char* table[kDiscoveryCandidates];
  for (const char*& path : table) path = "";
  SetRawDriveTable(table, kDiscoveryCandidates);
}

int FuzzDisk(const uint8_t* data, size_t size) {
  // One drive and one copy of the disk for every input: fresh megabytes for
  // each would cost more than the run itself.
  static MemoryDrive drive;
  static std::string before;
  drive.Reset();
  const DiskCase c = Parse(data, size, drive.Bytes());
  before = drive.Bytes();
  PrepareFiles(c);
  drive.FailTransfer(c.failAt, c.fault);
  drive.OnFault(NoteFault, nullptr);
  eventsAtFault = 0;
  drive.Attach(0);
  ResetRecordedUi();

  const char found = FindZazeDrive();
  const bool readable =
      before.size() >= 2 * kBlock && !(drive.Faulted() && drive.FaultedSession() == 1);
  const bool isMap = readable && HasPartName(EntryOf(before, 0), "partition map");
  if (found != (isMap ? 'A' : kNoDriveFound)) FuzzFail(kTarget, "discovery's answer is wrong");

  std::snprintf(FirmwarePath, sizeof FirmwarePath, "%s", kImageName);
  FoundDriveLetter = 'A';
  FirmwareUpdateThread(nullptr);
  MemoryDrive::Detach(0);

  CheckChanges(before, drive.Bytes());
  CheckReport(c, drive, drive.Bytes());
  RemoveDump();
  ResetRecordedUi();  // what the run allocated is freed within it, or libFuzzer suspects a leak
  return 0;
}
