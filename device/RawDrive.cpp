// The platform-neutral half of RawDrive: states, the sector tests, and the
// aligned bounce buffer. The device calls are in RawDrive_win32.cpp and
// RawDrive_posix.cpp.
#include "device/RawDrive.h"

#include <cstdlib>
#include <cstring>

#include "device/Platform.h"

namespace {

bool IsAligned(const void* buffer) {
  return reinterpret_cast<uintptr_t>(buffer) % kBounceAlignment == 0;
}

}  // namespace

RawDrive::RawDrive()
    : letter(0),
      driveNumber(0),
      state(kDriveUnopened),
      platformId(PlatformId()),
      sectorSize(kSectorSize),
      handle(0) {}

RawDrive::~RawDrive() {
  Close();
  std::free(bounceBlock);
}

int32_t RawDrive::Open(char driveLetter) {
  if (state > kDriveClosed) return state;  // a handle is held: keep it
  letter = driveLetter;
  driveNumber = driveLetter - 'A';
  state = kDriveUnopened;
  openRefusal = RawDriveRefusal::kNone;
  openError = 0;
  if (OpenDevice() != 1) {
    if (openRefusal == RawDriveRefusal::kNone) openRefusal = RawDriveRefusal::kOther;
    return -1;
  }
  state = kDriveIdle;
  return 1;
}

int32_t RawDrive::Close() {
  if (state > kDriveClosed) CloseDevice();
  state = kDriveClosed;
  return 0;
}

int32_t RawDrive::Read(void* buffer, uint32_t offset, uint32_t length) {
  if (state != kDriveIdle) return kTransferNotIdle;
  if (length % sectorSize != 0 || offset % sectorSize != 0) return kTransferMisaligned;
  state = kDriveReading;
  void* target = IsAligned(buffer) ? buffer : Bounce(length);
  if (target == nullptr) return kTransferFailed;
  const int32_t result = ReadDevice(target, offset, length);
  if (result < 0) return result;
  if (target != buffer && result > 0) std::memcpy(buffer, target, static_cast<size_t>(result));
  state = kDriveIdle;
  return result;
}

int32_t RawDrive::Write(const void* buffer, uint32_t offset, uint32_t length) {
  if (state != kDriveIdle) return kTransferNotIdle;
  if (length % sectorSize != 0 || offset % sectorSize != 0) return kTransferMisaligned;
  state = kDriveWriting;
  const void* source = buffer;
  if (!IsAligned(buffer)) {
    void* bounce = Bounce(length);
    if (bounce == nullptr) return kTransferFailed;
    if (length > 0) std::memcpy(bounce, buffer, length);
    source = bounce;
  }
  const int32_t result = WriteDevice(source, offset, length);
  if (result < 0) return result;
  state = kDriveIdle;
  return result;
}

int32_t RawDrive::Flush() {
  if (state != kDriveIdle) return kTransferNotIdle;
  state = kDriveWriting;
  const int32_t result = FlushDevice();
  if (result != 1) return kTransferFailed;
  state = kDriveIdle;
  return 1;
}

void* RawDrive::Bounce(uint32_t length) {
  if (length <= bounceSize && bounceAligned != nullptr) return bounceAligned;
  std::free(bounceBlock);
  bounceBlock = bounceAligned = nullptr;
  bounceSize = 0;
  const size_t want = static_cast<size_t>(length > 0 ? length : kSectorSize);
  void* block = std::malloc(want + kBounceAlignment - 1);
  if (block == nullptr) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t aligned = (start + kBounceAlignment - 1) / kBounceAlignment * kBounceAlignment;
  bounceBlock = block;
  bounceAligned = reinterpret_cast<void*>(aligned);
  bounceSize = static_cast<uint32_t>(want);
  return bounceAligned;
}

uint32_t TransferError(int32_t moved) { return moved < 0 ? LastErrorCode() : 0; }
