#include "cli/DeviceList.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/ScopedFile.h"
#include "cli/DeviceUse.h"
#include "cli/TerminalUi.h"
#include "device/MapReader.h"
#include "device/RawDrive.h"

namespace {

// A listing reads no further into a map than the 63 blocks a map usually
// has: a corrupt count could claim billions of entries.
constexpr uint32_t kListedEntries = 63;

// The first line of the sysfs attribute `name` of the block device at
// `path`; empty when there is none.
std::string SysfsText(const char* path, const char* name) {
  struct stat device = {};
  if (stat(path, &device) != 0 || !S_ISBLK(device.st_mode)) return std::string();
  char file[128];
  std::snprintf(file, sizeof file, "/sys/dev/block/%u:%u/%s", major(device.st_rdev),
                minor(device.st_rdev), name);
  ScopedFile attribute(std::fopen(file, "r"));
  char text[128] = {};
  if (attribute.get() == nullptr || std::fgets(text, sizeof text, attribute.get()) == nullptr) {
    return std::string();
  }
  size_t length = std::strlen(text);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == ' ')) text[--length] = '\0';
  MakePrintable(text, false);
  return text;
}

// Every whole disk in /sys/block that has a medium (an unattached loop
// device has none), in name order.
std::vector<std::string> SystemDisks() {
  std::vector<std::string> disks;
  if (DIR* dir = opendir("/sys/block")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const std::string path = std::string("/dev/") + entry->d_name;
      const std::string sectors = SysfsText(path.c_str(), "size");
      if (!sectors.empty() && sectors != "0") disks.push_back(path);
    }
    closedir(dir);
  }
  std::sort(disks.begin(), disks.end());
  return disks;
}

void FormatSize(uint64_t bytes, char (&text)[16]) {
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB"};
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%u B", static_cast<unsigned>(bytes));
    return;
  }
  double size = bytes / 1000.0;
  int unit = 0;
  while (size >= 1000 && unit < 4) {
    size /= 1000;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", size, kUnits[unit]);
}

// What a disk without an Apple Partition Map holds, as libblkid names it.
void ProbeOtherDisk(const char* path, char* what, size_t size) {
  std::snprintf(what, size, "nothing it can use");
  blkid_probe probe = blkid_new_probe_from_filename(path);
  if (probe == nullptr) return;
  blkid_probe_enable_partitions(probe, 1);
  blkid_probe_enable_superblocks(probe, 1);
  const char* value = nullptr;
  if (blkid_do_safeprobe(probe) == 0) {
    if (blkid_probe_lookup_value(probe, "PTTYPE", &value, nullptr) == 0) {
      std::snprintf(what, size, "nothing it can use (%.40s partition table)", value);
    } else if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0) {
      std::snprintf(what, size, "nothing it can use (%.40s)", value);
    }
    MakePrintable(what, false);
  }
  blkid_free_probe(probe);
}

// What the open `drive` is, read through the device core's map reader.
void Describe(RawDrive& drive, const char* path, char* what, size_t size) {
  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  if (start.kind == MapStart::kUnreadable) {
    std::snprintf(what, size, "cannot be read");
    return;
  }
  if (start.kind == MapStart::kNotAMap) {
    ProbeOtherDisk(path, what, size);
    return;
  }
  MapCopy map;
  uint32_t held = 1;
  if (map.Hold(1)) {
    map[0] = first;
    held = ReadMapEntries(drive, map, std::min(first.pmMapBlkCnt, kListedEntries)).held;
  }
  for (uint32_t i = 1; i < held; ++i) {
    if (!HasPartName(map[i], "firmware")) continue;
    std::snprintf(what, size, "zAze: firmware at byte %" PRIu64 ", %" PRIu64 " bytes",
                  uint64_t{map[i].pmPyPartStart} * kSectorSize,
                  uint64_t{map[i].pmPartBlkCnt} * kSectorSize);
    return;
  }
  std::snprintf(what, size, "Apple-partitioned disk, not a zAze (no firmware partition)");
}

void ListOne(const char* path) {
  SetRawDriveTable(&path, 1);
  RawDrive drive;
  const bool opened = drive.Open('A') == 1;
  const RawDriveOpening opening = LastRawDriveOpening();
  char what[200];
  char refusal[1200];
  DescribeRefusal(path, opening, refusal, sizeof refusal);
  if (opened) {
    Describe(drive, path, what, sizeof what);
  } else {
    std::snprintf(what, sizeof what, "cannot be used: %.150s", refusal);
  }
  drive.Close();
  uint64_t bytes = opening.bytes;
  if (bytes == 0) bytes = std::strtoull(SysfsText(path, "size").c_str(), nullptr, 10) * 512;
  char size[16] = "?";
  if (bytes > 0) FormatSize(bytes, size);
  const std::string model = SysfsText(path, "device/model");
  std::printf("%-14s %9s  %-18.18s  %s", path, size, model.empty() ? "-" : model.c_str(), what);
  if (opened && opening.inUse) std::printf("  [%s]", refusal);
  std::printf("\n");
}

}  // namespace

int ListDevices(int count, const char* const* paths) {
  SetRawDriveReadOnly(true);
  std::vector<std::string> disks;
  if (count == 0) {
    disks = SystemDisks();
    if (disks.empty()) std::printf("No disks found.\n");
  } else {
    disks.assign(paths, paths + count);
  }
  for (const std::string& disk : disks) ListOne(disk.c_str());
  std::fflush(stdout);
  return 0;
}
