#include "tests/support/DiskImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "device/RawDrive.h"
#include "harness/ZazeLayout.h"
#include "tests/support/TestFiles.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr uint32_t kBlock = 512;
constexpr int kDriveCount = 27;
constexpr uint8_t kMapSeed = 0x11;
constexpr uint8_t kFirmwareSeed = 0x22;
constexpr uint8_t kDiskSeed = 0x33;

void PutBigEndian16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value >> 8);
  bytes[at + 1] = static_cast<char>(value & 0xFF);
}

void PutBigEndian32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

void CopyName(char (&field)[32], const char* text) {
  std::memset(field, 0, sizeof field);
  if (text != nullptr) std::memcpy(field, text, std::min(std::strlen(text), sizeof field));
}

// Block 0 of a Macintosh disk: the driver descriptor, "ER", with the block
// size and the device's block count.
void SetDriverDescriptor(DiskImage& image, uint32_t deviceBlocks) {
  std::string block(kBlock, '\0');
  PutBigEndian16(block, 0, 0x4552);
  PutBigEndian16(block, 2, static_cast<uint16_t>(kBlock));
  PutBigEndian32(block, 4, deviceBlocks);
  image.SetBlock(0, block.data(), block.size());
}

PartitionMapEntry MakeFullEntry(const char* name, const char* type, uint32_t start, uint32_t blocks,
                                uint32_t mapEntries, uint32_t status) {
  PartitionMapEntry entry = MakeEntry(name, type, start, blocks, mapEntries);
  entry.pmDataCnt = blocks;
  entry.pmPartStatus = status;
  return entry;
}

// Fills the part of a partition that lies inside the image.
void FillExtent(DiskImage& image, uint32_t start, uint32_t blocks, uint8_t seed) {
  if (start >= image.Blocks()) return;
  image.Fill(start, std::min(blocks, image.Blocks() - start), seed);
}

DiskImage Zaze(uint32_t blocks, uint32_t mapBlocks) {
  DiskImage image(blocks);
  SetDriverDescriptor(image, kZazeDeviceBlocks);
  const uint32_t firmwareStart = 1 + mapBlocks;
  const BlockRange extents[] = {{1, mapBlocks},
                                {firmwareStart, kZazeDiskStart - firmwareStart},
                                {kZazeDiskStart, kZazeDeviceBlocks - kZazeDiskStart}};
  const uint8_t seeds[] = {kMapSeed, kFirmwareSeed, kDiskSeed};
  constexpr uint32_t kCount = sizeof kZazeEntries / sizeof kZazeEntries[0];
  for (uint32_t i = 0; i < kCount; ++i) {
    const ZazeEntryKind& kind = kZazeEntries[i];
    const BlockRange& extent = extents[i];
    image.SetEntry(
        i, MakeFullEntry(kind.name, kind.type, extent.first, extent.count, kCount, kind.status));
    // The map's own partition is patterned only past its entries.
    const uint32_t used = i == 0 ? kCount : 0;
    FillExtent(image, extent.first + used, extent.count - used, seeds[i]);
  }
  return image;
}

// Drive paths: natively the drive table RawDrive indexes, under Wine the
// files behind \\.\PHYSICALDRIVE<n>.
std::string& DrivePath(int number) {
  static std::string paths[kDriveCount];
  return paths[number];
}

bool ValidDrive(int number) {
  if (number >= 0 && number < kDriveCount) return true;
  ADD_FAILURE() << "drive number " << number << " is not between 0 and 26";
  return false;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

#ifdef _WIN32

std::string WineDevicePath(const std::string& name) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || prefix[0] == '\0') {
    ADD_FAILURE() << "WINEPREFIX is not set: cannot place disk images under Wine";
    return std::string();
  }
  return std::string("Z:") + prefix + "/dosdevices/" + name;
}

std::string PhysicalDrivePath(int number) {
  return WineDevicePath("physicaldrive" + std::to_string(number));
}

// Drives left behind by an earlier test program would otherwise show up as
// drives of this one.
void RemoveLeftoverDrives() {
  static bool done = false;
  if (done) return;
  done = true;
  for (int n = 0; n < kDriveCount; ++n) {
    const std::string path = PhysicalDrivePath(n);
    if (!path.empty()) DeleteFileA(path.c_str());
  }
}

void Publish() {}

#else

// Points RawDrive's table at the attached images; every other entry is empty,
// which RawDrive fails to open, so the machine's own disks stay out of reach.
void Publish() {
  const char* table[kDriveCount];
  for (int n = 0; n < kDriveCount; ++n) table[n] = DrivePath(n).c_str();
  SetRawDriveTable(table, kDriveCount);
}

// Before any test runs, not only once a drive has been attached.
const bool kTablePublished = (Publish(), true);

#endif

}  // namespace

DiskImage::DiskImage(uint32_t blocks) : bytes_(static_cast<size_t>(blocks) * kBlock, '\0') {}

uint32_t DiskImage::Blocks() const { return static_cast<uint32_t>(bytes_.size() / kBlock); }

void DiskImage::SetBlock(uint32_t block, const void* data, size_t size) {
  if (block >= Blocks() || size > kBlock) {
    ADD_FAILURE() << "SetBlock(" << block << ", " << size << " bytes) outside an image of "
                  << Blocks() << " blocks";
    return;
  }
  std::memcpy(&bytes_[static_cast<size_t>(block) * kBlock], data, size);
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = 0x9E3779B9u * (seed + 1);
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

#ifndef _WIN32

namespace {

// Runs one hfsutils command with its state (the current volume) kept in
// `home`; true when it succeeded.
bool Hfs(const std::string& home, const std::string& command) {
  const std::string line = "HOME='" + home + "' " + command + " >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

// A fresh folder for one hfsutils session, removed by its destructor.
class HfsFolder {
 public:
  HfsFolder() {
    char name[] = "/tmp/zephlar-hfs.XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~HfsFolder() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  HfsFolder(const HfsFolder&) = delete;
  HfsFolder& operator=(const HfsFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string HfsVolume(uint32_t blocks, const std::string& text) {
  HfsFolder folder;
  if (folder.path().empty()) return std::string();
  const std::string& dir = folder.path();
  const std::string volume = dir + "/volume.hfs";
  if (!WriteFileBytes(volume, std::string(static_cast<size_t>(blocks) * kBlock, '\0')) ||
      !WriteFileBytes(dir + "/README.TXT", text) || !Hfs(dir, "hformat -l zAze '" + volume + "'") ||
      !Hfs(dir, "hmount '" + volume + "'")) {
    return std::string();
  }
  const bool copied = Hfs(dir, "hcopy -r '" + dir + "/README.TXT' :README.TXT");
  Hfs(dir, "humount");
  return copied ? ReadWholeFile(volume) : std::string();
}

std::string HfsReadme(const std::string& volume) {
  HfsFolder folder;
  if (folder.path().empty()) return std::string();
  const std::string& dir = folder.path();
  if (!WriteFileBytes(dir + "/volume.hfs", volume) ||
      !Hfs(dir, "hmount '" + dir + "/volume.hfs'")) {
    return std::string();
  }
  const bool copied = Hfs(dir, "hcopy -r :README.TXT '" + dir + "/README.TXT'");
  Hfs(dir, "humount");
  return copied ? ReadWholeFile(dir + "/README.TXT") : std::string();
}

#endif

std::string FirmwareImage(size_t bytes, unsigned seed) {
  std::string image = Pattern(bytes, seed);
  static const char kMaker[] = "Apple Computer, Inc.";
  if (bytes >= 130 + sizeof kMaker - 1) std::memcpy(&image[130], kMaker, sizeof kMaker - 1);
  return image;
}

void DiskImage::Fill(uint32_t first, uint32_t count, uint8_t seed) {
  if (first > Blocks() || count > Blocks() - first) {
    ADD_FAILURE() << "Fill(" << first << ", " << count << ") outside an image of " << Blocks()
                  << " blocks";
    return;
  }
  for (uint32_t block = first; block < first + count; ++block) {
    uint32_t state = block * 2654435761u + seed * 40503u + 12345u;
    char* data = &bytes_[static_cast<size_t>(block) * kBlock];
    for (uint32_t i = 0; i < kBlock; ++i) {
      state = state * 1664525u + 1013904223u;
      data[i] = static_cast<char>(state >> 24);
    }
  }
}

void DiskImage::SetEntry(uint32_t index, const PartitionMapEntry& entry) {
  PartitionMapEntry disk = entry;
  SwapPartitionMapEntry(disk);
  SetBlock(index + 1, &disk, sizeof disk);
}

PartitionMapEntry DiskImage::Entry(uint32_t index) const {
  PartitionMapEntry entry = {};
  if (index + 1 >= Blocks()) {
    ADD_FAILURE() << "Entry(" << index << ") outside an image of " << Blocks() << " blocks";
    return entry;
  }
  std::memcpy(&entry, &bytes_[static_cast<size_t>(index + 1) * kBlock], sizeof entry);
  return SwapPartitionMapEntry(entry);
}

DiskImage WithEntry(DiskImage disk, uint32_t index,
                    const std::function<void(PartitionMapEntry&)>& change) {
  PartitionMapEntry entry = disk.Entry(index);
  change(entry);
  disk.SetEntry(index, entry);
  return disk;
}

PartitionMapEntry MakeEntry(const char* name, const char* type, uint32_t start, uint32_t blocks,
                            uint32_t mapEntries) {
  PartitionMapEntry entry = {};
  entry.pmSig = kPartitionMapSignature;
  entry.pmMapBlkCnt = mapEntries;
  entry.pmPyPartStart = start;
  entry.pmPartBlkCnt = blocks;
  CopyName(entry.pmPartName, name);
  CopyName(entry.pmParType, type);
  return entry;
}

DiskImage ZazeBeforeRepair(uint32_t blocks) { return Zaze(blocks, kZazeMapBlocksBefore); }

DiskImage ZazeRepaired(uint32_t blocks) { return Zaze(blocks, kZazeMapBlocksAfter); }

DiskImage OrdinaryDisk(uint32_t blocks) {
  DiskImage image(blocks);
  image.Fill(0, blocks, 0x5A);
  std::string& bytes = image.Bytes();
  if (blocks > 0) {
    bytes[510] = '\x55';
    bytes[511] = '\xAA';
  }
  if (blocks > 1 && bytes[512] == 'P' && bytes[513] == 'M') bytes[512] = 'X';
  return image;
}

DiskImage MacDisk(uint32_t entries, uint32_t blocks) {
  static const char* const kDriverTypes[] = {"Apple_Driver43", "Apple_Driver_ATA", "Apple_FWDriver",
                                             "Apple_Patches"};
  DiskImage image(blocks);
  const uint32_t mapBlocks = std::max<uint32_t>(63, entries);
  const uint32_t deviceBlocks = 8388608;  // a 4 GB disk
  SetDriverDescriptor(image, deviceBlocks);
  image.SetEntry(
      0, MakeFullEntry("partition map", "Apple_partition_map", 1, mapBlocks, entries, 0x37));
  if (mapBlocks > entries) FillExtent(image, 1 + entries, mapBlocks - entries, kMapSeed);
  uint32_t start = 1 + mapBlocks;
  for (uint32_t i = 1; i < entries; ++i) {
    const bool last = i == entries - 1;
    const bool gap = !last && i == entries - 2;
    PartitionMapEntry entry;
    if (last) {
      entry = MakeFullEntry("disk", "Apple_HFS", start, deviceBlocks - start, entries, 0x40000033);
    } else if (gap) {
      entry = MakeFullEntry("Extra", "Apple_Free", start, 262144, entries, 0);
    } else {
      const char* type = kDriverTypes[(i - 1) % 4];
      const char* name = (i - 1) % 4 == 3 ? "Patch Partition" : "Macintosh";
      entry = MakeFullEntry(name, type, start, 54 + 2 * i, entries, 0x7F);
    }
    if (1 + i < blocks) image.SetEntry(i, entry);
    if (!gap) FillExtent(image, start, entry.pmPartBlkCnt, static_cast<uint8_t>(0x40 + i));
    start += entry.pmPartBlkCnt;
  }
  return image;
}

void AttachDrive(int number, const DiskImage& image) {
  if (!ValidDrive(number)) return;
#ifdef _WIN32
  RemoveLeftoverDrives();
  const std::string path = PhysicalDrivePath(number);
#else
  const std::string path = TestFileName("drive" + std::to_string(number));
#endif
  if (path.empty()) return;
  if (!WriteFileBytes(path, image.Bytes())) {
    ADD_FAILURE() << "cannot write the image of drive " << number << " to " << path;
    return;
  }
  DrivePath(number) = path;
  Publish();
}

std::string DriveBytes(int number) {
  if (!ValidDrive(number)) return std::string();
  if (DrivePath(number).empty()) {
    ADD_FAILURE() << "drive " << number << " is not attached";
    return std::string();
  }
  return ReadWholeFile(DrivePath(number));
}

void DetachDrives() {
  for (int n = 0; n < kDriveCount; ++n) {
    if (!DrivePath(n).empty()) std::remove(DrivePath(n).c_str());
    DrivePath(n).clear();
  }
  Publish();
}

std::string ChangesOutside(const std::string& before, const std::string& after,
                           const std::vector<BlockRange>& allowed) {
  auto isAllowed = [&allowed](uint32_t block) {
    for (const BlockRange& range : allowed) {
      if (block >= range.first && block - range.first < range.count) return true;
    }
    return false;
  };
  std::ostringstream out;
  if (before.size() != after.size()) {
    out << "size changed from " << before.size() << " to " << after.size() << " bytes; ";
  }
  const size_t common = std::min(before.size(), after.size());
  const uint32_t blocks = static_cast<uint32_t>((common + kBlock - 1) / kBlock);
  int shown = 0;
  uint32_t changed = 0;
  for (uint32_t block = 0; block < blocks; ++block) {
    const size_t at = static_cast<size_t>(block) * kBlock;
    const size_t length = std::min<size_t>(kBlock, common - at);
    if (isAllowed(block) || before.compare(at, length, after, at, length) == 0) continue;
    ++changed;
    if (shown++ < 5) {
      size_t byte = at;
      while (before[byte] == after[byte]) ++byte;
      out << (shown == 1 ? "changed outside the allowed blocks: " : ", ") << "block " << block
          << " (first at byte " << byte - at << ")";
    }
  }
  if (changed > 5) out << " and " << changed - 5 << " more blocks";
  return out.str();
}
