#include "device/Repair.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "device/RawDrive.h"
#include "tests/support/DiskImage.h"
#include "tests/support/RecordingUi.h"

namespace {

using Lines = std::vector<std::string>;

const char kChecking[] = "    <Checking partition information...>";
const char kOkay[] = "    <Partition information is Okay>";
const char kFirmwareFound[] = "    <Firmware partition found...>";
const char kDiskFound[] = "    <Drive found...>";
const char kNoFirmware[] = "    <No firmware partition found, nothing was changed!>";

constexpr int kDrive = 2;
constexpr char kLetter = 'A' + kDrive;

// Read failures as logged, with the platform's error code as "0x?".
const char kBlock1ReadFailed[] = "    <Drive read failed! fixDc:1 gle: 0x? ret: 0>";
const char kEntryReadFailed[] = "    <Drive read failed! fixDc:2 GLE: 0x? ret: 0>";

Lines LogWithoutErrorCodes() {
  Lines log = RecordedLogLines();
  for (std::string& line : log) {
    line = std::regex_replace(line, std::regex("(GLE|gle): 0x[0-9a-f]+ "), "$1: 0x? ");
  }
  return log;
}

// Fills the fields that repair must carry over, so that a rewrite which loses
// one of them shows.
void FillCarriedFields(PartitionMapEntry& entry, uint8_t seed) {
  entry.pmSigPad = static_cast<uint16_t>(0x0100 + seed);
  entry.pmLgDataStart = 0x11000000u + seed;
  entry.pmDataCnt = 0x22000000u + seed;
  entry.pmPartStatus = 0x33000000u + seed;
  entry.pmLgBootStart = 0x44000000u + seed;
  entry.pmBootCksum = 0x55000000u + seed;
  std::memcpy(entry.pmProcessor, "powerpc", 8);
  for (size_t i = 0; i < sizeof entry.pmPad; ++i) entry.pmPad[i] = static_cast<uint8_t>(i + seed);
}

std::string Bytes(const PartitionMapEntry& entry) {
  return std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
}

class Repair : public testing::Test {
 protected:
  void SetUp() override { ResetRecordedUi(); }
  void TearDown() override { DetachDrives(); }

  // Puts `image` on the drive and runs repair on it.
  int Run(const DiskImage& image) {
    AttachDrive(kDrive, image);
    before_ = DriveBytes(kDrive);
    const int result = RepairPartitionMap(kLetter);
    after_ = DriveBytes(kDrive);
    RawDrive drive;
    EXPECT_EQ(drive.Open(kLetter), 1) << "repair left the drive open";
    return result;
  }

  void ExpectChangedOnly(const std::vector<BlockRange>& allowed) const {
    EXPECT_EQ(ChangesOutside(before_, after_, allowed), "");
  }
  void ExpectUnchanged() const { ExpectChangedOnly({}); }

  PartitionMapEntry EntryAfter(uint32_t index) const {
    DiskImage image(0);
    image.Bytes() = after_;
    return image.Entry(index);
  }

  std::string before_;
  std::string after_;
};

// A zAze as it comes, with carried fields filled and a signature that repair
// must set again.
DiskImage MarkedZaze() {
  DiskImage image = ZazeBeforeRepair();
  for (uint32_t i = 0; i < 2; ++i) {
    image = WithEntry(image, i, [i](PartitionMapEntry& e) {
      FillCarriedFields(e, static_cast<uint8_t>(i + 1));
      e.pmSig = 0x5453;
    });
  }
  return image;
}

// A map whose entries after block 1 have the given names, then data blocks.
DiskImage MapOf(const std::vector<const char*>& names, uint32_t partBlocks = 63) {
  constexpr uint32_t kBlocks = 256;
  DiskImage image(kBlocks);
  const uint32_t count = static_cast<uint32_t>(names.size()) + 1;
  image.SetEntry(0, MakeEntry("partition map", "Apple_partition_map", 1, partBlocks, count));
  for (uint32_t i = 0; i < names.size(); ++i) {
    image.SetEntry(i + 1, MakeEntry(names[i], "Apple_Free", 64 + i, 8, count));
  }
  image.Fill(count + 1, kBlocks - count - 1, 0x3C);
  return image;
}

// The same disk cut after `blocks` blocks, so that the map runs past its end.
DiskImage EndingAfter(DiskImage image, uint32_t blocks) {
  image.Bytes().resize(blocks * 512);
  return image;
}

TEST_F(Repair, RewritesTheMapOfAZazeAsItComes) {
  const DiskImage image = MarkedZaze();
  EXPECT_EQ(Run(image), 1);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kFirmwareFound, kDiskFound}));
  ExpectChangedOnly({{1, 2}});

  // Each entry as it was but for the four numbers repair sets.
  const auto repaired = [](PartitionMapEntry entry, uint32_t start, uint32_t blocks) {
    entry.pmPyPartStart = start;
    entry.pmPartBlkCnt = blocks;
    entry.pmMapBlkCnt = 3;
    entry.pmSig = 0x504D;
    return Bytes(entry);
  };
  EXPECT_EQ(Bytes(EntryAfter(0)), repaired(image.Entry(0), 1, 62));
  EXPECT_EQ(Bytes(EntryAfter(1)), repaired(image.Entry(1), 63, 65477));
  EXPECT_STREQ(EntryAfter(1).pmPartName, "firmware");
}

TEST_F(Repair, LogsOtherEntriesBeforeTheFirmwareAndLeavesThemAlone) {
  const std::string longName(32, 'n');  // no NUL: logged up to the field's end
  EXPECT_EQ(
      Run(WithEntry(MapOf({"driver", "firmware"}), 1,
                    [&](PartitionMapEntry& e) { std::memcpy(e.pmPartName, longName.data(), 32); })),
      1);
  EXPECT_EQ(RecordedLogLines(),
            (Lines{kChecking, "    <Found: " + longName + ">", kFirmwareFound}));
  ExpectChangedOnly({{1, 1}, {3, 1}});
  EXPECT_EQ(EntryAfter(2).pmPyPartStart, 63u);
}

TEST_F(Repair, RewritesEveryFirmwareEntryOfTheRepairedMap) {
  EXPECT_EQ(Run(MapOf({"firmware", "firmware"})), 1);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kFirmwareFound, kFirmwareFound}));
  ExpectChangedOnly({{1, 3}});
  EXPECT_EQ(EntryAfter(2).pmPartBlkCnt, 65477u);
}

// Disks repair leaves as they were, with what it returns and logs: maps in
// order, and disks that are not a zAze's whatever their first entry says.
// An entry it cannot read might be the data volume: the count of three could
// hide it, or the firmware partition overlap it.
TEST_F(Repair, LeavesEveryByteOfTheseDisks) {
  const DiskImage zaze = ZazeBeforeRepair();
  const Lines noFirmware = {kChecking, kNoFirmware};
  const Lines notMac = {"    <Current drive isn't a Mac Drive!>"};
  const struct {
    const char* what;
    DiskImage disk;
    int result;
    Lines log;
  } cases[] = {
      {"a zAze already repaired", ZazeRepaired(), 1, {kChecking, kOkay}},
      {"a map in order whose firmware starts at 40",
       WithEntry(WithEntry(zaze, 0, [](PartitionMapEntry& e) { e.pmPartBlkCnt = 62; }), 1,
                 [](PartitionMapEntry& e) { e.pmPyPartStart = 40; }),
       1,
       {kChecking, kOkay}},
      {"an entry that cannot be read",
       EndingAfter(MapOf({"firmware", "patch", "later", "disk"}), 4),
       0,
       {kChecking, kEntryReadFailed,
        "    <Part of the map could not be read, nothing was changed!>"}},
      {"a Macintosh disk", MacDisk(), 0, noFirmware},
      {"firmware after disk", MapOf({"driver", "disk", "firmware"}), 0, noFirmware},
      {"in order but no firmware", MapOf({"driver", "disk"}, 62), 0, noFirmware},
      {"a firmware entry behind a map of one entry",
       WithEntry(zaze, 0, [](PartitionMapEntry& e) { e.pmMapBlkCnt = 1; }), 0, noFirmware},
      // Cut short before any "disk": a zAze's map may be one a read failed
      // on, so that is what is told.
      {"a map that ends before its firmware entry",
       EndingAfter(MapOf({"driver", "firmware", "disk"}), 3),
       0,
       {kChecking, kEntryReadFailed,
        "    <Part of the map could not be read, nothing was changed!>"}},
      {"an ordinary disk", OrdinaryDisk(), 0, notMac},
      {"block 1 named \"Partition Map\"",
       WithEntry(zaze, 0, [](PartitionMapEntry& e) { std::strcpy(e.pmPartName, "Partition Map"); }),
       0, notMac},
      {"no block 1", DiskImage(1), 0, {kBlock1ReadFailed}},
      {"a map too large to hold (2^32 bytes of entries)",
       WithEntry(zaze, 0, [](PartitionMapEntry& e) { e.pmMapBlkCnt = e.pmPartBlkCnt = 0x800000; }),
       0,
       {kChecking, "    <Not enough memory for the partition map, nothing was changed!>"}},
      {"more entries than the map's own blocks",
       WithEntry(zaze, 0, [](PartitionMapEntry& e) { e.pmMapBlkCnt = 400000; }),
       0,
       {kChecking, "    <The map claims 400000 entries in 63 blocks, nothing was changed!>"}},
      {"a partition of the user's after \"disk\"",
       [&] {
         DiskImage disk = WithEntry(zaze, 0, [](PartitionMapEntry& e) { e.pmMapBlkCnt = 4; });
         disk.SetEntry(3, MakeEntry("Archive", "Apple_HFS", 70000, 64, 4));
         return disk;
       }(),
       0,
       {kChecking, "    <\"Archive\" would lie outside the repaired map, nothing was changed!>"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRecordedUi();
    EXPECT_EQ(Run(c.disk), c.result);
    EXPECT_EQ(LogWithoutErrorCodes(), c.log);
    ExpectUnchanged();
  }
}

// The system's words for why follow the line.
TEST_F(Repair, RefusesADriveThatIsNotThere) {
  EXPECT_EQ(RepairPartitionMap('A' + 7), 0);
  const Lines log = RecordedLogLines();
  ASSERT_EQ(log.size(), 1u);
  const std::string line = "    <Unable to open drive \"H\"> ";
  EXPECT_EQ(log[0].substr(0, line.size()), line);
  EXPECT_GT(log[0].size(), line.size() + 5) << "no words for the error";
}

}  // namespace
