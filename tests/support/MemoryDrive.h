// A drive held in memory and served to RawDrive through a backend: it can
// fail one chosen transfer, holds its open exclusively as the real drives do,
// and counts what it is asked. Shared by the fault-injection tests and the
// disk fuzz target, so it keeps to the standard library.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device/RawDrive.h"

enum class DriveFault {
  kNone,
  kError,        // the transfer fails: kTransferFailed, nothing moved
  kShortCount,   // half the bytes are moved and counted
  kSeekFailure,  // positioning fails: kTransferSeekFailed, nothing moved
  kUnreadable,   // as kError; a write leaves its sectors unreadable until written again
};

inline const char* DriveFaultName(DriveFault fault) {
  switch (fault) {
    case DriveFault::kNone:
      return "none";
    case DriveFault::kError:
      return "transfer error (-3)";
    case DriveFault::kShortCount:
      return "short count";
    case DriveFault::kSeekFailure:
      return "positioning failure (-2)";
    case DriveFault::kUnreadable:
      return "error, unreadable until rewritten";
  }
  return "?";
}

// One transfer as the drive saw it; sessions count opens from 1.
struct DriveTransfer {
  bool write;
  uint32_t offset;
  uint32_t length;
  int session;
  bool flush = false;  // a flush, counted among the transfers (offset and length 0)
};

class MemoryDrive {
 public:
  explicit MemoryDrive(std::string bytes = std::string()) : bytes_(std::move(bytes)) {
    backend_.context = this;
    backend_.open = &MemoryDrive::OpenCall;
    backend_.read = &MemoryDrive::ReadCall;
    backend_.write = &MemoryDrive::WriteCall;
    backend_.close = &MemoryDrive::CloseCall;
    backend_.flush = &MemoryDrive::FlushCall;
  }
  MemoryDrive(const MemoryDrive&) = delete;
  MemoryDrive& operator=(const MemoryDrive&) = delete;

  // Forgets the counts, the log and the fault, keeping the bytes (and the
  // memory they take, so that a fuzz target can reuse one drive).
  void Reset() {
    failAt_ = 0;
    fault_ = DriveFault::kNone;
    alsoAt_ = 0;
    alsoFault_ = DriveFault::kNone;
    open_ = false;
    opens_ = closes_ = 0;
    transfers_ = 0;
    faultedSession_ = 0;
    faultedWrite_ = false;
    log_.clear();
    unreadable_.clear();
  }

  // Serves RawDrive's drive `number` until Detach.
  void Attach(int number) { SetRawDriveBackend(number, &backend_); }
  static void Detach(int number) { SetRawDriveBackend(number, nullptr); }

  // Transfer `number` (counted from 1 over every session) fails as `fault`;
  // 0 fails none.
  void FailTransfer(uint32_t number, DriveFault fault) {
    failAt_ = number;
    fault_ = fault;
  }
  // A second transfer that fails too, after the first chosen one (a restore
  // that meets a fault of its own); Faulted() and the rest tell of the first.
  void AlsoFailTransfer(uint32_t number, DriveFault fault) {
    alsoAt_ = number;
    alsoFault_ = fault;
  }
  // Called when the chosen transfer fails, before the failure is returned.
  void OnFault(void (*hook)(void* context), void* context) {
    faultHook_ = hook;
    faultHookContext_ = context;
  }
  // Keeps a list of the transfers (off by default: the fuzz target runs fast
  // without it).
  void RecordTransfers(bool on) { recording_ = on; }

  std::string& Bytes() { return bytes_; }
  const std::string& Bytes() const { return bytes_; }
  uint32_t Transfers() const { return transfers_; }
  int Opens() const { return opens_; }
  int Closes() const { return closes_; }
  bool IsOpen() const { return open_; }
  // Whether the chosen transfer was reached, and in which session and
  // direction it was.
  bool Faulted() const { return faultedSession_ > 0; }
  int FaultedSession() const { return faultedSession_; }
  bool FaultedWrite() const { return faultedWrite_; }
  const std::vector<DriveTransfer>& Log() const { return log_; }

 private:
  static MemoryDrive& Self(void* context) { return *static_cast<MemoryDrive*>(context); }

  static int32_t OpenCall(void* context) {
    MemoryDrive& drive = Self(context);
    if (drive.open_) return -1;  // held: the open is exclusive
    drive.open_ = true;
    ++drive.opens_;
    return 1;
  }

  static void CloseCall(void* context) {
    MemoryDrive& drive = Self(context);
    drive.open_ = false;
    ++drive.closes_;
  }

  // The fault chosen for this transfer, if it is the one to fail.
  // A failed call leaves EIO as the system's error code, as a device's does.
  DriveFault Next(bool write, uint32_t offset, uint32_t length, bool flush = false) {
    ++transfers_;
    if (recording_) log_.push_back({write, offset, length, opens_, flush});
    if (transfers_ == alsoAt_) {
      if (alsoFault_ != DriveFault::kNone) errno = EIO;
      return alsoFault_;
    }
    if (transfers_ != failAt_ || fault_ == DriveFault::kNone) return DriveFault::kNone;
    faultedSession_ = opens_;
    faultedWrite_ = write;
    errno = EIO;
    if (faultHook_ != nullptr) faultHook_(faultHookContext_);
    return fault_;
  }

  // Bytes of [offset, offset + length) that lie on the drive.
  uint32_t Available(uint32_t offset, uint32_t length) const {
    if (offset >= bytes_.size()) return 0;
    const size_t room = bytes_.size() - offset;
    return length < room ? length : static_cast<uint32_t>(room);
  }

  bool Unreadable(uint32_t offset, uint32_t length) const {
    const auto first = unreadable_.lower_bound(offset / 512);
    return first != unreadable_.end() && *first < (offset + length + 511) / 512;
  }

  static int32_t ReadCall(void* context, void* buffer, uint32_t offset, uint32_t length) {
    MemoryDrive& drive = Self(context);
    uint32_t count = drive.Available(offset, length);  // past the end reads nothing
    const DriveFault fault = drive.Next(false, offset, length);
    if (drive.Unreadable(offset, length)) return kTransferFailed;
    switch (fault) {
      case DriveFault::kError:
      case DriveFault::kUnreadable:
        return kTransferFailed;
      case DriveFault::kSeekFailure:
        return kTransferSeekFailed;
      case DriveFault::kShortCount:
        count = count / 2;
        break;
      case DriveFault::kNone:
        break;
    }
    if (count > 0) std::memcpy(buffer, &drive.bytes_[offset], count);
    return static_cast<int32_t>(count);
  }

  // Whatever the fault, a flush that meets it fails: the device did not
  // confirm that what it took is on the medium.
  static int32_t FlushCall(void* context) {
    return Self(context).Next(true, 0, 0, true) == DriveFault::kNone ? 1 : kTransferFailed;
  }

  static int32_t WriteCall(void* context, const void* buffer, uint32_t offset, uint32_t length) {
    MemoryDrive& drive = Self(context);
    const uint32_t room = drive.Available(offset, length);
    const DriveFault fault = drive.Next(true, offset, length);
    if (fault == DriveFault::kError) return kTransferFailed;
    if (fault == DriveFault::kUnreadable) {
      for (uint32_t sector = offset / 512; sector < (offset + length) / 512; ++sector) {
        drive.unreadable_.insert(sector);
      }
      return kTransferFailed;
    }
    if (fault == DriveFault::kSeekFailure) return kTransferSeekFailed;
    // A device does not grow: a write that starts past its end fails.
    if (room == 0 && length > 0) return kTransferFailed;
    const uint32_t count = fault == DriveFault::kShortCount ? room / 2 : room;
    std::memcpy(&drive.bytes_[offset], buffer, count);
    for (uint32_t sector = offset / 512; sector < (offset + count) / 512; ++sector) {
      drive.unreadable_.erase(sector);
    }
    return static_cast<int32_t>(count);
  }

  std::string bytes_;
  RawDriveBackend backend_;
  uint32_t failAt_ = 0;
  DriveFault fault_ = DriveFault::kNone;
  uint32_t alsoAt_ = 0;
  DriveFault alsoFault_ = DriveFault::kNone;
  bool recording_ = false;
  bool open_ = false;
  int opens_ = 0;
  int closes_ = 0;
  uint32_t transfers_ = 0;
  int faultedSession_ = 0;
  bool faultedWrite_ = false;
  std::vector<DriveTransfer> log_;
  std::set<uint32_t> unreadable_;  // sectors a failed write left unreadable
  void (*faultHook_)(void*) = nullptr;
  void* faultHookContext_ = nullptr;
};
