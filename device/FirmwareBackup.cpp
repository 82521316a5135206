#include "device/FirmwareBackup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/DeviceUi.h"
#include "device/ImageCopy.h"
#include "device/Platform.h"
#include "device/RawDrive.h"

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

// Closes the file and keeps it only when every byte reached it; a backup
// cut short is no backup and must not be taken for one.
bool Finish(std::FILE* file, bool whole) {
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (whole && flushed && closed) return true;
  std::remove(kBackupFileName);
  return false;
}

}  // namespace

FirmwareBackup::~FirmwareBackup() { std::free(memory_); }

BackupSave FirmwareBackup::Save(RawDrive& drive, uint32_t start, uint32_t length,
                                const char* imagePath, ChunkReport report, void* context) {
  start_ = start;
  length_ = length;
  // Writing that file now would replace the image before it is copied.
  const bool imageIsBackup = IsSameFile(imagePath, kBackupFileName) == 1;
  if (length <= memoryLimit_) {
    memory_ = static_cast<unsigned char*>(std::malloc(length > 0 ? length : 1));
  }
  if (memory_ == nullptr && imageIsBackup) return BackupSave::kNoRoom;
  if (memory_ != nullptr) {
    // Read first: a drive that fails leaves an earlier backup file as it was.
    int32_t moved = 0;
    for (uint32_t done = 0, size = 0; done < length; done += size) {
      size = ChunkAt(done, length);
      if (!ReadWhole(drive, memory_ + done, start + done, size)) return BackupSave::kReadFailed;
      if (report != nullptr) report(++moved, context);
    }
    std::FILE* file = imageIsBackup ? nullptr : std::fopen(kBackupFileName, "wb");
    inFile_ = file != nullptr && Finish(file, std::fwrite(memory_, 1, length, file) == length);
  } else {
    ChunkMemory chunk;
    const BackupSave streamed = chunk.get() != nullptr
                                    ? StreamToFile(drive, chunk.get(), report, context)
                                    : BackupSave::kNoRoom;
    if (streamed != BackupSave::kSaved) return streamed;
  }
  if (inFile_) {
    LogStatus("Saved the %lu bytes the update replaces to %s.", static_cast<unsigned long>(length),
              kBackupFileName);
  } else if (imageIsBackup) {
    LogStatus("The firmware file is %s itself: the previous firmware is kept in memory only.",
              kBackupFileName);
  } else {
    LogStatus("Unable to write %s: the previous firmware is kept in memory only.", kBackupFileName);
  }
  return BackupSave::kSaved;
}

// Without the memory for the whole range: each chunk goes from the drive
// straight to the file.
BackupSave FirmwareBackup::StreamToFile(RawDrive& drive, unsigned char* chunk, ChunkReport report,
                                        void* context) {
  std::FILE* file = std::fopen(kBackupFileName, "wb");
  if (file == nullptr) return BackupSave::kNoRoom;
  int32_t moved = 0;
  for (uint32_t done = 0, size = 0; done < length_; done += size) {
    size = ChunkAt(done, length_);
    if (!ReadWhole(drive, chunk, start_ + done, size)) {
      Finish(file, false);
      return BackupSave::kReadFailed;
    }
    if (std::fwrite(chunk, 1, size, file) != size) {
      Finish(file, false);
      return BackupSave::kNoRoom;
    }
    if (report != nullptr) report(++moved, context);
  }
  if (!Finish(file, true)) return BackupSave::kNoRoom;
  inFile_ = true;
  return BackupSave::kSaved;
}

bool FirmwareBackup::Saved(uint32_t offset, uint32_t size, unsigned char* into) const {
  if (memory_ != nullptr) {
    std::memcpy(into, memory_ + offset, size);
    return true;
  }
  std::FILE* file = std::fopen(kBackupFileName, "rb");
  if (file == nullptr) return false;
  const bool read = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
                    std::fread(into, 1, size, file) == size;
  std::fclose(file);
  return read;
}

bool FirmwareBackup::Restore(RawDrive& drive, char letter, uint32_t upTo) const {
  if (upTo > length_) upTo = length_;
  drive.Close();
  if (drive.Open(letter) != 1) return false;
  ChunkMemory current;
  ChunkMemory saved;
  if (current.get() == nullptr || saved.get() == nullptr) return false;
  return PutBack(drive, upTo, current.get(), saved.get()) && drive.Flush() == 1 &&
         ReadBack(drive, upTo, current.get(), saved.get());
}

// Only the runs of sectors that differ are written: a device that failed at
// some sector is asked to take no more than it must.
bool FirmwareBackup::PutBack(RawDrive& drive, uint32_t upTo, unsigned char* current,
                             unsigned char* saved) const {
  for (uint32_t done = 0, size = 0; done < upTo; done += size) {
    size = ChunkAt(done, upTo);
    if (!ReadWhole(drive, current, start_ + done, size) || !Saved(done, size, saved)) return false;
    for (uint32_t at = 0; at < size;) {
      if (std::memcmp(current + at, saved + at, kSectorSize) == 0) {
        at += kSectorSize;
        continue;
      }
      uint32_t end = at + kSectorSize;
      while (end < size && std::memcmp(current + end, saved + end, kSectorSize) != 0) {
        end += kSectorSize;
      }
      const uint32_t run = end - at;
      if (drive.Write(saved + at, start_ + done + at, run) != static_cast<int32_t>(run)) {
        return false;
      }
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
