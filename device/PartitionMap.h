// One Apple Partition Map entry, its byte-order conversion, and its text
// form in the dump file zaze_pm.txt.
//
// Block k of the drive lies at byte offset 512 * k. Block 0 is not part of the
// map. Block 1 holds the map's own entry ("partition map"), whose pmMapBlkCnt
// is the number of entries N; entry i is block i + 1.
#pragma once

#include <cstdint>
#include <cstdio>

struct PartitionMapEntry {
  uint16_t pmSig;  // 0x504D, "PM"
  uint16_t pmSigPad;
  uint32_t pmMapBlkCnt;    // entries in the map
  uint32_t pmPyPartStart;  // first physical block of the partition
  uint32_t pmPartBlkCnt;   // partition length in blocks
  char pmPartName[32];     // NUL-terminated within the field, if at all
  char pmParType[32];
  uint32_t pmLgDataStart;
  uint32_t pmDataCnt;
  uint32_t pmPartStatus;
  uint32_t pmLgBootStart;  // boot-code fields: carried, never read
  uint32_t pmBootSize;
  uint32_t pmBootAddr;
  uint32_t pmBootAddr2;
  uint32_t pmBootEntry;
  uint32_t pmBootEntry2;
  uint32_t pmBootCksum;
  char pmProcessor[16];
  uint8_t pmPad[376];
};
static_assert(sizeof(PartitionMapEntry) == 512, "one entry is one block");

constexpr uint16_t kPartitionMapSignature = 0x504D;

// Reverses the byte order of every numeric field, in place; applying it twice
// restores the entry. Converts disk to host order after a read and back
// before a write.
PartitionMapEntry& SwapPartitionMapEntry(PartitionMapEntry& entry);

// True when pmPartName is exactly `name` (case-sensitive, NUL-terminated
// within its 32 bytes). A name of 32 characters without a NUL equals nothing.
bool HasPartName(const PartitionMapEntry& entry, const char* name);

// True for a free-space entry (pmParType "Apple_Free"), which claims no data.
bool IsFreeSpace(const PartitionMapEntry& entry);

// True when blocks [first, first + count) and [otherFirst, otherFirst +
// otherCount) share a block; an empty extent shares none.
bool ExtentsOverlap(uint64_t first, uint64_t count, uint64_t otherFirst, uint64_t otherCount);

// The writers below return 1 when the stream took every line, 0 when a write
// failed (a full disk, say): the dump is then incomplete.

// The twelve lines of one entry (host order) in the dump file.
int32_t DumpPartitionMapEntry(const PartitionMapEntry& entry, std::FILE* file);

// The dump file's three header lines, with the system's tick count.
int32_t DumpPartitionMapHeader(std::FILE* file, int32_t tickCount);

// "**> Start of partition i of last" and the entry's twelve lines.
int32_t DumpPartitionSection(std::FILE* file, int32_t index, int32_t last,
                             const PartitionMapEntry& entry);
