// Faults made through the library's own import table, as Windows or the
// drive would make them: the library as loaded calls a stand-in for one of
// its KERNEL32 imports, which fails the calls chosen and hands the others
// on. Each lasts until the library is loaded anew (every test loads it
// afresh).
#pragma once

#include <windows.h>

// Forgets every fault chosen before: a test starts with none.
void ResetLibraryFaults();

// From now on, the `nth` call the library makes to WriteFile (its only
// writer is the drive) fails with `error`, as a device that took nothing
// would; with `onward`, so does every call after it. The calls before it go
// through.
void FailLibraryWrite(int nth, DWORD error = ERROR_CRC, bool onward = false);

// From now on, the library's opens of a physical drive fail with `error`
// (ERROR_ACCESS_DENIED without administrator rights, ERROR_SHARING_VIOLATION
// while another program holds the disk, ERROR_FILE_NOT_FOUND when it is
// gone); 0 lets them through again.
void FailLibraryDriveOpens(DWORD error);

// From now on, the library's question for a drive's geometry is answered
// with sectors of `bytesPerSector`.
void AnswerLibraryGeometry(DWORD bytesPerSector);
