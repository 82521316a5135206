// Faults on every transfer of a repair and an update, on the image file and
// on the dump file. Whatever fails, the user's data stays where it was, no
// success is reported that did not happen, the wizard is told once that the
// worker is done, and the drive is let go.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "device/FirmwareBackup.h"
#include "device/PartitionMap.h"
#include "device/UpdateWorker.h"
#include "tests/support/DiskImage.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/MemoryDrive.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateOutcome.h"

namespace {

constexpr uint32_t kBlock = 512;
constexpr uint32_t kFirmwareStart = 63;                   // where the map as repaired puts it
constexpr uint32_t kImageBytes = 2 * kChunkBytes + 8192;  // three chunks, the last short
constexpr uint32_t kImageBlocks = kImageBytes / kBlock;
constexpr char kImageName[] = "firmware.img";
constexpr char kDumpName[] = "zaze_pm.txt";
constexpr char kFirstBackup[] = "zaze_fw_backup.bin";
const DriveFault kFaults[] = {DriveFault::kError, DriveFault::kShortCount, DriveFault::kSeekFailure,
                              DriveFault::kUnreadable};

// Fills the fields repair carries over, in the first `entries` entries, so
// that a rewrite which loses any of them shows.
DiskImage Marked(DiskImage disk, uint32_t entries) {
  for (uint32_t i = 0; i < entries; ++i) {
    disk = WithEntry(disk, i, [i](PartitionMapEntry& entry) {
      entry.pmSigPad = static_cast<uint16_t>(0x0100 + i);
      entry.pmBootCksum = 0x55000000u + i;
      std::memcpy(entry.pmProcessor, "powerpc", 8);
      for (size_t b = 0; b < sizeof entry.pmPad; ++b) entry.pmPad[b] = static_cast<uint8_t>(b + i);
    });
  }
  return disk;
}

// A map to be rewritten with free space after "disk": the map, the firmware,
// "disk", and an "Apple_Free" entry, which repair reads (and which the map of
// three entries then no longer counts, as free space may).
DiskImage MapWithFreeSpaceAfterTheDisk() {
  DiskImage disk =
      WithEntry(ZazeBeforeRepair(), 0, [](PartitionMapEntry& e) { e.pmMapBlkCnt = 4; });
  disk.SetEntry(3, MakeEntry("Extra", "Apple_Free", 70000, 64, 4));
  return Marked(disk, 4);
}

struct WorkerRun {
  std::string before, after;
  std::vector<UiEvent> events;
  std::vector<DriveTransfer> transfers;
  int opens = 0, closes = 0;
  bool open = false;
  bool faulted = false;
  int faultedSession = 0;
  bool faultedWrite = false;
  std::string backup;  // zaze_fw_backup.bin after the run; empty when there is none
};

bool Updated(const WorkerRun& run) { return LoggedLine(run.events, "Updated firmware!"); }

bool Boxed(const WorkerRun& run, const char* label) {
  for (const UiEvent& e : run.events) {
    if (e.kind == UiEvent::kErrorBox && BoxLabel(e.text) == label) return true;
  }
  return false;
}

int Boxes(const WorkerRun& run) {
  int boxes = 0;
  for (const UiEvent& e : run.events) boxes += e.kind == UiEvent::kErrorBox ? 1 : 0;
  return boxes;
}

// What each transfer of a run is: "repair: read block 1", "worker: backup
// chunk 1", "worker: write chunk 2", "worker: flush", "worker: read back
// chunk 3", "restore: read chunk 1", "restore: write chunk 1", ...
std::vector<std::string> Describe(const std::vector<DriveTransfer>& transfers) {
  std::vector<std::string> names;
  bool written = false;            // the worker has written a chunk
  std::set<uint32_t> restoreRead;  // chunks the restore has read once (its second read checks)
  for (const DriveTransfer& t : transfers) {
    const std::string who = t.session == 1 ? "repair: " : t.session == 2 ? "worker: " : "restore: ";
    const uint32_t block = t.offset / kBlock;
    if (t.flush) {
      names.push_back(who + "flush");
    } else if (block < kFirmwareStart) {
      names.push_back(who + (t.write ? "write" : "read") + " block " + std::to_string(block));
    } else {
      const uint32_t chunk = (block - kFirmwareStart) / kChunkSectors + 1;
      written = written || (t.write && t.session == 2);
      const bool checking = t.session >= 3 && !t.write && !restoreRead.insert(chunk).second;
      const char* what = t.write                      ? "write chunk "
                         : t.session == 2 && !written ? "backup chunk "
                         : t.session == 2 || checking ? "read back chunk "
                                                      : "read chunk ";
      names.push_back(who + what + std::to_string(chunk));
    }
  }
  return names;
}

bool IsCopyPhase(const std::string& name) {
  return name.rfind("worker: write chunk", 0) == 0 || name == "worker: flush" ||
         name.rfind("worker: read back", 0) == 0;
}

// Changed blocks: the image's own blocks, and in the map only the four numbers
// repair sets, of block 1 and of firmware entries. Everything else as it was.
std::string UnsafeChanges(const WorkerRun& run, uint32_t mapEntries) {
  for (uint32_t b = 0; b < run.before.size() / kBlock; ++b) {
    const size_t at = static_cast<size_t>(b) * kBlock;
    if (run.before.compare(at, kBlock, run.after, at, kBlock) == 0) continue;
    if (b >= kFirmwareStart && b < kFirmwareStart + kImageBlocks) continue;
    DiskImage was(0);
    was.Bytes() = run.before;
    const bool repairable =
        b >= 1 && b <= mapEntries && (b == 1 || HasPartName(was.Entry(b - 1), "firmware"));
    if (!repairable) return "block " + std::to_string(b) + " changed";
    for (uint32_t i = 0; i < kBlock; ++i) {
      const bool repaired = i < 2 || (i >= 4 && i < 16);
      if (!repaired && run.before[at + i] != run.after[at + i]) {
        return "byte " + std::to_string(i) + " of block " + std::to_string(b) + " changed";
      }
    }
  }
  return "";
}

// After transfer `k` failed, only what was there may be written back: a
// write that leaves its blocks other than before the update is named.
std::string WrittenAfter(const WorkerRun& run, uint32_t k) {
  for (size_t later = k; later < run.transfers.size(); ++later) {
    const DriveTransfer& t = run.transfers[later];
    if (t.write && !t.flush &&
        run.after.compare(t.offset, t.length, run.before, t.offset, t.length) != 0) {
      return "written after the failure: " + Describe(run.transfers)[later];
    }
  }
  return "";
}

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override {
    WriteImage();
    std::snprintf(FirmwarePath, sizeof FirmwarePath, "%s", kImageName);
  }
  void TearDown() override {
    MemoryDrive::Detach(0);
    SetProgressPosHook(nullptr, nullptr);
    std::memset(FirmwarePath, 0, sizeof FirmwarePath);
    FoundDriveLetter = 0;
  }

  static void WriteImage() { SaveFile(kImageName, FirmwareImage(kImageBytes, 13)); }

  // The worker on `disk` as drive A, with transfer `failAt` failing as `fault`
  // and transfer `alsoAt` as `alsoFault`.
  static WorkerRun RunWorker(const DiskImage& disk, uint32_t failAt, DriveFault fault,
                             uint32_t alsoAt = 0, DriveFault alsoFault = DriveFault::kNone) {
    RemoveBackupSets();
    MemoryDrive drive(disk.Bytes());
    drive.RecordTransfers(true);
    drive.FailTransfer(failAt, fault);
    drive.AlsoFailTransfer(alsoAt, alsoFault);
    drive.Attach(0);
    ResetRecordedUi();
    FoundDriveLetter = 'A';
    FirmwareUpdateThread(nullptr);
    MemoryDrive::Detach(0);
    return {disk.Bytes(),
            drive.Bytes(),
            RecordedUi(),
            drive.Log(),
            drive.Opens(),
            drive.Closes(),
            drive.IsOpen(),
            drive.Faulted(),
            drive.FaultedSession(),
            drive.FaultedWrite(),
            ReadWholeFile(kFirstBackup)};
  }

  // What must hold for every run, failed or not.
  static void ExpectSafe(const WorkerRun& run, uint32_t mapEntries) {
    EXPECT_EQ(UnsafeChanges(run, mapEntries), "");
    EXPECT_EQ(RecordedWizardLastCount(), 1);
    EXPECT_TRUE(!run.events.empty() && run.events.back().kind == UiEvent::kWizardLast)
        << "ID_WIZARD_LAST is not the last thing the worker does";
    EXPECT_FALSE(run.open) << "the drive is still open";
    EXPECT_EQ(run.opens, run.closes) << "an open of the drive was not closed";
    if (Updated(run)) {
      EXPECT_TRUE(run.after.compare(kFirmwareStart * kBlock, kImageBytes,
                                    FirmwareImage(kImageBytes, 13)) == 0)
          << "\"Updated firmware!\" without the image in the partition";
    } else {
      EXPECT_GT(Boxes(run), 0) << "the update did not happen and nobody was told";
    }
  }

  // After a fault in the copy, the flush or the read-back: the partition is
  // as it was before the update, and the backup file holds what it held.
  static void ExpectRestored(const WorkerRun& run) {
    EXPECT_TRUE(Boxed(run, "copy failed, previous firmware restored"))
        << DescribeUpdate(run.events, run.before, run.after);
    EXPECT_TRUE(run.after.compare(kFirmwareStart * kBlock, kImageBytes, run.before,
                                  kFirmwareStart * kBlock, kImageBytes) == 0)
        << "the previous firmware is not back";
    EXPECT_TRUE(run.backup == run.before.substr(kFirmwareStart * kBlock, kImageBytes))
        << "the backup file is not the previous firmware";
  }

  // The matrix for one disk: every transfer of a clean run, failed in each
  // of the three ways.
  void FailEveryTransfer(const std::string& name, const DiskImage& disk, uint32_t mapEntries) {
    const WorkerRun clean = RunWorker(disk, 0, DriveFault::kNone);
    ExpectSafe(clean, mapEntries);
    ASSERT_TRUE(Updated(clean)) << DescribeUpdate(clean.events, clean.before, clean.after);
    const std::vector<std::string> names = Describe(clean.transfers);
    const std::string table = "Faults injected: " + name;
    HardeningTable(table, {"k", "transfer", "error (-3)", "short count", "positioning (-2)",
                           "error, unreadable until rewritten"});
    HardeningRow(table, {"none", "-", DescribeUpdate(clean.events, clean.before, clean.after)});

    int injected = 0, afterWrites = 0, restored = 0;
    for (uint32_t k = 1; k <= clean.transfers.size(); ++k) {
      const std::string& transfer = names[k - 1];
      std::vector<std::string> cells = {std::to_string(k), transfer};
      for (DriveFault fault : kFaults) {
        SCOPED_TRACE(name + ", transfer " + std::to_string(k) + " (" + transfer +
                     "): " + DriveFaultName(fault));
        const WorkerRun run = RunWorker(disk, k, fault);
        ASSERT_TRUE(run.faulted);
        ExpectSafe(run, mapEntries);
        ++injected;
        // A failed write, or any failed transfer of the worker, is never a
        // success, and only the restore writes after it. Repair tolerates a
        // map entry it cannot read after the firmware entry; the worker then
        // reads the whole map again, and a success is checked above.
        if (run.faultedWrite || run.faultedSession == 2) {
          EXPECT_FALSE(Updated(run)) << "\"Updated firmware!\" after a failed transfer";
          EXPECT_EQ(WrittenAfter(run, k), "");
        }
        // A repair whose write failed puts back what it had written.
        if (run.faultedSession == 1 && run.faultedWrite) {
          EXPECT_TRUE(Boxed(run, "map not repaired"));
          EXPECT_TRUE(run.after == run.before) << ChangedBlocks(run.before, run.after);
        }
        if (transfer.rfind("worker: backup", 0) == 0) {
          EXPECT_TRUE(Boxed(run, "refused: backup unreadable"));
        }
        if (IsCopyPhase(transfer)) {
          ExpectRestored(run);
          // The restore goes no further than the copy may have written.
          const std::string& failed = names[k - 1];
          const uint32_t lastChunk = failed.rfind("worker: write chunk ", 0) == 0
                                         ? std::stoul(failed.substr(20))
                                         : kImageBlocks / kChunkSectors + 1;
          for (const DriveTransfer& t : run.transfers) {
            EXPECT_TRUE(t.session != 3 || t.flush ||
                        t.offset < (kFirmwareStart + lastChunk * kChunkSectors) * kBlock)
                << "the restore asked for more than the copy touched";
          }
          ++afterWrites;
          restored += run.after.compare(kFirmwareStart * kBlock, kImageBytes, run.before,
                                        kFirmwareStart * kBlock, kImageBytes) == 0;
        }
        cells.push_back(DescribeUpdate(run.events, run.before, run.after));
      }
      HardeningRow(table, cells);
    }
    HardeningTable("Faults injected: summary",
                   {"disk", "transfers", "faults injected", "after the first write",
                    "previous firmware restored byte for byte"});
    HardeningRow("Faults injected: summary",
                 {name, std::to_string(clean.transfers.size()), std::to_string(injected),
                  std::to_string(afterWrites), std::to_string(restored)});
  }

  ScratchFolder scratch_;  // the dump file has a fixed name
};

TEST_F(FaultInjection, EveryTransferOnAZazeBeforeRepair) {
  FailEveryTransfer("a zAze before repair", Marked(ZazeBeforeRepair(), 3), 3);
}

TEST_F(FaultInjection, EveryTransferOnARepairedZaze) {
  FailEveryTransfer("a zAze already repaired", Marked(ZazeRepaired(), 3), 3);
}

TEST_F(FaultInjection, EveryTransferOnAMapWithFreeSpaceAfterTheDisk) {
  FailEveryTransfer("a map to rewrite with free space after \"disk\"",
                    MapWithFreeSpaceAfterTheDisk(), 4);
}

// A fault in the copy, then another in the restore that follows it. A chunk
// the restore cannot read is written back whole; any other fault leaves the
// user told that the partition is in an undetermined state and where the
// previous firmware was saved. Nothing outside the firmware's blocks changes.
TEST_F(FaultInjection, EveryTransferOfTheRestoreAfterAFailedCopy) {
  const DiskImage disk = Marked(ZazeRepaired(), 3);
  const std::vector<std::string> names = Describe(RunWorker(disk, 0, DriveFault::kNone).transfers);
  const char table[] = "Faults injected: the restore after a failed copy (a zAze already repaired)";
  HardeningTable(table, {"copy fault at k (error)", "then at", "error (-3)", "short count",
                         "positioning (-2)", "error, unreadable until rewritten"});
  for (uint32_t k = 1; k <= names.size(); ++k) {
    if (!IsCopyPhase(names[k - 1])) continue;
    const WorkerRun first = RunWorker(disk, k, DriveFault::kError);
    const std::vector<std::string> firstNames = Describe(first.transfers);
    for (uint32_t j = k + 1; j <= first.transfers.size(); ++j) {
      if (first.transfers[j - 1].session != 3) continue;
      std::vector<std::string> cells = {std::to_string(k) + " " + names[k - 1],
                                        std::to_string(j) + " " + firstNames[j - 1]};
      for (DriveFault fault : kFaults) {
        SCOPED_TRACE(names[k - 1] + ", then " + firstNames[j - 1] + ": " + DriveFaultName(fault));
        const WorkerRun run = RunWorker(disk, k, DriveFault::kError, j, fault);
        ExpectSafe(run, 3);
        EXPECT_FALSE(Updated(run));
        EXPECT_TRUE(run.backup == run.before.substr(kFirmwareStart * kBlock, kImageBytes));
        if (firstNames[j - 1].rfind("restore: read chunk", 0) == 0) {
          ExpectRestored(run);
          cells.push_back(DescribeUpdate(run.events, run.before, run.after));
          continue;
        }
        EXPECT_TRUE(Boxed(run, "copy failed"));
        EXPECT_TRUE(LoggedLine(run.events, "Unable to restore the previous firmware!"));
        const bool named = std::any_of(run.events.begin(), run.events.end(), [](const UiEvent& e) {
          return e.kind == UiEvent::kErrorBox && e.text.find(kFirstBackup) != std::string::npos;
        });
        EXPECT_TRUE(named) << "the box does not name the backup file";
        cells.push_back(DescribeUpdate(run.events, run.before, run.after));
      }
      HardeningRow(table, cells);
    }
  }
}

// Cuts the image file short once `afterChunk` chunks are written, so that a
// later read of it comes up short.
struct Cut {
  int32_t afterChunk;
  off_t length;
};

void CutImage(int32_t position, void* context) {
  const Cut& cut = *static_cast<Cut*>(context);
  if (position == cut.afterChunk) {
    ASSERT_EQ(truncate(kImageName, cut.length), 0);
  }
}

TEST_F(FaultInjection, TheImageFileEndsEarlyWhileItIsCopied) {
  const char table[] = "Faults injected: the image file";
  HardeningTable(table, {"fault", "outcome"});
  const DiskImage disk = Marked(ZazeRepaired(), 3);
  for (int32_t chunk = 1; chunk <= 3; ++chunk) {
    SCOPED_TRACE("cut after chunk " + std::to_string(chunk));
    WriteImage();
    // 100 bytes before the end of the chunk just written: the copy's next
    // read, or after the last chunk the read-back's, comes up short.
    // The bar's steps: three of the backup, then one a chunk written.
    Cut cut = {3 + chunk, static_cast<off_t>(std::min(chunk * kChunkBytes, kImageBytes) - 100)};
    SetProgressPosHook(CutImage, &cut);
    const WorkerRun run = RunWorker(disk, 0, DriveFault::kNone);
    SetProgressPosHook(nullptr, nullptr);
    ExpectSafe(run, 3);
    EXPECT_FALSE(Updated(run));
    ExpectRestored(run);
    EXPECT_TRUE(
        LoggedLine(run.events, chunk < 3 ? "Error quiting" : "Firmware verification failed!"));
    HardeningRow(table, {"cut 100 bytes short after chunk " + std::to_string(chunk) + " of 3",
                         DescribeUpdate(run.events, run.before, run.after)});
  }

  // Gone before the update, and a directory in its place.
  std::remove(kImageName);
  WorkerRun run = RunWorker(disk, 0, DriveFault::kNone);
  ExpectSafe(run, 3);
  EXPECT_TRUE(Boxed(run, "refused: file fails the check now"));
  EXPECT_TRUE(run.after == run.before) << "written for a file that is gone";
  HardeningRow(table,
               {"removed before the update", DescribeUpdate(run.events, run.before, run.after)});
  ASSERT_EQ(mkdir(kImageName, 0755), 0);
  run = RunWorker(disk, 0, DriveFault::kNone);
  ExpectSafe(run, 3);
  EXPECT_FALSE(Updated(run));
  HardeningRow(table,
               {"a directory of that name", DescribeUpdate(run.events, run.before, run.after)});
}

TEST_F(FaultInjection, TheUpdateGoesOnWhenTheDumpCannotBeWritten) {
  const char table[] = "Faults injected: the dump file";
  HardeningTable(table, {"fault", "outcome", "log"});
  const DiskImage disk = Marked(ZazeBeforeRepair(), 3);

  ASSERT_EQ(mkdir(kDumpName, 0755), 0);
  WorkerRun run = RunWorker(disk, 0, DriveFault::kNone);
  ExpectSafe(run, 3);
  EXPECT_TRUE(Updated(run));
  const char notOpened[] = "Unable to open file zaze_pm.txt for writing!";
  EXPECT_TRUE(LoggedLine(run.events, notOpened));
  HardeningRow(table, {"cannot be created (a directory of that name)",
                       DescribeUpdate(run.events, run.before, run.after), notOpened});
  ASSERT_EQ(rmdir(kDumpName), 0);

  ASSERT_EQ(symlink("/dev/full", kDumpName), 0);
  run = RunWorker(disk, 0, DriveFault::kNone);
  ExpectSafe(run, 3);
  EXPECT_TRUE(Updated(run));
  const char incomplete[] =
      "Unable to write file zaze_pm.txt: the partition map in it is incomplete!";
  EXPECT_TRUE(LoggedLine(run.events, incomplete)) << "a dump to a full disk is told as written";
  HardeningRow(table, {"disk full (a link to /dev/full)",
                       DescribeUpdate(run.events, run.before, run.after), incomplete});
}

}  // namespace
