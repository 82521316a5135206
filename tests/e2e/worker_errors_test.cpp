// Every error box of the update worker that a user can meet through the
// wizard: each box's text as shown, and the last page after it.
#include <gtest/gtest.h>

#include <algorithm>

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
// A zAze whose data partition starts 100 blocks into where repair puts the
// firmware: as it comes, and with its map already in order.
DiskImage WithDataAtBlock163(DiskImage image) {
  PartitionMapEntry disk = image.Entry(2);
  disk.pmPyPartStart = 63 + 100;
  image.SetEntry(2, disk);
  return image;
}
DiskImage DataAfterBlock163() { return WithDataAtBlock163(StandardZaze()); }
DiskImage RepairedDataAfterBlock163() { return WithDataAtBlock163(ZazeRepaired(kZazeBlocks)); }

// The last line repair logs on a zAze before repair: its map is rewritten and
// the drive not yet let go.
constexpr char kRepairDone[] = "    <Drive found...>";
// Not a log line: the moment the worker makes its progress bar, before its
// first read of the image.
constexpr char kBarMade[] = "";

// The zAze pulled out once repair is done.
void Unplug() { UnplugDrive(1); }
// ... and something else plugged in under its name: a disk of one block, or
// the ordinary disk of drive 0, whose block 1 is no map entry.
void SwapForOneBlock() {
  SaveFile("one-block.img", std::string(kSector, '\0'));
  UnplugDrive(1, UnixPathOf("one-block.img"));
}
void SwapForOrdinaryDisk() {
  SaveFile("ordinary.img", OrdinaryDisk().Bytes());
  UnplugDrive(1, UnixPathOf("ordinary.img"));
}
// The image file emptied after it was checked, or cut to its first chunk
// while the copy is about to read it.
void EmptyImage() { SaveFile("firmware.img", ""); }
void CutImageToOneChunk() {
  HANDLE image = CreateFileA("firmware.img", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(image, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(image, 63 * kSector, nullptr, FILE_BEGIN), 63 * kSector);
  EXPECT_TRUE(SetEndOfFile(image));
  CloseHandle(image);
}

// The drive refuses the second chunk of the copy, after taking the first.
void FailSecondChunk() { FailLibraryWrite(2); }
// The drive takes the first chunk and nothing after it, the restore's
// writes included.
void FailFromTheSecondChunkOn() { FailLibraryWrite(2, ERROR_CRC, true); }

// Windows refuses the drive to a program without administrator rights, or
// while another program holds it; a locked zAze refuses every write; a zAze
// pulled out mid-copy takes no more writes and is not there to open again.
void DenyDriveOpens() { FailLibraryDriveOpens(ERROR_ACCESS_DENIED); }
void HoldTheDrive() { FailLibraryDriveOpens(ERROR_SHARING_VIOLATION); }
void LockTheZaze() { FailLibraryWrite(1, ERROR_WRITE_PROTECT, true); }
void PullOutMidCopy() {
  FailLibraryWrite(2, ERROR_DEVICE_NOT_CONNECTED, true);
  FailLibraryDriveOpens(ERROR_FILE_NOT_FOUND);
}
DiskImage RepairedZaze() { return ZazeRepaired(kZazeBlocks); }
// A map whose first entry after the map's own cannot be read: the drive
// ends after block 1.
DiskImage MapCutAfterBlockOne() {
  DiskImage image = ZazeBeforeRepair(kZazeBlocks);
  image.Bytes().resize(2 * kSector);
  return image;
}

// The image file changed between its check and Next.
void DeleteImage() { ASSERT_TRUE(DeleteFileA("firmware.img")); }
void ReplaceImageWithAnotherFile() { SaveFile("firmware.img", Pattern(4 * kSector, 6)); }
// ... or during the repair, after the worker checked it again.
void DeleteImageNow() { DeleteImage(); }
// A Macintosh disk, whose map names no firmware partition, plugged in under
// the zAze's name once repair is done.
void SwapForMacDisk() {
  SaveFile("mac.img", MacDisk().Bytes());
  UnplugDrive(1, UnixPathOf("mac.img"));
}

struct WorkerError {
  const char* name;
  DiskImage (*drive)();
  uint32_t imageBytes;
  void (*afterChoice)();  // after the image was verified, before Next
  std::vector<std::string> boxes;
  std::vector<BlockRange> changed;  // blocks the run may change
  // What happens under the update, and when: a log line's start, or kBarMade.
  const char* when = nullptr;
  void (*interfere)() = nullptr;
  const char* workerLine = nullptr;  // the start of a line the log must hold
};

// Named, not dumped as bytes, in the test's output.
void PrintTo(const WorkerError& error, std::ostream* out) { *out << error.name; }

std::string Box(const std::string& first) { return first + "\n\n" ZEPHLAR_SUPPORT_LINE; }

const std::string kRestored = Box(
    "Error: The new firmware could not be written to your zAze. Its previous firmware is back in "
    "place.");
const std::string kRepairFailed = "Error: Unable to modify the zAze's partition table!";
const std::string kWriteProtected = Box(
    "Error: Your zAze is write-protected, so nothing was written to it.\n\nSlide its lock switch "
    "off (or make its disk writable), and start the update again.");
const std::string kDisconnected =
    "The zAze was disconnected. Connect it again, directly to the computer, and start the update "
    "again.";

// A fault once the copy has begun, on an image of a few chunks: the previous
// firmware is put back and the box says so.
WorkerError RestoredAfter(const char* name, void (*fault)()) {
  return {name,     StandardZaze, 79 * kSector,
          nullptr,  {kRestored},  {{1, 2}},
          kBarMade, fault,        "Previous firmware restored."};
}

const WorkerError kErrors[] = {
    {"NoFirmwareEntry",
     NotAZaze,
     4 * kSector,
     nullptr,
     {Box("Error: Unable to modify the zAze's partition table!")},
     {}},
    {"MapEndsEarly",
     ShortMap,
     4 * kSector,
     nullptr,
     {Box("Error: Unable to read the whole partition table of your zAze!"),
      Box("Error: Unable to read from drive!")},
     {}},
    {"ImageGone",
     StandardZaze,
     4 * kSector,
     DeleteImage,
     {Box("Error: The firmware file is no longer a valid firmware file! Nothing was written to "
          "your zAze.")},
     {},
     nullptr,
     nullptr,
     "Firmware not written: the file is no longer a valid firmware file."},
    {"ImageReplacedByAnotherFile",
     StandardZaze,
     4 * kSector,
     ReplaceImageWithAnotherFile,
     {Box("Error: The firmware file is no longer a valid firmware file! Nothing was written to "
          "your zAze.")},
     {}},
    {"ImageGoneDuringTheRepair",
     StandardZaze,
     4 * kSector,
     nullptr,
     {Box("Error: Unable to open the firmware source!")},
     {{1, 2}},
     kRepairDone,
     DeleteImageNow,
     "Unable to open firmware file!"},
    {"NoFirmwareEntryAfterTheRepair",
     StandardZaze,
     4 * kSector,
     nullptr,
     {Box("Error: No firmware partition was found on your zAze! The firmware was not written.")},
     {{1, 2}},
     kRepairDone,
     SwapForMacDisk,
     "Firmware not written: no firmware partition was found on the zAze."},
    {"PartitionOutOfReach",
     FarFirmware,
     2 * kSector,
     nullptr,
     {Box("Error: The firmware partition on your zAze lies out of reach!")},
     {},
     nullptr,
     nullptr,
     "Firmware not written: the firmware partition lies beyond the first 2 GB"},
    {"UnpluggedAfterRepair",
     StandardZaze,
     4 * kSector,
     nullptr,
     {Box("Error: Unable to open the drive!\n\n" + kDisconnected)},
     {{1, 2}},
     kRepairDone,
     Unplug,
     "    <Unable to open drive \"B\">"},
    {"BlockOneUnreadable",
     StandardZaze,
     4 * kSector,
     nullptr,
     {Box("Error: Unable to read from the drive!")},
     {{1, 2}},
     kRepairDone,
     SwapForOneBlock,
     "    <Drive read failed! fixDc:1 gle: 0x"},
    {"NoLongerAMap",
     StandardZaze,
     4 * kSector,
     nullptr,
     {Box("Error: Current drive isn't a Mac Drive!")},
     {{1, 2}},
     kRepairDone,
     SwapForOrdinaryDisk,
     "    <Current drive isn't a Mac Drive!>"},
    {"ImageEmptied",
     StandardZaze,
     4 * kSector,
     nullptr,
     {Box("Error: The firmware file is empty!")},
     {{1, 2}},
     "Updating firmware with file",
     EmptyImage,
     "Firmware not written: the file is empty."},
    RestoredAfter("ImageCutDuringTheCopy", CutImageToOneChunk),
    RestoredAfter("WriteFailsMidCopy", FailSecondChunk),
    {"RestoreFailsToo",
     StandardZaze,
     79 * kSector,
     nullptr,
     {Box("Error: The firmware partition on your zAze is in an undetermined state and it may not "
          "work correctly! Its previous firmware is saved in zaze_fw_backup.bin.")},
     {{1, 2}, {63, 63}},
     kBarMade,
     FailFromTheSecondChunkOn,
     "Unable to restore the previous firmware!"},
    {"RepairWouldOverlapData",
     DataAfterBlock163,
     101 * kSector,
     nullptr,
     {Box("Error: Unable to modify the zAze's partition table!")},
     {},
     nullptr,
     nullptr,
     "    <The repaired map would overlap \"disk\", nothing was changed!>"},
    {"WouldOverwriteData",
     RepairedDataAfterBlock163,
     101 * kSector,
     nullptr,
     {Box("Error: The firmware file would overwrite another partition on your zAze!")},
     {},
     nullptr,
     nullptr,
     "Firmware not written: it would overwrite another partition."},
    {"PartOfASector",
     StandardZaze,
     1000,
     nullptr,
     {Box("Error: The firmware file is not a whole number of 512-byte sectors!")},
     {{1, 2}}},
    {"NeedsAdministratorRights",
     StandardZaze,
     4 * kSector,
     DenyDriveOpens,
     {Box(kRepairFailed +
          "\n\nZephlar needs administrator rights to reach the zAze. Close Zephlar, then "
          "right-click zephlar.exe and choose \"Run as administrator\" (on Windows 2000 and XP: "
          "\"Run as...\" and an administrator account).")},
     {},
     nullptr,
     nullptr,
     "    <Unable to open drive \"B\"> "},
    {"HeldByAnotherProgram",
     StandardZaze,
     4 * kSector,
     HoldTheDrive,
     {Box(kRepairFailed +
          "\n\nAnother program is using the zAze (a disk tool, a backup or virus scanner). Close "
          "that program and start the update again.")},
     {}},
    {"WriteProtected",
     StandardZaze,
     4 * kSector,
     LockTheZaze,
     {kWriteProtected},
     {},
     nullptr,
     nullptr,
     "    <The zAze is write-protected: nothing was written!>"},
    {"WriteProtectedWithTheMapInOrder",
     RepairedZaze,
     4 * kSector,
     LockTheZaze,
     {kWriteProtected},
     {},
     nullptr,
     nullptr,
     "The zAze is write-protected: nothing was written."},
    {"PulledOutMidCopy",
     StandardZaze,
     79 * kSector,
     nullptr,
     {Box("Error: Your zAze was disconnected while its firmware was written, so the previous "
          "firmware could not be put back. It is saved in zaze_fw_backup.bin.\n\nConnect the "
          "zAze again, directly to the computer, and start Zephlar: it offers to put the previous "
          "firmware back.")},
     {{1, 2}, {63, 63}},
     kBarMade,
     PullOutMidCopy,
     "The zAze was disconnected: the previous firmware was not put back."},
    {"EntryBeforeTheFirmwareUnreadable",
     MapCutAfterBlockOne,
     4 * kSector,
     nullptr,
     {Box(kRepairFailed)},
     {},
     nullptr,
     nullptr,
     "    <Part of the map could not be read, nothing was changed!>"},
    {"LargerThanThePartition",
     SmallFirmware,
     101 * kSector,
     nullptr,
     {Box("Error: The firmware file does not fit the firmware partition on your zAze!")},
     {}},
};

class E2eWorkerErrors : public E2eTest, public testing::WithParamInterface<WorkerError> {};

TEST_P(E2eWorkerErrors, EachBoxIsToldAndTheLastPageFollows) {
  const WorkerError& error = GetParam();
  AttachDrive(1, error.drive());
  const std::string before = DriveBytes(1);
  HWND wizard = OpenWithFirmwareChosen(RoadScript({}), FirmwareImage(error.imageBytes, 5));
  ASSERT_NE(wizard, nullptr);
  if (error.afterChoice != nullptr) error.afterChoice();
  if (error.interfere != nullptr && error.when == kBarMade) {
    WhenProgressBarMade(error.interfere);
  } else if (error.interfere != nullptr) {
    WhenLogged(error.when, error.interfere);
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
  const std::vector<std::string> log = LoggedLines();
  if (error.workerLine != nullptr) {
    const std::string line = error.workerLine;
    EXPECT_TRUE(
        std::any_of(log.begin(), log.end(),
                    [&](const std::string& l) { return l.compare(0, line.size(), line) == 0; }))
        << "no line starts with " << line;
  }
  EXPECT_TRUE(std::find(log.begin(), log.end(), "Updated firmware!") == log.end());
  ReplugDrive(1);
  EXPECT_EQ("", ChangesOutside(before, DriveBytes(1), error.changed));
}

INSTANTIATE_TEST_SUITE_P(Worker, E2eWorkerErrors, testing::ValuesIn(kErrors),
                         [](const testing::TestParamInfo<WorkerError>& error) {
                           return std::string(error.param.name);
                         });

}  // namespace

#endif
