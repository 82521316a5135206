#include "device/UpdateWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device/Contact.h"
#include "device/FirmwareBackup.h"
#include "device/PartitionMap.h"
#include "device/RawDrive.h"
#include "device/Repair.h"
#include "tests/support/DiskImage.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateOutcome.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr uint32_t kBlock = 512;
constexpr char kImageName[] = "firmware.img";
constexpr char kDumpName[] = "zaze_pm.txt";
constexpr char kFirstBackup[] = "zaze_fw_backup.bin";

const char kRepairFailed[] = "box Error: Unable to modify the zAze's partition table!";
const char kEntryReadFailed[] = "box Error: Unable to read from drive!";
const char kRestored[] =
    "box Error: The new firmware could not be written to your zAze. Its previous firmware is "
    "back in place.";

// The recorded UI, one short line per event; a box by its first line.
Lines Trace() {
  static const char* const kWords[] = {"log ",        "bar create", "bar range ", "bar pos ",
                                       "bar destroy", "box ",       "wizard last"};
  Lines out;
  for (const UiEvent& e : RecordedUi()) {
    std::string line = kWords[e.kind];
    if (e.kind == UiEvent::kLog) line += e.text;
    if (e.kind == UiEvent::kErrorBox) line += e.text.substr(0, e.text.find('\n'));
    if (e.kind == UiEvent::kProgressRange) line += std::to_string(e.first) + "..";
    if (e.kind == UiEvent::kProgressRange || e.kind == UiEvent::kProgressPos) {
      line += std::to_string(e.kind == UiEvent::kProgressPos ? e.first : e.second);
    }
    out.push_back(line);
  }
  return out;
}

// One entry of the dump as a reader takes it back: the heading of its
// section ("1 of 2"), whether the firmware line marks it, and its fields.
struct DumpedEntry {
  std::string heading;
  bool firmware = false;
  std::map<std::string, std::string> fields;

  uint32_t Number(const std::string& name) const {
    const auto field = fields.find(name);
    if (field == fields.end() || field->second.rfind("0x", 0) != 0) {
      ADD_FAILURE() << name << " is not a hexadecimal number in the dump";
      return 0xDEADDEAD;
    }
    return static_cast<uint32_t>(std::strtoul(field->second.c_str(), nullptr, 16));
  }
  std::string Text(const std::string& name) const {
    const auto field = fields.find(name);
    const bool quoted = field != fields.end() && field->second.size() >= 2 &&
                        field->second.front() == '"' && field->second.back() == '"';
    EXPECT_TRUE(quoted) << name << " is not a quoted text in the dump";
    return quoted ? field->second.substr(1, field->second.size() - 2) : "";
  }
};

// A name field up to its NUL or its end.
std::string FieldText(const char (&field)[32]) {
  return std::string(field, std::find(field, field + 32, '\0'));
}

// The entries of a dump body, in order; a line that is neither a heading, a
// rule nor a "\tname -> value" field fails the test.
std::vector<DumpedEntry> ReadEntries(const std::string& body) {
  const std::string start = "**> Start of partition ";
  std::vector<DumpedEntry> entries;
  bool firmware = false;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    const size_t arrow = line.find(" -> ");
    if (line == "**> Firmware partition") {
      firmware = true;
    } else if (line.rfind(start, 0) == 0) {
      entries.push_back({line.substr(start.size()), firmware, {}});
      firmware = false;
    } else if (line.size() > 1 && line.find_first_not_of('*', 1) == std::string::npos) {
      continue;  // a rule around a section
    } else if (line[0] == '\t' && arrow != std::string::npos && !entries.empty()) {
      entries.back().fields[line.substr(1, arrow - 1)] = line.substr(arrow + 4);
    } else {
      ADD_FAILURE() << "unexpected line in the dump: " << line;
    }
  }
  return entries;
}

// A repaired map (62 blocks) of `count` entries: the map, "firmware" at
// `start`, "disk" at `diskStart`, and any `extra` entries after them.
DiskImage RepairedMap(uint32_t start, uint32_t blocks, uint32_t diskStart, uint32_t imageBlocks,
                      const std::vector<PartitionMapEntry>& extra = {}) {
  const uint32_t count = 3 + static_cast<uint32_t>(extra.size());
  DiskImage disk(imageBlocks);
  disk.Fill(0, imageBlocks, 0x6B);
  disk.SetEntry(0, MakeEntry("partition map", "Apple_partition_map", 1, 62, count));
  disk.SetEntry(1, MakeEntry("firmware", "Apple_MDFW", start, blocks, count));
  disk.SetEntry(2, MakeEntry("disk", "Apple_HFS", diskStart, 100000, count));
  for (uint32_t i = 0; i < extra.size(); ++i) {
    if (4 + i < imageBlocks) disk.SetEntry(3 + i, extra[i]);
  }
  return disk;
}

class UpdateWorker : public testing::Test {
 protected:
  void SetUp() override { ResetRecordedUi(); }
  void TearDown() override {
    DetachDrives();
    std::memset(FirmwarePath, 0, sizeof FirmwarePath);
    FoundDriveLetter = 0;
  }

  // Puts `disk` on drive A and `image` (none when null) in the firmware file,
  // learns what repair alone does to the disk and the log, and then runs the
  // worker on the disk as it was.
  void Run(const DiskImage& disk, const std::string* image, const char* path = kImageName) {
    before_ = disk.Bytes();
    AttachDrive(0, disk);
    ResetRecordedUi();
    RepairPartitionMap('A');
    repairTrace_ = Trace();
    repaired_ = DriveBytes(0);
    AttachDrive(0, disk);
    if (fs::is_regular_file(kDumpName)) fs::remove(kDumpName);
    if (!keepBackups_) RemoveBackupSets();
    if (image != nullptr) SaveFile(path, *image);
    std::snprintf(FirmwarePath, sizeof FirmwarePath, "%s", path);
    FoundDriveLetter = 'A';
    ResetRecordedUi();

    FirmwareUpdateThread(nullptr);

    after_ = DriveBytes(0);
    trace_ = Trace();
    dumped_ = fs::is_regular_file(kDumpName);
    dump_ = ReadDump();
    ExpectTidyEnd();
  }

  // The dump in the form written on POSIX: Windows text mode ends each line
  // with CR LF, and only there.
  static std::string ReadDump() {
    std::string text = ReadWholeFile(kDumpName);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
#ifdef _WIN32
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      EXPECT_FALSE(text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) << "bare LF at " << i;
#endif
      out += text[i];
    }
    return out;
  }

  // One final command, last of all; every box ends with the support line; the
  // drive and the image are let go.
  void ExpectTidyEnd() {
    EXPECT_EQ(RecordedWizardLastCount(), 1);
    EXPECT_FALSE(trace_.empty() || trace_.back() != "wizard last") << "ID_WIZARD_LAST not last";
    for (const std::string& box : RecordedErrorBoxes()) {
      const size_t headline = box.find('\n');
      EXPECT_EQ(box.substr(headline == std::string::npos ? 0 : headline),
                std::string("\n\n") + ZEPHLAR_SUPPORT_LINE)
          << "box text: " << box;
    }
    RawDrive probe;
    EXPECT_EQ(probe.Open('A'), 1) << "the worker left the drive open";
    if (fs::exists(kImageName)) {
      EXPECT_EQ(std::remove(kImageName), 0) << "the worker left the image open";
    }
  }

  // What the worker reported after repair's own lines.
  Lines WorkerTrace() const {
    const bool repairFirst = trace_.size() >= repairTrace_.size() &&
                             std::equal(repairTrace_.begin(), repairTrace_.end(), trace_.begin());
    EXPECT_TRUE(repairFirst) << "the run does not begin with repair's own report";
    return repairFirst ? Lines(trace_.begin() + repairTrace_.size(), trace_.end()) : trace_;
  }

  // The dump after its three header lines, which are checked here.
  std::string DumpBody() const {
    EXPECT_TRUE(dumped_) << kDumpName << " was not written";
    const std::string first = "************** START OF PARTITION MAP FILE (";
    const size_t end = dump_.find('\n');
    EXPECT_EQ(dump_.compare(0, first.size(), first), 0) << dump_.substr(0, 80);
    if (end == std::string::npos || end < first.size() + 2) return dump_;
    const std::string tick = dump_.substr(first.size(), end - first.size() - 1);
    EXPECT_EQ(dump_[end - 1], ')');
    EXPECT_EQ(tick.find_first_not_of("-0123456789"), std::string::npos) << tick;
    const std::string rest =
        "Send this file to \"" ZEPHLAR_SUPPORT_ADDRESS
        "\". Thank You!\n****************************************************\n";
    EXPECT_EQ(dump_.compare(end + 1, rest.size(), rest), 0) << dump_.substr(end + 1, 200);
    return dump_.substr(std::min(dump_.size(), end + 1 + rest.size()));
  }

  PartitionMapEntry After(uint32_t index) const {
    DiskImage disk(static_cast<uint32_t>(after_.size() / kBlock));
    disk.Bytes() = after_;
    return disk.Entry(index);
  }
  // The dump tells the first `dumped` entries of a map of `count` as they are
  // on the disk now, entry `firmware` marked as the firmware partition.
  void ExpectDumpOfMap(uint32_t dumped, uint32_t firmware, uint32_t count = 0) const {
    const std::vector<DumpedEntry> entries = ReadEntries(DumpBody());
    ASSERT_EQ(entries.size(), dumped);
    const uint32_t last = (count == 0 ? dumped : count) - 1;
    for (uint32_t i = 0; i < dumped; ++i) {
      SCOPED_TRACE("dumped entry " + std::to_string(i));
      const DumpedEntry& dump = entries[i];
      const PartitionMapEntry disk = After(i);
      EXPECT_EQ(dump.heading, std::to_string(i) + " of " + std::to_string(last));
      EXPECT_EQ(dump.firmware, i == firmware);
      EXPECT_EQ(dump.Text("pmPartName"), FieldText(disk.pmPartName));
      EXPECT_EQ(dump.Text("pmParType"), FieldText(disk.pmParType));
      const std::pair<const char*, uint32_t> numbers[] = {{"pmSig", disk.pmSig},
                                                          {"pmSigPad", disk.pmSigPad},
                                                          {"pmMapBlkCnt", disk.pmMapBlkCnt},
                                                          {"pmPyPartStart", disk.pmPyPartStart},
                                                          {"pmPartBlkCnt", disk.pmPartBlkCnt},
                                                          {"pmLgDataStart", disk.pmLgDataStart},
                                                          {"pmDataCnt", disk.pmDataCnt},
                                                          {"pmPartStatus", disk.pmPartStatus}};
      for (const auto& [name, value] : numbers) EXPECT_EQ(dump.Number(name), value) << name;
    }
  }
  std::string WrittenAt(uint32_t block, size_t size) const {
    return after_.substr(static_cast<size_t>(block) * kBlock, size);
  }
  Lines FirmwareLines(uint32_t partitionBytes) const {
    return {"log     <Checking partition information...>",
            "log Opened zaze_pm.txt successfully, dumping partition map:",
            "log Found firmware on zAze!",
            "log The size of the partition is " + std::to_string(partitionBytes) + " bytes.",
            std::string("log Updating firmware with file \"") + kImageName + "\"..."};
  }

  ScratchWorkingDirectory scratch_;  // the dump file has a fixed name
  bool keepBackups_ = false;         // what the folder holds is the test's
  std::string before_, repaired_, after_, dump_;
  Lines repairTrace_, trace_;
  bool dumped_ = false;
};

Lines Join(Lines head, const Lines& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::string SavedLine(size_t bytes) {
  return "log Saved the " + std::to_string(bytes) + " bytes the update replaces to " +
         kFirstBackup + ".";
}

// A copy of `bytes` that succeeds: a bar of three steps a chunk, taken by
// the backup, the write and the read-back.
Lines CopyLines(size_t bytes) {
  const size_t chunks = (bytes + kChunkBytes - 1) / kChunkBytes;
  Lines lines = {"bar create", "bar range 0.." + std::to_string(3 * chunks)};
  for (size_t k = 1; k <= 3 * chunks; ++k) {
    lines.push_back("bar pos " + std::to_string(k));
    if (k == chunks) lines.push_back(SavedLine(bytes));
  }
  return Join(lines,
              {"bar destroy", "log Firmware verified.", "log Updated firmware!", "wizard last"});
}

// ---- The whole road ------------------------------------------------------

TEST_F(UpdateWorker, RepairsAZazeThenWritesAndVerifiesTheImageAtBlock63) {
  const std::string image = FirmwareImage(40448, 1);
  Run(ZazeBeforeRepair(), &image);

  EXPECT_EQ(RecordedLogLines(),
            Lines({"    <Checking partition information...>", "    <Firmware partition found...>",
                   "    <Drive found...>", "    <Checking partition information...>",
                   "Opened zaze_pm.txt successfully, dumping partition map:",
                   "Found firmware on zAze!", "The size of the partition is 33524224 bytes.",
                   "Updating firmware with file \"firmware.img\"...",
                   "Saved the 40448 bytes the update replaces to zaze_fw_backup.bin.",
                   "Firmware verified.", "Updated firmware!"}));
  EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(33524224), CopyLines(40448)));
  EXPECT_TRUE(ReadWholeFile(kFirstBackup) == before_.substr(63 * kBlock, image.size()))
      << "the backup is not what the image replaced";
  EXPECT_TRUE(RecordedErrorBoxes().empty());

  EXPECT_EQ(After(0).pmPartBlkCnt, 62u);
  EXPECT_EQ(After(0).pmMapBlkCnt, 3u);
  EXPECT_EQ(After(1).pmPyPartStart, 63u);
  EXPECT_EQ(After(1).pmPartBlkCnt, 65477u);
  EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
  EXPECT_EQ(ChangesOutside(before_, after_, {{1, 2}, {63, 79}}), "");

  ExpectDumpOfMap(3, 1);  // the map as repaired, its firmware entry at 63 for 65477 blocks
}

// Chunk k lands at block 63 + 63 k; every chunk but the last is full.
TEST_F(UpdateWorker, CopiesInChunksOf63SectorsUpToAFullBar) {
  for (const size_t bytes : {40448, 64512, 32256, 3677184}) {
    SCOPED_TRACE(std::to_string(bytes) + " bytes");
    const std::string image = FirmwareImage(bytes, 2);
    Run(ZazeRepaired(7400), &image);
    EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(33524224), CopyLines(bytes)));
    EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
    EXPECT_EQ(ChangesOutside(before_, after_, {{63, static_cast<uint32_t>(bytes / kBlock)}}), "");
  }
}

TEST_F(UpdateWorker, FillsAPartitionExactlyAndWritesOverFreeSpace) {
  // 200 blocks: three full chunks and one of 11 sectors.
  const std::string exact = FirmwareImage(200 * kBlock, 3);
  Run(RepairedMap(63, 200, 263, 600), &exact);
  EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(102400), CopyLines(exact.size())));
  EXPECT_TRUE(WrittenAt(63, exact.size()) == exact) << "image not found at block 63";
  EXPECT_EQ(ChangesOutside(before_, after_, {{63, 200}}), "");

  // Space that an "Apple_Free" entry claims is nobody's.
  const std::string image = FirmwareImage(100 * kBlock, 4);
  Run(RepairedMap(63, 200, 263, 600, {MakeEntry("Extra", "Apple_Free", 100, 50, 4)}), &image);
  EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(102400), CopyLines(image.size())));
  EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
  ExpectDumpOfMap(4, 1);
}

TEST_F(UpdateWorker, UpdatesWhenTheDumpFileCannotBeCreated) {
  fs::create_directory(kDumpName);
  const std::string image = FirmwareImage(40448, 5);
  Run(ZazeRepaired(), &image);
  Lines expected = Join(FirmwareLines(33524224), CopyLines(image.size()));
  expected[1] = "log Unable to open file zaze_pm.txt for writing!";
  EXPECT_EQ(WorkerTrace(), expected);
  EXPECT_TRUE(WrittenAt(63, image.size()) == image) << "image not found at block 63";
}

// ---- Errors --------------------------------------------------------------

TEST_F(UpdateWorker, EndsWithE1AndNothingElseWhenRepairRefusesTheDisk) {
  const std::string image = FirmwareImage(40448, 6);
  for (const DiskImage& disk : {OrdinaryDisk(), MacDisk()}) {
    Run(disk, &image);
    EXPECT_EQ(WorkerTrace(), Lines({kRepairFailed, "wizard last"}));
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    EXPECT_FALSE(dumped_) << "a dump was written for a disk that was refused";
  }
  // No drive at all.
  SaveFile(kImageName, image);
  DetachDrives();
  ResetRecordedUi();
  FoundDriveLetter = static_cast<signed char>(0xFF);
  FirmwareUpdateThread(nullptr);
  const Lines trace = Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[1], kRepairFailed);
  EXPECT_EQ(trace[2], "wizard last");
}

// Maps whose fixed shape would hide the data volume or the firmware entry
// (the count of three no longer reaches them) or lay the firmware partition
// over the data volume. Repair refuses them: the disk keeps every byte, its
// HFS volume still reads back, and the user is shown E1.
TEST_F(UpdateWorker, RefusesARepairThatWouldHideOrOverlapAPartition) {
  constexpr uint32_t kVolumeBlocks = 1600;  // the smallest HFS volume hformat makes
  constexpr uint32_t kAfterFirmware = 65540;
  struct Shape {
    const char* what;
    std::vector<PartitionMapEntry> entries;  // after the map's own
    uint32_t diskStart;
    const char* repairLine;
  };
  const auto Entry = [](const char* name, const char* type, uint32_t start, uint32_t blocks) {
    return MakeEntry(name, type, start, blocks, 0);
  };
  const PartitionMapEntry firmware = Entry("firmware", "Apple_MDFW", 64, 65476);
  const PartitionMapEntry disk = Entry("disk", "Apple_HFS", kAfterFirmware, kVolumeBlocks);
  const PartitionMapEntry driver =
      Entry("Macintosh", "Apple_Driver43", kAfterFirmware + kVolumeBlocks, 64);
  const PartitionMapEntry freeSpace = Entry("Extra", "Apple_Free", 70000, 1000);
  const char kHidesDisk[] =
      "    <\"disk\" would lie outside the repaired map, nothing was changed!>";
  const Shape shapes[] = {
      {"a free-space entry before the firmware",
       {freeSpace, firmware, disk},
       kAfterFirmware,
       kHidesDisk},
      {"a driver entry before the firmware", {driver, firmware, disk}, kAfterFirmware, kHidesDisk},
      {"the firmware entry fourth",
       {driver, freeSpace, firmware, disk},
       kAfterFirmware,
       "    <\"firmware\" would lie outside the repaired map, nothing was changed!>"},
      {"the data volume starting inside blocks 63 to 65539",
       {Entry("firmware", "Apple_MDFW", 64, 100), Entry("disk", "Apple_HFS", 1000, kVolumeBlocks)},
       1000,
       "    <The repaired map would overlap \"disk\", nothing was changed!>"},
  };
#ifndef _WIN32
  const char kText[] = "The user's only copy of their notes.\n";
  const std::string volume = HfsVolume(kVolumeBlocks, kText);
  ASSERT_FALSE(volume.empty()) << "hfsutils could not make an HFS volume";
#else
  const std::string volume = FirmwareImage(kVolumeBlocks * kBlock, 20);  // stands in for it
#endif
  const std::string image = FirmwareImage(40448, 13);
  const char table[] = "Bad input: maps that the fixed shape would hide or overlap";
  HardeningTable(table, {"map", "outcome"});
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    const uint32_t count = static_cast<uint32_t>(shape.entries.size()) + 1;
    DiskImage map(kAfterFirmware + kVolumeBlocks + 64);
    map.SetEntry(0, MakeEntry("partition map", "Apple_partition_map", 1, 63, count));
    for (uint32_t i = 1; i < count; ++i) {
      PartitionMapEntry entry = shape.entries[i - 1];
      entry.pmMapBlkCnt = count;
      map.SetEntry(i, entry);
    }
    map.Bytes().replace(static_cast<size_t>(shape.diskStart) * kBlock, volume.size(), volume);
    Run(map, &image);
    EXPECT_EQ(trace_,
              Lines({"log     <Checking partition information...>",
                     std::string("log ") + shape.repairLine, kRepairFailed, "wizard last"}));
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    HardeningRow(table, {shape.what, DescribeUpdate(RecordedUi(), before_, after_)});
#ifndef _WIN32
    EXPECT_EQ(
        HfsReadme(after_.substr(static_cast<size_t>(shape.diskStart) * kBlock, volume.size())),
        kText);
#endif
  }
}

TEST_F(UpdateWorker, RefusesTheFirmwareAndShowsE5WhenTheMapEndsEarly) {
  // Five entries, but the image ends after entry 3: the fifth cannot be read.
  DiskImage disk = RepairedMap(63, 200, 263, 5,
                               {MakeEntry("Extra", "Apple_Free", 300, 10, 5),
                                MakeEntry("Patches", "Apple_Patches", 310, 10, 5)});
  const std::string image = FirmwareImage(40448, 7);
  Run(disk, &image);
  EXPECT_EQ(WorkerTrace(),
            Join(FirmwareLines(102400),
                 {"log Firmware not written: the partition map could not be read in full.",
                  "box Error: Unable to read the whole partition table of your zAze!",
                  "log Drive read failed! Dc:2", kEntryReadFailed, "wizard last"}));
  EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
  ExpectDumpOfMap(4, 1, 5);  // the entries that could be read
}

// The file is checked again before anything is written: one that fails now
// (gone, emptied, another file put in its place) leaves even the map alone.
TEST_F(UpdateWorker, RefusesAFileThatFailsTheCheckNowBeforeTheRepair) {
  const Lines refused = {
      "log Firmware not written: the file is no longer a valid firmware file.",
      "box Error: The firmware file is no longer a valid firmware file! Nothing was written to "
      "your zAze.",
      "wizard last"};
  std::string other = FirmwareImage(40448, 12);
  other[131] = 'x';
  const std::string empty;
  const std::string* const images[] = {nullptr, &empty, &other};
  for (const std::string* image : images) {
    SCOPED_TRACE(image == nullptr ? "gone" : image->empty() ? "emptied" : "another file");
    Run(ZazeBeforeRepair(), image);
    EXPECT_EQ(trace_, refused);
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    EXPECT_FALSE(dumped_);
  }
}

// Cuts the image file (two chunks) to one chunk once that chunk is on the
// disk, the bar's third step after the two of the backup, as a medium that
// fails under the copy would.
void CutImageAfterFirstChunk(int32_t position, void*) {
  if (position == 3) fs::resize_file(kImageName, kChunkBytes);
}

// The chunk written before the failure is put back from the backup. A
// backup that cannot be written to the disk refuses the update.
TEST_F(UpdateWorker, PutsThePreviousFirmwareBackWhenTheCopyFails) {
  const std::string image = FirmwareImage(40448, 8);
  SetProgressPosHook(CutImageAfterFirstChunk, nullptr);
  Run(ZazeRepaired(), &image);
  SetProgressPosHook(nullptr, nullptr);
  EXPECT_EQ(WorkerTrace(),
            Join(FirmwareLines(33524224),
                 {"bar create", "bar range 0..6", "bar pos 1", "bar pos 2", SavedLine(image.size()),
                  "bar pos 3", "log Error quiting", "bar destroy", "log Unable to update firmware!",
                  "log Previous firmware restored.", kRestored, "wizard last"}));
  EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
  ExpectDumpOfMap(3, 1);

  // A backup file that cannot be written, and one that is written but does
  // not reach a medium (a device without one refuses the flush).
  keepBackups_ = true;
  const struct {
    const char* what;
    void (*make)();
    Lines refusal;
  } obstacles[] = {
      {"a folder of that name",
       [] { fs::create_directory(kFirstBackup); },
       {"log Firmware not written: no room to keep a copy of the previous firmware.",
        "box Error: Not enough memory or disk space to keep a copy of the firmware on your zAze! "
        "Nothing was written to your zAze."}},
#ifndef _WIN32
      {"a link to /dev/null",
       [] { fs::create_symlink("/dev/null", kFirstBackup); },
       {"log Firmware not written: the copy of the previous firmware did not reach this "
        "computer's disk whole.",
        "box Error: The copy of the firmware on your zAze could not be saved on this computer's "
        "disk! Nothing was written to your zAze."}},
#endif
  };
  for (const auto& obstacle : obstacles) {
    SCOPED_TRACE(obstacle.what);
    RemoveBackupSets();
    obstacle.make();
    Run(ZazeRepaired(), &image);
    EXPECT_EQ(WorkerTrace(),
              Join(FirmwareLines(33524224),
                   Join({"bar create", "bar range 0..6", "bar pos 1", "bar pos 2", "bar destroy"},
                        Join(obstacle.refusal, {"wizard last"}))));
    EXPECT_TRUE(after_ == before_) << ChangesOutside(before_, after_, {});
    fs::remove(kFirstBackup);
  }
}

// An earlier backup chosen as the firmware file goes back whole and is left
// as it was: this update's own backup goes to the next free name.
TEST_F(UpdateWorker, AnEarlierBackupChosenAsTheFirmwareGoesBackAndStays) {
  const std::string earlier = FirmwareImage(40448, 9);
  keepBackups_ = true;
  Run(ZazeRepaired(), &earlier, kFirstBackup);
  EXPECT_TRUE(WrittenAt(63, earlier.size()) == earlier) << "the earlier firmware is not back";
  EXPECT_TRUE(ReadWholeFile(kFirstBackup) == earlier) << "the chosen backup was replaced";
  EXPECT_TRUE(ReadWholeFile("zaze_fw_backup-2.bin") == before_.substr(63 * kBlock, earlier.size()));
  const Lines logged = RecordedLogLines();
  EXPECT_NE(std::find(logged.begin(), logged.end(),
                      "Saved the 40448 bytes the update replaces to zaze_fw_backup-2.bin."),
            logged.end());
}

// ---- Refusals: nothing written, the map still dumped ---------------------

TEST_F(UpdateWorker, RefusesImagesThatDoNotFitBeforeTheFirstWrite) {
  const std::string notWhole =
      "Firmware not written: the file is not a whole number of 512-byte "
      "sectors.|Error: The firmware file is not a whole number of "
      "512-byte sectors!";
  const std::string tooLong =
      "Firmware not written: the file does not fit the firmware "
      "partition.|Error: The firmware file does not fit the firmware "
      "partition on your zAze!";
  const std::string overlap =
      "Firmware not written: it would overwrite another partition.|"
      "Error: The firmware file would overwrite another partition on "
      "your zAze!";
  struct Case {
    const char* what;
    DiskImage disk;
    size_t bytes;
    std::string refusal;  // log line|box headline
    uint32_t partitionBytes;
  };
  const Case cases[] = {
      {"1,000 bytes", ZazeRepaired(), 1000, notWhole, 33524224},
      {"513 bytes", ZazeRepaired(), 513, notWhole, 33524224},
      {"one sector more than the zAze's partition", ZazeRepaired(), 65478 * kBlock, tooLong,
       33524224},
      {"one sector more than a small partition", RepairedMap(63, 200, 263, 600), 201 * kBlock,
       tooLong, 102400},
      {"\"disk\" inside the written range", RepairedMap(63, 200, 163, 600), 101 * kBlock, overlap,
       102400},
      {"a firmware partition inside the map", RepairedMap(2, 200, 263, 600), 2 * kBlock, overlap,
       102400},
      {"a firmware partition over block 0", RepairedMap(0, 200, 263, 600), kBlock, overlap, 102400},
      // The first chunk would land below 2 GB and the second past it.
      {"a partition across 2 GB", RepairedMap(0x400000 - 70, 65477, 63, 512), 40448,
       "Firmware not written: the firmware partition lies beyond the first 2 GB of the drive.|"
       "Error: The firmware partition on your zAze lies out of reach!",
       33524224},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = FirmwareImage(c.bytes, 9);
    Run(c.disk, &image);
    const size_t bar = c.refusal.find('|');
    EXPECT_EQ(WorkerTrace(), Join(FirmwareLines(c.partitionBytes),
                                  {"log " + c.refusal.substr(0, bar),
                                   "box " + c.refusal.substr(bar + 1), "wizard last"}));
    EXPECT_TRUE(after_ == repaired_)
        << "written after repair: " << ChangesOutside(repaired_, after_, {});
    ExpectDumpOfMap(3, 1);
  }
}

// A plan reads what the update reads and writes nothing, and foresees it:
// refused or not, the blocks the repair writes, where the image goes.
TEST_F(UpdateWorker, APlanChangesNothingAndForeseesTheUpdate) {
  const struct {
    const char* what;
    DiskImage disk;
    size_t bytes;
  } cases[] = {
      {"a zAze before repair", ZazeBeforeRepair(), 40448},
      {"a zAze repaired", ZazeRepaired(), 40448},
      {"a file larger than the partition", RepairedMap(63, 200, 263, 600), 201 * kBlock},
      {"an ordinary disk", OrdinaryDisk(), 40448},
      {"a map ending before its last entry",
       RepairedMap(63, 200, 263, 5,
                   {MakeEntry("Extra", "Apple_Free", 300, 10, 5),
                    MakeEntry("Patches", "Apple_Patches", 310, 10, 5)}),
       40448},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = FirmwareImage(c.bytes, 14);
    SaveFile(kImageName, image);
    AttachDrive(0, c.disk);
    RemoveBackupSets();
    fs::remove(kDumpName);
    ResetRecordedUi();
    const UpdatePlan plan = PlanFirmwareUpdate('A', kImageName);
    const Lines planned = RecordedErrorBoxes();
    EXPECT_TRUE(DriveBytes(0) == c.disk.Bytes()) << "the plan wrote to the drive";
    EXPECT_FALSE(fs::exists(kDumpName) || fs::exists(kFirstBackup) || fs::exists("zaze_update.rec"))
        << "the plan wrote a file";
    Run(c.disk, &image);
    const Lines boxes = RecordedErrorBoxes();
    EXPECT_EQ(plan.goesAhead, boxes.empty());
    EXPECT_EQ(planned, Lines(boxes.begin(), boxes.begin() + std::min<size_t>(boxes.size(), 1)))
        << "the plan's refusal is not the update's first";
    std::vector<BlockRange> written;
    for (uint32_t i = 0; i < std::min(plan.map.changedCount, kPlannedEntries); ++i) {
      written.push_back({plan.map.changed[i] + 1, 1});
    }
    if (plan.goesAhead) {
      written.push_back({plan.firmwareStart / kBlock, plan.firmwareLength / kBlock});
      EXPECT_EQ(plan.firmwareLength, image.size());
    }
    EXPECT_EQ(ChangesOutside(before_, after_, written), "");
    EXPECT_EQ(ChangesOutside(after_, before_, {}).empty(), written.empty());
  }
}

// ---- The copy itself -----------------------------------------------------

struct Tamper {
  RawDrive* drive;
  uint32_t offset;
  int32_t afterChunk;
  std::vector<int32_t> reports;
};

// Changes one sector behind the copy's back, as a failing medium would.
void TamperAfterChunk(int32_t chunksWritten, void* context) {
  Tamper& tamper = *static_cast<Tamper*>(context);
  tamper.reports.push_back(chunksWritten);
  if (chunksWritten != tamper.afterChunk) return;
  const std::string zeros(kBlock, '\0');
  EXPECT_EQ(tamper.drive->Write(zeros.data(), tamper.offset, kBlock), 512);
}

// The copy engine alone: 64512 bytes of the image file to byte 32256 of an
// ordinary disk on drive A, zeroing the sector at `offset` after chunk
// `afterChunk`; the chunk counts it reported go to `reports`.
CopyResult CopyAlone(const std::string& image, bool verify, uint32_t offset, int32_t afterChunk,
                     std::vector<int32_t>& reports) {
  SaveFile(kImageName, image);
  AttachDrive(0, OrdinaryDisk(512));
  FILE* file = std::fopen(kImageName, "rb");
  RawDrive drive;
  if (file == nullptr || drive.Open('A') != 1) {
    ADD_FAILURE() << "the image or the drive did not open";
    if (file != nullptr) std::fclose(file);
    return CopyResult::kDone;
  }
  Tamper tamper = {&drive, offset, afterChunk, {}};
  const CopyResult copied =
      CopyImageToDrive(drive, file, 64512, 32256, verify, TamperAfterChunk, &tamper).result;
  std::fclose(file);
  reports = tamper.reports;
  return copied;
}

// Without the memory for the range, the backup goes through its file alone:
// the file holds the sectors, and a restore puts them back from it.
TEST_F(UpdateWorker, ABackupWithoutMemoryGoesThroughItsFile) {
  const uint32_t start = 63 * kBlock;
  const uint32_t length = kChunkBytes + 20 * kBlock;  // two chunks, the last short
  AttachDrive(0, OrdinaryDisk(512));
  const std::string before = DriveBytes(0).substr(start, length);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  {
    FirmwareBackup backup(0);
    ASSERT_EQ(backup.Save(drive, start, length, kFirstBackup, nullptr, nullptr),
              BackupSave::kSaved);
    EXPECT_TRUE(ReadWholeFile(kFirstBackup) == before) << "the file is not the sectors";
    const std::string other = FirmwareImage(length, 12);
    ASSERT_EQ(drive.Write(other.data(), start, length), static_cast<int32_t>(length));
    EXPECT_EQ(backup.Restore(drive, 'A', length, nullptr), RestoreResult::kRestored);
  }
  drive.Close();
  EXPECT_TRUE(DriveBytes(0).substr(start, length) == before) << "not put back from the file";

  // Neither memory nor a file to write: nothing to restore from, refused.
  fs::remove(kFirstBackup);
  fs::create_directory(kFirstBackup);
  ASSERT_EQ(drive.Open('A'), 1);
  FirmwareBackup backup(0);
  EXPECT_EQ(backup.Save(drive, start, length, kFirstBackup, nullptr, nullptr), BackupSave::kNoRoom);
  drive.Close();
  fs::remove(kFirstBackup);
}

TEST_F(UpdateWorker, CopyReadsTheRangeBackAndCatchesADifference) {
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "verifying" : "not verifying");
    std::vector<int32_t> reports;
    EXPECT_EQ(CopyAlone(FirmwareImage(64512, 10), verify, 32256 + 64000, 2, reports),
              verify ? CopyResult::kVerifyFailed : CopyResult::kDone);
    // Two chunks written, then the first read back before the second differs.
    EXPECT_EQ(reports, verify ? std::vector<int32_t>({1, 2, 3}) : std::vector<int32_t>({1, 2}));
  }
}

TEST_F(UpdateWorker, CopyFailsWhenTheImageEndsBeforeItsLength) {
  const std::string image = FirmwareImage(32256, 11);
  std::vector<int32_t> reports;
  EXPECT_EQ(CopyAlone(image, true, 0, -1, reports), CopyResult::kImageReadFailed);
  EXPECT_EQ(reports, std::vector<int32_t>({1}));
  EXPECT_TRUE(DriveBytes(0).substr(32256, 32256) == image) << "first chunk not written";
}

}  // namespace
