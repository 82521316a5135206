#include "device/Placement.h"

#include <cstdio>

#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/ImageCopy.h"
#include "device/PartitionMap.h"

namespace {

constexpr uint32_t kBlockSize = sizeof(PartitionMapEntry);

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

}  // namespace

void Refuse(const Refusal& refusal) {
  LogStatus("%s", refusal.log);
  ShowUpdateError(refusal.box);
}

void ShowNamingBox(const NamingBox& box, const char* name) {
  char text[512];
  std::snprintf(text, sizeof text, "%s%s%s", box.before, name, box.after);
  ShowUpdateError(text);
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
