// The list command: one line for each disk, saying what it is.
#pragma once

// Lists the disks at `paths`, or with `count` 0 every whole disk the system
// has (loop devices included): path, size, model, and whether it is a zAze,
// another Apple-partitioned disk or nothing an update can use, marked when
// it is in use. Opens each for reading alone. Returns the exit status.
int ListDevices(int count, const char* const* paths);
