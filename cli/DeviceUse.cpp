#include "cli/DeviceUse.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/RawDrive.h"

bool FindMount(const char* device, char* where, size_t size) {
  struct stat disk = {};
  if (stat(device, &disk) != 0 || !S_ISBLK(disk.st_mode)) return false;
  ScopedFile mounts(std::fopen("/proc/self/mountinfo", "r"));
  if (mounts.get() == nullptr) return false;
  char line[4096];
  while (std::fgets(line, sizeof line, mounts.get()) != nullptr) {
    unsigned major = 0, minor = 0;
    char point[1024];
    if (std::sscanf(line, "%*s %*s %u:%u %*s %1023s", &major, &minor, point) != 3) continue;
    const dev_t mounted = makedev(major, minor);
    dev_t whole = 0;
    if (mounted == disk.st_rdev ||
        (blkid_devno_to_wholedisk(mounted, nullptr, 0, &whole) == 0 && whole == disk.st_rdev)) {
      std::snprintf(where, size, "%s", point);
      return true;
    }
  }
  return false;
}

void DescribeRefusal(const char* device, const RawDriveOpening& opening, char* text, size_t size) {
  const RawDriveRefusal refusal = opening.refusal;
  char point[1024];
  if (refusal == RawDriveRefusal::kNone && !opening.inUse) {
    std::snprintf(text, size, "%s", "");
  } else if (refusal == RawDriveRefusal::kNone || refusal == RawDriveRefusal::kInUse) {
    if (FindMount(device, point, sizeof point)) {
      std::snprintf(text, size, "in use: mounted on %s", point);
    } else {
      std::snprintf(text, size, "in use: held open by another program");
    }
  } else if (refusal == RawDriveRefusal::kNotFound) {
    std::snprintf(text, size, "no such device");
  } else if (refusal == RawDriveRefusal::kPermission) {
    std::snprintf(text, size, "permission denied%s", geteuid() != 0 ? " (disks need root)" : "");
  } else if (refusal == RawDriveRefusal::kReadOnly) {
    std::snprintf(text, size, "write-protected");
  } else if (refusal == RawDriveRefusal::kWrongSectorSize) {
    std::snprintf(text, size, "%lu-byte sectors, where a zAze has 512",
                  static_cast<unsigned long>(opening.sectorSize));
  } else {
    std::snprintf(text, size, "cannot be opened: %s", std::strerror(opening.error));
  }
}

bool TellRefusal(const char* device, const RawDriveOpening& opening) {
  char why[1200];
  DescribeRefusal(device, opening, why, sizeof why);
  if (why[0] == '\0') return false;
  std::fprintf(stderr, "zephlar-cli: %s: %s. Nothing was written.\n", device, why);
  return true;
}

bool DeviceUsable(const char* device) {
  RawDrive drive;
  drive.Open('A');
  return !TellRefusal(device, LastRawDriveOpening());
}
