#include "tests/e2e/ImportFaults.h"

// After windows.h, which it needs.
#include <winioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "tests/support/ImportPatch.h"

namespace {

std::atomic<int> writesToFailure{0};
std::atomic<DWORD> writeError{ERROR_CRC};
std::atomic<bool> writesFailOnward{false};
std::atomic<DWORD> driveOpenError{0};
std::atomic<DWORD> geometrySectorBytes{0};

BOOL WINAPI WriteFileThatFails(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                               LPOVERLAPPED overlapped) {
  const int left = writesToFailure.load();
  const bool fails = left == 1 || (left == 0 && writesFailOnward);
  if (left > 0) writesToFailure = left - 1;
  if (fails) {
    if (written != nullptr) *written = 0;
    SetLastError(writeError);
    return FALSE;
  }
  return WriteFile(file, buffer, size, written, overlapped);
}

bool IsPhysicalDrive(LPCSTR name) {
  return name != nullptr && _strnicmp(name, "\\\\.\\PHYSICALDRIVE", 17) == 0;
}

HANDLE WINAPI CreateFileThatRefusesDrives(LPCSTR name, DWORD access, DWORD share,
                                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                          DWORD flags, HANDLE model) {
  const DWORD error = driveOpenError;
  if (error != 0 && IsPhysicalDrive(name)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(name, access, share, security, disposition, flags, model);
}

BOOL WINAPI DeviceIoControlWithGeometry(HANDLE device, DWORD code, LPVOID in, DWORD inSize,
                                        LPVOID out, DWORD outSize, LPDWORD returned,
                                        LPOVERLAPPED overlapped) {
  const DWORD sector = geometrySectorBytes;
  if (sector != 0 && code == IOCTL_DISK_GET_DRIVE_GEOMETRY && out != nullptr &&
      outSize >= sizeof(DISK_GEOMETRY)) {
    DISK_GEOMETRY& geometry = *static_cast<DISK_GEOMETRY*>(out);
    geometry = {};
    geometry.MediaType = FixedMedia;
    geometry.Cylinders.QuadPart = 1000;
    geometry.TracksPerCylinder = 255;
    geometry.SectorsPerTrack = 63;
    geometry.BytesPerSector = sector;
    if (returned != nullptr) *returned = sizeof(DISK_GEOMETRY);
    return TRUE;
  }
  return DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

// Points the library's import of KERNEL32's `name` at `replacement`.
bool PatchLibraryImport(const char* name, void* replacement) {
  return PatchKernel32Import(GetModuleHandleA("zephlardll.dll"), name, replacement) != nullptr;
}

}  // namespace

void ResetLibraryFaults() {
  writesToFailure = 0;
  writesFailOnward = false;
  driveOpenError = 0;
  geometrySectorBytes = 0;
}

void FailLibraryWrite(int nth, DWORD error, bool onward) {
  writeError = error;
  writesFailOnward = onward;
  writesToFailure = nth;
  EXPECT_TRUE(PatchLibraryImport("WriteFile", reinterpret_cast<void*>(WriteFileThatFails)))
      << "the library imports no WriteFile";
}

void FailLibraryDriveOpens(DWORD error) {
  driveOpenError = error;
  EXPECT_TRUE(
      PatchLibraryImport("CreateFileA", reinterpret_cast<void*>(CreateFileThatRefusesDrives)))
      << "the library imports no CreateFileA";
}

void AnswerLibraryGeometry(DWORD bytesPerSector) {
  geometrySectorBytes = bytesPerSector;
  EXPECT_TRUE(
      PatchLibraryImport("DeviceIoControl", reinterpret_cast<void*>(DeviceIoControlWithGeometry)))
      << "the library imports no DeviceIoControl";
}
