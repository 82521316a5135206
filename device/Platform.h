// The few platform services that the device side needs besides RawDrive,
// with one Win32 and one standard-library implementation.
#pragma once

#include <cstdint>

// Opens the file at `path` for reading (exclusively where the platform allows
// it), checks that its size can be queried, positions at `offset` and reads up
// to `length` bytes into `buffer`. Returns 1 when every one of these calls
// succeeded, even if the read came up short; 0 otherwise. The file is closed
// before returning.
int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length);
