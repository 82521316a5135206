// Whether a disk may be used, and if not why, in words: the command line's
// reading of what RawDrive found when it opened the disk.
#pragma once

#include <cstddef>

struct RawDriveOpening;

// Where the disk at `device`, or a partition of it, is mounted; false when
// it is mounted nowhere.
bool FindMount(const char* device, char* where, size_t size);

// Why `opening` makes the disk at `device` unusable for an update, in a few
// words ("in use: a partition is mounted on /media/x"); an empty text when
// it does not.
void DescribeRefusal(const char* device, const RawDriveOpening& opening, char* text, size_t size);

// Tells on standard error why `opening` makes the disk at `device` unusable;
// false when it does not, and nothing is told.
bool TellRefusal(const char* device, const RawDriveOpening& opening);

// Opens the disk at `device` as drive A for reading, to learn whether an
// update may use it: true when it may; otherwise tells why.
bool DeviceUsable(const char* device);
