#include "device/MapSave.h"

#include <cstdio>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/PartitionMap.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/UpdateRecord.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

uint32_t EntryOffset(uint32_t index) { return (index + 1) * kBlockSize; }

}  // namespace

SavedMap::SavedMap(const MapCopy& map, uint32_t count) : count_(count) {
  if (!copy_.Hold(count > 0 ? count : 1)) return;
  for (uint32_t i = 0; i < count; ++i) {
    copy_[i] = map[i];
    SwapPartitionMapEntry(copy_[i]);
  }
  held_ = true;
}

uint32_t SavedMap::Sum() const { return Crc32(&copy_[0], count_ * kBlockSize); }

bool SavedMap::Keep(const char* name) const {
  std::FILE* file = std::fopen(name, "wb");
  if (file == nullptr) return false;
  const size_t bytes = static_cast<size_t>(count_) * kBlockSize;
  const bool written = std::fwrite(&copy_[0], 1, bytes, file) == bytes && SyncFile(file) == 1;
  if (std::fclose(file) != 0 || !written || !ReadsBack(name)) {
    std::remove(name);
    return false;
  }
  return true;
}

bool SavedMap::ReadsBack(const char* name) const {
  ScopedFile file(std::fopen(name, "rb"));
  PartitionMapEntry entry;
  for (uint32_t i = 0; file.get() != nullptr && i < count_; ++i) {
    if (std::fread(&entry, 1, kBlockSize, file.get()) != kBlockSize ||
        std::memcmp(&entry, &copy_[i], kBlockSize) != 0) {
      return false;
    }
  }
  return file.get() != nullptr && std::fgetc(file.get()) == EOF;
}

bool PutMapBack(RawDrive& drive, char letter, const unsigned char* saved, uint32_t count) {
  // A failed transfer leaves a drive refusing every other.
  drive.Close();
  if (drive.Open(letter) != 1) return false;
  bool wrote = false;
  PartitionMapEntry now;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* block = saved + static_cast<size_t>(i) * kBlockSize;
    const int32_t got = drive.Read(&now, EntryOffset(i), kBlockSize);
    if (got == static_cast<int32_t>(kBlockSize) && std::memcmp(&now, block, kBlockSize) == 0) {
      continue;
    }
    if (got != static_cast<int32_t>(kBlockSize)) {
      drive.Close();
      if (drive.Open(letter) != 1) return false;
    }
    if (drive.Write(block, EntryOffset(i), kBlockSize) != static_cast<int32_t>(kBlockSize)) {
      return false;
    }
    wrote = true;
  }
  if (wrote && drive.Flush() != 1) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (drive.Read(&now, EntryOffset(i), kBlockSize) != static_cast<int32_t>(kBlockSize) ||
        std::memcmp(&now, saved + static_cast<size_t>(i) * kBlockSize, kBlockSize) != 0) {
      return false;
    }
  }
  return true;
}
