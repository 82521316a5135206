#include "device/FirmwareBackup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/ImageCopy.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/UpdateRecord.h"

namespace {

// A chunk's worth of memory, freed on every way out.
class ChunkMemory {
 public:
  ChunkMemory() : bytes_(static_cast<unsigned char*>(std::malloc(kChunkBytes))) {}
  ~ChunkMemory() { std::free(bytes_); }
  ChunkMemory(const ChunkMemory&) = delete;
  ChunkMemory& operator=(const ChunkMemory&) = delete;
  unsigned char* get() const { return bytes_; }

 private:
  unsigned char* bytes_;
};

bool ReadWhole(RawDrive& drive, unsigned char* into, uint32_t offset, uint32_t size) {
  return drive.Read(into, offset, size) == static_cast<int32_t>(size);
}

bool WriteWhole(RawDrive& drive, const unsigned char* from, uint32_t offset, uint32_t size) {
  return drive.Write(from, offset, size) == static_cast<int32_t>(size);
}

// True when nothing follows the bytes read so far.
bool AtEnd(std::FILE* file) { return std::fgetc(file) == EOF && std::ferror(file) == 0; }

}  // namespace

FirmwareBackup::~FirmwareBackup() { std::free(memory_); }

BackupSave FirmwareBackup::Save(RawDrive& drive, uint32_t start, uint32_t length,
                                const char* fileName, ChunkReport report, void* context) {
  start_ = start;
  length_ = length;
  std::snprintf(fileName_, sizeof fileName_, "%s", fileName);
  if (length <= memoryLimit_) {
    memory_ = static_cast<unsigned char*>(std::malloc(length > 0 ? length : 1));
  }
  ChunkMemory chunk;
  if (memory_ == nullptr) {
    if (chunk.get() == nullptr) return BackupSave::kNoRoom;
    const BackupSave streamed = StreamToFile(drive, chunk.get(), report, context);
    if (streamed != BackupSave::kSaved) return streamed;
  } else {
    // Read first: a drive that fails leaves the file as it was.
    // Each chunk is summed as it arrives, while it is still in the cache.
    int32_t moved = 0;
    sum_ = 0;
    for (uint32_t done = 0, size = 0; done < length; done += size) {
      size = ChunkAt(done, length);
      if (!ReadWhole(drive, memory_ + done, start + done, size)) return BackupSave::kReadFailed;
      sum_ = Crc32(memory_ + done, size, sum_);
      if (report != nullptr) report(++moved, context);
    }
    std::FILE* file = std::fopen(fileName_, "wb");
    if (file == nullptr) return BackupSave::kNoRoom;
    const bool written = std::fwrite(memory_, 1, length, file) == length;
    const bool synced = written && SyncFile(file) == 1;
    const bool closed = std::fclose(file) == 0;
    if (!written || !synced || !closed) {
      std::remove(fileName_);  // cut short, or not on the medium: no backup
      return written ? BackupSave::kNotKept : BackupSave::kNoRoom;
    }
  }
  const BackupSave checked = CheckFile(chunk.get());
  if (checked != BackupSave::kSaved) std::remove(fileName_);
  return checked;
}

// Without the memory for the whole range: each chunk goes from the drive
// straight to the file.
BackupSave FirmwareBackup::StreamToFile(RawDrive& drive, unsigned char* chunk, ChunkReport report,
                                        void* context) {
  std::FILE* file = std::fopen(fileName_, "wb");
  if (file == nullptr) return BackupSave::kNoRoom;
  BackupSave result = BackupSave::kSaved;
  int32_t moved = 0;
  sum_ = 0;
  for (uint32_t done = 0, size = 0; done < length_ && result == BackupSave::kSaved; done += size) {
    size = ChunkAt(done, length_);
    if (!ReadWhole(drive, chunk, start_ + done, size)) {
      result = BackupSave::kReadFailed;
    } else if (std::fwrite(chunk, 1, size, file) != size) {
      result = BackupSave::kNoRoom;
    } else {
      sum_ = Crc32(chunk, size, sum_);
      if (report != nullptr) report(++moved, context);
    }
  }
  if (result == BackupSave::kSaved && SyncFile(file) != 1) result = BackupSave::kNotKept;
  if (std::fclose(file) != 0 && result == BackupSave::kSaved) result = BackupSave::kNotKept;
  if (result != BackupSave::kSaved) std::remove(fileName_);
  return result;
}

// The file as the medium gives it back: the bytes held in memory, or without
// them the length and sum of what was read from the drive.
BackupSave FirmwareBackup::CheckFile(unsigned char* chunk) const {
  ScopedFile file(std::fopen(fileName_, "rb"));
  if (file.get() == nullptr || chunk == nullptr) return BackupSave::kNotKept;
  // Compared byte for byte with the memory when there is one, whose sum is
  // sum_ already; else by the sum of what was read from the drive.
  uint32_t sum = sum_;
  if (memory_ == nullptr) sum = 0;
  for (uint32_t done = 0, size = 0; done < length_; done += size) {
    size = ChunkAt(done, length_);
    if (std::fread(chunk, 1, size, file.get()) != size) return BackupSave::kNotKept;
    if (memory_ != nullptr) {
      if (std::memcmp(chunk, memory_ + done, size) != 0) return BackupSave::kNotKept;
    } else {
      sum = Crc32(chunk, size, sum);
    }
  }
  return sum == sum_ && AtEnd(file.get()) ? BackupSave::kSaved : BackupSave::kNotKept;
}

bool FirmwareBackup::Load(const char* fileName, uint32_t start, uint32_t length, uint32_t sum) {
  std::snprintf(fileName_, sizeof fileName_, "%s", fileName);
  start_ = start;
  length_ = length;
  sum_ = sum;
  ScopedFile file(std::fopen(fileName_, "rb"));
  if (file.get() == nullptr) return false;
  if (length <= memoryLimit_) {
    memory_ = static_cast<unsigned char*>(std::malloc(length > 0 ? length : 1));
  }
  if (memory_ != nullptr) {
    return std::fread(memory_, 1, length, file.get()) == length && AtEnd(file.get()) &&
           Crc32(memory_, length) == sum;
  }
  ChunkMemory chunk;
  if (chunk.get() == nullptr) return false;
  uint32_t read = 0;
  for (uint32_t done = 0, size = 0; done < length; done += size) {
    size = ChunkAt(done, length);
    if (std::fread(chunk.get(), 1, size, file.get()) != size) return false;
    read = Crc32(chunk.get(), size, read);
  }
  return AtEnd(file.get()) && read == sum;
}

bool FirmwareBackup::Saved(uint32_t offset, uint32_t size, unsigned char* into) const {
  if (memory_ != nullptr) {
    std::memcpy(into, memory_ + offset, size);
    return true;
  }
  ScopedFile file(std::fopen(fileName_, "rb"));
  return file.get() != nullptr &&
         std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) == 0 &&
         std::fread(into, 1, size, file.get()) == size;
}

RestoreResult FirmwareBackup::Restore(RawDrive& drive, char letter, uint32_t upTo,
                                      const ZazeIdentity* zaze) const {
  if (upTo > length_) upTo = length_;
  drive.Close();
  if (drive.Open(letter) != 1) {
    return drive.OpenRefusal() == RawDriveRefusal::kNotFound ? RestoreResult::kGone
                                                             : RestoreResult::kFailed;
  }
  // The drive number may now name another disk: one plugged in after the
  // zAze was pulled, say. Nothing is written to a disk it does not name.
  if (zaze != nullptr) {
    ZazeIdentity now;
    if (!ReadZazeIdentity(drive, zaze->firmwareIndex, now)) return RestoreResult::kFailed;
    if (!SameZaze(now, *zaze)) return RestoreResult::kNotTheZaze;
  }
  ChunkMemory current;
  ChunkMemory saved;
  if (current.get() == nullptr || saved.get() == nullptr) return RestoreResult::kFailed;
  // A drive that took nothing (a locked one refuses the flush too) is only
  // read back.
  bool wrote = false;
  const bool restored = PutBack(drive, letter, upTo, current.get(), saved.get(), wrote) &&
                        (!wrote || drive.Flush() == 1) &&
                        ReadBack(drive, upTo, current.get(), saved.get());
  return restored ? RestoreResult::kRestored : RestoreResult::kFailed;
}

// Only the runs of sectors that differ are written: a device that failed at
// some sector is asked to take no more than it must. A chunk that cannot be
// read (a failed write often leaves its sectors so until they are written
// again) is written whole.
bool FirmwareBackup::PutBack(RawDrive& drive, char letter, uint32_t upTo, unsigned char* current,
                             unsigned char* saved, bool& wrote) const {
  for (uint32_t done = 0, size = 0; done < upTo; done += size) {
    size = ChunkAt(done, upTo);
    if (!Saved(done, size, saved)) return false;
    if (!ReadWhole(drive, current, start_ + done, size)) {
      drive.Close();  // the failed read left it refusing every transfer
      if (drive.Open(letter) != 1 || !WriteWhole(drive, saved, start_ + done, size)) return false;
      wrote = true;
      continue;
    }
    for (uint32_t at = 0; at < size;) {
      if (std::memcmp(current + at, saved + at, kSectorSize) == 0) {
        at += kSectorSize;
        continue;
      }
      uint32_t end = at + kSectorSize;
      while (end < size && std::memcmp(current + end, saved + end, kSectorSize) != 0) {
        end += kSectorSize;
      }
      if (!WriteWhole(drive, saved + at, start_ + done + at, end - at)) return false;
      wrote = true;
      at = end;
    }
  }
  return true;
}

bool FirmwareBackup::ReadBack(RawDrive& drive, uint32_t upTo, unsigned char* current,
                              unsigned char* saved) const {
  for (uint32_t done = 0, size = 0; done < upTo; done += size) {
    size = ChunkAt(done, upTo);
    if (!ReadWhole(drive, current, start_ + done, size) || !Saved(done, size, saved) ||
        std::memcmp(current, saved, size) != 0) {
      return false;
    }
  }
  return true;
}
