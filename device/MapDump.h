// The dump of the partition map that the worker leaves for support.
#pragma once

#include <cstdint>
#include <cstdio>

#include "device/PartitionMap.h"

// The dump file zaze_pm.txt, or none when it cannot be created. It keeps
// track of whether every line was taken, so that a dump cut short (a full
// disk) is told in the log instead of being left behind as if it were whole.
class DumpFile {
 public:
  DumpFile();   // creates zaze_pm.txt and logs whether it could
  ~DumpFile();  // closes it, and logs a dump that is incomplete
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  // The header lines and entry 0 of a map of `count` entries.
  void Header(uint32_t count, const PartitionMapEntry& first);
  // Entry `index` of `count`.
  void Section(uint32_t index, uint32_t count, const PartitionMapEntry& entry);
  // The line that marks the firmware entry, before its section.
  void FirmwareLine();

 private:
  std::FILE* file_;
  bool whole_ = true;
};
