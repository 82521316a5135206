// The update worker. The whole map is read before anything is written, so
// that the image can be measured against what every entry claims: the copy
// stays inside the firmware partition and never touches another partition,
// the map or block 0. Every refusal is made before the first write.
#include "device/UpdateWorker.h"

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
constexpr char kBoxCopyFailed[] =
    "Error: The firmware partition on your zAze is in an undetermined state and it may not "
    "work correctly!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxCopyFailedSaved[] =
    "Error: The firmware partition on your zAze is in an undetermined state and it may not "
    "work correctly! Its previous firmware is saved in " ZEPHLAR_BACKUP_FILE
    ".\n\n" ZEPHLAR_SUPPORT_LINE;
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
constexpr Refusal kNoChunkBuffer = {
    "Firmware not written: not enough memory.",
    "Error: Not enough memory to update the firmware!\n\n" ZEPHLAR_SUPPORT_LINE};

void Refuse(const Refusal& refusal) {
  LogStatus("%s", refusal.log);
  ShowUpdateError(refusal.box);
}

// The bar takes a step for every chunk of the update's three passes over the
// partition: saved, written, read back. It is full when the last is done.
void StepProgressBar(int32_t, void* steps) { ProgressBarSetPos(++*static_cast<int32_t*>(steps)); }

// Puts back what a failed copy may have changed; the user is told either way.
void RollBack(RawDrive& drive, char letter, const FirmwareBackup& backup, uint32_t touched) {
  if (touched == 0 || backup.Restore(drive, letter, touched)) {
    LogStatus("Previous firmware restored.");
    ShowUpdateError(kBoxRestored);
  } else {
    LogStatus("Unable to restore the previous firmware!");
    ShowUpdateError(backup.InFile() ? kBoxCopyFailedSaved : kBoxCopyFailed);
  }
}

// The image into the partition of entry `index`, with the sectors it
// replaces saved first; the user is told of the outcome. False when the
// image cannot be opened.
bool CopyFirmwareFile(RawDrive& drive, char letter, const MapView& map, uint32_t index) {
  char path[sizeof FirmwarePath];
  std::memcpy(path, FirmwarePath, sizeof path);
  path[sizeof path - 1] = '\0';  // the field may be full
  ScopedFile image(std::fopen(path, "rb"));
  if (image.get() == nullptr) return false;
  const long length = MeasureImage(image.get());
  if (const Refusal* refusal = RefusalFor(map, index, length)) {
    Refuse(*refusal);
    return true;
  }
  const uint32_t start = map.entries[index].pmPyPartStart * kBlockSize;
  ProgressBarCreate();
  ProgressBarSetRange(0, static_cast<int32_t>(3 * ChunkCount(static_cast<uint32_t>(length))));
  int32_t steps = 0;
  FirmwareBackup backup;
  const BackupSave saved =
      backup.Save(drive, start, static_cast<uint32_t>(length), path, StepProgressBar, &steps);
  if (saved != BackupSave::kSaved) {
    ProgressBarDestroy();
    Refuse(saved == BackupSave::kReadFailed ? kBackupUnread : kNoBackupRoom);
    return true;
  }
  const CopyOutcome copied = CopyImageToDrive(drive, image.get(), static_cast<uint32_t>(length),
                                              start, true, StepProgressBar, &steps);
  if (copied.result == CopyResult::kNoBuffer) {
    ProgressBarDestroy();
    Refuse(kNoChunkBuffer);
    return true;
  }
  if (copied.result == CopyResult::kVerifyFailed) {
    LogStatus("Firmware verification failed!");
  } else if (copied.result == CopyResult::kFlushFailed) {
    LogStatus("The drive did not confirm that the firmware was written!");
  } else if (copied.result != CopyResult::kDone) {
    LogStatus("Error quiting");
  }
  ProgressBarDestroy();
  if (copied.result == CopyResult::kDone) {
    LogStatus("Firmware verified.");
    LogStatus("Updated firmware!");
  } else {
    LogStatus("Unable to update firmware!");
    RollBack(drive, letter, backup, copied.touched);
  }
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
bool UpdateFirmware(RawDrive& drive, char letter, const MapView& map, uint32_t index,
                    DumpFile& dump) {
  dump.FirmwareLine();
  LogStatus("Found firmware on zAze!");
  LogPartitionSize(map.entries[index].pmPartBlkCnt);
  LogStatus("Updating firmware with file \"%.259s\"...", FirmwarePath);
  if (CopyFirmwareFile(drive, letter, map, index)) return true;
  ShowUpdateError(kBoxImageNotOpened);
  LogStatus("Unable to open firmware file!");
  return false;
}

// Everything after the repair; the drive and the dump are closed on return.
void UpdateRepairedDrive(char letter) {
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
      if (!UpdateFirmware(drive, letter, map, i, dump)) break;
    }
    dump.Section(i, count, entries[i]);
  }
  // A map that reads whole but names no firmware partition: nothing was
  // written, and the user must not take the silence for success.
  if (!told) Refuse(kNoFirmwareEntry);
}

// The checks that need no map: made before the repair, so that a refusal
// here leaves every byte of the zAze as it was.
bool MayUpdate() {
  const RawDrive drive;
  if (drive.CanWrite() != 1) {
    Refuse(kCannotWrite);
    return false;
  }
  char path[sizeof FirmwarePath];
  std::memcpy(path, FirmwarePath, sizeof path);
  path[sizeof path - 1] = '\0';
  // The file was checked when chosen; it may have changed since.
  if (IsFirmwareFile(path) != 1) {
    Refuse(kNotFirmwareNow);
    return false;
  }
  return true;
}

}  // namespace

void FirmwareUpdateThread(void*) {
  const char letter = static_cast<char>(FoundDriveLetter);
  if (MayUpdate()) {
    if (RepairPartitionMap(letter) == 0) {
      ShowUpdateError(kBoxRepairFailed);
    } else {
      UpdateRepairedDrive(letter);
    }
  }
  SendWizardLast();
}
