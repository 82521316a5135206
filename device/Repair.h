// Bringing the zAze's partition map into its fixed shape: 3 entries in 62
// blocks, the "firmware" partition at block 63, 65477 blocks long.
#pragma once

#include <cstdint>

constexpr uint32_t kRepairedMapBlocks = 62;
constexpr uint32_t kRepairedMapEntries = 3;
constexpr uint32_t kFirmwareStartBlock = 63;
constexpr uint32_t kFirmwareBlocks = 65477;

// 1 when the map is in order or has been rewritten; 0 when it cannot be
// examined or written, or when it is not a zAze's map (no "firmware" entry
// before "disk"), in which case nothing is written. Reads the whole map
// before its first write. Closes its drive before returning.
int RepairPartitionMap(char driveLetter);
