// RawDrive's POSIX side: drive number n is entry n of a drive table, opened
// exclusively with O_DIRECT | O_SYNC (or O_SYNC alone where the file system
// refuses O_DIRECT), the counterparts of the NT path's unbuffered,
// write-through, unshared open. An entry may instead be served by a backend
// of functions, which then stands for the file and its calls.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void CopyPath(char (&dest)[kPathSize], const char* source) {
  std::snprintf(dest, sizeof dest, "%s", source);
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

}  // namespace

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
  if (driveNumber >= 0 && driveNumber < kMaxDrives && Table().backends[driveNumber] != nullptr) {
    const RawDriveBackend* served = Table().backends[driveNumber];
    if (served->open(served->context) != 1) return -1;
    backend = served;
    return 1;
  }
  const char* path = DrivePath(driveNumber);
  if (path == nullptr || path[0] == '\0') return -1;
  int fd = open(path, O_RDWR | O_DIRECT | O_SYNC | O_CLOEXEC);
  if (fd < 0 && errno == EINVAL) fd = open(path, O_RDWR | O_SYNC | O_CLOEXEC);
  if (fd < 0) return -1;
  // Share mode 0 on the NT path: while one RawDrive holds a disk, no other
  // open of it succeeds.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  handle = fd;
  return 1;
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
