// The check that a file the user picked can serve as the firmware image.
#pragma once

// 1 when the 20 bytes at offset 130 of the file read exactly
// "Apple Computer, Inc.", 0 otherwise (also for any file that cannot be
// opened, sized, positioned or read). Shows and logs nothing.
int IsFirmwareFile(const char* path);

// The same check, telling a file that cannot be opened apart: 1 a firmware
// file, 0 not one, -1 the file cannot be opened (LastErrorCode tells why).
int CheckFirmwareFile(const char* path);
