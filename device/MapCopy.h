// The working copy of a partition map, as repair and the update read it.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "device/PartitionMap.h"

// Most entries a map can claim: N blocks of 512 bytes must fit in 32 bits.
constexpr uint32_t kMaxMapEntries = 0xFFFFFFFFu / sizeof(PartitionMapEntry);

// Released on every way out. It grows as the entries are read instead of
// being taken at once for the count that block 1 claims: that count comes
// from the disk, and a corrupt one would ask for up to 4 GB before a single
// entry had been read.
class MapCopy {
 public:
  MapCopy() = default;
  ~MapCopy() { std::free(entries_); }
  MapCopy(const MapCopy&) = delete;
  MapCopy& operator=(const MapCopy&) = delete;

  // Room for entries 0 to count - 1; false when count is over kMaxMapEntries
  // or the memory cannot be had.
  bool Hold(uint32_t count) {
    if (count <= room_) return true;
    if (count > kMaxMapEntries) return false;
    uint32_t room = room_ > 0 ? room_ : 16;
    while (room < count) room = room > kMaxMapEntries / 2 ? kMaxMapEntries : room * 2;
    void* grown = std::realloc(entries_, static_cast<size_t>(room) * sizeof(PartitionMapEntry));
    if (grown == nullptr) return false;
    entries_ = static_cast<PartitionMapEntry*>(grown);
    room_ = room;
    return true;
  }
  PartitionMapEntry& operator[](uint32_t index) { return entries_[index]; }
  const PartitionMapEntry& operator[](uint32_t index) const { return entries_[index]; }

 private:
  PartitionMapEntry* entries_ = nullptr;
  uint32_t room_ = 0;
};
