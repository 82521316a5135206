// Reading a drive's Apple Partition Map, as discovery, repair and the update
// worker all do: block 1, the map's own entry, then the entries after it.
#pragma once

#include <cstdint>

#include "device/MapCopy.h"
#include "device/PartitionMap.h"

class RawDrive;

enum class MapStart {
  kFound,       // block 1 is the map's own entry ("partition map")
  kNotAMap,     // block 1 read in full, and is something else
  kUnreadable,  // block 1 did not read in full: part of it is no entry
};

struct MapStartRead {
  MapStart kind;
  int32_t got;         // the read's result
  uint32_t errorCode;  // the system's error code after a failed read; 0 after a short one
};

// Reads block 1 of the open `drive` into `first`, in host order.
MapStartRead ReadMapStart(RawDrive& drive, PartitionMapEntry& first);

struct MapEntriesRead {
  uint32_t held;       // entries 0 to held - 1 are in the copy, in host order
  bool readFailed;     // entry `held` did not read in full
  bool noMemory;       // the copy could not grow to entry `held`
  int32_t got;         // the failed read's result
  uint32_t errorCode;  // and the system's error code after it (0 after a short read)
};

// Reads entries 1 to count - 1 into `map`, whose entry 0 is set, stopping at
// the first read that fails or when the copy cannot grow. A short read is a
// failed one: the entry's extent could be half known.
MapEntriesRead ReadMapEntries(RawDrive& drive, MapCopy& map, uint32_t count);
