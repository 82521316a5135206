// The update worker. The whole map is read before anything is written, so
// that the image can be measured against what every entry claims: the copy
// stays inside the firmware partition and never touches another partition,
// the map or block 0. Every refusal is made before the first write.
#include "device/UpdateWorker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/Causes.h"
#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/FirmwareImage.h"
#include "device/GuardedCopy.h"
#include "device/MapDump.h"
#include "device/MapReader.h"
#include "device/Placement.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/Repair.h"
#include "device/StatusLine.h"
#include "device/UpdateRecord.h"

signed char FoundDriveLetter = 0;
char FirmwarePath[kFirmwarePathSize] = {};

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

// The headlines that a cause may follow.
constexpr char kRepairFailed[] = "Error: Unable to modify the zAze's partition table!";
constexpr char kOpenFailed[] = "Error: Unable to open the drive!";
constexpr char kFirstReadFailed[] = "Error: Unable to read from the drive!";
constexpr char kBoxNotMacDrive[] =
    "Error: Current drive isn't a Mac Drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxNoMapMemory[] =
    "Error: Not enough memory to read the zAze's partition table!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxEntryReadFailed[] = "Error: Unable to read from drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxImageNotOpened[] =
    "Error: Unable to open the firmware source!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr NamingBox kBoxRepairNotPutBack = {
    "Error: Unable to modify the zAze's partition table! Its previous partition table is saved "
    "in ",
    kNameEndsBox};
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
constexpr Refusal kPathTooLong = {
    "Firmware not written: the path of the firmware file is too long.",
    "Error: The path of the firmware file is too long! Nothing was written to your zAze. Move the "
    "file to a folder with a shorter path and choose it again.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoBackupSet = {
    "Firmware not written: this folder holds the backups of 99 updates that did not finish.",
    "Error: This folder holds the backups of 99 updates that did not finish. Nothing was "
    "written to your zAze; move them to another folder first.\n\n" ZEPHLAR_SUPPORT_LINE};
// One update, as its parts see it.
struct UpdateRun {
  char imagePath[sizeof FirmwarePath];
  CopyGuard guard;
  UpdateResult result;
};

// The image into the partition of entry `index`; the user is told of the
// outcome. False when the image cannot be opened.
bool CopyFirmwareFile(RawDrive& drive, UpdateRun& run, const MapView& map, uint32_t index) {
  ScopedFile image(OpenForReading(run.imagePath));
  if (image.get() == nullptr) return false;
  const long length = MeasureImage(image.get());
  if (const Refusal* refusal = RefusalFor(map, index, length)) {
    Refuse(*refusal);
    return true;
  }
  run.result =
      CopyWithBackup(drive, run.guard, image.get(), map, index, static_cast<uint32_t>(length));
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
  char shown[kStatusLineSize];
  PathForDisplay(run.imagePath, shown, sizeof shown);
  LogStatus("Updating firmware with file \"%s\"...", shown);
  if (CopyFirmwareFile(drive, run, map, index)) return true;
  ShowUpdateError(kBoxImageNotOpened);
  LogStatus("Unable to open firmware file!");
  return false;
}

// Everything after the repair; the drive and the dump are closed on return.
void UpdateRepairedDrive(UpdateRun& run) {
  const char letter = run.guard.letter;
  RawDrive drive;
  if (drive.Open(letter) != 1) {
    LogFailure(drive.OpenError(), "    <Unable to open drive \"%c\">", letter);
    // The repair had it open a moment ago: a drive that is not there now
    // was disconnected.
    ShowBoxWithCause(kOpenFailed, CauseOfRefusal(drive.OpenRefusal()));
    return;
  }
  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  if (start.kind == MapStart::kUnreadable) {  // a part of block 1 is not the map's entry
    const bool gone = ClassifyError(start.errorCode) == SystemError::kDisconnected;
    ShowBoxWithCause(kFirstReadFailed, gone ? kDisconnectedCause : nullptr);
    LogFailure(start.errorCode, "    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>",
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
  uint32_t readError = 0;
  if (!noMemory) {
    entries[0] = first;
    const MapEntriesRead read = ReadMapEntries(drive, entries, count);
    noMemory = read.noMemory;
    held = read.held;
    readError = read.errorCode;
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
      LogFailure(readError, "Drive read failed! Dc:2");
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

// A path cut to fit would name another file: one that does not fit is
// refused instead.
bool TakePath(UpdateRun& run, const char* imagePath) {
  const int length = std::snprintf(run.imagePath, sizeof run.imagePath, "%s", imagePath);
  if (length >= 0 && static_cast<size_t>(length) < sizeof run.imagePath) return true;
  Refuse(kPathTooLong);
  return false;
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
  run.guard.files = BackupFilesOf(set);
  return true;
}

}  // namespace

UpdateResult RunFirmwareUpdate(char driveLetter, const char* imagePath) {
  UpdateRun run = {{}, {driveLetter, {}, {}}, UpdateResult::kRefused};
  if (!TakePath(run, imagePath) || !MayUpdate(run)) return run.result;
  run.guard.repair = RepairPartitionMapKeeping(driveLetter, run.guard.files.map);
  const MapRepair& repair = run.guard.repair;
  if (repair.result == 0) {
    if (repair.notPutBack) {
      ShowNamingBox(kBoxRepairNotPutBack, run.guard.files.map);
      return UpdateResult::kNotRestored;
    }
    if (repair.writeProtected) {
      ShowWriteProtectedBox();
    } else {
      ShowBoxWithCause(kRepairFailed, CauseOfRefusal(repair.openRefusal));
    }
    return UpdateResult::kRefused;
  }
  UpdateRepairedDrive(run);
  return run.result;
}

UpdatePlan PlanFirmwareUpdate(char driveLetter, const char* imagePath) {
  UpdatePlan plan = {false, {RepairPlan::kRefused, 0, {}, 0, RawDriveRefusal::kNone}, 0, 0, {}};
  UpdateRun run = {{}, {driveLetter, {}, {}}, UpdateResult::kRefused};
  if (!TakePath(run, imagePath) || !MayUpdate(run)) return plan;
  plan.files = run.guard.files;
  MapCopy entries;
  plan.map = PlanMapRepair(driveLetter, entries);
  if (plan.map.kind == RepairPlan::kRefused) {
    ShowBoxWithCause(kRepairFailed, CauseOfRefusal(plan.map.openRefusal));
    return plan;
  }
  // The map as the worker reads it after the repair: as many entries as the
  // repaired block 1 counts.
  const uint32_t count = entries[0].pmMapBlkCnt;
  const MapView map = {entries, count, plan.map.held < count ? plan.map.held : count};
  uint32_t index = 1;
  while (index < map.held && !HasPartName(entries[index], "firmware")) ++index;
  if (index == map.held) {
    if (map.held < count) {
      LogStatus("Drive read failed! Dc:2");
      ShowUpdateError(kBoxEntryReadFailed);
    } else {
      Refuse(kNoFirmwareEntry);
    }
    return plan;
  }
  ScopedFile image(OpenForReading(run.imagePath));
  if (image.get() == nullptr) {
    ShowUpdateError(kBoxImageNotOpened);
    LogStatus("Unable to open firmware file!");
    return plan;
  }
  const long length = MeasureImage(image.get());
  if (const Refusal* refusal = RefusalFor(map, index, length)) {
    Refuse(*refusal);
    return plan;
  }
  plan.goesAhead = true;
  plan.firmwareStart = entries[index].pmPyPartStart * kBlockSize;
  plan.firmwareLength = static_cast<uint32_t>(length);
  return plan;
}

void FirmwareUpdateThread(void*) {
  char path[sizeof FirmwarePath];
  std::memcpy(path, FirmwarePath, sizeof path);
  path[sizeof path - 1] = '\0';  // the field may be full
  RunFirmwareUpdate(static_cast<char>(FoundDriveLetter), path);
  SendWizardLast();
}
