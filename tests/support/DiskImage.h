// Disk images for the device tests, and drives to put them on: natively an
// entry of RawDrive's drive table pointing at an image file, under Wine the
// file $WINEPREFIX/dosdevices/physicaldrive<n>, which \\.\PHYSICALDRIVE<n>
// opens.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/PartitionMap.h"

// An image of whole 512-byte blocks, zero except where set.
class DiskImage {
 public:
  explicit DiskImage(uint32_t blocks);

  uint32_t Blocks() const;
  // Writes `size` bytes (at most one block) at the start of `block`.
  void SetBlock(uint32_t block, const void* data, size_t size = 512);
  // Fills `count` blocks from `first` with a pattern that differs per block
  // and per `seed`, so a stray write shows.
  void Fill(uint32_t first, uint32_t count, uint8_t seed);
  // Puts entry `index` (host order) at block index + 1, in disk order.
  void SetEntry(uint32_t index, const PartitionMapEntry& entry);
  // The entry at block index + 1, converted to host order.
  PartitionMapEntry Entry(uint32_t index) const;

  const std::string& Bytes() const { return bytes_; }
  std::string& Bytes() { return bytes_; }

 private:
  std::string bytes_;
};

// Bytes that differ per position and per seed, so that a misplaced or
// missing chunk of an image shows.
std::string Pattern(size_t size, unsigned seed);
// An image that IsFirmwareFile accepts: "Apple Computer, Inc." at byte 130 of
// such a pattern (when it is long enough to hold it).
std::string FirmwareImage(size_t bytes, unsigned seed);

// `disk` with entry `index` changed by `change`, which sees it in host order.
DiskImage WithEntry(DiskImage disk, uint32_t index,
                    const std::function<void(PartitionMapEntry&)>& change);

// An entry in host order, every other field zero, pmSig 0x504D.
PartitionMapEntry MakeEntry(const char* name, const char* type, uint32_t start, uint32_t blocks,
                            uint32_t mapEntries);

// A zAze as it comes, before repair: the driver descriptor ("ER") in block 0
// and three entries, "partition map" (1, 63 blocks), "firmware" and "disk",
// whose data areas carry patterns. `blocks` is the image size; the entries'
// extents are given as in a real zAze even where they run past it.
DiskImage ZazeBeforeRepair(uint32_t blocks = 4096);
// The same zAze after repair: "partition map" (1, 62 blocks, 3 entries) and
// "firmware" at block 63, 65477 blocks long.
DiskImage ZazeRepaired(uint32_t blocks = 4096);
// An ordinary disk: an MBR-style block 0 and patterned data, no partition map.
DiskImage OrdinaryDisk(uint32_t blocks = 2048);
// A Macintosh disk with an Apple Partition Map of `entries` entries (the map,
// drivers, an "Apple_Free" gap, an "Apple_HFS" volume named "disk" last) and
// no "firmware" entry.
DiskImage MacDisk(uint32_t entries = 8, uint32_t blocks = 4096);

// POSIX only, with hfsutils: a real HFS volume of `blocks` blocks holding one
// file, README.TXT, with `text` in it; empty when the tools fail.
std::string HfsVolume(uint32_t blocks, const std::string& text);
// The text of README.TXT on the HFS volume `volume`, read back through
// hfsutils; empty when the volume does not mount or the file is not there.
std::string HfsReadme(const std::string& volume);

// Puts `image` on drive `number` (0 to 26), replacing what was there.
void AttachDrive(int number, const DiskImage& image);
// The drive's bytes as they are now.
std::string DriveBytes(int number);
// Removes every drive attached by this process.
void DetachDrives();

// A range of blocks [first, first + count).
struct BlockRange {
  uint32_t first;
  uint32_t count;
};

// Empty when `after` equals `before` outside the `allowed` ranges; otherwise
// a description of the first differences, for a test's failure message.
std::string ChangesOutside(const std::string& before, const std::string& after,
                           const std::vector<BlockRange>& allowed);
