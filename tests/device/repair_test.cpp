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

// The later-entry read failure, whatever error code the platform gives.
bool IsEntryReadFailure(const std::string& line) {
  return std::regex_match(
      line, std::regex(R"(    <Drive read failed! fixDc:2 GLE: 0x[0-9a-f]+ ret: 0>)"));
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
    PartitionMapEntry entry = image.Entry(i);
    FillCarriedFields(entry, static_cast<uint8_t>(i + 1));
    entry.pmSig = 0x5453;
    image.SetEntry(i, entry);
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

  PartitionMapEntry own = image.Entry(0);
  own.pmPyPartStart = 1;
  own.pmPartBlkCnt = 62;
  own.pmMapBlkCnt = 3;
  own.pmSig = 0x504D;
  EXPECT_EQ(Bytes(EntryAfter(0)), Bytes(own));

  PartitionMapEntry firmware = image.Entry(1);
  firmware.pmPyPartStart = 63;
  firmware.pmPartBlkCnt = 65477;
  firmware.pmMapBlkCnt = 3;
  firmware.pmSig = 0x504D;
  EXPECT_EQ(Bytes(EntryAfter(1)), Bytes(firmware));
  EXPECT_STREQ(EntryAfter(1).pmPartName, "firmware");
}

TEST_F(Repair, LogsOtherEntriesBeforeTheFirmwareAndLeavesThemAlone) {
  const std::string longName(32, 'n');  // no NUL: logged up to the field's end
  DiskImage image = MapOf({"driver", "firmware"});
  PartitionMapEntry entry = image.Entry(1);
  std::memcpy(entry.pmPartName, longName.data(), 32);
  image.SetEntry(1, entry);

  EXPECT_EQ(Run(image), 1);
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

// An entry it cannot read might be the data volume: the count of three
// could hide it, or the firmware partition overlap it.
TEST_F(Repair, ChangesNothingWhenAnEntryCannotBeRead) {
  EXPECT_EQ(Run(EndingAfter(MapOf({"firmware", "patch", "later", "disk"}), 4)), 0);
  const Lines log = RecordedLogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], kChecking);
  EXPECT_TRUE(IsEntryReadFailure(log[1])) << log[1];
  EXPECT_EQ(log[2], "    <Part of the map could not be read, nothing was changed!>");
  ExpectUnchanged();
}

TEST_F(Repair, LeavesAMapInOrderAloneWhereverItsFirmwareStarts) {
  EXPECT_EQ(Run(ZazeRepaired()), 1);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kOkay}));
  ExpectUnchanged();

  ResetRecordedUi();
  DiskImage image = ZazeBeforeRepair();
  PartitionMapEntry own = image.Entry(0);
  own.pmPartBlkCnt = 62;
  image.SetEntry(0, own);
  PartitionMapEntry firmware = image.Entry(1);
  firmware.pmPyPartStart = 40;
  image.SetEntry(1, firmware);
  EXPECT_EQ(Run(image), 1);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kOkay}));
  ExpectUnchanged();
}

// Disks that are not a zAze's keep every byte, whatever their first entry says.
TEST_F(Repair, ChangesNothingOnAMacintoshDiskWithoutFirmware) {
  EXPECT_EQ(Run(MacDisk()), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kNoFirmware}));
  ExpectUnchanged();

  ResetRecordedUi();
  EXPECT_EQ(Run(MapOf({"driver", "disk", "firmware"})), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kNoFirmware})) << "firmware after disk";
  ExpectUnchanged();

  ResetRecordedUi();
  EXPECT_EQ(Run(MapOf({"driver", "disk"}, 62)), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kNoFirmware})) << "in order but no firmware";
  ExpectUnchanged();
}

TEST_F(Repair, ChangesNothingWhenTheMapEndsBeforeAnyFirmware) {
  DiskImage one = ZazeBeforeRepair();  // a firmware entry lies behind a map of one entry
  PartitionMapEntry own = one.Entry(0);
  own.pmMapBlkCnt = 1;
  one.SetEntry(0, own);
  EXPECT_EQ(Run(one), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking, kNoFirmware}));
  ExpectUnchanged();

  ResetRecordedUi();
  EXPECT_EQ(Run(EndingAfter(MapOf({"driver", "firmware", "disk"}), 3)), 0);
  const Lines log = RecordedLogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], kChecking);
  EXPECT_TRUE(IsEntryReadFailure(log[1])) << log[1];
  EXPECT_EQ(log[2], kNoFirmware);
  ExpectUnchanged();
}

TEST_F(Repair, RefusesADriveWithoutAReadablePartitionMap) {
  EXPECT_EQ(RepairPartitionMap('A' + 7), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{"    <Unable to open drive \"H\">"}));

  ResetRecordedUi();
  EXPECT_EQ(Run(OrdinaryDisk()), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{"    <Current drive isn't a Mac Drive!>"}));
  ExpectUnchanged();

  ResetRecordedUi();
  DiskImage renamed = ZazeBeforeRepair();
  PartitionMapEntry own = renamed.Entry(0);
  std::strcpy(own.pmPartName, "Partition Map");
  renamed.SetEntry(0, own);
  EXPECT_EQ(Run(renamed), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{"    <Current drive isn't a Mac Drive!>"}));
  ExpectUnchanged();

  ResetRecordedUi();
  EXPECT_EQ(Run(DiskImage(1)), 0);  // block 1 is not there
  const Lines log = RecordedLogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      log[0], std::regex(R"(    <Drive read failed! fixDc:1 gle: 0x[0-9a-f]+ ret: 0>)")))
      << log[0];
  ExpectUnchanged();
}

TEST_F(Repair, GivesUpSilentlyOnAMapTooLargeToHold) {
  DiskImage image = ZazeBeforeRepair();
  PartitionMapEntry own = image.Entry(0);
  own.pmMapBlkCnt = 0x800000;  // 2^32 bytes of entries
  image.SetEntry(0, own);
  EXPECT_EQ(Run(image), 0);
  EXPECT_EQ(RecordedLogLines(), (Lines{kChecking}));
  ExpectUnchanged();
}

}  // namespace
