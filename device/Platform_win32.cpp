#include "device/Platform.h"

#include <io.h>
#include <windows.h>

namespace {

// Closes a file handle on every way out.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length) {
  ScopedHandle file(
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return 0;
  if (GetFileSize(file.get(), nullptr) == INVALID_FILE_SIZE) return 0;
  if (SetFilePointer(file.get(), static_cast<LONG>(offset), nullptr, FILE_BEGIN) != offset) {
    return 0;
  }
  DWORD count = 0;
  if (!ReadFile(file.get(), buffer, length, &count, nullptr)) return 0;
  return 1;
}

namespace {

// The volume and index that tell a file apart from every other, without
// taking any access to it.
bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
  ScopedHandle file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid() && GetFileInformationByHandle(file.get(), &info) != 0;
}

}  // namespace

int IsSameFile(const char* first, const char* second) {
  BY_HANDLE_FILE_INFORMATION a = {}, b = {};
  if (!FileIdentity(first, a) || !FileIdentity(second, b)) return 0;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                 a.nFileIndexLow == b.nFileIndexLow
             ? 1
             : 0;
}

int SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0) return 0;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return 0;
  return FlushFileBuffers(handle) ? 1 : 0;
}

uint32_t LastErrorCode() { return GetLastError(); }

uint32_t TickCount() { return GetTickCount(); }

uint32_t PlatformId() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148
  GetVersionExA(&info);                    // a failed query leaves 0, the 9x path
  return info.dwPlatformId;
}
