// What an update leaves in the current folder so that nothing is lost when it
// does not end well: its backups, and a record that it is under way.
//
// The files come in numbered sets. Set 1 is zaze_fw_backup.bin (the firmware
// range the update replaces), zaze_map_backup.bin (the map blocks the repair
// replaces) and zaze_update.rec (the record); set n is zaze_fw_backup-n.bin,
// zaze_map_backup-n.bin and zaze_update-n.rec. A set with a record belongs to
// an update that did not end verified: no later run writes over it, so its
// backup stays the whole copy of the firmware that was on the zAze. A set
// without one (its update ended "Updated firmware!") may be used again.
#pragma once

#include <cstdint>

class RawDrive;

constexpr int kBackupSets = 99;

struct BackupFiles {
  int set;
  char firmware[32];
  char map[32];
  char record[32];
};

// The names of set `set` (1 to kBackupSets).
BackupFiles BackupFilesOf(int set);

// The first set without a record whose firmware backup is not the file at
// `imagePath` (an earlier backup chosen to be put back), or 0 when there is
// none left.
int FreeBackupSet(const char* imagePath);

// How the zAze is recognised: block 1 and its firmware entry, in disk order,
// as they were read before the first firmware write.
struct ZazeIdentity {
  uint32_t firmwareIndex;
  unsigned char block1[512];
  unsigned char firmwareEntry[512];
};

// Reads block 1 and entry `firmwareIndex` of the open drive as they are on it.
// False when either does not read in full.
bool ReadZazeIdentity(RawDrive& drive, uint32_t firmwareIndex, ZazeIdentity& zaze);
bool SameZaze(const ZazeIdentity& a, const ZazeIdentity& b);

struct UpdateRecord {
  int set = 0;
  // Open from before the first firmware write until the zAze is known to
  // hold a whole firmware again: then it is removed (its update said
  // "Updated firmware!") or closed (the previous firmware was put back, or a
  // later update of the zAze succeeded). A closed record still keeps its set.
  bool open = true;
  ZazeIdentity zaze = {};
  uint32_t start = 0;   // the firmware backup's place on the drive, in bytes
  uint32_t length = 0;  // and its length
  uint32_t firmwareSum = 0;
  uint32_t mapBlocks = 0;  // blocks 1 to mapBlocks are in the map backup; 0: none
  uint32_t mapSum = 0;
};

// CRC-32 (the one of zip and PNG) over `length` bytes, continuing `sum`.
uint32_t Crc32(const void* bytes, uint32_t length, uint32_t sum = 0);

// Writes the record of its set and puts it on the medium. False when it could
// not be written whole.
bool SaveUpdateRecord(const UpdateRecord& record);
// Reads the record of set `set`. False when there is none, or it is cut short.
bool LoadUpdateRecord(int set, UpdateRecord& record);
// Removes the record of set `set`; its backups stay.
void RemoveUpdateRecord(int set);

// The open record whose zAze is `zaze`; false when there is none.
bool FindOpenRecord(const ZazeIdentity& zaze, UpdateRecord& record);
// The open record of an update of the zAze on drive `letter`, as it is on
// the drive now; false when there is none (or the drive cannot be read).
bool FindUnfinishedUpdate(char letter, UpdateRecord& record);
