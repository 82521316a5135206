// Maps and images that are wrong in one named way each, through the whole
// update (repair, the map walk, the copy): what the user is told and what is
// written, and that nothing outside the map and the image's blocks changes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/PartitionMap.h"
#include "device/UpdateWorker.h"
#include "tests/support/DiskImage.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateOutcome.h"

namespace {

constexpr uint32_t kBlock = 512;
constexpr char kImageName[] = "firmware.img";
constexpr uint32_t kZazeFirmwareBytes = 65477 * kBlock;

DiskImage WithMapCount(DiskImage disk, uint32_t count) {
  return WithEntry(std::move(disk), 0, [count](PartitionMapEntry& e) { e.pmMapBlkCnt = count; });
}

// A 32-byte name with no terminator in its field.
void FullName(PartitionMapEntry& entry, const char* start) {
  std::memset(entry.pmPartName, 'x', sizeof entry.pmPartName);
  std::memcpy(entry.pmPartName, start, std::strlen(start));
}

struct BadInput {
  std::string what;
  DiskImage disk;
  size_t imageBytes;
  std::string expected;  // DescribeUpdate of the run
};

class BadInputs : public testing::Test {
 protected:
  void TearDown() override {
    DetachDrives();
    std::memset(FirmwarePath, 0, sizeof FirmwarePath);
    FoundDriveLetter = 0;
  }

  // Runs each case on drive A and records it in `table`.
  void RunAll(const std::string& table, const std::vector<BadInput>& cases) {
    HardeningTable(table, {"input", "outcome"});
    for (const BadInput& c : cases) {
      SCOPED_TRACE(c.what);
      AttachDrive(0, c.disk);
      const std::string image = FirmwareImage(c.imageBytes, 12);
      SaveFile(kImageName, image);
      std::snprintf(FirmwarePath, sizeof FirmwarePath, "%s", kImageName);
      FoundDriveLetter = 'A';
      ResetRecordedUi();

      FirmwareUpdateThread(nullptr);

      const std::string after = DriveBytes(0);
      const std::vector<UiEvent> events = RecordedUi();
      const std::string outcome = DescribeUpdate(events, c.disk.Bytes(), after);
      EXPECT_EQ(outcome, c.expected);
      EXPECT_EQ(RecordedWizardLastCount(), 1);
      if (LoggedLine(events, "Updated firmware!")) {
        EXPECT_TRUE(after.compare(63 * kBlock, image.size(), image) == 0)
            << "\"Updated firmware!\" without the image at block 63";
      }
      HardeningRow(table, {c.what, outcome});
    }
  }

  ScratchFolder scratch_;  // the dump file has a fixed name
};

TEST_F(BadInputs, Maps) {
  const DiskImage zaze = ZazeBeforeRepair();
  const DiskImage repaired = ZazeRepaired();
  // "disk" starts inside the firmware's range.
  const DiskImage overlapping =
      WithEntry(repaired, 2, [](PartitionMapEntry& e) { e.pmPyPartStart = 100; });
  DiskImage twoFirmware(4096);
  twoFirmware.SetEntry(0, MakeEntry("partition map", "Apple_partition_map", 1, 63, 4));
  twoFirmware.SetEntry(1, MakeEntry("firmware", "Apple_MDFW", 64, 100, 4));
  twoFirmware.SetEntry(2, MakeEntry("firmware", "Apple_MDFW", 164, 100, 4));
  twoFirmware.SetEntry(3, MakeEntry("disk", "Apple_HFS", 65540, 1000, 4));
  DiskImage afterDisk = zaze;
  const PartitionMapEntry firmware = zaze.Entry(1);
  afterDisk.SetEntry(1, zaze.Entry(2));
  afterDisk.SetEntry(2, firmware);
  const std::string refused = "map not repaired; nothing written";
  const std::string updated = "updated and verified; wrote blocks 1-2, 63-141";

  RunAll("Bad input: partition maps (a 40,448-byte image)",
         {
             {"N = 0", WithMapCount(zaze, 0), 40448, refused},
             {"N = 1", WithMapCount(zaze, 1), 40448, refused},
             {"N = 62", WithMapCount(zaze, 62), 40448, updated},
             {"N = 63", WithMapCount(zaze, 63), 40448, updated},
             {"N = 63 on a map in order: more entries than its 62 blocks",
              WithMapCount(repaired, 63), 40448, refused},
             {"N = 2^31", WithMapCount(zaze, 0x80000000u), 40448, refused},
             {"block 1 named \"Partition Map\"",
              WithEntry(zaze, 0,
                        [](PartitionMapEntry& e) { std::strcpy(e.pmPartName, "Partition Map"); }),
              40448, refused},
             {"block 1's name: \"partition map\" and 19 more characters, no terminator",
              WithEntry(zaze, 0, [](PartitionMapEntry& e) { FullName(e, "partition map"); }), 40448,
              refused},
             {"the firmware entry's name: \"firmware\" and 24 more characters, no terminator",
              WithEntry(zaze, 1, [](PartitionMapEntry& e) { FullName(e, "firmware"); }), 40448,
              refused},
             {"\"firmware\" after \"disk\"", afterDisk, 40448, refused},
             {"two \"firmware\" entries before \"disk\"", twoFirmware, 40448, refused},
             {"the firmware partition overlaps the data partition", overlapping, 101 * kBlock,
              "refused: overlaps another partition; nothing written"},
             {"an ordinary Macintosh disk of 60 entries, no firmware", MacDisk(60, 4096), 40448,
              refused},
             {"an ordinary disk, no partition map", OrdinaryDisk(), 40448, refused},
         });
}

TEST_F(BadInputs, Images) {
  const DiskImage repaired = ZazeRepaired();
  const std::string notWhole = "refused: not whole sectors; nothing written";
  const std::string failsCheck = "refused: file fails the check now; nothing written";
  DiskImage whole = ZazeRepaired(65540);  // room for the whole firmware partition
  RunAll("Bad input: firmware images (on a repaired zAze, partition of 65,477 blocks)",
         {
             {"0 bytes", repaired, 0, failsCheck},
             {"149 bytes (too short for the maker's text)", repaired, 149, failsCheck},
             {"1,000 bytes", repaired, 1000, notWhole},
             {"511 bytes (one byte short of a sector)", repaired, 511, notWhole},
             {"40,447 bytes (one byte short of 79 sectors)", repaired, 40447, notWhole},
             {"40,449 bytes (one byte over 79 sectors)", repaired, 40449, notWhole},
             {"40,448 bytes (79 sectors)", repaired, 40448,
              "updated and verified; wrote blocks 63-141"},
             {"exactly the partition's size", whole, kZazeFirmwareBytes,
              "updated and verified; wrote blocks 63-65539"},
             {"one sector more than the partition", repaired, kZazeFirmwareBytes + kBlock,
              "refused: larger than the partition; nothing written"},
         });
}

}  // namespace
