#include "device/Recovery.h"

#include <cstdio>
#include <cstdlib>

#include "base/ScopedFile.h"
#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/FirmwareBackup.h"
#include "device/MapSave.h"
#include "device/PartitionMap.h"
#include "device/Placement.h"
#include "device/RawDrive.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

constexpr NamingBox kUnusable = {
    "Error: ",
    " is missing or damaged, so the previous firmware could not be put back. Nothing was "
    "written to your zAze.\n\n" ZEPHLAR_SUPPORT_LINE};
constexpr char kNotTheZaze[] =
    "Error: This drive is not the zAze whose firmware was saved, so nothing was written to it. "
    "Connect that zAze and try again.\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr NamingBox kNotBack = {
    "Error: The previous firmware could not be put back on your zAze. It is still saved in ",
    kNameEndsBox};

// The map blocks an update's repair replaced, as its map backup holds them.
class MapBlocks {
 public:
  MapBlocks(const char* name, uint32_t count, uint32_t sum) : count_(count) {
    const size_t size = static_cast<size_t>(count) * kBlockSize;
    ScopedFile file(std::fopen(name, "rb"));
    bytes_ = static_cast<unsigned char*>(std::malloc(size > 0 ? size : 1));
    whole_ = file.get() != nullptr && bytes_ != nullptr &&
             std::fread(bytes_, 1, size, file.get()) == size && std::fgetc(file.get()) == EOF &&
             Crc32(bytes_, static_cast<uint32_t>(size)) == sum;
  }
  ~MapBlocks() { std::free(bytes_); }
  MapBlocks(const MapBlocks&) = delete;
  MapBlocks& operator=(const MapBlocks&) = delete;

  bool whole() const { return whole_; }
  const unsigned char* bytes() const { return bytes_; }
  uint32_t count() const { return count_; }

 private:
  unsigned char* bytes_ = nullptr;
  uint32_t count_;
  bool whole_ = false;
};

}  // namespace

UpdateResult RestoreUnfinishedUpdate(char letter, UpdateRecord& record) {
  const BackupFiles files = BackupFilesOf(record.set);
  LogStatus("Putting the previous firmware back from %s...", files.firmware);
  FirmwareBackup backup;
  if (!backup.Load(files.firmware, record.start, record.length, record.firmwareSum)) {
    LogStatus("Unable to read %s: the previous firmware was not put back.", files.firmware);
    ShowNamingBox(kUnusable, files.firmware);
    return UpdateResult::kRefused;
  }
  const MapBlocks map(files.map, record.mapBlocks, record.mapSum);
  if (record.mapBlocks > 0 && !map.whole()) {
    LogStatus("Unable to read %s: the previous firmware was not put back.", files.map);
    ShowNamingBox(kUnusable, files.map);
    return UpdateResult::kRefused;
  }
  ProgressBarCreate();
  ProgressBarSetRange(0, 2);
  RawDrive drive;
  const RestoreResult restored = backup.Restore(drive, letter, record.length, &record.zaze);
  ProgressBarSetPos(1);
  // The map goes back last: until then it is what tells this zAze.
  const bool mapBack =
      restored == RestoreResult::kRestored &&
      (record.mapBlocks == 0 || PutMapBack(drive, letter, map.bytes(), map.count()));
  ProgressBarSetPos(2);
  ProgressBarDestroy();
  if (restored == RestoreResult::kNotTheZaze) {
    LogStatus("The drive is not the zAze the firmware was saved from: nothing was written.");
    ShowUpdateError(kNotTheZaze);
    return UpdateResult::kRefused;
  }
  if (!mapBack) {
    LogStatus("Unable to restore the previous firmware!");
    ShowNamingBox(kNotBack, files.firmware);
    return UpdateResult::kNotRestored;
  }
  record.open = false;
  SaveUpdateRecord(record);
  LogStatus("Previous firmware restored.");
  return UpdateResult::kRestored;
}
