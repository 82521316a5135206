// RawDrive's Windows side. The NT path reads and writes the physical disk
// device like a file, unbuffered and write-through; the 9x path asks vwin32
// for the extended absolute disk read (Int 21h function 7305h) and refuses
// every write.
#include <windows.h>
// After windows.h, which it needs.
#include <winioctl.h>

#include <cstdio>

#include "device/Platform.h"
#include "device/RawDrive.h"

namespace {

constexpr DWORD kVwin32DosDriveInfo = 6;  // VWIN32_DIOC_DOS_DRIVEINFO
constexpr DWORD kCarryFlag = 1;

#pragma pack(push, 1)
// The published layouts of the Windows 9x interface.
struct DISKIO {
  DWORD dwStartSector;
  WORD wSectors;
  DWORD dwBuffer;
};
struct DIOC_REGISTERS {
  DWORD reg_EBX;
  DWORD reg_EDX;
  DWORD reg_ECX;
  DWORD reg_EAX;
  DWORD reg_EDI;
  DWORD reg_ESI;
  DWORD reg_Flags;
};
#pragma pack(pop)
static_assert(sizeof(DIOC_REGISTERS) == 28, "28 bytes each way");

HANDLE AsHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

RawDriveRefusal RefusalOf(DWORD error) {
  switch (ClassifyError(error)) {
    case SystemError::kAccessDenied:
      return RawDriveRefusal::kPermission;
    case SystemError::kInUse:
      return RawDriveRefusal::kInUse;
    case SystemError::kNotFound:
    case SystemError::kDisconnected:
      return RawDriveRefusal::kNotFound;
    case SystemError::kWriteProtected:
      return RawDriveRefusal::kReadOnly;
    case SystemError::kOther:
      break;
  }
  return RawDriveRefusal::kOther;
}

}  // namespace

int32_t RawDrive::OpenDevice() {
  HANDLE device;
  if (platformId == kNtPlatformId) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\PHYSICALDRIVE%d", static_cast<int>(driveNumber));
    device = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  } else {
    driveNumber += 1;  // DOS numbering: A is 1
    // The handle is not tied to a drive; every request names driveNumber.
    device = CreateFileA("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  if (device == INVALID_HANDLE_VALUE) {
    openError = GetLastError();
    openRefusal = RefusalOf(openError);
    return -1;
  }
  // A disk of 4096-byte sectors fails every 512-byte transfer; it is told
  // as such instead. A device that gives no geometry is taken as it is.
  DISK_GEOMETRY geometry = {};
  DWORD returned = 0;
  if (platformId == kNtPlatformId &&
      DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry,
                      &returned, nullptr) &&
      returned >= sizeof geometry && geometry.BytesPerSector != kSectorSize) {
    CloseHandle(device);
    openRefusal = RawDriveRefusal::kWrongSectorSize;
    return -1;
  }
  handle = reinterpret_cast<intptr_t>(device);
  return 1;
}

int32_t RawDrive::ReadDevice(void* aligned, uint32_t offset, uint32_t length) {
  if (platformId == kNtPlatformId) {
    if (SetFilePointer(AsHandle(handle), static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
        offset) {
      return kTransferSeekFailed;
    }
    DWORD count = 0;
    if (ReadFile(AsHandle(handle), aligned, length, &count, nullptr) != TRUE) {
      return kTransferFailed;
    }
    return static_cast<int32_t>(count);
  }
  // DISKIO counts sectors in 16 bits: a longer read cannot be asked for in
  // one request, and cut short it would come back as a full one.
  if (length / kSectorSize > 0xFFFF) return kTransferFailed;
  DISKIO io = {};
  io.dwStartSector = offset / kSectorSize;
  io.wSectors = static_cast<WORD>(length / kSectorSize);
  io.dwBuffer = static_cast<DWORD>(reinterpret_cast<uintptr_t>(aligned));
  DIOC_REGISTERS regs = {};
  regs.reg_EBX = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&io));
  regs.reg_EDX = static_cast<DWORD>(driveNumber);
  regs.reg_ECX = 0xFFFF;  // take a DISKIO block
  regs.reg_EAX = 0x7305;
  regs.reg_ESI = 0;             // bit 0 clear: read
  regs.reg_Flags = kCarryFlag;  // a carry still set on return is a failure
  DWORD returned = 0;
  if (!DeviceIoControl(AsHandle(handle), kVwin32DosDriveInfo, &regs, sizeof regs, &regs,
                       sizeof regs, &returned, nullptr) ||
      (regs.reg_Flags & kCarryFlag) != 0) {
    return kTransferFailed;
  }
  return static_cast<int32_t>(length);
}

int32_t RawDrive::WriteDevice(const void* aligned, uint32_t offset, uint32_t length) {
  if (platformId != kNtPlatformId) {
    state = kDriveIdle;  // nothing is written on the 9x path
    return kTransferFailed;
  }
  if (SetFilePointer(AsHandle(handle), static_cast<LONG>(offset), nullptr, FILE_BEGIN) != offset) {
    return kTransferSeekFailed;
  }
  DWORD count = 0;
  if (WriteFile(AsHandle(handle), aligned, length, &count, nullptr) != TRUE) {
    return kTransferFailed;
  }
  return static_cast<int32_t>(count);
}

int32_t RawDrive::FlushDevice() {
  if (platformId != kNtPlatformId) return 1;  // the 9x path has written nothing
  return FlushFileBuffers(AsHandle(handle)) ? 1 : kTransferFailed;
}

int32_t RawDrive::CanWrite() const { return platformId == kNtPlatformId ? 1 : 0; }

void RawDrive::CloseDevice() { CloseHandle(AsHandle(handle)); }

void SetRawDriveTable(const char* const*, int) {}  // Windows names its drives itself
