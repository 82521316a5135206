// Whole-sector access to a drive chosen by a letter: the one door through
// which the device side touches a disk.
//
// The letter is a label: its distance from 'A' picks the drive number. On
// Windows the NT path opens \\.\PHYSICALDRIVE<n> unbuffered and write-through;
// the 9x path asks \\.\vwin32 for Int 21h function 7305h and only reads. The
// POSIX path opens entry n of a drive table (by default the system's whole
// disks) with O_DIRECT | O_SYNC where the file system allows it, or hands
// the device calls of that entry to a backend of functions.
//
// Callers hand over ordinary memory; RawDrive meets the platform's alignment
// itself through a bounce buffer aligned to 4096 bytes.
#pragma once

#include <cstdint>

// States.
constexpr int32_t kDriveUnopened = -1;  // never opened, or the last Open failed
constexpr int32_t kDriveClosed = 0;
constexpr int32_t kDriveIdle = 1;     // open; Read and Write are accepted only here
constexpr int32_t kDriveReading = 2;  // a Read is under way, or failed
constexpr int32_t kDriveWriting = 3;  // a Write is under way, or failed

// Transfer results other than a byte count.
constexpr int32_t kTransferNotIdle = 0;
constexpr int32_t kTransferMisaligned = -1;  // length or offset not a multiple of 512
constexpr int32_t kTransferSeekFailed = -2;  // positioning failed
constexpr int32_t kTransferFailed = -3;      // the transfer itself failed

// The system's error code for a transfer that came back with `moved` short
// of what was asked: the failed call's code, or 0 for a short count, which
// leaves the last code of some earlier call behind.
uint32_t TransferError(int32_t moved);

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kBounceAlignment = 4096;

// POSIX only: the device calls of one drive-table entry, for drives that are
// not files (a disk held in memory, a disk that fails on purpose). RawDrive's
// states, sector tests and bounce buffer stay in front of them; each call is
// given `context` and answers as the device calls do: `open` 1 or -1; `read`
// and `write` the bytes moved, kTransferSeekFailed or kTransferFailed. Only
// offsets below 2^31 reach them, as on the NT path. A backend must outlive
// every drive opened through it.
struct RawDriveBackend {
  void* context;
  int32_t (*open)(void* context);
  int32_t (*read)(void* context, void* buffer, uint32_t offset, uint32_t length);
  int32_t (*write)(void* context, const void* buffer, uint32_t offset, uint32_t length);
  void (*close)(void* context);
  // 1 when everything written has reached the medium, kTransferFailed when
  // not; null for a device without a cache of its own.
  int32_t (*flush)(void* context) = nullptr;
};

// Why an Open did not succeed.
enum class RawDriveRefusal {
  kNone,             // it opened
  kNotFound,         // no such device or file (or a path too long for the table)
  kPermission,       // the system does not allow it (not root)
  kReadOnly,         // the device takes no writes
  kInUse,            // a partition of it is mounted, or another program holds it
  kWrongSectorSize,  // its logical sectors are not 512 bytes long
  kOther,            // `error` tells
};

class RawDrive {
 public:
  RawDrive();
  ~RawDrive();  // runs Close
  RawDrive(const RawDrive&) = delete;
  RawDrive& operator=(const RawDrive&) = delete;

  // 1 on success; -1 when the device cannot be opened; the current state
  // (1, 2 or 3) when a handle is already held, which is then kept.
  int32_t Open(char driveLetter);
  // Always 0.
  int32_t Close();
  // Bytes moved (> 0), or one of the kTransfer results.
  int32_t Read(void* buffer, uint32_t offset, uint32_t length);
  int32_t Write(const void* buffer, uint32_t offset, uint32_t length);
  // Makes the device commit what it has taken into its own cache: write-
  // through opening does not oblige every device to. 1 on success,
  // kTransferNotIdle, or kTransferFailed (the drive then stays failed).
  int32_t Flush();
  // 1 when this platform's path can write to a drive at all, 0 when every
  // write is refused (the 9x path). Needs no open drive.
  int32_t CanWrite() const;
  int32_t State() const { return state; }
  // Why the last Open returned -1; kNone after one that succeeded.
  RawDriveRefusal OpenRefusal() const { return openRefusal; }
  // And the system's error code of that refusal; 0 when there was none.
  uint32_t OpenError() const { return openError; }

 private:
  // Platform side: open the device for driveNumber, move bytes at an offset
  // through an aligned buffer, close. Each returns the transfer result.
  int32_t OpenDevice();
  int32_t ReadDevice(void* aligned, uint32_t offset, uint32_t length);
  int32_t WriteDevice(const void* aligned, uint32_t offset, uint32_t length);
  int32_t FlushDevice();
  void CloseDevice();
  // An aligned buffer of at least `length` bytes, kept for later transfers;
  // null when memory cannot be had.
  void* Bounce(uint32_t length);

  char letter;
  int32_t driveNumber;
  int32_t state;
  uint32_t platformId;
  uint32_t sectorSize;
  intptr_t handle;                           // HANDLE on Windows, file descriptor on POSIX
  const RawDriveBackend* backend = nullptr;  // POSIX: serves the drive while open
  RawDriveRefusal openRefusal = RawDriveRefusal::kNone;
  uint32_t openError = 0;

  void* bounceBlock = nullptr;  // as allocated
  void* bounceAligned = nullptr;
  uint32_t bounceSize = 0;
};

// POSIX only: the drive table that the drive numbers index. Tests point
// entries at image files; a null table (or count 0) restores the default, the
// system's whole disks in /sys/block order. The paths are copied.
void SetRawDriveTable(const char* const* paths, int count);

// POSIX only: serves drive `number` (0 to 63) through `backend` instead of its
// table path, whatever the table holds; nullptr gives it back to the path.
// Drives open at the time keep what they were opened with.
void SetRawDriveBackend(int number, const RawDriveBackend* backend);

// POSIX only: with `readOnly`, drives are opened for reading alone (a dry run,
// a listing), so nothing can be written through them, and a disk that another
// program holds is still opened for reading: LastRawDriveOpening says so.
void SetRawDriveReadOnly(bool readOnly);

struct RawDriveOpening {
  RawDriveRefusal refusal;
  int error;            // errno of the call that refused it; 0 when it opened
  bool blockDevice;     // a block device, not a file
  bool inUse;           // a read-only open found it held, and went on
  uint32_t sectorSize;  // logical sector size; 512 for a file
  uint64_t bytes;       // its size; 0 for a backend
};

// POSIX only: how the calling thread's last Open of a drive went.
RawDriveOpening LastRawDriveOpening();
