// Updates that go through: the map repaired and dumped, the image written
// at block 63 in chunks and read back.
#include <filesystem>

#include "tests/device/WorkerFixture.h"

namespace {

TEST_F(UpdateWorker, RepairsAZazeThenWritesAndVerifiesTheImageAtBlock63) {
  const std::string image = FirmwareImage(40448, 1);
  Run(ZazeBeforeRepair(), &image);

  EXPECT_EQ(RecordedLogLines(),
            Lines({"    <Checking partition information...>", "    <Firmware partition found...>",
                   "    <Drive found...>", "    <Checking partition information...>",
                   "Opened zaze_pm.txt successfully, dumping partition map:",
                   "Found firmware on zAze!", "The size of the partition is 33524224 bytes.",
                   "Updating firmware with file \"firmware.img\"...",
                   "Saved the 40448 bytes the update replaces to zaze_fw_backup.bin.",
                   "Firmware verified.", "Updated firmware!"}));
  EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(33524224), CopyLines(40448)));
  EXPECT_TRUE(ReadWholeFile(kFirstBackup) == before_.substr(63 * kBlock, image.size()))
      << "the backup is not what the image replaced";
  EXPECT_TRUE(RecordedErrorBoxes().empty());

  EXPECT_EQ(After(0).pmPartBlkCnt, 62u);
  EXPECT_EQ(After(0).pmMapBlkCnt, 3u);
  EXPECT_EQ(After(1).pmPyPartStart, 63u);
  EXPECT_EQ(After(1).pmPartBlkCnt, 65477u);
  EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
  EXPECT_EQ(ChangesOutside(before_, after_, {{1, 2}, {63, 79}}), "");

  ExpectDumpOfMap(3, 1);  // the map as repaired, its firmware entry at 63 for 65477 blocks
}

// Chunk k lands at block 63 + 63 k; every chunk but the last is full.
TEST_F(UpdateWorker, CopiesInChunksOf63SectorsUpToAFullBar) {
  for (const size_t bytes : {40448, 64512, 32256, 3677184}) {
    SCOPED_TRACE(std::to_string(bytes) + " bytes");
    const std::string image = FirmwareImage(bytes, 2);
    Run(ZazeRepaired(7400), &image);
    EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(33524224), CopyLines(bytes)));
    EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
    EXPECT_EQ(ChangesOutside(before_, after_, {{63, static_cast<uint32_t>(bytes / kBlock)}}), "");
  }
}

TEST_F(UpdateWorker, FillsAPartitionExactlyAndWritesOverFreeSpace) {
  // 200 blocks: three full chunks and one of 11 sectors.
  const std::string exact = FirmwareImage(200 * kBlock, 3);
  Run(RepairedMap(63, 200, 263, 600), &exact);
  EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(102400), CopyLines(exact.size())));
  EXPECT_TRUE(WrittenAt(63, exact.size()) == exact) << "image not found at block 63";
  EXPECT_EQ(ChangesOutside(before_, after_, {{63, 200}}), "");

  // Space that an "Apple_Free" entry claims is nobody's.
  const std::string image = FirmwareImage(100 * kBlock, 4);
  Run(RepairedMap(63, 200, 263, 600, {MakeEntry("Extra", "Apple_Free", 100, 50, 4)}), &image);
  EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(102400), CopyLines(image.size())));
  EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
  ExpectDumpOfMap(4, 1);
}

TEST_F(UpdateWorker, UpdatesWhenTheDumpFileCannotBeCreated) {
  std::filesystem::create_directory(kDumpName);
  const std::string image = FirmwareImage(40448, 5);
  Run(ZazeRepaired(), &image);
  Lines expected = Join(FirmwareLines(33524224), CopyLines(image.size()));
  expected[1] = "log Unable to open file zaze_pm.txt for writing!";
  EXPECT_EQ(WorkerTrace(), expected);
  EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
}

}  // namespace
