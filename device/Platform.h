// The few platform services that the device side needs besides RawDrive,
// with one Win32 and one standard-library (POSIX) implementation.
#pragma once

#include <cstdint>
#include <cstdio>

// Opens the file at `path` for reading (exclusively where the platform allows
// it), checks that its size can be queried, positions at `offset` and reads up
// to `length` bytes into `buffer`. Returns 1 when every one of these calls
// succeeded, even if the read came up short; 0 otherwise. The file is closed
// before returning.
int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length);

// 1 when `first` and `second` name one and the same existing file, however
// they spell it; 0 otherwise.
int IsSameFile(const char* first, const char* second);

// Flushes `file`'s buffer and asks the system to put everything written to
// it on the medium (FlushFileBuffers, or fsync). 1 when both succeeded.
int SyncFile(std::FILE* file);

// The calling thread's last system error code (GetLastError, or errno).
uint32_t LastErrorCode();

// Milliseconds since the system started (GetTickCount, or the monotonic clock).
uint32_t TickCount();

// The operating-system platform identifier: 2 for the NT family, 1 for the
// 9x family, 0 when the query fails. The POSIX side answers kPosixPlatformId.
constexpr uint32_t kNtPlatformId = 2;
constexpr uint32_t kPosixPlatformId = 0x504F;  // "PO"; neither Windows family
uint32_t PlatformId();
