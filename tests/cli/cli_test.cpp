// zephlar-cli on real block devices: loop devices made from disk images,
// the commands run as the program runs them, in this process.
#include "cli/Cli.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/ImageCopy.h"
#include "device/RawDrive.h"
#include "device/UpdateRecord.h"
#include "tests/cli/LoopDevice.h"
#include "tests/support/DiskImage.h"
#include "tests/support/MemoryDrive.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kBlock = 512;
constexpr uint32_t kFirmwareStart = 63 * kBlock;  // in the map as repaired
constexpr uint32_t kDiskStart = 65540;            // the user's HFS volume
constexpr uint32_t kVolumeBlocks = 1600;          // the smallest one hformat makes
constexpr char kFirmware[] = "firmware.bin";
constexpr char kBackup[] = "zaze_fw_backup.bin";

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

// The program's run; standard input is never a terminal here, whoever runs
// the tests.
CliRun Cli(std::vector<std::string> args) {
  std::vector<char*> argv = {const_cast<char*>("zephlar-cli")};
  for (std::string& arg : args) argv.push_back(&arg[0]);
  const int input = dup(STDIN_FILENO);
  const int empty = open("/dev/null", O_RDONLY);
  dup2(empty, STDIN_FILENO);
  close(empty);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  CliRun run;
  run.status = RunCli(static_cast<int>(argv.size()), argv.data());
  run.out = testing::internal::GetCapturedStdout();
  run.err = testing::internal::GetCapturedStderr();
  dup2(input, STDIN_FILENO);
  close(input);
  return run;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Range(const std::string& bytes, uint32_t at, size_t length) {
  return bytes.substr(at, length);
}

class CliOnLoop : public testing::Test {
 protected:
  void SetUp() override {
    const std::string why = WhyNoLoopDevices();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  ScratchFolder folder_;
};

TEST_F(CliOnLoop, UpdatesAZazeAndItsVolumeStillMounts) {
  const char kText[] = "The user's notes, on the zAze's own volume.\n";
  const std::string volume = HfsVolume(kVolumeBlocks, kText);
  ASSERT_FALSE(volume.empty()) << "hfsutils could not make an HFS volume";
  DiskImage disk = ZazeBeforeRepair(kDiskStart + kVolumeBlocks);
  disk.Bytes().replace(size_t{kDiskStart} * kBlock, volume.size(), volume);
  const std::string firmware = FirmwareImage(3 * kChunkBytes + 4096, 7);  // the last chunk short
  SaveFile(kFirmware, firmware);
  LoopDevice loop("zaze.img", disk.Bytes());

  const CliRun run = Cli({"update", "--yes", loop.path(), kFirmware});
  EXPECT_EQ(run.status, kExitDone) << run.err;
  EXPECT_TRUE(Has(run.out, "\nFirmware verified.\nUpdated firmware!\n")) << run.out;
  EXPECT_TRUE(Has(run.err, "progress: 100%")) << run.err;
  DiskImage after(disk.Blocks());
  after.Bytes() = loop.Bytes();
  EXPECT_EQ(after.Entry(0).pmPartBlkCnt, 62u);
  EXPECT_EQ(after.Entry(1).pmPyPartStart, 63u);
  EXPECT_TRUE(Range(after.Bytes(), kFirmwareStart, firmware.size()) == firmware);
  EXPECT_EQ(ChangesOutside(disk.Bytes(), after.Bytes(), {{1, 2}, {63, 3 * 63 + 8}}), "");
  EXPECT_EQ(HfsReadme(after.Bytes().substr(size_t{kDiskStart} * kBlock)), kText);
  EXPECT_TRUE(ReadWholeFile(kBackup) == Range(disk.Bytes(), kFirmwareStart, firmware.size()));
  EXPECT_TRUE(fs::exists("zaze_pm.txt"));
}

// Nothing is written, to the disk or to a file, and the disk is not even
// opened for writing: no close of a writer shows on its node.
TEST_F(CliOnLoop, ADryRunTellsWhatWouldBeWrittenAndOpensNothingForWriting) {
  const struct {
    DiskImage disk;
    int status;
    const char* told;
  } cases[] = {
      {ZazeBeforeRepair(), kExitDone,
       "  partition map: blocks 1, 2 rewritten into the zAze's fixed shape\n"
       "  firmware: 40448 bytes from firmware.bin\n"
       "  written to: bytes 32256 to 72703 (blocks 63 to 141)\n"},
      {OrdinaryDisk(), kExitRefused, "Error: Unable to modify the zAze's partition table!"},
  };
  SaveFile(kFirmware, FirmwareImage(40448, 3));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    LoopDevice loop("disk.img", c.disk.Bytes());
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(watch, loop.path().c_str(), IN_CLOSE_WRITE), 0);
    const CliRun run = Cli({"update", "--dry-run", loop.path(), kFirmware});
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(Has(run.out + run.err, c.told)) << run.out << run.err;
    char event[256];
    EXPECT_LT(read(watch, event, sizeof event), 0) << "the disk was opened for writing";
    close(watch);
    EXPECT_TRUE(loop.Bytes() == c.disk.Bytes());
    EXPECT_FALSE(fs::exists("zaze_pm.txt") || fs::exists(kBackup) || fs::exists("zaze_update.rec"));
  }
}

TEST_F(CliOnLoop, RefusesWhatItMayNotWriteAndWritesNothing) {
  const struct {
    const char* what;
    const char* losetup;
    bool held;  // open with O_EXCL in this process, as another program holds a disk
    bool yes;
    const char* told;
  } cases[] = {
      {"4096-byte sectors", "--sector-size 4096", false, true, "4096-byte sectors"},
      {"held by another program", "", true, true, "in use: held open by another program"},
      {"write-protected", "--read-only", false, true, "write-protected"},
      {"no --yes without a terminal", "", false, false, "add --yes"},
  };
  SaveFile(kFirmware, FirmwareImage(40448, 4));
  const DiskImage disk = ZazeBeforeRepair();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoopDevice loop("zaze.img", disk.Bytes(), c.losetup);
    const int holder = c.held ? open(loop.path().c_str(), O_RDONLY | O_EXCL) : -1;
    std::vector<std::string> args = {"update", loop.path(), kFirmware};
    if (c.yes) args.insert(args.begin() + 1, "--yes");
    const CliRun run = Cli(args);
    if (holder >= 0) close(holder);
    EXPECT_EQ(run.status, kExitRefused);
    EXPECT_TRUE(Has(run.err, c.told)) << run.err;
    EXPECT_TRUE(loop.Bytes() == disk.Bytes());
    EXPECT_FALSE(fs::exists(kBackup));
  }
}

// A backup whose update ended verified goes back as a firmware file; one
// whose update did not finish goes back through its record, from wherever
// the command runs.
TEST_F(CliOnLoop, RestoresABackupWithOrWithoutItsRecord) {
  const std::string first = FirmwareImage(40448, 5);
  const std::string second = FirmwareImage(40448, 6);
  DiskImage disk = ZazeRepaired();
  disk.Bytes().replace(kFirmwareStart, first.size(), first);
  SaveFile(kFirmware, second);
  LoopDevice loop("zaze.img", disk.Bytes());
  ASSERT_EQ(Cli({"update", "--yes", loop.path(), kFirmware}).status, kExitDone);

  fs::create_directory("elsewhere");
  fs::current_path("elsewhere");
  CliRun run = Cli({"restore", "--yes", loop.path(), "../zaze_fw_backup.bin"});
  EXPECT_EQ(run.status, kExitDone) << run.err;
  EXPECT_TRUE(loop.Bytes() == disk.Bytes());
  ASSERT_TRUE(ReadWholeFile(kBackup) == second) << "the restore kept no backup here";

  // That backup, as an update cut off half-way leaves it.
  UpdateRecord record;
  record.set = 1;
  record.start = kFirmwareStart;
  record.length = static_cast<uint32_t>(second.size());
  record.firmwareSum = Crc32(second.data(), record.length);
  const char* device = loop.path().c_str();
  SetRawDriveTable(&device, 1);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  ASSERT_TRUE(ReadZazeIdentity(drive, 1, record.zaze));
  drive.Close();
  ASSERT_TRUE(SaveUpdateRecord(record));
  fs::current_path("..");
  // The device named relative to here, not to the backup's folder.
  run =
      Cli({"restore", "--yes", fs::relative(loop.path()).string(), "elsewhere/zaze_fw_backup.bin"});
  EXPECT_EQ(run.status, kExitDone) << run.err;
  EXPECT_TRUE(Has(run.out, "Previous firmware restored.")) << run.out;
  EXPECT_TRUE(Range(loop.Bytes(), kFirmwareStart, second.size()) == second);
}

TEST_F(CliOnLoop, ListsWhatEachDiskIsAndWhetherItIsInUse) {
  LoopDevice zaze("zaze.img", ZazeRepaired().Bytes());
  LoopDevice mac("mac.img", MacDisk().Bytes());
  LoopDevice ordinary("ordinary.img", OrdinaryDisk().Bytes());
  LoopDevice large("large.img", ZazeRepaired().Bytes(), "--sector-size 4096");
  const int holder = open(zaze.path().c_str(), O_RDONLY | O_EXCL);
  const CliRun run = Cli({"list", zaze.path(), mac.path(), ordinary.path(), large.path()});
  close(holder);
  EXPECT_EQ(run.status, kExitDone);
  const std::string told[] = {
      zaze.path() + " ",     "zAze: firmware at byte 32256, 33524224 bytes  [in use: held open",
      mac.path() + " ",      "Apple-partitioned disk, not a zAze",
      ordinary.path() + " ", "nothing it can use",
      large.path() + " ",    "cannot be used: 4096-byte sectors"};
  size_t at = 0;
  for (const std::string& part : told) {
    at = run.out.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << " is not in its place in:\n" << run.out;
  }
}

TEST(CliArguments, AWrongCommandLineIsAUsageError) {
  const std::vector<std::string> wrong[] = {{},
                                            {"flash"},
                                            {"update", "/dev/x"},
                                            {"update", "--force", "/dev/x", "f"},
                                            {"restore", "--dry-run", "/dev/x", "b"},
                                            {"list", "--yes"},
                                            {"--help", "list"}};
  for (const auto& args : wrong) {
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, kExitUsage) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_EQ(Cli({"--help"}).out.rfind("Usage: zephlar-cli list", 0), 0u);
}

// A copy that fails part way, from the faults the device core's own tests
// inject: exit 3 when the previous firmware is back, 4 when it is not. A
// Ctrl-C meanwhile does not stop it half-way.
TEST(CliFaults, AFailedCopyExitsThreeWhenPutBackAndFourWhenNot) {
  ScratchFolder folder;
  SaveFile(kFirmware, FirmwareImage(3 * kChunkBytes, 8));
  const std::string disk = ZazeRepaired().Bytes();
  MemoryDrive drive(disk);
  drive.RecordTransfers(true);
  drive.Attach(0);
  ASSERT_EQ(Cli({"update", "--yes", "zaze", kFirmware}).status, kExitDone);
  uint32_t firstWrite = 1;
  while (firstWrite <= drive.Log().size() &&
         !(drive.Log()[firstWrite - 1].write &&
           drive.Log()[firstWrite - 1].offset == kFirmwareStart)) {
    ++firstWrite;
  }
  for (const bool restoreFails : {false, true}) {
    drive.Reset();
    drive.Bytes() = disk;
    drive.FailTransfer(firstWrite, DriveFault::kError);
    drive.OnFault([](void*) { raise(SIGINT); }, nullptr);
    if (restoreFails) drive.AlsoFailTransfer(firstWrite + 1, DriveFault::kError);
    const CliRun run = Cli({"update", "--yes", "zaze", kFirmware});
    EXPECT_EQ(run.status, restoreFails ? kExitNotRestored : kExitRestored) << run.err;
    EXPECT_EQ(Has(run.err, "saved in zaze_fw_backup"), restoreFails) << run.err;
    EXPECT_TRUE(Has(run.err, "the program ends when the update has")) << run.err;
  }
  MemoryDrive::Detach(0);
}

}  // namespace
