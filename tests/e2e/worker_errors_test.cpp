// Every error box of the update worker that a user can meet through the
// wizard: each box's text as shown, and the last page after it.
#include <gtest/gtest.h>

#include "device/Contact.h"
#include "tests/e2e/E2eHarness.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

constexpr uint32_t kFarBlock = 0x80000000u / kSector;  // 2^31 bytes in

// A zAze whose map is already in order, with the firmware partition where
// `start` and `blocks` put it and a small "disk" partition out of its way.
DiskImage OrderedZaze(uint32_t blocks, uint32_t start, uint32_t firmwareBlocks) {
  DiskImage image = ZazeRepaired(blocks);
  PartitionMapEntry firmware = image.Entry(1);
  firmware.pmPyPartStart = start;
  firmware.pmPartBlkCnt = firmwareBlocks;
  image.SetEntry(1, firmware);
  PartitionMapEntry disk = image.Entry(2);
  disk.pmPartBlkCnt = 1000;
  image.SetEntry(2, disk);
  return image;
}

DiskImage StandardZaze() { return ZazeBeforeRepair(kZazeBlocks); }
DiskImage NotAZaze() { return MacDisk(); }
// Claims eight entries on a drive that ends after the third.
DiskImage ShortMap() {
  DiskImage image = ZazeRepaired(4);
  PartitionMapEntry map = image.Entry(0);
  map.pmMapBlkCnt = 8;
  image.SetEntry(0, map);
  return image;
}
DiskImage FarFirmware() { return OrderedZaze(kZazeBlocks, kFarBlock, 100); }
DiskImage SmallFirmware() { return OrderedZaze(kZazeBlocks, 63, 100); }

struct WorkerError {
  const char* name;
  DiskImage (*drive)();
  uint32_t imageBytes;
  bool deleteImage;  // after it was verified
  std::vector<std::string> boxes;
  std::vector<BlockRange> changed;  // blocks the run may change
};

std::string Box(const std::string& first) { return first + "\n\n" ZEPHLAR_SUPPORT_LINE; }

const WorkerError kErrors[] = {
    {"NoFirmwareEntry",
     NotAZaze,
     4 * kSector,
     false,
     {Box("Error: Unable to modify the zAze's partition table!")},
     {}},
    {"MapEndsEarly",
     ShortMap,
     4 * kSector,
     false,
     {Box("Error: Unable to read the whole partition table of your zAze!"),
      Box("Error: Unable to read from drive!")},
     {}},
    {"ImageGone",
     StandardZaze,
     4 * kSector,
     true,
     {Box("Error: Unable to open the firmware source!")},
     {{1, 2}}},
    {"PartitionOutOfSeekRange",
     FarFirmware,
     2 * kSector,
     false,
     {Box("Error: The firmware partition on your zAze is in an undetermined state and it may "
          "not work correctly!")},
     {}},
    {"PartOfASector",
     StandardZaze,
     1000,
     false,
     {Box("Error: The firmware file is not a whole number of 512-byte sectors!")},
     {{1, 2}}},
    {"LargerThanThePartition",
     SmallFirmware,
     101 * kSector,
     false,
     {Box("Error: The firmware file does not fit the firmware partition on your zAze!")},
     {}},
};

class E2eWorkerErrors : public E2eTest, public testing::WithParamInterface<WorkerError> {};

TEST_P(E2eWorkerErrors, EachBoxIsToldAndTheLastPageFollows) {
  const WorkerError& error = GetParam();
  AttachDrive(1, error.drive());
  const std::string before = DriveBytes(1);
  WriteScript(RoadScript({}));
  WriteBytes("firmware.img", FirmwareImage(error.imageBytes, 5));

  HWND wizard = OpenPastPrompt();
  ASSERT_NE(wizard, nullptr);
  ASSERT_TRUE(ClickWithin(wizard, kNextPoint));
  ASSERT_TRUE(WaitForPage(wizard, 2));
  EXPECT_EQ("The file has been verified as the correct firmware file.",
            ChooseFirmware(wizard, FullPathOf("firmware.img"), "File verified"));
  if (error.deleteImage) {
    ASSERT_TRUE(DeleteFileA("firmware.img"));
  }
  PostClick(wizard, kNextPoint);
  for (const std::string& box : error.boxes) {
    EXPECT_EQ(box, AnswerBox("Firmware Upgrade Error"));
  }
  EXPECT_TRUE(WaitForPage(wizard, 4));
  EXPECT_EQ(nullptr, WaitForBox("Firmware Upgrade Error", kQuietMs)) << "one box too many";
  EXPECT_TRUE(TopLevels(IsProgressWindow).empty());
  PostClick(wizard, kNextPoint);
  ASSERT_TRUE(WizardEnded());
  EXPECT_EQ("", ChangesOutside(before, DriveBytes(1), error.changed));
}

INSTANTIATE_TEST_SUITE_P(Worker, E2eWorkerErrors, testing::ValuesIn(kErrors),
                         [](const testing::TestParamInfo<WorkerError>& error) {
                           return std::string(error.param.name);
                         });

}  // namespace

#endif
