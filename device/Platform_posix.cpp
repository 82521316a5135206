#include "device/Platform.h"

#include <errno.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/ScopedFile.h"

int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length) {
  ScopedFile file(std::fopen(path, "rb"));
  if (file.get() == nullptr) return -1;
  // The size query of the Win32 side: a stream that cannot report its end
  // (a directory, for one) is refused the same way.
  if (std::fseek(file.get(), 0, SEEK_END) != 0 || std::ftell(file.get()) < 0) return 0;
  if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) return 0;
  std::fread(buffer, 1, length, file.get());
  return std::ferror(file.get()) ? 0 : 1;
}

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

void PathForDisplay(const char* path, char* out, size_t size) {
  std::snprintf(out, size, "%s", path);
}

int IsSameFile(const char* first, const char* second) {
  struct stat a = {}, b = {};
  if (stat(first, &a) != 0 || stat(second, &b) != 0) return 0;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

int SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0) return 0;
  int done;
  do {
    done = fsync(fileno(file));
  } while (done != 0 && errno == EINTR);
  return done == 0 ? 1 : 0;
}

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

SystemError ClassifyError(uint32_t code) {
  switch (static_cast<int>(code)) {
    case EACCES:
    case EPERM:
      return SystemError::kAccessDenied;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:  // a lock another program holds
      return SystemError::kInUse;
    case EROFS:
      return SystemError::kWriteProtected;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return SystemError::kDisconnected;
    case ENOENT:
    case ENOTDIR:
      return SystemError::kNotFound;
    default:
      return SystemError::kOther;
  }
}

void ErrorWords(uint32_t code, char* out, size_t size) {
  if (size == 0) return;
  char words[256];
  // The GNU strerror_r: it answers with its own text or with `words`.
  std::snprintf(out, size, "%s", strerror_r(static_cast<int>(code), words, sizeof words));
}

uint32_t TickCount() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like GetTickCount
}

uint32_t PlatformId() { return kPosixPlatformId; }
