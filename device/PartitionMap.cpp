#include "device/PartitionMap.h"

#include <cstring>

#include "device/Contact.h"

namespace {

constexpr size_t kNameSize = sizeof(PartitionMapEntry{}.pmPartName);

void ReverseInPlace(uint16_t& value) { value = static_cast<uint16_t>((value >> 8) | (value << 8)); }

void ReverseInPlace(uint32_t& value) {
  value =
      (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

// One fixed text; true when the stream took all of it. (fwrite, not fputs:
// the library imports only what has been reviewed, and fwrite is among it.)
bool PutText(std::FILE* file, const char* text) {
  const size_t length = std::strlen(text);
  return std::fwrite(text, 1, length, file) == length;
}

}  // namespace

PartitionMapEntry& SwapPartitionMapEntry(PartitionMapEntry& entry) {
  ReverseInPlace(entry.pmSig);
  ReverseInPlace(entry.pmSigPad);
  ReverseInPlace(entry.pmMapBlkCnt);
  ReverseInPlace(entry.pmPyPartStart);
  ReverseInPlace(entry.pmPartBlkCnt);
  // The names, the processor type and the reserved area are bytes, not numbers.
  ReverseInPlace(entry.pmLgDataStart);
  ReverseInPlace(entry.pmDataCnt);
  ReverseInPlace(entry.pmPartStatus);
  ReverseInPlace(entry.pmLgBootStart);
  ReverseInPlace(entry.pmBootSize);
  ReverseInPlace(entry.pmBootAddr);
  ReverseInPlace(entry.pmBootAddr2);
  ReverseInPlace(entry.pmBootEntry);
  ReverseInPlace(entry.pmBootEntry2);
  ReverseInPlace(entry.pmBootCksum);
  return entry;
}

bool HasPartName(const PartitionMapEntry& entry, const char* name) {
  const size_t length = std::strlen(name);
  // The name and its NUL must both lie inside the field.
  if (length >= kNameSize) return false;
  return std::memcmp(entry.pmPartName, name, length + 1) == 0;
}

bool IsFreeSpace(const PartitionMapEntry& entry) {
  static const char kFree[] = "Apple_Free";
  return std::memcmp(entry.pmParType, kFree, sizeof kFree) == 0;
}

bool ExtentsOverlap(uint64_t first, uint64_t count, uint64_t otherFirst, uint64_t otherCount) {
  return count > 0 && otherCount > 0 && first < otherFirst + otherCount &&
         otherFirst < first + count;
}

int32_t DumpPartitionMapEntry(const PartitionMapEntry& entry, std::FILE* file) {
  static const char kRule[] = "\t***************************************************************\n";
  // Every write is looked at: a stream that fails once may take later lines
  // again, and the dump would look whole.
  bool written = PutText(file, kRule);
  written &= std::fprintf(file, "\tpmSig -> 0x%.4x\n", static_cast<unsigned>(entry.pmSig)) >= 0;
  written &=
      std::fprintf(file, "\tpmSigPad -> 0x%.4x\n", static_cast<unsigned>(entry.pmSigPad)) >= 0;
  written &= std::fprintf(file, "\tpmMapBlkCnt -> 0x%.8x\n",
                          static_cast<unsigned>(entry.pmMapBlkCnt)) >= 0;
  written &= std::fprintf(file, "\tpmPyPartStart -> 0x%.8x\n",
                          static_cast<unsigned>(entry.pmPyPartStart)) >= 0;
  written &= std::fprintf(file, "\tpmPartBlkCnt -> 0x%.8x\n",
                          static_cast<unsigned>(entry.pmPartBlkCnt)) >= 0;
  // Names come from the disk: arguments only, and never read past the field.
  written &= std::fprintf(file, "\tpmPartName -> \"%.32s\"\n", entry.pmPartName) >= 0;
  written &= std::fprintf(file, "\tpmParType -> \"%.32s\"\n", entry.pmParType) >= 0;
  written &= std::fprintf(file, "\tpmLgDataStart -> 0x%.8x\n",
                          static_cast<unsigned>(entry.pmLgDataStart)) >= 0;
  written &=
      std::fprintf(file, "\tpmDataCnt -> 0x%.8x\n", static_cast<unsigned>(entry.pmDataCnt)) >= 0;
  written &= std::fprintf(file, "\tpmPartStatus -> 0x%.8x\n",
                          static_cast<unsigned>(entry.pmPartStatus)) >= 0;
  written &= PutText(file, kRule);
  return written ? 1 : 0;
}

int32_t DumpPartitionMapHeader(std::FILE* file, int32_t tickCount) {
  bool written = std::fprintf(file, "************** START OF PARTITION MAP FILE (%d)\n",
                              static_cast<int>(tickCount)) >= 0;
  written &= PutText(file, "Send this file to \"" ZEPHLAR_SUPPORT_ADDRESS "\". Thank You!\n");
  written &= PutText(file, "****************************************************\n");
  return written ? 1 : 0;
}

int32_t DumpPartitionSection(std::FILE* file, int32_t index, int32_t last,
                             const PartitionMapEntry& entry) {
  const bool written = std::fprintf(file, "**> Start of partition %d of %d\n",
                                    static_cast<int>(index), static_cast<int>(last)) >= 0;
  return DumpPartitionMapEntry(entry, file) != 0 && written ? 1 : 0;
}
