#include "device/Platform.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

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

namespace {

// Room for the wide form of any path the wide calls take without "\\?\".
constexpr int kWidePathSize = 1024;

// The wide name of `path` on the NT family: UTF-8, or failing that (a name
// an ANSI caller gave), the ANSI code page. False on the 9x family, whose
// calls take the ANSI name as it is.
bool WideName(const char* path, wchar_t (&wide)[kWidePathSize]) {
  if (PlatformId() != kNtPlatformId) return false;
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, kWidePathSize) > 0) {
    return true;
  }
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kWidePathSize) > 0) return true;
  wide[0] = L'\0';
  return true;
}

HANDLE OpenShared(const char* path, DWORD access, DWORD share) {
  wchar_t wide[kWidePathSize];
  if (WideName(path, wide)) {
    return CreateFileW(wide, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length) {
  ScopedHandle file(OpenShared(path, GENERIC_READ, FILE_SHARE_READ));
  if (!file.valid()) return -1;
  if (GetFileSize(file.get(), nullptr) == INVALID_FILE_SIZE) return 0;
  if (SetFilePointer(file.get(), static_cast<LONG>(offset), nullptr, FILE_BEGIN) != offset) {
    return 0;
  }
  DWORD count = 0;
  if (!ReadFile(file.get(), buffer, length, &count, nullptr)) return 0;
  return 1;
}

std::FILE* OpenForReading(const char* path) {
  wchar_t wide[kWidePathSize];
  // The runtime's open lets other programs read and write the file too.
  return WideName(path, wide) ? _wfopen(wide, L"rb") : std::fopen(path, "rb");
}

void PathForDisplay(const char* path, char* out, size_t size) {
  wchar_t wide[kWidePathSize];
  if (size == 0) return;
  if (!WideName(path, wide) ||
      WideCharToMultiByte(CP_ACP, 0, wide, -1, out, static_cast<int>(size), "?", nullptr) == 0) {
    std::snprintf(out, size, "%s", path);
  }
  out[size - 1] = '\0';
}

namespace {

// The volume and index that tell a file apart from every other, without
// taking any access to it.
bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
  ScopedHandle file(OpenShared(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
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

SystemError ClassifyError(uint32_t code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return SystemError::kAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return SystemError::kInUse;
    case ERROR_WRITE_PROTECT:
      return SystemError::kWriteProtected;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
      return SystemError::kDisconnected;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return SystemError::kNotFound;
    default:
      return SystemError::kOther;
  }
}

void ErrorWords(uint32_t code, char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, out, static_cast<DWORD>(size), nullptr);
  out[length < size ? length : size - 1] = '\0';
  // The system ends its text with a line break; the log takes one line.
  for (char* at = out; *at != '\0'; ++at) {
    if (*at == '\r' || *at == '\n') *at = ' ';
  }
  for (size_t end = std::strlen(out); end > 0 && out[end - 1] == ' '; --end) out[end - 1] = '\0';
}

uint32_t TickCount() { return GetTickCount(); }

uint32_t PlatformId() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148
  GetVersionExA(&info);                    // a failed query leaves 0, the 9x path
  return info.dwPlatformId;
}
