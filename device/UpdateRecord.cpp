// The record is plain text, one "name value" line each, so that a user or
// support can read what it says; the two blocks are in hexadecimal. A record
// without its last line was cut short and is not taken.
#include "device/UpdateRecord.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/PartitionMap.h"
#include "device/Platform.h"
#include "device/RawDrive.h"

namespace {

constexpr uint32_t kBlockSize = 512;
constexpr char kFirstLine[] = "Zephlar update record";
constexpr char kLastLine[] = "end";
// The longest line: a name and a block in hexadecimal.
constexpr size_t kLineSize = 32 + 2 * kBlockSize + 4;

bool Exists(const char* path) {
  ScopedFile file(std::fopen(path, "rb"));
  return file.get() != nullptr;
}

void PutHex(std::FILE* file, const char* name, const unsigned char* bytes, size_t size) {
  std::fprintf(file, "%s ", name);
  for (size_t i = 0; i < size; ++i) std::fprintf(file, "%02x", bytes[i]);
  std::fputc('\n', file);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool GetHex(const char* text, unsigned char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = high < 0 ? -1 : HexDigit(text[2 * i + 1]);
    if (low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return text[2 * size] == '\0';
}

bool GetNumber(const char* text, uint32_t& value) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(text, &end, 16);
  if (end == text || *end != '\0' || number > 0xFFFFFFFFul) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

// Takes one "name value" line into the record; false for a line it does not
// know or cannot read.
bool TakeLine(char* line, UpdateRecord& record) {
  char* value = std::strchr(line, ' ');
  if (value == nullptr) return false;
  *value++ = '\0';
  if (std::strcmp(line, "state") == 0) {
    record.open = std::strcmp(value, "open") == 0;
    return record.open || std::strcmp(value, "closed") == 0;
  }
  if (std::strcmp(line, "block1") == 0) return GetHex(value, record.zaze.block1, kBlockSize);
  if (std::strcmp(line, "firmware-entry") == 0) {
    return GetHex(value, record.zaze.firmwareEntry, kBlockSize);
  }
  struct Number {
    const char* name;
    uint32_t* field;
  };
  const Number numbers[] = {{"firmware-index", &record.zaze.firmwareIndex},
                            {"start", &record.start},
                            {"length", &record.length},
                            {"firmware-crc32", &record.firmwareSum},
                            {"map-blocks", &record.mapBlocks},
                            {"map-crc32", &record.mapSum}};
  for (const Number& number : numbers) {
    if (std::strcmp(line, number.name) == 0) return GetNumber(value, *number.field);
  }
  return true;  // a name this version does not know: the file names are derived
}

// Made by the compiler: a table filled at run time would need a guard
// against two threads, which pulls a threads library into the DLL. Eight
// tables let the sum take eight bytes a step (a 32 MB backup is summed in
// milliseconds, not a tenth of a second).
struct CrcTables {
  uint32_t table[8][256] = {};
  constexpr CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
      table[0][i] = value;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) {
        table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
      }
    }
  }
};
constexpr CrcTables kCrc;

}  // namespace

BackupFiles BackupFilesOf(int set) {
  BackupFiles files = {set, {}, {}, {}};
  if (set <= 1) {
    std::snprintf(files.firmware, sizeof files.firmware, "zaze_fw_backup.bin");
    std::snprintf(files.map, sizeof files.map, "zaze_map_backup.bin");
    std::snprintf(files.record, sizeof files.record, "zaze_update.rec");
  } else {
    std::snprintf(files.firmware, sizeof files.firmware, "zaze_fw_backup-%d.bin", set);
    std::snprintf(files.map, sizeof files.map, "zaze_map_backup-%d.bin", set);
    std::snprintf(files.record, sizeof files.record, "zaze_update-%d.rec", set);
  }
  return files;
}

int FreeBackupSet(const char* imagePath) {
  for (int set = 1; set <= kBackupSets; ++set) {
    const BackupFiles files = BackupFilesOf(set);
    if (Exists(files.record)) continue;
    // Writing that file would replace the image before it is copied.
    if (IsSameFile(imagePath, files.firmware) == 1) continue;
    return set;
  }
  return 0;
}

bool ReadZazeIdentity(RawDrive& drive, uint32_t firmwareIndex, ZazeIdentity& zaze) {
  zaze.firmwareIndex = firmwareIndex;
  const uint64_t entryOffset = (static_cast<uint64_t>(firmwareIndex) + 1) * kBlockSize;
  return entryOffset <= 0xFFFFFFFFu &&
         drive.Read(zaze.block1, kBlockSize, kBlockSize) == static_cast<int32_t>(kBlockSize) &&
         drive.Read(zaze.firmwareEntry, static_cast<uint32_t>(entryOffset), kBlockSize) ==
             static_cast<int32_t>(kBlockSize);
}

bool SameZaze(const ZazeIdentity& a, const ZazeIdentity& b) {
  return a.firmwareIndex == b.firmwareIndex && std::memcmp(a.block1, b.block1, kBlockSize) == 0 &&
         std::memcmp(a.firmwareEntry, b.firmwareEntry, kBlockSize) == 0;
}

uint32_t Crc32(const void* bytes, uint32_t length, uint32_t sum) {
  const unsigned char* at = static_cast<const unsigned char*>(bytes);
  uint32_t crc = ~sum;
  for (; length >= 8; length -= 8, at += 8) {
    const uint32_t low =
        crc ^ (at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24);
    crc = kCrc.table[7][low & 0xFF] ^ kCrc.table[6][(low >> 8) & 0xFF] ^
          kCrc.table[5][(low >> 16) & 0xFF] ^ kCrc.table[4][low >> 24] ^ kCrc.table[3][at[4]] ^
          kCrc.table[2][at[5]] ^ kCrc.table[1][at[6]] ^ kCrc.table[0][at[7]];
  }
  for (; length > 0; --length, ++at) crc = kCrc.table[0][(crc ^ *at) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

bool SaveUpdateRecord(const UpdateRecord& record) {
  const BackupFiles files = BackupFilesOf(record.set);
  std::FILE* file = std::fopen(files.record, "wb");
  if (file == nullptr) return false;
  std::fprintf(file, "%s\nstate %s\nfirmware-backup %s\nmap-backup %s\n", kFirstLine,
               record.open ? "open" : "closed", files.firmware,
               record.mapBlocks > 0 ? files.map : "none");
  std::fprintf(file, "firmware-index %lx\nstart %lx\nlength %lx\nfirmware-crc32 %lx\n",
               static_cast<unsigned long>(record.zaze.firmwareIndex),
               static_cast<unsigned long>(record.start), static_cast<unsigned long>(record.length),
               static_cast<unsigned long>(record.firmwareSum));
  std::fprintf(file, "map-blocks %lx\nmap-crc32 %lx\n",
               static_cast<unsigned long>(record.mapBlocks),
               static_cast<unsigned long>(record.mapSum));
  PutHex(file, "block1", record.zaze.block1, kBlockSize);
  PutHex(file, "firmware-entry", record.zaze.firmwareEntry, kBlockSize);
  std::fprintf(file, "%s\n", kLastLine);
  const bool written = std::ferror(file) == 0 && SyncFile(file) == 1;
  return std::fclose(file) == 0 && written;
}

bool LoadUpdateRecord(int set, UpdateRecord& record) {
  record = UpdateRecord();
  record.set = set;
  ScopedFile file(std::fopen(BackupFilesOf(set).record, "rb"));
  if (file.get() == nullptr) return false;
  char line[kLineSize];
  bool first = true;
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    if (first) {
      if (std::strcmp(line, kFirstLine) != 0) return false;
      first = false;
    } else if (std::strcmp(line, kLastLine) == 0) {
      return true;
    } else if (!TakeLine(line, record)) {
      return false;
    }
  }
  return false;
}

void RemoveUpdateRecord(int set) { std::remove(BackupFilesOf(set).record); }

bool FindOpenRecord(const ZazeIdentity& zaze, UpdateRecord& record) {
  for (int set = 1; set <= kBackupSets; ++set) {
    if (LoadUpdateRecord(set, record) && record.open && SameZaze(record.zaze, zaze)) return true;
  }
  return false;
}

bool FindUnfinishedUpdate(char letter, UpdateRecord& record) {
  RawDrive drive;
  if (drive.Open(letter) != 1) return false;
  for (int set = 1; set <= kBackupSets; ++set) {
    if (!LoadUpdateRecord(set, record) || !record.open) continue;
    ZazeIdentity onDrive;
    if (!ReadZazeIdentity(drive, record.zaze.firmwareIndex, onDrive)) return false;
    if (SameZaze(record.zaze, onDrive)) return true;
  }
  return false;
}
