// The zAze's disk as it leaves the factory and as repair leaves it: the one
// description that the tests' disk images, the demo's images and the fuzz
// seeds are built from. harness/zaze_disk.py reads this file too, so each
// value stays a plain literal on a line of its own.
#pragma once

#include <cstdint>

// A real zAze: 20 GB, the user's "disk" partition from this block on. Repair
// moves the firmware partition one block forward and lets it end where it
// ended before, so "disk" is the same in both shapes.
constexpr uint32_t kZazeDeviceBlocks = 39062500;
constexpr uint32_t kZazeDiskStart = 65540;
// The map's own partition, from block 1: before repair and after.
constexpr uint32_t kZazeMapBlocksBefore = 63;
constexpr uint32_t kZazeMapBlocksAfter = 62;

// The entries in map order: the map's own, the firmware right behind the map,
// "disk" up to the end of the device.
struct ZazeEntryKind {
  const char* name;
  const char* type;
  uint32_t status;
};
constexpr ZazeEntryKind kZazeEntries[] = {
    {"partition map", "Apple_partition_map", 0x37},
    {"firmware", "Apple_MDFW", 0x7F},
    {"disk", "Apple_HFS", 0x40000033},
};
