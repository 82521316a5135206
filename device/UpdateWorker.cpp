// The update worker. The whole map is read before anything is written, so
// that the image can be measured against what every entry claims: the copy
// stays inside the firmware partition and never touches another partition,
// the map or block 0. Every refusal is made before the first write.
#include "device/UpdateWorker.h"

#include <cstdlib>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/FirmwareImage.h"
#include "device/MapReader.h"
#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/Repair.h"

signed char FoundDriveLetter = 0;
char FirmwarePath[260] = {};

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);
// RawDrive positions with a signed 32-bit offset, as SetFilePointer does
// without its high part: only the first 2 GB of a drive can be written.
constexpr uint64_t kReachableBytes = 0x80000000ull;
constexpr char kDumpName[] = "zaze_pm.txt";

constexpr char kBoxRepairFailed[] =
    "Error: Unable to modify the zAze's partition table!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxOpenFailed[] = "Error: Unable to open the drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxFirstReadFailed[] =
    "Error: Unable to read from the drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxNotMacDrive[] =
    "Error: Current drive isn't a Mac Drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxNoMapMemory[] =
    "Error: Not enough memory to read the zAze's partition table!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxEntryReadFailed[] = "Error: Unable to read from drive!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxImageNotOpened[] =
    "Error: Unable to open the firmware source!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kBoxCopyFailed[] =
    "Error: The firmware partition on your zAze is in an undetermined state and it may not "
    "work correctly!\n\n" ZEPHLAR_SUPPORT_LINE;

// Why an image is not written; each is told in one log line and one box.
struct Refusal {
  const char* log;
  const char* box;
};

constexpr Refusal kMapIncomplete = {
    "Firmware not written: the partition map could not be read in full.",
    "Error: Unable to read the whole partition table of your zAze!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kUnmeasurable = {
    "Firmware not written: the size of the file cannot be determined.",
    "Error: Unable to determine the size of the firmware file!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kEmptyImage = {"Firmware not written: the file is empty.",
                                 "Error: The firmware file is empty!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kPartialSector = {
    "Firmware not written: the file is not a whole number of 512-byte sectors.",
    "Error: The firmware file is not a whole number of 512-byte sectors!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kPastPartitionEnd = {
    "Firmware not written: the file does not fit the firmware partition.",
    "Error: The firmware file does not fit the firmware partition on your "
    "zAze!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kOutOfReach = {
    "Firmware not written: the firmware partition lies beyond the first 2 GB of the drive.",
    "Error: The firmware partition on your zAze lies out of reach!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kOverlap = {"Firmware not written: it would overwrite another partition.",
                              "Error: The firmware file would overwrite another partition on your "
                              "zAze!\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kCannotWrite = {
    "Firmware not written: this version of Windows cannot write to the zAze.",
    "Error: This version of Windows cannot write to your zAze. Nothing was written; update it "
    "from Windows 2000 or Windows XP.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNotFirmwareNow = {
    "Firmware not written: the file is no longer a valid firmware file.",
    "Error: The firmware file is no longer a valid firmware file! Nothing was written to your "
    "zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoFirmwareEntry = {
    "Firmware not written: no firmware partition was found on the zAze.",
    "Error: No firmware partition was found on your zAze! The firmware was not "
    "written.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr Refusal kNoChunkBuffer = {
    "Firmware not written: not enough memory.",
    "Error: Not enough memory to update the firmware!\n\n" ZEPHLAR_SUPPORT_LINE};

void Refuse(const Refusal& refusal) {
  LogStatus("%s", refusal.log);
  ShowUpdateError(refusal.box);
}

// The chunk and its read-back, each aligned so that the drive moves them
// without a bounce copy.
class CopyBuffers {
 public:
  static constexpr size_t kCheckOffset =
      (kChunkBytes + kBounceAlignment - 1) / kBounceAlignment * kBounceAlignment;

  CopyBuffers() : block_(std::malloc(kCheckOffset + kChunkBytes + kBounceAlignment - 1)) {}
  ~CopyBuffers() { std::free(block_); }
  CopyBuffers(const CopyBuffers&) = delete;
  CopyBuffers& operator=(const CopyBuffers&) = delete;

  bool valid() const { return block_ != nullptr; }
  unsigned char* chunk() const {
    const uintptr_t start = reinterpret_cast<uintptr_t>(block_);
    return reinterpret_cast<unsigned char*>((start + kBounceAlignment - 1) / kBounceAlignment *
                                            kBounceAlignment);
  }
  unsigned char* check() const { return chunk() + kCheckOffset; }

 private:
  void* block_;
};

uint32_t ChunkAt(uint32_t done, uint32_t length) {
  return length - done < kChunkBytes ? length - done : kChunkBytes;
}

bool ReadImage(std::FILE* image, unsigned char* buffer, uint32_t size) {
  return std::fread(buffer, 1, size, image) == size;
}

int32_t WriteChunks(RawDrive& drive, std::FILE* image, uint32_t length, uint32_t start,
                    unsigned char* chunk, ChunkReport report, void* context) {
  int32_t written = 0;
  // Stepping by the chunk just moved: the offsets never wrap.
  for (uint32_t done = 0, size = 0; done < length; done += size) {
    size = ChunkAt(done, length);
    if (!ReadImage(image, chunk, size)) return kCopyImageReadFailed;
    if (drive.Write(chunk, start + done, size) != static_cast<int32_t>(size)) {
      return kCopyWriteFailed;
    }
    ++written;
    if (report != nullptr) report(written, context);
  }
  return kCopyDone;
}

int32_t VerifyChunks(RawDrive& drive, std::FILE* image, uint32_t length, uint32_t start,
                     const CopyBuffers& buffers) {
  if (std::fseek(image, 0, SEEK_SET) != 0) return kCopyVerifyFailed;
  for (uint32_t done = 0, size = 0; done < length; done += size) {
    size = ChunkAt(done, length);
    if (!ReadImage(image, buffers.chunk(), size)) return kCopyVerifyFailed;
    if (drive.Read(buffers.check(), start + done, size) != static_cast<int32_t>(size) ||
        std::memcmp(buffers.chunk(), buffers.check(), size) != 0) {
      return kCopyVerifyFailed;
    }
  }
  return kCopyDone;
}

// Entries 0 to held - 1 were read and are in host order; entry `held`, if
// below count, could not be read.
struct MapView {
  const MapCopy& entries;
  uint32_t count;
  uint32_t held;
};

// Block 0, the map's own blocks, and every partition but free space and the
// firmware entry at `index`.
bool ClaimedElsewhere(const MapView& map, uint32_t index, uint64_t first, uint64_t blocks) {
  if (ExtentsOverlap(first, blocks, 0, static_cast<uint64_t>(map.count) + 1)) return true;
  for (uint32_t i = 0; i < map.count; ++i) {
    const PartitionMapEntry& other = map.entries[i];
    if (i == index || IsFreeSpace(other)) continue;
    if (ExtentsOverlap(first, blocks, other.pmPyPartStart, other.pmPartBlkCnt)) return true;
  }
  return false;
}

long MeasureImage(std::FILE* image) {
  if (std::fseek(image, 0, SEEK_END) != 0) return -1;
  return std::ftell(image);
}

const Refusal* RefusalFor(const MapView& map, uint32_t index, long length) {
  if (map.held < map.count) return &kMapIncomplete;  // what the rest claims is unknown
  if (length < 0) return &kUnmeasurable;
  if (length == 0) return &kEmptyImage;
  if (length % kBlockSize != 0) return &kPartialSector;
  const PartitionMapEntry& entry = map.entries[index];
  const uint64_t blocks = static_cast<uint64_t>(length) / kBlockSize;
  if (blocks > entry.pmPartBlkCnt) return &kPastPartitionEnd;
  if ((entry.pmPyPartStart + blocks) * kBlockSize > kReachableBytes) return &kOutOfReach;
  if (ClaimedElsewhere(map, index, entry.pmPyPartStart, blocks)) return &kOverlap;
  return nullptr;
}

void ReportToProgressBar(int32_t chunksWritten, void*) {
  if (chunksWritten == 0) {
    ProgressBarCreate();
    ProgressBarSetRange(0, kProgressChunks);
  } else {
    ProgressBarSetPos(chunksWritten);
  }
}

constexpr int32_t kImageNotOpened = -10;
constexpr int32_t kImageRefused = -11;

// The image into the partition of entry `index`: kImageNotOpened, kImageRefused
// (told to the user here), or a CopyImageToDrive result.
int32_t CopyFirmwareFile(RawDrive& drive, const MapView& map, uint32_t index) {
  char path[sizeof FirmwarePath];
  std::memcpy(path, FirmwarePath, sizeof path);
  path[sizeof path - 1] = '\0';  // the field may be full
  ScopedFile image(std::fopen(path, "rb"));
  if (image.get() == nullptr) return kImageNotOpened;
  const long length = MeasureImage(image.get());
  if (const Refusal* refusal = RefusalFor(map, index, length)) {
    Refuse(*refusal);
    return kImageRefused;
  }
  const uint32_t start = map.entries[index].pmPyPartStart * kBlockSize;
  const int32_t copied = CopyImageToDrive(drive, image.get(), static_cast<uint32_t>(length), start,
                                          true, ReportToProgressBar, nullptr);
  if (copied == kCopyNoBuffer) {
    Refuse(kNoChunkBuffer);
    return kImageRefused;
  }
  if (copied == kCopyVerifyFailed) {
    LogStatus("Firmware verification failed!");
  } else if (copied == kCopyFlushFailed) {
    LogStatus("The drive did not confirm that the firmware was written!");
  } else if (copied != kCopyDone) {
    LogStatus("Error quiting");
  }
  ProgressBarDestroy();
  return copied;
}

void LogPartitionSize(uint32_t blocks) {
  const uint64_t bytes = static_cast<uint64_t>(blocks) * kBlockSize;
  if (bytes <= 0xFFFFFFFFu) {
    LogStatus("The size of the partition is %lu bytes.", static_cast<unsigned long>(bytes));
  } else {
    LogStatus("The size of the partition is %lu blocks of 512 bytes.",
              static_cast<unsigned long>(blocks));
  }
}

// The dump file zaze_pm.txt, or none when it cannot be created. It keeps
// track of whether every line was taken, so that a dump cut short (a full
// disk) is told in the log instead of being left behind as if it were whole.
class DumpFile {
 public:
  DumpFile() : file_(std::fopen(kDumpName, "wt")) {
    if (file_ == nullptr) {
      LogStatus("Unable to open file %s for writing!", kDumpName);
    } else {
      LogStatus("Opened %s successfully, dumping partition map:", kDumpName);
    }
  }
  ~DumpFile() {
    if (file_ == nullptr) return;
    whole_ &= std::fclose(file_) == 0;  // the last lines are written here
    if (!whole_) {
      LogStatus("Unable to write file %s: the partition map in it is incomplete!", kDumpName);
    }
  }
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  void Header(uint32_t count, const PartitionMapEntry& first) {
    if (file_ == nullptr) return;
    whole_ &= DumpPartitionMapHeader(file_, static_cast<int32_t>(TickCount())) != 0;
    Section(0, count, first);
  }
  void Section(uint32_t index, uint32_t count, const PartitionMapEntry& entry) {
    if (file_ == nullptr) return;
    whole_ &= DumpPartitionSection(file_, static_cast<int32_t>(index),
                                   static_cast<int32_t>(count - 1), entry) != 0;
  }
  void FirmwareLine() {
    static const char kLine[] = "**> Firmware partition\n";
    if (file_ != nullptr)
      whole_ &= std::fwrite(kLine, 1, sizeof kLine - 1, file_) == sizeof kLine - 1;
  }

 private:
  std::FILE* file_;
  bool whole_ = true;
};

// False when the walk is to end here (the image cannot be opened); the
// user has been told of the outcome either way.
bool UpdateFirmware(RawDrive& drive, const MapView& map, uint32_t index, DumpFile& dump) {
  dump.FirmwareLine();
  LogStatus("Found firmware on zAze!");
  LogPartitionSize(map.entries[index].pmPartBlkCnt);
  LogStatus("Updating firmware with file \"%.259s\"...", FirmwarePath);
  const int32_t copied = CopyFirmwareFile(drive, map, index);
  if (copied == kImageNotOpened) {
    ShowUpdateError(kBoxImageNotOpened);
    LogStatus("Unable to open firmware file!");
    return false;
  }
  if (copied == kCopyDone) {
    LogStatus("Firmware verified.");
    LogStatus("Updated firmware!");
  } else if (copied != kImageRefused) {
    ShowUpdateError(kBoxCopyFailed);
    LogStatus("Unable to update firmware!");
  }
  return true;
}

// Everything after the repair; the drive and the dump are closed on return.
void UpdateRepairedDrive(char letter) {
  RawDrive drive;
  if (drive.Open(letter) != 1) {
    LogStatus("    <Unable to open drive \"%c\">", letter);
    ShowUpdateError(kBoxOpenFailed);
    return;
  }
  PartitionMapEntry first;
  const MapStartRead start = ReadMapStart(drive, first);
  if (start.kind == MapStart::kUnreadable) {  // a part of block 1 is not the map's entry
    ShowUpdateError(kBoxFirstReadFailed);
    LogStatus("    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>",
              static_cast<unsigned>(start.errorCode), static_cast<long>(start.got));
    return;
  }
  if (start.kind == MapStart::kNotAMap) {
    LogStatus("    <Current drive isn't a Mac Drive!>");
    ShowUpdateError(kBoxNotMacDrive);
    return;
  }
  LogStatus("    <Checking partition information...>");

  const uint32_t count = first.pmMapBlkCnt;
  MapCopy entries;
  bool noMemory = count > kMaxMapEntries || !entries.Hold(1);
  uint32_t held = 0;
  if (!noMemory) {
    entries[0] = first;
    const MapEntriesRead read = ReadMapEntries(drive, entries, count);
    noMemory = read.noMemory;
    held = read.held;
  }
  if (noMemory) {
    LogStatus("    <Not enough memory for the partition map!>");
    ShowUpdateError(kBoxNoMapMemory);
    return;
  }
  const MapView map = {entries, count, held};

  DumpFile dump;
  dump.Header(count, entries[0]);
  bool told = false;  // a box, or "Updated firmware!", has ended the update
  for (uint32_t i = 1; i < count; ++i) {
    if (i >= map.held) {
      LogStatus("Drive read failed! Dc:2");
      ShowUpdateError(kBoxEntryReadFailed);
      told = true;
      break;
    }
    if (HasPartName(entries[i], "firmware")) {
      told = true;
      if (!UpdateFirmware(drive, map, i, dump)) break;
    }
    dump.Section(i, count, entries[i]);
  }
  // A map that reads whole but names no firmware partition: nothing was
  // written, and the user must not take the silence for success.
  if (!told) Refuse(kNoFirmwareEntry);
}

// The checks that need no map: made before the repair, so that a refusal
// here leaves every byte of the zAze as it was.
bool MayUpdate() {
  const RawDrive drive;
  if (drive.CanWrite() != 1) {
    Refuse(kCannotWrite);
    return false;
  }
  char path[sizeof FirmwarePath];
  std::memcpy(path, FirmwarePath, sizeof path);
  path[sizeof path - 1] = '\0';
  // The file was checked when chosen; it may have changed since.
  if (IsFirmwareFile(path) != 1) {
    Refuse(kNotFirmwareNow);
    return false;
  }
  return true;
}

}  // namespace

int32_t CopyImageToDrive(RawDrive& drive, std::FILE* image, uint32_t length, uint32_t startOffset,
                         bool verify, ChunkReport report, void* context) {
  CopyBuffers buffers;
  if (!buffers.valid()) return kCopyNoBuffer;
  if (report != nullptr) report(0, context);
  if (startOffset + static_cast<uint64_t>(length) > kReachableBytes) return kCopyWriteFailed;
  if (std::fseek(image, 0, SEEK_SET) != 0) return kCopyImageReadFailed;
  const int32_t written =
      WriteChunks(drive, image, length, startOffset, buffers.chunk(), report, context);
  if (written != kCopyDone) return written;
  // Only what the device has committed is worth reading back.
  if (drive.Flush() != 1) return kCopyFlushFailed;
  if (!verify) return kCopyDone;
  return VerifyChunks(drive, image, length, startOffset, buffers);
}

void FirmwareUpdateThread(void*) {
  const char letter = static_cast<char>(FoundDriveLetter);
  if (MayUpdate()) {
    if (RepairPartitionMap(letter) == 0) {
      ShowUpdateError(kBoxRepairFailed);
    } else {
      UpdateRepairedDrive(letter);
    }
  }
  SendWizardLast();
}
