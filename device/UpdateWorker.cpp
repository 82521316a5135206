// The update worker. The whole map is read before anything is written, so
// that the image can be measured against what every entry claims: the copy
// stays inside the firmware partition and never touches another partition,
// the map or block 0. Every refusal is made before the first write.
#include "device/UpdateWorker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/FirmwareBackup.h"
#include "device/FirmwareImage.h"
#include "device/MapDump.h"
#include "device/MapReader.h"
#include "device/Placement.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/Repair.h"
#include "device/UpdateRecord.h"

signed char FoundDriveLetter = 0;
char FirmwarePath[260] = {};

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

constexpr char kBoxRepairFailed[] =
    "Error: Unable to modify the zAze's partition table!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxOpenFailed[] = "Error: Unable to open the drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxFirstReadFailed[] =
    "Error: Unable to read from the drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxNotMacDrive[] =
    "Error: Current drive isn't a Mac Drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxNoMapMemory[] =
    "Error: Not enough memory to read the zAze's partition table!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxEntryReadFailed[] = "Error: Unable to read from drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxImageNotOpened[] =
    "Error: Unable to open the firmware source!\n\n" ZEPHLAR_SUPPORT_LINE;
// The boxes that name the file holding what was replaced: the text before
// the name, and after it.
struct NamingBox {
  const char* before;
  const char* after;
};
constexpr char kSavedIn[] = ".\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr NamingBox kBoxCopyFailedSaved = {
    "Error: The firmware partition on your zAze is in an undetermined state and it may not "
    "work correctly! Its previous firmware is saved in ",
    kSavedIn};
constexpr NamingBox kBoxNotTheZaze = {
    "Error: The new firmware could not be written, and the drive no longer is the zAze its "
    "firmware was saved from, so nothing was put back. Its previous firmware is saved in ",
    kSavedIn};
constexpr NamingBox kBoxRepairNotPutBack = {
    "Error: Unable to modify the zAze's partition table! Its previous partition table is saved "
    "in ",
    kSavedIn};
constexpr char kBoxRestored[] =
    "Error: The new firmware could not be written to your zAze. Its previous firmware is back "
    "in place.\n\n" ZEPHLAR_SUPPORT_LINE;

constexpr Refusal kCannotWrite = {
    "Firmware not written: this version of Windows cannot write to the zAze.",
    "Error: This version of Windows cannot write to your zAze. Nothing was written; update it "
    "from Windows 2000 or Windows XP.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNotFirmwareNow = {
    "Firmware not written: the file is no longer a valid firmware file.",
    "Error: The firmware file is no longer a valid firmware file! Nothing was written to your "
    "zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoFirmwareEntry = {
    "Firmware not written: no firmware partition was found on the zAze.",
    "Error: No firmware partition was found on your zAze! The firmware was not "
    "written.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kBackupUnread = {
    "Firmware not written: the firmware partition could not be read to save it.",
    "Error: Unable to read the firmware partition on your zAze to save it! Nothing was written "
    "to your zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoBackupRoom = {
    "Firmware not written: no room to keep a copy of the previous firmware.",
    "Error: Not enough memory or disk space to keep a copy of the firmware on your zAze! Nothing "
    "was written to your zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kBackupNotKept = {
    "Firmware not written: the copy of the previous firmware did not reach this computer's disk "
    "whole.",
    "Error: The copy of the firmware on your zAze could not be saved on this computer's disk! "
    "Nothing was written to your zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNotRecorded = {
    "Firmware not written: the record of the update could not be written.",
    "Error: Unable to record the update on this computer's disk! Nothing was written to your "
    "zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoBackupSet = {
    "Firmware not written: this folder holds the backups of 99 updates that did not finish.",
    "Error: This folder holds the backups of 99 updates that did not finish. Nothing was "
    "written to your zAze; move them to another folder first.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoChunkBuffer = {
    "Firmware not written: not enough memory.",
    "Error: Not enough memory to update the firmware!\n\n" ZEPHLAR_SUPPORT_LINE};

void Refuse(const Refusal& refusal) {
  LogStatus("%s", refusal.log);
  ShowUpdateError(refusal.box);
}

void ShowNamingBox(const NamingBox& box, const char* name) {
  char text[512];
  std::snprintf(text, sizeof text, "%s%s%s", box.before, name, box.after);
  ShowUpdateError(text);
}

// One update, as its parts see it.
struct UpdateRun {
  char letter;
  char imagePath[sizeof FirmwarePath];
  BackupFiles files;  // where this run keeps what it replaces
  MapRepair repair;
  UpdateResult result;
};

// The bar takes a step for every chunk of the update's three passes over the
// partition: saved, written, read back. It is full when the last is done.
void StepProgressBar(int32_t, void* steps) { ProgressBarSetPos(++*static_cast<int32_t*>(steps)); }

ZazeIdentity IdentityOf(const MapView& map, uint32_t index) {
  ZazeIdentity zaze;
  zaze.firmwareIndex = index;
  PartitionMapEntry entry = map.entries[0];
  std::memcpy(zaze.block1, &SwapPartitionMapEntry(entry), sizeof zaze.block1);
  entry = map.entries[index];
  std::memcpy(zaze.firmwareEntry, &SwapPartitionMapEntry(entry), sizeof zaze.firmwareEntry);
  return zaze;
}

// Puts back what a failed copy may have changed; the user is told either
// way. `record` is the open record of the update whose backup holds the
// whole previous firmware: this run's own, or an earlier unfinished one.
void RollBack(RawDrive& drive, UpdateRun& run, const FirmwareBackup& backup, uint32_t touched,
              const ZazeIdentity& zaze, UpdateRecord& record) {
  const RestoreResult restored =
      touched == 0 ? RestoreResult::kRestored : backup.Restore(drive, run.letter, touched, &zaze);
  if (restored == RestoreResult::kRestored) {
    LogStatus("Previous firmware restored.");
    ShowUpdateError(kBoxRestored);
    // The zAze holds whole firmware again; an earlier unfinished update's
    // record stays open, since what came back is what it left.
    if (record.set == run.files.set) {
      record.open = false;
      SaveUpdateRecord(record);
    }
    run.result = UpdateResult::kRestored;
    return;
  }
  const BackupFiles saved = BackupFilesOf(record.set);
  run.result = UpdateResult::kNotRestored;
  if (restored == RestoreResult::kNotTheZaze) {
    LogStatus("The drive is no longer the zAze: the previous firmware was not put back.");
    ShowNamingBox(kBoxNotTheZaze, saved.firmware);
    return;
  }
  LogStatus("Unable to restore the previous firmware!");
  ShowNamingBox(kBoxCopyFailedSaved, saved.firmware);
}

// Reports how the copy ended and puts the previous firmware back when it
// failed.
void EndCopy(RawDrive& drive, UpdateRun& run, const CopyOutcome& copied,
             const FirmwareBackup& backup, const ZazeIdentity& zaze, UpdateRecord& record) {
  if (copied.result == CopyResult::kVerifyFailed) {
    LogStatus("Firmware verification failed!");
  } else if (copied.result == CopyResult::kFlushFailed) {
    LogStatus("The drive did not confirm that the firmware was written!");
  } else if (copied.result != CopyResult::kDone) {
    LogStatus("Error quiting");
  }
  ProgressBarDestroy();
  if (copied.result != CopyResult::kDone) {
    LogStatus("Unable to update firmware!");
    RollBack(drive, run, backup, copied.touched, zaze, record);
    return;
  }
  LogStatus("Firmware verified.");
  LogStatus("Updated firmware!");
  run.result = UpdateResult::kUpdated;
  // Nothing of this update needs keeping apart any more. An earlier
  // unfinished update's record stays, closed, with its backup.
  if (record.set == run.files.set) {
    RemoveUpdateRecord(record.set);
  } else {
    record.open = false;
    SaveUpdateRecord(record);
  }
}

// Saves what the image replaces, records the update, and copies: the record
// and the backup are on the medium before the first firmware write.
void BackUpAndCopy(RawDrive& drive, UpdateRun& run, std::FILE* image, const MapView& map,
                   uint32_t index, uint32_t length) {
  const uint32_t start = map.entries[index].pmPyPartStart * kBlockSize;
  const ZazeIdentity zaze = IdentityOf(map, index);
  ProgressBarCreate();
  ProgressBarSetRange(0, static_cast<int32_t>(3 * ChunkCount(length)));
  int32_t steps = 0;
  FirmwareBackup backup;
  const BackupSave saved =
      backup.Save(drive, start, length, run.files.firmware, StepProgressBar, &steps);
  if (saved != BackupSave::kSaved) {
    ProgressBarDestroy();
    Refuse(saved == BackupSave::kReadFailed ? kBackupUnread
           : saved == BackupSave::kNotKept  ? kBackupNotKept
                                            : kNoBackupRoom);
    return;
  }
  LogStatus("Saved the %lu bytes the update replaces to %s.", static_cast<unsigned long>(length),
            run.files.firmware);
  // An update of this zAze that did not finish keeps its record: its backup,
  // not this one, holds the last whole firmware.
  UpdateRecord record;
  if (!FindOpenRecord(zaze, record)) {
    record = UpdateRecord();
    record.set = run.files.set;
    record.zaze = zaze;
    record.start = start;
    record.length = length;
    record.firmwareSum = backup.Sum();
    record.mapBlocks = run.repair.savedBlocks;
    record.mapSum = run.repair.savedSum;
    if (!SaveUpdateRecord(record)) {
      RemoveUpdateRecord(record.set);
      ProgressBarDestroy();
      Refuse(kNotRecorded);
      return;
    }
  }
  const CopyOutcome copied =
      CopyImageToDrive(drive, image, length, start, true, StepProgressBar, &steps);
  if (copied.result == CopyResult::kNoBuffer) {
    ProgressBarDestroy();
    Refuse(kNoChunkBuffer);
    return;
  }
  EndCopy(drive, run, copied, backup, zaze, record);
}

// The image into the partition of entry `index`; the user is told of the
// outcome. False when the image cannot be opened.
bool CopyFirmwareFile(RawDrive& drive, UpdateRun& run, const MapView& map, uint32_t index) {
  ScopedFile image(std::fopen(run.imagePath, "rb"));
  if (image.get() == nullptr) return false;
  const long length = MeasureImage(image.get());
  if (const Refusal* refusal = RefusalFor(map, index, length)) {
    Refuse(*refusal);
    return true;
  }
  BackUpAndCopy(drive, run, image.get(), map, index, static_cast<uint32_t>(length));
  return true;
}

void LogPartitionSize(uint32_t blocks) {
  const uint64_t bytes = static_cast<uint64_t>(blocks) * kBlockSize;
  if (bytes <= 0xFFFFFFFFu) {
    LogStatus("The size of the partition is %lu bytes.", static_cast<unsigned long>(bytes));
  } else {
    LogStatus("The size of the partition is %lu blocks of 512 bytes.",
              static_cast<unsigned long>(blocks));
  }
}

// False when the walk is to end here (the image cannot be opened); the
// user has been told of the outcome either way.
bool UpdateFirmware(RawDrive& drive, UpdateRun& run, const MapView& map, uint32_t index,
                    DumpFile& dump) {
  dump.FirmwareLine();
  LogStatus("Found firmware on zAze!");
  LogPartitionSize(map.entries[index].pmPartBlkCnt);
  LogStatus("Updating firmware with file \"%.259s\"...", run.imagePath);
  if (CopyFirmwareFile(drive, run, map, index)) return true;
  ShowUpdateError(kBoxImageNotOpened);
  LogStatus("Unable to open firmware file!");
  return false;
}

// Everything after the repair; the drive and the dump are closed on return.
void UpdateRepairedDrive(UpdateRun& run) {
  const char letter = run.letter;
  RawDrive drive;
  if (drive.Open(letter) != 1) {
    LogStatus("    <Unable to open drive \"%c\">", letter);
    ShowUpdateError(kBoxOpenFailed);
    return;
  }
  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  if (start.kind == MapStart::kUnreadable) {  // a part of block 1 is not the map's entry
    ShowUpdateError(kBoxFirstReadFailed);
    LogStatus("    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>",
              static_cast<unsigned>(start.errorCode), static_cast<long>(start.got));
    return;
  }
  if (start.kind == MapStart::kNotAMap) {
    LogStatus("    <Current drive isn't a Mac Drive!>");
    ShowUpdateError(kBoxNotMacDrive);
    return;
  }
  LogStatus("    <Checking partition information...>");

  const uint32_t count = first.pmMapBlkCnt;
  MapCopy entries;
  bool noMemory = count > kMaxMapEntries || !entries.Hold(1);
  uint32_t held = 0;
  if (!noMemory) {
    entries[0] = first;
    const MapEntriesRead read = ReadMapEntries(drive, entries, count);
    noMemory = read.noMemory;
    held = read.held;
  }
  if (noMemory) {
    LogStatus("    <Not enough memory for the partition map!>");
    ShowUpdateError(kBoxNoMapMemory);
    return;
  }
  const MapView map = {entries, count, held};

  DumpFile dump;
  dump.Header(count, entries[0]);
  bool told = false;  // a box, or "Updated firmware!", has ended the update
  for (uint32_t i = 1; i < count; ++i) {
    if (i >= map.held) {
      LogStatus("Drive read failed! Dc:2");
      ShowUpdateError(kBoxEntryReadFailed);
      told = true;
      break;
    }
    if (HasPartName(entries[i], "firmware")) {
      told = true;
      if (!UpdateFirmware(drive, run, map, i, dump)) break;
    }
    dump.Section(i, count, entries[i]);
  }
  // A map that reads whole but names no firmware partition: nothing was
  // written, and the user must not take the silence for success.
  if (!told) Refuse(kNoFirmwareEntry);
}

// The checks that need no map: made before the repair, so that a refusal
// here leaves every byte of the zAze as it was.
bool MayUpdate(UpdateRun& run) {
  const RawDrive drive;
  if (drive.CanWrite() != 1) {
    Refuse(kCannotWrite);
    return false;
  }
  // The file was checked when chosen; it may have changed since.
  if (IsFirmwareFile(run.imagePath) != 1) {
    Refuse(kNotFirmwareNow);
    return false;
  }
  const int set = FreeBackupSet(run.imagePath);
  if (set == 0) {
    Refuse(kNoBackupSet);
    return false;
  }
  run.files = BackupFilesOf(set);
  return true;
}

}  // namespace

UpdateResult RunFirmwareUpdate(char driveLetter, const char* imagePath) {
  UpdateRun run = {driveLetter, {}, {}, {0, 0, 0, false}, UpdateResult::kRefused};
  std::snprintf(run.imagePath, sizeof run.imagePath, "%s", imagePath);
  if (!MayUpdate(run)) return run.result;
  run.repair = RepairPartitionMapKeeping(driveLetter, run.files.map);
  if (run.repair.result == 0) {
    if (run.repair.notPutBack) {
      ShowNamingBox(kBoxRepairNotPutBack, run.files.map);
      return UpdateResult::kNotRestored;
    }
    ShowUpdateError(kBoxRepairFailed);
    return UpdateResult::kRefused;
  }
  UpdateRepairedDrive(run);
  return run.result;
}

void FirmwareUpdateThread(void*) {
  char path[sizeof FirmwarePath];
  std::memcpy(path, FirmwarePath, sizeof path);
  path[sizeof path - 1] = '\0';  // the field may be full
  RunFirmwareUpdate(static_cast<char>(FoundDriveLetter), path);
  SendWizardLast();
}
