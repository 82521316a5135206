// The map blocks a repair replaces: kept in memory and in the map backup
// before the first write, and put back when a write fails or an update is
// undone.
#pragma once

#include <cstdint>

#include "device/MapCopy.h"

class RawDrive;

// Blocks 1 to `count` as they are on the disk (entries 0 to count - 1 of a
// map copy, turned back to disk order).
class SavedMap {
 public:
  SavedMap(const MapCopy& map, uint32_t count);
  SavedMap(const SavedMap&) = delete;
  SavedMap& operator=(const SavedMap&) = delete;

  // False when the memory could not be had.
  bool held() const { return held_; }
  uint32_t count() const { return count_; }
  const unsigned char* Bytes() const { return reinterpret_cast<const unsigned char*>(&copy_[0]); }
  // CRC-32 of the blocks.
  uint32_t Sum() const;
  // Writes the blocks to `name`, puts them on the medium and reads them
  // back; a file that fails is removed.
  bool Keep(const char* name) const;

 private:
  bool ReadsBack(const char* name) const;

  MapCopy copy_;
  uint32_t count_;
  bool held_ = false;
};

// Puts map blocks 1 to `count` (`saved`, in disk order) back on the drive of
// `letter`, which is opened afresh (a failed transfer leaves a drive refusing
// every other). Blocks that read as saved are not written, so a drive that
// refuses every write (a locked one) keeps all it had. Flushes when it wrote,
// and reads the blocks back. True when they are as saved.
bool PutMapBack(RawDrive& drive, char letter, const unsigned char* saved, uint32_t count);
