// RawDrive's POSIX side: drive number n is entry n of a drive table, opened
// exclusively with O_DIRECT | O_SYNC (or O_SYNC alone where the file system
// refuses O_DIRECT), the counterparts of the NT path's unbuffered,
// write-through, unshared open. An entry may instead be served by a backend
// of functions, which then stands for the file and its calls.
//
// A block device is claimed with O_EXCL, which the kernel refuses while a
// partition of it is mounted or another program claims it, and is used only
// with 512-byte logical sectors, the unit of every offset here.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/Platform.h"
#include "device/RawDrive.h"

namespace {

constexpr int kMaxDrives = 64;
constexpr int kPathSize = 300;  // room for "/dev/" and any directory entry name

struct DriveTable {
  bool loaded = false;
  int count = 0;
  char paths[kMaxDrives][kPathSize];
  // Kept apart from the paths: setting the table leaves the backends alone.
  const RawDriveBackend* backends[kMaxDrives] = {};
};

DriveTable& Table() {
  static DriveTable table;
  return table;
}

// A path cut short could name another disk: one that does not fit is left
// empty, which no Open takes.
void CopyPath(char (&dest)[kPathSize], const char* source) {
  if (std::snprintf(dest, sizeof dest, "%s", source) >= kPathSize) dest[0] = '\0';
}

bool IsWholeDisk(const char* name) {
  static const char* const kSkipped[] = {"loop", "ram", "zram", "sr", "fd", "md", "dm-", "nbd"};
  if (name[0] == '.') return false;
  for (const char* prefix : kSkipped) {
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return false;
  }
  return true;
}

// The system's whole disks, as /sys/block lists them, in name order.
void LoadDefaultTable(DriveTable& table) {
  table.count = 0;
  if (DIR* dir = opendir("/sys/block")) {
    while (dirent* entry = readdir(dir)) {
      if (table.count == kMaxDrives || !IsWholeDisk(entry->d_name)) continue;
      std::snprintf(table.paths[table.count++], kPathSize, "/dev/%s", entry->d_name);
    }
    closedir(dir);
  }
  std::qsort(table.paths, static_cast<size_t>(table.count), kPathSize,
             [](const void* a, const void* b) {
               return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
             });
  table.loaded = true;
}

const char* DrivePath(int32_t number) {
  DriveTable& table = Table();
  if (!table.loaded) LoadDefaultTable(table);
  if (number < 0 || number >= table.count) return nullptr;
  return table.paths[number];
}

// The NT path positions with a 32-bit signed distance and no high part, so
// offsets from 2^31 on cannot be reached there; the same holds here.
bool Reachable(uint32_t offset) { return offset < 0x80000000u; }

std::atomic<bool> readOnlyOpens{false};
thread_local RawDriveOpening lastOpening = {RawDriveRefusal::kOther, 0, false, false, 0, 0};

// A disk just written and closed is probed by udev, which claims it for a
// moment: an open for writing that meets that waits up to a second for it.
constexpr int kBusyTries = 20;
constexpr long kBusyPauseNs = 50L * 1000 * 1000;

// What an open's error means to the user, in the kinds every failed call of
// the device code is told by.
struct RefusalOfKind {
  SystemError kind;
  RawDriveRefusal refusal;
};
constexpr RefusalOfKind kRefusals[] = {
    {SystemError::kAccessDenied, RawDriveRefusal::kPermission},
    {SystemError::kInUse, RawDriveRefusal::kInUse},
    {SystemError::kWriteProtected, RawDriveRefusal::kReadOnly},
    {SystemError::kDisconnected, RawDriveRefusal::kNotFound},
    {SystemError::kNotFound, RawDriveRefusal::kNotFound},
};

int Refuse(RawDriveOpening& opening, int error) {
  opening.error = error;
  opening.refusal = RawDriveRefusal::kOther;
  // An empty reader is there, without its medium: the system's own words
  // ("No medium found") tell that better than "not found" would.
  if (error == ENOMEDIUM) return -1;
  const SystemError kind = ClassifyError(static_cast<uint32_t>(error));
  for (const RefusalOfKind& known : kRefusals) {
    if (known.kind == kind) opening.refusal = known.refusal;
  }
  return -1;
}

int OpenPath(const char* path, int flags) {
  const int fd = open(path, flags | O_DIRECT);
  return fd < 0 && errno == EINVAL ? open(path, flags) : fd;
}

// What the open file is; false, with the refusal, when it may not be used.
bool Measure(int fd, bool writing, RawDriveOpening& opening) {
  struct stat file = {};
  if (fstat(fd, &file) != 0) {
    Refuse(opening, errno);
    return false;
  }
  opening.blockDevice = S_ISBLK(file.st_mode);
  if (!opening.blockDevice) {
    opening.bytes = static_cast<uint64_t>(file.st_size);
    return true;
  }
  int logical = 0;
  int readOnly = 0;
  if (ioctl(fd, BLKSSZGET, &logical) != 0 || ioctl(fd, BLKGETSIZE64, &opening.bytes) != 0 ||
      ioctl(fd, BLKROGET, &readOnly) != 0) {
    Refuse(opening, errno);
    return false;
  }
  opening.sectorSize = static_cast<uint32_t>(logical);
  if (opening.sectorSize != kSectorSize) {
    opening.refusal = RawDriveRefusal::kWrongSectorSize;
    return false;
  }
  // The kernel lets a write-protected disk be opened for writing and fails
  // each write: better refused here.
  if (writing && readOnly != 0) {
    Refuse(opening, EROFS);
    return false;
  }
  return true;
}

// One attempt at opening `path`; the descriptor, or -1 with the refusal.
int OpenOnce(const char* path, bool reading, RawDriveOpening& opening) {
  const int flags = (reading ? O_RDONLY : O_RDWR | O_SYNC) | O_CLOEXEC;
  int fd = OpenPath(path, flags | O_EXCL);
  if (fd < 0 && errno == EBUSY && reading) {
    opening.inUse = true;
    fd = OpenPath(path, flags);
  }
  if (fd < 0) return Refuse(opening, errno);
  if (!Measure(fd, !reading, opening)) {
    close(fd);
    return -1;
  }
  // Share mode 0 on the NT path: while one RawDrive holds a disk, no other
  // open of it succeeds. A reader shares it with other readers.
  if (flock(fd, (reading ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    if (!reading) {
      const int error = errno;
      close(fd);
      return Refuse(opening, error);
    }
    opening.inUse = true;
  }
  return fd;
}

}  // namespace

void SetRawDriveReadOnly(bool readOnly) { readOnlyOpens = readOnly; }

RawDriveOpening LastRawDriveOpening() { return lastOpening; }

void SetRawDriveTable(const char* const* paths, int count) {
  DriveTable& table = Table();
  if (paths == nullptr || count <= 0) {
    LoadDefaultTable(table);
    return;
  }
  table.count = std::min(count, kMaxDrives);
  for (int i = 0; i < table.count; ++i) CopyPath(table.paths[i], paths[i] ? paths[i] : "");
  table.loaded = true;
}

void SetRawDriveBackend(int number, const RawDriveBackend* backend) {
  if (number < 0 || number >= kMaxDrives) return;
  Table().backends[number] = backend;
}

int32_t RawDrive::OpenDevice() {
  backend = nullptr;
  RawDriveOpening& opening = lastOpening;
  opening = {RawDriveRefusal::kNone, 0, false, false, kSectorSize, 0};
  if (driveNumber >= 0 && driveNumber < kMaxDrives && Table().backends[driveNumber] != nullptr) {
    const RawDriveBackend* served = Table().backends[driveNumber];
    if (served->open(served->context) != 1) {
      Refuse(opening, EBUSY);
      openRefusal = opening.refusal;
      openError = static_cast<uint32_t>(opening.error);
      return -1;
    }
    backend = served;
    return 1;
  }
  const char* path = DrivePath(driveNumber);
  if (path == nullptr || path[0] == '\0') {
    Refuse(opening, ENOENT);
    openRefusal = opening.refusal;
    openError = static_cast<uint32_t>(opening.error);
    return -1;
  }
  const bool reading = readOnlyOpens;
  for (int tries = 1;; ++tries) {
    const int fd = OpenOnce(path, reading, opening);
    if (fd >= 0) {
      handle = fd;
      return 1;
    }
    const bool claimed =
        opening.error == EBUSY || (opening.blockDevice && opening.error == EWOULDBLOCK);
    if (reading || !claimed || tries == kBusyTries) {
      openRefusal = opening.refusal;
      openError = static_cast<uint32_t>(opening.error);
      return -1;
    }
    const timespec pause = {0, kBusyPauseNs};
    nanosleep(&pause, nullptr);
    opening = {RawDriveRefusal::kNone, 0, false, false, kSectorSize, 0};
  }
}

int32_t RawDrive::ReadDevice(void* aligned, uint32_t offset, uint32_t length) {
  if (!Reachable(offset)) return kTransferSeekFailed;
  if (backend != nullptr) return backend->read(backend->context, aligned, offset, length);
  ssize_t got;
  do {
    got = pread(static_cast<int>(handle), aligned, length, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got < 0 ? kTransferFailed : static_cast<int32_t>(got);
}

int32_t RawDrive::WriteDevice(const void* aligned, uint32_t offset, uint32_t length) {
  if (!Reachable(offset)) return kTransferSeekFailed;
  if (backend != nullptr) return backend->write(backend->context, aligned, offset, length);
  ssize_t put;
  do {
    put = pwrite(static_cast<int>(handle), aligned, length, static_cast<off_t>(offset));
  } while (put < 0 && errno == EINTR);
  return put < 0 ? kTransferFailed : static_cast<int32_t>(put);
}

int32_t RawDrive::FlushDevice() {
  if (backend != nullptr) return backend->flush != nullptr ? backend->flush(backend->context) : 1;
  int done;
  do {
    done = fdatasync(static_cast<int>(handle));
  } while (done != 0 && errno == EINTR);
  return done == 0 ? 1 : kTransferFailed;
}

int32_t RawDrive::CanWrite() const { return 1; }

void RawDrive::CloseDevice() {
  if (backend != nullptr) {
    backend->close(backend->context);
    backend = nullptr;
    return;
  }
  close(static_cast<int>(handle));
}
