#include "device/MapReader.h"

#include <cstring>

#include "device/Platform.h"
#include "device/RawDrive.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

uint32_t EntryOffset(uint32_t index) { return (index + 1) * kBlockSize; }

}  // namespace

MapStartRead ReadMapStart(RawDrive& drive, PartitionMapEntry& first) {
  std::memset(&first, 0, sizeof first);
  const int32_t got = drive.Read(&first, EntryOffset(0), kBlockSize);
  if (got != static_cast<int32_t>(kBlockSize)) {
    // A read that came up short failed at no call: there is no code to tell.
    return {MapStart::kUnreadable, got, TransferError(got)};
  }
  SwapPartitionMapEntry(first);
  return {HasPartName(first, "partition map") ? MapStart::kFound : MapStart::kNotAMap, got, 0};
}

MapEntriesRead ReadMapEntries(RawDrive& drive, MapCopy& map, uint32_t count) {
  MapEntriesRead read = {1, false, false, 0, 0};
  for (uint32_t i = 1; i < count; ++i) {
    if (!map.Hold(i + 1)) {
      read.noMemory = true;
      return read;
    }
    std::memset(&map[i], 0, kBlockSize);  // a short read leaves zeros, not stale heap
    const int32_t got = drive.Read(&map[i], EntryOffset(i), kBlockSize);
    if (got != static_cast<int32_t>(kBlockSize)) {
      read.errorCode = TransferError(got);
      read.got = got;
      read.readFailed = true;
      return read;
    }
    SwapPartitionMapEntry(map[i]);
    read.held = i + 1;
  }
  return read;
}
