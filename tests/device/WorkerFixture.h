// The update worker run as the wizard starts it, on a disk image on drive A,
// and what it left behind: the drive's bytes, the recorded report, the dump.
// Brings the test support the worker's tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/PartitionMap.h"
#include "device/UpdateWorker.h"
#include "tests/support/DiskImage.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TestFiles.h"

using Lines = std::vector<std::string>;

constexpr uint32_t kBlock = 512;
constexpr char kImageName[] = "firmware.img";
constexpr char kDumpName[] = "zaze_pm.txt";
constexpr char kFirstBackup[] = "zaze_fw_backup.bin";

// The recorded UI, one short line per event; a box by its first line.
Lines Trace();

inline Lines Join(Lines head, const Lines& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The worker's lines up to the copy, for a firmware partition of
// `partitionBytes` and the image kImageName.
inline Lines FirmwareLines(uint32_t partitionBytes) {
  return {
      "log     <Checking partition information...>",
      "log Opened zaze_pm.txt successfully, dumping partition map:", "log Found firmware on zAze!",
      "log The size of the partition is " + std::to_string(partitionBytes) + " bytes.",
      std::string("log Updating firmware with file \"") + kImageName + "\"..."};
}

inline std::string SavedLine(size_t bytes) {
  return "log Saved the " + std::to_string(bytes) + " bytes the update replaces to " +
         kFirstBackup + ".";
}

// A copy of `bytes` that succeeds: a bar of three steps a chunk, taken by
// the backup, the write and the read-back.
Lines CopyLines(size_t bytes);

// A repaired map (62 blocks) of `count` entries: the map, "firmware" at
// `start`, "disk" at `diskStart`, and any `extra` entries after them.
DiskImage RepairedMap(uint32_t start, uint32_t blocks, uint32_t diskStart, uint32_t imageBlocks,
                      const std::vector<PartitionMapEntry>& extra = {});

// Five entries, but the image ends after the fourth.
inline DiskImage MapEndingEarly() {
  return RepairedMap(63, 200, 263, 5,
                     {MakeEntry("Extra", "Apple_Free", 300, 10, 5),
                      MakeEntry("Patches", "Apple_Patches", 310, 10, 5)});
}

class UpdateWorker : public testing::Test {
 protected:
  void SetUp() override { ResetRecordedUi(); }
  void TearDown() override {
    DetachDrives();
    std::memset(FirmwarePath, 0, sizeof FirmwarePath);
    FoundDriveLetter = 0;
  }

  // Puts `disk` on drive A and `image` (none when null) at `path`, with no
  // dump and (unless the test keeps them) no backups left from before.
  void Stage(const DiskImage& disk, const std::string* image, const char* path = kImageName);

  // Learns what repair alone does to `disk` and the log, then runs the
  // worker on the disk as it was.
  void Run(const DiskImage& disk, const std::string* image, const char* path = kImageName);

  // What the worker reported after repair's own lines.
  Lines WorkerTrace() const {
    const bool repairFirst = trace_.size() >= repairTrace_.size() &&
                             std::equal(repairTrace_.begin(), repairTrace_.end(), trace_.begin());
    EXPECT_TRUE(repairFirst) << "the run does not begin with repair's own report";
    return repairFirst ? Lines(trace_.begin() + repairTrace_.size(), trace_.end()) : trace_;
  }

  PartitionMapEntry After(uint32_t index) const {
    DiskImage disk(static_cast<uint32_t>(after_.size() / kBlock));
    disk.Bytes() = after_;
    return disk.Entry(index);
  }

  // The dump tells the first `dumped` entries of a map of `count` as they are
  // on the disk now, entry `firmware` marked as the firmware partition.
  void ExpectDumpOfMap(uint32_t dumped, uint32_t firmware, uint32_t count = 0) const;

  std::string WrittenAt(uint32_t block, size_t size) const {
    return after_.substr(static_cast<size_t>(block) * kBlock, size);
  }

  ScratchFolder scratch_;     // the dump file has a fixed name
  bool keepBackups_ = false;  // what the folder holds is the test's
  std::string before_, repaired_, after_, dump_;
  Lines repairTrace_, trace_;
  bool dumped_ = false;
};
