#include "tests/e2e/ImportFaults.h"

// After windows.h, which it needs.
#include <winioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

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
  auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA("zephlardll.dll"));
  if (base == nullptr) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    if (_stricmp(reinterpret_cast<const char*>(base + library->Name), "KERNEL32.dll") != 0)
      continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD access = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                          &access)) {
        return false;
      }
      slots->u1.Function = static_cast<DWORD>(reinterpret_cast<uintptr_t>(replacement));
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, access, &access);
      return true;
    }
  }
  return false;
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
