// The sectors an update is about to overwrite, saved before its first write
// and put back when the update fails part way. They are kept in memory and in
// zaze_fw_backup.bin in the current folder, so that the user still has them
// when the drive cannot take them back; either one is enough.
#pragma once

#include <cstdint>

#include "device/ImageCopy.h"

class RawDrive;

#define ZEPHLAR_BACKUP_FILE "zaze_fw_backup.bin"
constexpr char kBackupFileName[] = ZEPHLAR_BACKUP_FILE;

enum class BackupSave {
  kSaved,       // in memory, in the file, or both
  kReadFailed,  // the drive did not give the sectors
  kNoRoom,      // neither memory nor the file could hold them
};

class FirmwareBackup {
 public:
  // `memoryLimit`: the most bytes kept in memory; a longer range goes
  // through the file alone, chunk by chunk.
  explicit FirmwareBackup(uint32_t memoryLimit = UINT32_MAX) : memoryLimit_(memoryLimit) {}
  ~FirmwareBackup();
  FirmwareBackup(const FirmwareBackup&) = delete;
  FirmwareBackup& operator=(const FirmwareBackup&) = delete;

  // Reads `length` bytes (whole sectors) at byte `start` of the drive and
  // keeps them; the file is written, flushed and closed before this returns,
  // or removed when it could not be written whole. Logs what was saved where.
  // Writes nothing to the drive. When `imagePath` names the backup file
  // itself (an earlier backup chosen to be put back), that file is left as
  // it is and the sectors are kept in memory only. `report` (which may be
  // null) counts the chunks read.
  BackupSave Save(RawDrive& drive, uint32_t start, uint32_t length, const char* imagePath,
                  ChunkReport report, void* context);
  bool InFile() const { return inFile_; }

  // Puts the saved bytes [0, upTo) back where they were read: opens the drive
  // of `letter` afresh (a failed transfer leaves a drive refusing more),
  // reads that range, rewrites only the sectors that differ, flushes, and
  // reads the range back. True when it is byte for byte as saved.
  bool Restore(RawDrive& drive, char letter, uint32_t upTo) const;

 private:
  BackupSave StreamToFile(RawDrive& drive, unsigned char* chunk, ChunkReport report, void* context);
  bool Saved(uint32_t offset, uint32_t size, unsigned char* into) const;
  bool PutBack(RawDrive& drive, uint32_t upTo, unsigned char* current, unsigned char* saved) const;
  bool ReadBack(RawDrive& drive, uint32_t upTo, unsigned char* current, unsigned char* saved) const;

  uint32_t memoryLimit_;
  unsigned char* memory_ = nullptr;
  bool inFile_ = false;
  uint32_t start_ = 0;
  uint32_t length_ = 0;
};
