// What the user does after an update that did not end well: runs it again,
// or starts the program again after the process was killed. Whatever the
// order of runs and faults, a whole copy of the last whole firmware stays on
// the disk, and the zAze can be put back as it was.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/Recovery.h"
#include "device/UpdateRecord.h"
#include "device/UpdateWorker.h"
#include "tests/support/DiskImage.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/MemoryDrive.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateOutcome.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kBlock = 512;
constexpr uint32_t kStart = 63 * kBlock;                  // the firmware partition, repaired
constexpr uint32_t kImageBytes = 2 * kChunkBytes + 8192;  // three chunks
constexpr char kImageName[] = "firmware.img";
constexpr char kTable[] = "Faults injected: the runs after a failed or cut-off update";

std::string Range(const std::string& disk) { return disk.substr(kStart, kImageBytes); }

bool BoxNames(const std::string& name) {
  for (const std::string& box : RecordedErrorBoxes()) {
    if (box.find("saved in " + name + ".") != std::string::npos) return true;
  }
  return false;
}

std::string Told() {
  std::string told;
  for (const std::string& line : RecordedLogLines()) told += (told.empty() ? "" : " / ") + line;
  return told;
}

// The transfer that writes the image's second chunk, and the first write of
// the restore after it fails as `copyFault`, as a run on `disk` makes them.
struct CopyFault {
  uint32_t secondChunk = 0;
  uint32_t restoreWrite = 0;
};

class Recovery : public testing::Test {
 protected:
  void SetUp() override {
    SaveFile(kImageName, FirmwareImage(kImageBytes, 13));
    RemoveBackupSets();
    HardeningTable(kTable, {"what the user does", "outcome"});
  }
  void TearDown() override {
    MemoryDrive::Detach(0);
    DetachDrives();
    SetProgressPosHook(nullptr, nullptr);
  }

  // One update of `drive` as drive A; `drive` keeps what it was left with.
  static UpdateResult Update(MemoryDrive& drive) {
    ResetRecordedUi();
    drive.Attach(0);
    const UpdateResult result = RunFirmwareUpdate('A', kImageName);
    MemoryDrive::Detach(0);
    return result;
  }

  // Found in a folder of its own, so that the backups of the test's runs
  // stay as they are.
  static CopyFault FaultsOf(const std::string& disk, DriveFault copyFault = DriveFault::kError) {
    const fs::path home = fs::current_path();
    fs::create_directory("probe");
    fs::copy_file(kImageName, "probe/firmware.img", fs::copy_options::overwrite_existing);
    fs::current_path("probe");
    CopyFault fault;
    MemoryDrive clean(disk);
    clean.RecordTransfers(true);
    Update(clean);
    RemoveBackupSets();
    int chunksWritten = 0;
    for (uint32_t k = 0; k < clean.Log().size() && fault.secondChunk == 0; ++k) {
      const DriveTransfer& t = clean.Log()[k];
      if (t.write && !t.flush && t.offset >= kStart && ++chunksWritten == 2) {
        fault.secondChunk = k + 1;
      }
    }
    MemoryDrive failing(disk);
    failing.RecordTransfers(true);
    failing.FailTransfer(fault.secondChunk, copyFault);
    Update(failing);
    for (uint32_t k = fault.secondChunk; k < failing.Log().size(); ++k) {
      if (failing.Log()[k].write && !failing.Log()[k].flush) {
        fault.restoreWrite = k + 1;
        break;
      }
    }
    fs::current_path(home);
    fs::remove_all("probe");
    return fault;
  }

  ScratchFolder scratch_;  // backups and records have fixed names
};

// The restore after a failed copy fails too, and the user runs the update
// again: the second run keeps its own backup apart, and every box that
// names a backup names the one that holds the last whole firmware.
TEST_F(Recovery, TheNextRunAfterAFailedRestoreKeepsTheOnlyWholeCopy) {
  const std::string disk = ZazeRepaired().Bytes();
  const CopyFault fault = FaultsOf(disk);
  ASSERT_NE(fault.restoreWrite, 0u);

  MemoryDrive first(disk);
  first.FailTransfer(fault.secondChunk, DriveFault::kError);
  first.AlsoFailTransfer(fault.restoreWrite, DriveFault::kError);
  EXPECT_EQ(Update(first), UpdateResult::kNotRestored);
  EXPECT_TRUE(BoxNames("zaze_fw_backup.bin"));
  HardeningRow(kTable,
               {"a copy and its restore fail", DescribeUpdate(RecordedUi(), disk, first.Bytes())});

  // Again, failing the same way: the box names the first backup, which
  // holds the firmware from before both runs. (A chunk half written, so
  // that the restore has something to write.)
  const CopyFault half = FaultsOf(first.Bytes(), DriveFault::kShortCount);
  MemoryDrive again(first.Bytes());
  again.FailTransfer(half.secondChunk, DriveFault::kShortCount);
  again.AlsoFailTransfer(half.restoreWrite, DriveFault::kError);
  EXPECT_EQ(Update(again), UpdateResult::kNotRestored);
  EXPECT_TRUE(BoxNames("zaze_fw_backup.bin")) << "the box does not name the whole copy";
  EXPECT_FALSE(BoxNames("zaze_fw_backup-2.bin"));
  HardeningRow(kTable, {"then the same update again, failing the same way",
                        DescribeUpdate(RecordedUi(), first.Bytes(), again.Bytes())});

  MemoryDrive last(again.Bytes());
  EXPECT_EQ(Update(last), UpdateResult::kUpdated);
  HardeningRow(kTable, {"then again, without a fault",
                        DescribeUpdate(RecordedUi(), again.Bytes(), last.Bytes())});
  EXPECT_TRUE(ReadWholeFile("zaze_fw_backup.bin") == Range(disk)) << "the whole copy is gone";
  // The later runs' own backups (of a half-written partition) take the next
  // name, one after the other.
  EXPECT_TRUE(ReadWholeFile("zaze_fw_backup-2.bin") == Range(again.Bytes()));
  UpdateRecord record;
  ASSERT_TRUE(LoadUpdateRecord(1, record)) << "the first run's backup lost its record";
  EXPECT_FALSE(record.open) << "a verified update left the offer to put back older firmware";
  EXPECT_FALSE(LoadUpdateRecord(2, record)) << "a record without a backup to keep";
}

// The drive number names another disk when the restore comes (the zAze was
// pulled and another disk plugged in): nothing is written to that disk, and
// the box names the backup.
TEST_F(Recovery, TheRestoreWritesNothingToAnotherDiskOnTheZazesNumber) {
  const std::string disk = ZazeRepaired().Bytes();
  const std::string other = OrdinaryDisk(static_cast<uint32_t>(disk.size() / kBlock)).Bytes();
  const CopyFault fault = FaultsOf(disk);
  MemoryDrive drive(disk);
  drive.FailTransfer(fault.secondChunk, DriveFault::kError);
  struct Swap {
    MemoryDrive* drive;
    const std::string* other;
  } swap = {&drive, &other};
  drive.OnFault(
      [](void* context) {
        Swap& s = *static_cast<Swap*>(context);
        s.drive->Bytes() = *s.other;
      },
      &swap);
  EXPECT_EQ(Update(drive), UpdateResult::kNotRestored);
  EXPECT_TRUE(drive.Bytes() == other) << ChangedBlocks(other, drive.Bytes());
  EXPECT_TRUE(BoxNames("zaze_fw_backup.bin"));
  EXPECT_TRUE(ReadWholeFile("zaze_fw_backup.bin") == Range(disk));
  HardeningRow(kTable, {"another disk on the drive number when the restore comes",
                        DescribeUpdate(RecordedUi(), other, drive.Bytes())});
}

// Ends the process once the second chunk is written, as a user or a power
// cut would: no rollback runs.
void KillAfterSecondChunk(int32_t position, void*) {
  if (position == static_cast<int32_t>(ChunkCount(kImageBytes)) + 2) _exit(0);
}

// The update of `disk` on drive A in a child process killed mid-write; the
// drive is an image file, so what reached it stays.
std::string KilledUpdate(const DiskImage& disk) {
  AttachDrive(0, disk);
  const pid_t child = fork();
  if (child == 0) {
    SetProgressPosHook(KillAfterSecondChunk, nullptr);
    RunFirmwareUpdate('A', kImageName);
    _exit(1);  // not killed: the test fails below
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run was not cut off";
  return DriveBytes(0);
}

// Killed mid-write, then started again: the unfinished update is found,
// and once it is undone the zAze is byte for byte as before the first run,
// its map too. Started again and run once more instead, the first backup
// is kept.
TEST_F(Recovery, ARunKilledMidWriteIsFoundAndUndoneWhenStartedAgain) {
  for (const DiskImage& disk : {ZazeBeforeRepair(), ZazeRepaired()}) {
    const std::string shape = disk.Entry(0).pmPartBlkCnt == 62 ? "repaired" : "before repair";
    SCOPED_TRACE(shape);
    RemoveBackupSets();
    const std::string killed = KilledUpdate(disk);
    ASSERT_FALSE(killed == disk.Bytes()) << "nothing was written before the kill";
    UpdateRecord record;
    ASSERT_TRUE(FindUnfinishedUpdate('A', record)) << "the unfinished update is not found";
    ResetRecordedUi();
    EXPECT_EQ(RestoreUnfinishedUpdate('A', record), UpdateResult::kRestored);
    EXPECT_TRUE(DriveBytes(0) == disk.Bytes()) << ChangedBlocks(disk.Bytes(), DriveBytes(0));
    EXPECT_FALSE(FindUnfinishedUpdate('A', record)) << "found again after it was undone";
    const std::string now = DriveBytes(0);
    HardeningRow(kTable, {"a zAze " + shape +
                              ", the run killed mid-write, put back when "
                              "started again: " +
                              Told(),
                          now == disk.Bytes() ? "byte for byte as before the first run"
                                              : ChangedBlocks(disk.Bytes(), now)});

    RemoveBackupSets();
    KilledUpdate(disk);
    MemoryDrive again(DriveBytes(0));
    EXPECT_EQ(Update(again), UpdateResult::kUpdated);
    EXPECT_TRUE(ReadWholeFile("zaze_fw_backup.bin") == disk.Bytes().substr(kStart, kImageBytes))
        << "the run after the kill replaced the whole copy";
    HardeningRow(kTable, {"a zAze " + shape + ", the run killed mid-write, then updated again",
                          DescribeUpdate(RecordedUi(), disk.Bytes(), again.Bytes())});
  }
}

// The sums in a record are CRC-32 as zip and PNG have it, whatever way they
// are taken: another tool can check a backup against its record.
TEST(UpdateRecordSum, IsTheCrc32OfZipAndPng) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc32(digits.data(), 9), 0xCBF43926u);
  const std::string bytes = Pattern(1000, 3);
  const uint32_t whole = Crc32(bytes.data(), 1000);
  EXPECT_EQ(Crc32(bytes.data() + 13, 987, Crc32(bytes.data(), 13)), whole);
  uint32_t byByte = 0;
  for (char c : bytes) byByte = Crc32(&c, 1, byByte);
  EXPECT_EQ(byByte, whole);
}

}  // namespace
