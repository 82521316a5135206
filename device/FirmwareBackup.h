// The sectors an update is about to overwrite, saved before its first write
// and put back when the update fails part way. They are kept in memory and in
// a backup file in the current folder, which is on the medium and read back
// before the first write; the memory spares a read of the file.
#pragma once

#include <cstdint>

#include "device/ImageCopy.h"

class RawDrive;
struct ZazeIdentity;

enum class BackupSave {
  kSaved,       // in the file, on the medium and read back equal
  kReadFailed,  // the drive did not give the sectors
  kNoRoom,      // the file could not be written (no memory for a chunk either)
  kNotKept,     // the file was written but did not reach the medium, or reads back otherwise
};

enum class RestoreResult {
  kRestored,    // byte for byte as saved, read back after a flush
  kNotTheZaze,  // the drive is no longer the zAze it was saved from: nothing written
  kGone,        // the drive could not be opened again: it was disconnected
  kFailed,      // the drive did not take it back
};

class FirmwareBackup {
 public:
  // `memoryLimit`: the most bytes kept in memory; a longer range goes
  // through the file alone, chunk by chunk.
  explicit FirmwareBackup(uint32_t memoryLimit = UINT32_MAX) : memoryLimit_(memoryLimit) {}
  ~FirmwareBackup();
  FirmwareBackup(const FirmwareBackup&) = delete;
  FirmwareBackup& operator=(const FirmwareBackup&) = delete;

  // Reads `length` bytes (whole sectors) at byte `start` of the drive into
  // `fileName`, puts the file on the medium and reads it back. Writes nothing
  // to the drive; logs nothing. A file that is not kept whole is removed.
  // `report` (which may be null) counts the chunks read from the drive.
  BackupSave Save(RawDrive& drive, uint32_t start, uint32_t length, const char* fileName,
                  ChunkReport report, void* context);
  // Takes an earlier run's backup file, which goes to byte `start`: true when
  // it holds `length` bytes whose CRC-32 is `sum`.
  bool Load(const char* fileName, uint32_t start, uint32_t length, uint32_t sum);
  uint32_t Sum() const { return sum_; }
  uint32_t Length() const { return length_; }

  // Puts the saved bytes [0, upTo) back where they were read. Opens the
  // drive of `letter` afresh (a failed transfer leaves a drive refusing
  // more); when `zaze` is given, first checks that the drive is still that
  // zAze and writes nothing if not. Then rewrites the sectors that differ or
  // cannot be read, flushes, and reads the range back.
  RestoreResult Restore(RawDrive& drive, char letter, uint32_t upTo,
                        const ZazeIdentity* zaze) const;

 private:
  BackupSave StreamToFile(RawDrive& drive, unsigned char* chunk, ChunkReport report, void* context);
  BackupSave CheckFile(unsigned char* chunk) const;
  bool Saved(uint32_t offset, uint32_t size, unsigned char* into) const;
  bool PutBack(RawDrive& drive, char letter, uint32_t upTo, unsigned char* current,
               unsigned char* saved, bool& wrote) const;
  bool ReadBack(RawDrive& drive, uint32_t upTo, unsigned char* current, unsigned char* saved) const;

  uint32_t memoryLimit_;
  unsigned char* memory_ = nullptr;
  char fileName_[32] = {};
  uint32_t start_ = 0;
  uint32_t length_ = 0;
  uint32_t sum_ = 0;
};
