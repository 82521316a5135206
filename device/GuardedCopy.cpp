#include "device/GuardedCopy.h"

#include <cstring>

#include "device/Causes.h"
#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/FirmwareBackup.h"
#include "device/PartitionMap.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/StatusLine.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

constexpr NamingBox kBoxCopyFailedSaved = {
    "Error: The firmware partition on your zAze is in an undetermined state and it may not "
    "work correctly! Its previous firmware is saved in ",
    kNameEndsBox};
constexpr NamingBox kBoxDisconnected = {
    "Error: Your zAze was disconnected while its firmware was written, so the previous firmware "
    "could not be put back. It is saved in ",
    ".\n\nConnect the zAze again, directly to the computer, and start Zephlar: it offers to put "
    "the previous firmware back.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr NamingBox kBoxNotTheZaze = {
    "Error: The new firmware could not be written, and the drive no longer is the zAze its "
    "firmware was saved from, so nothing was put back. Its previous firmware is saved in ",
    kNameEndsBox};
constexpr char kBoxRestored[] =
    "Error: The new firmware could not be written to your zAze. Its previous firmware is back "
    "in place.\n\n" ZEPHLAR_SUPPORT_LINE;

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
constexpr Refusal kNoChunkBuffer = {
    "Firmware not written: not enough memory.",
    "Error: Not enough memory to update the firmware!\n\n" ZEPHLAR_SUPPORT_LINE};

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
UpdateResult RollBack(RawDrive& drive, const CopyGuard& guard, const FirmwareBackup& backup,
                      const CopyOutcome& copied, const ZazeIdentity& zaze, UpdateRecord& record) {
  const RestoreResult restored = copied.touched == 0
                                     ? RestoreResult::kRestored
                                     : backup.Restore(drive, guard.letter, copied.touched, &zaze);
  const SystemError cause = ClassifyError(copied.errorCode);
  if (restored == RestoreResult::kRestored) {
    LogStatus("Previous firmware restored.");
    // A locked zAze took nothing: that, not a half-done write, is the news.
    if (cause == SystemError::kWriteProtected) {
      TellWriteProtected();
    } else {
      ShowUpdateError(kBoxRestored);
    }
    // The zAze holds whole firmware again; an earlier unfinished update's
    // record stays open, since what came back is what it left.
    if (record.set == guard.files.set) {
      record.open = false;
      SaveUpdateRecord(record);
    }
    return UpdateResult::kRestored;
  }
  const BackupFiles saved = BackupFilesOf(record.set);
  if (restored == RestoreResult::kGone || cause == SystemError::kDisconnected) {
    LogStatus("The zAze was disconnected: the previous firmware was not put back.");
    ShowNamingBox(kBoxDisconnected, saved.firmware);
    return UpdateResult::kNotRestored;
  }
  if (restored == RestoreResult::kNotTheZaze) {
    LogStatus("The drive is no longer the zAze: the previous firmware was not put back.");
    ShowNamingBox(kBoxNotTheZaze, saved.firmware);
    return UpdateResult::kNotRestored;
  }
  LogStatus("Unable to restore the previous firmware!");
  ShowNamingBox(kBoxCopyFailedSaved, saved.firmware);
  return UpdateResult::kNotRestored;
}

// Reports how the copy ended and puts the previous firmware back when it
// failed.
UpdateResult EndCopy(RawDrive& drive, const CopyGuard& guard, const CopyOutcome& copied,
                     const FirmwareBackup& backup, const ZazeIdentity& zaze, UpdateRecord& record) {
  if (copied.result == CopyResult::kVerifyFailed) {
    LogStatus("Firmware verification failed!");
  } else if (copied.result == CopyResult::kFlushFailed) {
    LogStatus("The drive did not confirm that the firmware was written!");
  } else if (copied.result != CopyResult::kDone) {
    LogStatus("Error quiting");
  }
  if (copied.errorCode != 0) LogFailure(copied.errorCode, "The drive said:");
  ProgressBarDestroy();
  if (copied.result != CopyResult::kDone) {
    LogStatus("Unable to update firmware!");
    return RollBack(drive, guard, backup, copied, zaze, record);
  }
  LogStatus("Firmware verified.");
  LogStatus("Updated firmware!");
  // Nothing of this update needs keeping apart any more. An earlier
  // unfinished update's record stays, closed, with its backup.
  if (record.set == guard.files.set) {
    RemoveUpdateRecord(record.set);
  } else {
    record.open = false;
    SaveUpdateRecord(record);
  }
  return UpdateResult::kUpdated;
}

}  // namespace

// Saves what the image replaces, records the update, and copies: the record
// and the backup are on the medium before the first firmware write.
UpdateResult CopyWithBackup(RawDrive& drive, const CopyGuard& guard, std::FILE* image,
                            const MapView& map, uint32_t index, uint32_t length) {
  const uint32_t start = map.entries[index].pmPyPartStart * kBlockSize;
  const ZazeIdentity zaze = IdentityOf(map, index);
  ProgressBarCreate();
  ProgressBarSetRange(0, static_cast<int32_t>(3 * ChunkCount(length)));
  int32_t steps = 0;
  FirmwareBackup backup;
  const BackupSave saved =
      backup.Save(drive, start, length, guard.files.firmware, StepProgressBar, &steps);
  if (saved != BackupSave::kSaved) {
    ProgressBarDestroy();
    Refuse(saved == BackupSave::kReadFailed ? kBackupUnread
           : saved == BackupSave::kNotKept  ? kBackupNotKept
                                            : kNoBackupRoom);
    return UpdateResult::kRefused;
  }
  LogStatus("Saved the %lu bytes the update replaces to %s.", static_cast<unsigned long>(length),
            guard.files.firmware);
  // An update of this zAze that did not finish keeps its record: its backup,
  // not this one, holds the last whole firmware.
  UpdateRecord record;
  if (!FindOpenRecord(zaze, record)) {
    record = UpdateRecord();
    record.set = guard.files.set;
    record.zaze = zaze;
    record.start = start;
    record.length = length;
    record.firmwareSum = backup.Sum();
    record.mapBlocks = guard.repair.savedBlocks;
    record.mapSum = guard.repair.savedSum;
    if (!SaveUpdateRecord(record)) {
      RemoveUpdateRecord(record.set);
      ProgressBarDestroy();
      Refuse(kNotRecorded);
      return UpdateResult::kRefused;
    }
  }
  const CopyOutcome copied =
      CopyImageToDrive(drive, image, length, start, true, StepProgressBar, &steps);
  if (copied.result == CopyResult::kNoBuffer) {
    ProgressBarDestroy();
    Refuse(kNoChunkBuffer);
    return UpdateResult::kRefused;
  }
  return EndCopy(drive, guard, copied, backup, zaze, record);
}
