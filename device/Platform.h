// The few platform services that the device side needs besides RawDrive,
// with one Win32 and one standard-library (POSIX) implementation.
//
// The paths of the user's files are, on the Windows NT family, UTF-8 text
// handed to the system's wide calls, so that a folder whose name the ANSI
// code page cannot hold (a Cyrillic one on a Western Windows) still names
// its file; on the 9x family they are in the ANSI code page, as its file
// dialog gives them. Our own files have plain ASCII names and work either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Opens the file at `path` for reading, alongside other programs that read
// it (a browser finishing a download, a virus scanner), checks that its size
// can be queried, positions at `offset` and reads up to `length` bytes into
// `buffer`. Returns 1 when every one of these calls succeeded, even if the
// read came up short; 0 when the file is there but a later call failed; -1
// when it cannot be opened at all (LastErrorCode tells why). The file is
// closed before returning.
int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length);

// The user's file at `path` as a binary stream for reading, alongside other
// readers; null when it cannot be opened.
std::FILE* OpenForReading(const char* path);

// `path` as the user reads it in the status log: in the ANSI code page
// (each character it lacks as '?') on Windows, as it is elsewhere; cut to
// fit `size` bytes.
void PathForDisplay(const char* path, char* out, size_t size);

// 1 when `first` and `second` name one and the same existing file, however
// they spell it; 0 otherwise.
int IsSameFile(const char* first, const char* second);

// Flushes `file`'s buffer and asks the system to put everything written to
// it on the medium (FlushFileBuffers, or fsync). 1 when both succeeded.
int SyncFile(std::FILE* file);

// The calling thread's last system error code (GetLastError, or errno).
uint32_t LastErrorCode();

// What an error code means for the user.
enum class SystemError {
  kOther,
  kAccessDenied,    // needs administrator rights (root)
  kInUse,           // another program holds the disk or file
  kWriteProtected,  // the disk takes no writes
  kDisconnected,    // the device is gone, or not ready
  kNotFound,        // no such device or file
};
SystemError ClassifyError(uint32_t code);

// The system's own words for error `code` ("Access is denied."), on one line,
// cut to fit `size` bytes; a code it has no words for gives "".
void ErrorWords(uint32_t code, char* out, size_t size);

// Milliseconds since the system started (GetTickCount, or the monotonic clock).
uint32_t TickCount();

// The operating-system platform identifier: 2 for the NT family, 1 for the
// 9x family, 0 when the query fails. The POSIX side answers kPosixPlatformId.
constexpr uint32_t kNtPlatformId = 2;
constexpr uint32_t kPosixPlatformId = 0x504F;  // "PO"; neither Windows family
uint32_t PlatformId();
