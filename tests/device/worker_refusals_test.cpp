// Updates refused: disks that repair will not touch, maps that cannot be
// read whole, and files that fail or do not fit. Nothing reaches the
// firmware partition; a plan foresees each refusal without writing.
#include <algorithm>
#include <filesystem>

#include "device/Repair.h"
#include "tests/device/WorkerFixture.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/UpdateOutcome.h"

namespace {

namespace fs = std::filesystem;

const char kRepairFailed[] = "box Error: Unable to modify the zAze's partition table!";

TEST_F(UpdateWorker, EndsWithE1AndNothingElseWhenRepairRefusesTheDisk) {
  const std::string image = FirmwareImage(40448, 6);
  for (const DiskImage& disk : {OrdinaryDisk(), MacDisk()}) {
    Run(disk, &image);
    EXPECT_EQ(WorkerTrace(), Lines({kRepairFailed, "wizard last"}));
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    EXPECT_FALSE(dumped_) << "a dump was written for a disk that was refused";
  }
  // No drive at all.
  SaveFile(kImageName, image);
  DetachDrives();
  ResetRecordedUi();
  FoundDriveLetter = static_cast<signed char>(0xFF);
  FirmwareUpdateThread(nullptr);
  const Lines trace = Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[1], kRepairFailed);
  EXPECT_EQ(trace[2], "wizard last");
}

// Maps whose fixed shape would hide the data volume or the firmware entry
// (the count of three no longer reaches them) or lay the firmware partition
// over the data volume. Repair refuses them: the disk keeps every byte, its
// HFS volume still reads back, and the user is shown E1.
TEST_F(UpdateWorker, RefusesARepairThatWouldHideOrOverlapAPartition) {
  constexpr uint32_t kVolumeBlocks = 1600;  // the smallest HFS volume hformat makes
  constexpr uint32_t kAfterFirmware = 65540;
  struct Shape {
    const char* what;
    std::vector<PartitionMapEntry> entries;  // after the map's own
    uint32_t diskStart;
    const char* repairLine;
  };
  const auto Entry = [](const char* name, const char* type, uint32_t start, uint32_t blocks) {
    return MakeEntry(name, type, start, blocks, 0);
  };
  const PartitionMapEntry firmware = Entry("firmware", "Apple_MDFW", 64, 65476);
  const PartitionMapEntry disk = Entry("disk", "Apple_HFS", kAfterFirmware, kVolumeBlocks);
  const PartitionMapEntry driver =
      Entry("Macintosh", "Apple_Driver43", kAfterFirmware + kVolumeBlocks, 64);
  const PartitionMapEntry freeSpace = Entry("Extra", "Apple_Free", 70000, 1000);
  const char kHidesDisk[] =
      "    <\"disk\" would lie outside the repaired map, nothing was changed!>";
  const Shape shapes[] = {
      {"a free-space entry before the firmware",
       {freeSpace, firmware, disk},
       kAfterFirmware,
       kHidesDisk},
      {"a driver entry before the firmware", {driver, firmware, disk}, kAfterFirmware, kHidesDisk},
      {"the firmware entry fourth",
       {driver, freeSpace, firmware, disk},
       kAfterFirmware,
       "    <\"firmware\" would lie outside the repaired map, nothing was changed!>"},
      {"the data volume starting inside blocks 63 to 65539",
       {Entry("firmware", "Apple_MDFW", 64, 100), Entry("disk", "Apple_HFS", 1000, kVolumeBlocks)},
       1000,
       "    <The repaired map would overlap \"disk\", nothing was changed!>"},
  };
#ifndef _WIN32
  const char kText[] = "The user's only copy of their notes.\n";
  const std::string volume = HfsVolume(kVolumeBlocks, kText);
  ASSERT_FALSE(volume.empty()) << "hfsutils could not make an HFS volume";
#else
  const std::string volume = FirmwareImage(kVolumeBlocks * kBlock, 20);  // stands in for it
#endif
  const std::string image = FirmwareImage(40448, 13);
  const char table[] = "Bad input: maps that the fixed shape would hide or overlap";
  HardeningTable(table, {"map", "outcome"});
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    const uint32_t count = static_cast<uint32_t>(shape.entries.size()) + 1;
    DiskImage map(kAfterFirmware + kVolumeBlocks + 64);
    map.SetEntry(0, MakeEntry("partition map", "Apple_partition_map", 1, 63, count));
    for (uint32_t i = 1; i < count; ++i) {
      PartitionMapEntry entry = shape.entries[i - 1];
      entry.pmMapBlkCnt = count;
      map.SetEntry(i, entry);
    }
    map.Bytes().replace(static_cast<size_t>(shape.diskStart) * kBlock, volume.size(), volume);
    Run(map, &image);
    EXPECT_EQ(trace_,
              Lines({"log     <Checking partition information...>",
                     std::string("log ") + shape.repairLine, kRepairFailed, "wizard last"}));
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    HardeningRow(table, {shape.what, DescribeUpdate(RecordedUi(), before_, after_)});
#ifndef _WIN32
    EXPECT_EQ(
        HfsReadme(after_.substr(static_cast<size_t>(shape.diskStart) * kBlock, volume.size())),
        kText);
#endif
  }
}

TEST_F(UpdateWorker, RefusesTheFirmwareAndShowsE5WhenTheMapEndsEarly) {
  // Five entries, but the image ends after entry 3: the fifth cannot be read.
  const std::string image = FirmwareImage(40448, 7);
  Run(MapEndingEarly(), &image);
  EXPECT_EQ(WorkerTrace(),
            Join(FirmwareLines(102400),
                 {"log Firmware not written: the partition map could not be read in full.",
                  "box Error: Unable to read the whole partition table of your zAze!",
                  "log Drive read failed! Dc:2", "box Error: Unable to read from drive!",
                  "wizard last"}));
  EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
  ExpectDumpOfMap(4, 1, 5);  // the entries that could be read
}

// The file is checked again before anything is written: one that fails now
// (gone, emptied, another file put in its place) leaves even the map alone.
TEST_F(UpdateWorker, RefusesAFileThatFailsTheCheckNowBeforeTheRepair) {
  const Lines refused = {
      "log Firmware not written: the file is no longer a valid firmware file.",
      "box Error: The firmware file is no longer a valid firmware file! Nothing was written to "
      "your zAze.",
      "wizard last"};
  std::string other = FirmwareImage(40448, 12);
  other[131] = 'x';
  const std::string empty;
  const std::string* const images[] = {nullptr, &empty, &other};
  for (const std::string* image : images) {
    SCOPED_TRACE(image == nullptr ? "gone" : image->empty() ? "emptied" : "another file");
    Run(ZazeBeforeRepair(), image);
    EXPECT_EQ(trace_, refused);
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    EXPECT_FALSE(dumped_);
  }
}

// The map is repaired and dumped, but not a byte of the image is written.
TEST_F(UpdateWorker, RefusesImagesThatDoNotFitBeforeTheFirstWrite) {
  const std::string notWhole =
      "Firmware not written: the file is not a whole number of 512-byte "
      "sectors.|Error: The firmware file is not a whole number of "
      "512-byte sectors!";
  const std::string tooLong =
      "Firmware not written: the file does not fit the firmware "
      "partition.|Error: The firmware file does not fit the firmware "
      "partition on your zAze!";
  const std::string overlap =
      "Firmware not written: it would overwrite another partition.|"
      "Error: The firmware file would overwrite another partition on "
      "your zAze!";
  struct Case {
    const char* what;
    DiskImage disk;
    size_t bytes;
    std::string refusal;  // log line|box headline
    uint32_t partitionBytes;
  };
  const Case cases[] = {
      {"1,000 bytes", ZazeRepaired(), 1000, notWhole, 33524224},
      {"513 bytes", ZazeRepaired(), 513, notWhole, 33524224},
      {"one sector more than the zAze's partition", ZazeRepaired(), 65478 * kBlock, tooLong,
       33524224},
      {"one sector more than a small partition", RepairedMap(63, 200, 263, 600), 201 * kBlock,
       tooLong, 102400},
      {"\"disk\" inside the written range", RepairedMap(63, 200, 163, 600), 101 * kBlock, overlap,
       102400},
      {"a firmware partition inside the map", RepairedMap(2, 200, 263, 600), 2 * kBlock, overlap,
       102400},
      {"a firmware partition over block 0", RepairedMap(0, 200, 263, 600), kBlock, overlap, 102400},
      // The first chunk would land below 2 GB and the second past it.
      {"a partition across 2 GB", RepairedMap(0x400000 - 70, 65477, 63, 512), 40448,
       "Firmware not written: the firmware partition lies beyond the first 2 GB of the drive.|"
       "Error: The firmware partition on your zAze lies out of reach!",
       33524224},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = FirmwareImage(c.bytes, 9);
    Run(c.disk, &image);
    const size_t bar = c.refusal.find('|');
    EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(c.partitionBytes),
                                  {"log " + c.refusal.substr(0, bar),
                                   "box " + c.refusal.substr(bar + 1), "wizard last"}));
    EXPECT_TRUE(after_ == repaired_)
        << "written after repair: " << ChangesOutside(repaired_, after_, {});
    ExpectDumpOfMap(3, 1);
  }
}

// A plan reads what the update reads and writes nothing, and foresees it:
// refused or not, the blocks the repair writes, where the image goes.
TEST_F(UpdateWorker, APlanChangesNothingAndForeseesTheUpdate) {
  const struct {
    const char* what;
    DiskImage disk;
    size_t bytes;
  } cases[] = {
      {"a zAze before repair", ZazeBeforeRepair(), 40448},
      {"a zAze repaired", ZazeRepaired(), 40448},
      {"a file larger than the partition", RepairedMap(63, 200, 263, 600), 201 * kBlock},
      {"an ordinary disk", OrdinaryDisk(), 40448},
      {"a map ending before its last entry", MapEndingEarly(), 40448},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = FirmwareImage(c.bytes, 14);
    Stage(c.disk, &image);
    const UpdatePlan plan = PlanFirmwareUpdate('A', kImageName);
    const Lines planned = RecordedErrorBoxes();
    EXPECT_TRUE(DriveBytes(0) == c.disk.Bytes()) << "the plan wrote to the drive";
    EXPECT_FALSE(fs::exists(kDumpName) || fs::exists(kFirstBackup) || fs::exists("zaze_update.rec"))
        << "the plan wrote a file";
    Run(c.disk, &image);
    const Lines boxes = RecordedErrorBoxes();
    EXPECT_EQ(plan.goesAhead, boxes.empty());
    EXPECT_EQ(planned, Lines(boxes.begin(), boxes.begin() + std::min<size_t>(boxes.size(), 1)))
        << "the plan's refusal is not the update's first";
    std::vector<BlockRange> written;
    for (uint32_t i = 0; i < std::min(plan.map.changedCount, kPlannedEntries); ++i) {
      written.push_back({plan.map.changed[i] + 1, 1});
    }
    if (plan.goesAhead) {
      written.push_back({plan.firmwareStart / kBlock, plan.firmwareLength / kBlock});
      EXPECT_EQ(plan.firmwareLength, image.size());
    }
    EXPECT_EQ(ChangesOutside(before_, after_, written), "");
    EXPECT_EQ(ChangesOutside(after_, before_, {}).empty(), written.empty());
  }
}

}  // namespace
