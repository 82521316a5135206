// The copy of the image to the drive, and the backup of what it replaces:
// kept before the first write, put back when the copy fails, and the
// update refused when it cannot be kept.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "device/FirmwareBackup.h"
#include "device/ImageCopy.h"
#include "device/RawDrive.h"
#include "tests/device/WorkerFixture.h"
#include "tests/support/UpdateOutcome.h"

namespace {

namespace fs = std::filesystem;

const char kRestored[] =
    "box Error: The new firmware could not be written to your zAze. Its previous firmware is "
    "back in place.";

// Cuts the image file (two chunks) to one chunk once that chunk is on the
// disk, the bar's third step after the two of the backup, as a medium that
// fails under the copy would.
void CutImageAfterFirstChunk(int32_t position, void*) {
  if (position == 3) fs::resize_file(kImageName, kChunkBytes);
}

// The chunk written before the failure is put back from the backup. A
// backup that cannot be written to the disk refuses the update.
TEST_F(UpdateWorker, PutsThePreviousFirmwareBackWhenTheCopyFails) {
  const std::string image = FirmwareImage(40448, 8);
  SetProgressPosHook(CutImageAfterFirstChunk, nullptr);
  Run(ZazeRepaired(), &image);
  SetProgressPosHook(nullptr, nullptr);
  EXPECT_EQ(WorkerTrace(),
            Join(FirmwareLines(33524224),
                 {"bar create", "bar range 0..6", "bar pos 1", "bar pos 2", SavedLine(image.size()),
                  "bar pos 3", "log Error quiting", "bar destroy", "log Unable to update firmware!",
                  "log Previous firmware restored.", kRestored, "wizard last"}));
  EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
  ExpectDumpOfMap(3, 1);

  // A backup file that cannot be written, and one that is written but does
  // not reach a medium (a device without one refuses the flush).
  keepBackups_ = true;
  const struct {
    const char* what;
    void (*make)();
    Lines refusal;
  } obstacles[] = {
      {"a folder of that name",
       [] { fs::create_directory(kFirstBackup); },
       {"log Firmware not written: no room to keep a copy of the previous firmware.",
        "box Error: Not enough memory or disk space to keep a copy of the firmware on your zAze! "
        "Nothing was written to your zAze."}},
#ifndef _WIN32
      {"a link to /dev/null",
       [] { fs::create_symlink("/dev/null", kFirstBackup); },
       {"log Firmware not written: the copy of the previous firmware did not reach this "
        "computer's disk whole.",
        "box Error: The copy of the firmware on your zAze could not be saved on this computer's "
        "disk! Nothing was written to your zAze."}},
#endif
  };
  for (const auto& obstacle : obstacles) {
    SCOPED_TRACE(obstacle.what);
    RemoveBackupSets();
    obstacle.make();
    Run(ZazeRepaired(), &image);
    EXPECT_EQ(WorkerTrace(),
              Join(FirmwareLines(33524224),
                   Join({"bar create", "bar range 0..6", "bar pos 1", "bar pos 2", "bar destroy"},
                        Join(obstacle.refusal, {"wizard last"}))));
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    fs::remove(kFirstBackup);
  }
}

// An earlier backup chosen as the firmware file goes back whole and is left
// as it was: this update's own backup goes to the next free name.
TEST_F(UpdateWorker, AnEarlierBackupChosenAsTheFirmwareGoesBackAndStays) {
  const std::string earlier = FirmwareImage(40448, 9);
  keepBackups_ = true;
  Run(ZazeRepaired(), &earlier, kFirstBackup);
  EXPECT_TRUE(WrittenAt(63, earlier.size()) == earlier) << "the earlier firmware is not back";
  EXPECT_TRUE(ReadWholeFile(kFirstBackup) == earlier) << "the chosen backup was replaced";
  EXPECT_TRUE(ReadWholeFile("zaze_fw_backup-2.bin") == before_.substr(63 * kBlock, earlier.size()));
  const Lines logged = RecordedLogLines();
  EXPECT_NE(std::find(logged.begin(), logged.end(),
                      "Saved the 40448 bytes the update replaces to zaze_fw_backup-2.bin."),
            logged.end());
}

// Without the memory for the range, the backup goes through its file alone:
// the file holds the sectors, and a restore puts them back from it.
TEST_F(UpdateWorker, ABackupWithoutMemoryGoesThroughItsFile) {
  const uint32_t start = 63 * kBlock;
  const uint32_t length = kChunkBytes + 20 * kBlock;  // two chunks, the last short
  AttachDrive(0, OrdinaryDisk(512));
  const std::string before = DriveBytes(0).substr(start, length);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  {
    FirmwareBackup backup(0);
    ASSERT_EQ(backup.Save(drive, start, length, kFirstBackup, nullptr, nullptr),
              BackupSave::kSaved);
    EXPECT_TRUE(ReadWholeFile(kFirstBackup) == before) << "the file is not the sectors";
    const std::string other = FirmwareImage(length, 12);
    ASSERT_EQ(drive.Write(other.data(), start, length), static_cast<int32_t>(length));
    EXPECT_EQ(backup.Restore(drive, 'A', length, nullptr), RestoreResult::kRestored);
  }
  drive.Close();
  EXPECT_TRUE(DriveBytes(0).substr(start, length) == before) << "not put back from the file";

  // Neither memory nor a file to write: nothing to restore from, refused.
  fs::remove(kFirstBackup);
  fs::create_directory(kFirstBackup);
  ASSERT_EQ(drive.Open('A'), 1);
  FirmwareBackup backup(0);
  EXPECT_EQ(backup.Save(drive, start, length, kFirstBackup, nullptr, nullptr), BackupSave::kNoRoom);
  drive.Close();
  fs::remove(kFirstBackup);
}

// ---- The copy engine alone, without the worker --------------------------

struct Tamper {
  RawDrive* drive;
  uint32_t offset;
  int32_t afterChunk;
  std::vector<int32_t> reports;
};

// Changes one sector behind the copy's back, as a failing medium would.
void TamperAfterChunk(int32_t chunksWritten, void* context) {
  Tamper& tamper = *static_cast<Tamper*>(context);
  tamper.reports.push_back(chunksWritten);
  if (chunksWritten != tamper.afterChunk) return;
  const std::string zeros(kBlock, '\0');
  EXPECT_EQ(tamper.drive->Write(zeros.data(), tamper.offset, kBlock), 512);
}

// 64512 bytes of the image file to byte 32256 of an ordinary disk on drive
// A, zeroing the sector at `offset` after chunk `afterChunk`; the chunk
// counts it reported go to `reports`.
CopyResult CopyAlone(const std::string& image, bool verify, uint32_t offset, int32_t afterChunk,
                     std::vector<int32_t>& reports) {
  SaveFile(kImageName, image);
  AttachDrive(0, OrdinaryDisk(512));
  FILE* file = std::fopen(kImageName, "rb");
  RawDrive drive;
  if (file == nullptr || drive.Open('A') != 1) {
    ADD_FAILURE() << "the image or the drive did not open";
    if (file != nullptr) std::fclose(file);
    return CopyResult::kDone;
  }
  Tamper tamper = {&drive, offset, afterChunk, {}};
  const CopyResult copied =
      CopyImageToDrive(drive, file, 64512, 32256, verify, TamperAfterChunk, &tamper).result;
  std::fclose(file);
  reports = tamper.reports;
  return copied;
}

TEST_F(UpdateWorker, CopyReadsTheRangeBackAndCatchesADifference) {
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "verifying" : "not verifying");
    std::vector<int32_t> reports;
    EXPECT_EQ(CopyAlone(FirmwareImage(64512, 10), verify, 32256 + 64000, 2, reports),
              verify ? CopyResult::kVerifyFailed : CopyResult::kDone);
    // Two chunks written, then the first read back before the second differs.
    EXPECT_EQ(reports, verify ? std::vector<int32_t>({1, 2, 3}) : std::vector<int32_t>({1, 2}));
  }
}

TEST_F(UpdateWorker, CopyFailsWhenTheImageEndsBeforeItsLength) {
  const std::string image = FirmwareImage(32256, 11);
  std::vector<int32_t> reports;
  EXPECT_EQ(CopyAlone(image, true, 0, -1, reports), CopyResult::kImageReadFailed);
  EXPECT_EQ(reports, std::vector<int32_t>({1}));
  EXPECT_TRUE(DriveBytes(0).substr(32256, 32256) == image) << "first chunk not written";
}

}  // namespace
