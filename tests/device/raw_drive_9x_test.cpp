// RawDrive on the Windows 9x path: the program runs under Wine's Windows 98
// version, so RawDrive opens \\.\vwin32 and reads through Int 21h function
// 7305h. Wine accepts that request but does not carry it out (it reports
// success, with carry clear, and reads nothing), so the tests put a model of
// the VxD between RawDrive and Wine: the program's own import of
// DeviceIoControl is pointed at it. The model checks the request block by
// block and serves reads from a disk image; CreateFileA is only watched.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/Platform.h"
#include "device/RawDrive.h"
#include "device/UpdateWorker.h"
#include "tests/support/DiskImage.h"
#include "tests/support/ImportPatch.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TestFiles.h"

namespace {

#pragma pack(push, 1)
struct DiskIo {
  DWORD startSector;
  WORD sectors;
  DWORD buffer;
};
struct DiocRegisters {
  DWORD ebx, edx, ecx, eax, edi, esi, flags;
};
#pragma pack(pop)

constexpr DWORD kCarry = 1;

// What RawDrive asked of vwin32, and how the model answers.
struct Vwin32Model {
  bool serving = false;  // answer here; otherwise pass the call on to Wine
  DWORD dosDrive = 1;    // the one drive the model has
  std::string disk;
  bool callFails = false;
  int calls = 0;
  HANDLE handle = nullptr;
  DWORD code = 0, inSize = 0, outSize = 0;
  bool sameBlock = false, overlapped = false;
  DiocRegisters in = {};
  DiskIo io = {};
};

struct OpenRecord {
  std::string name;
  DWORD access = 0, share = 0, disposition = 0, flags = 0;
  bool security = false, templateFile = false;
  HANDLE result = nullptr;
};

Vwin32Model model;
OpenRecord lastOpen;

using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                        LPOVERLAPPED);
using CreateFileAFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                      HANDLE);
DeviceIoControlFn realDeviceIoControl = nullptr;
CreateFileAFn realCreateFileA = nullptr;

// Serves function 7305h reads from the model's disk, as the VxD would.
void Serve(DiocRegisters& regs) {
  const DiskIo& io = *reinterpret_cast<const DiskIo*>(static_cast<uintptr_t>(regs.ebx));
  model.io = io;
  const size_t at = static_cast<size_t>(io.startSector) * 512;
  const size_t bytes = static_cast<size_t>(io.sectors) * 512;
  const bool valid = regs.eax == 0x7305 && regs.ecx == 0xFFFF && (regs.esi & 1) == 0 &&
                     regs.edx == model.dosDrive && at <= model.disk.size() &&
                     bytes <= model.disk.size() - at;
  if (!valid) {
    regs.eax = 0x000F;  // invalid drive, or a request this drive cannot answer
    regs.flags |= kCarry;
    return;
  }
  if (bytes > 0) {
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(io.buffer)), &model.disk[at], bytes);
  }
  regs.flags &= ~kCarry;
}

BOOL WINAPI ModelDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
  ++model.calls;
  model.handle = device;
  model.code = code;
  model.inSize = inSize;
  model.outSize = outSize;
  model.sameBlock = in == out;
  model.overlapped = overlapped != nullptr;
  if (in != nullptr && inSize >= sizeof(DiocRegisters)) std::memcpy(&model.in, in, sizeof model.in);
  if (!model.serving) {
    return realDeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
  }
  if (model.callFails || code != 6 || in == nullptr || out == nullptr ||
      inSize != sizeof(DiocRegisters) || outSize != sizeof(DiocRegisters)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DiocRegisters regs;
  std::memcpy(&regs, in, sizeof regs);
  Serve(regs);
  std::memcpy(out, &regs, sizeof regs);
  if (returned != nullptr) *returned = sizeof regs;
  return TRUE;
}

HANDLE WINAPI WatchedCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
  const HANDLE result =
      realCreateFileA(name, access, share, security, disposition, flags, templateFile);
  lastOpen = {name != nullptr ? name : "", access, share, disposition, flags, security != nullptr,
              templateFile != nullptr,     result};
  return result;
}

class RawDrive9x : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(PlatformId(), kNtPlatformId)
        << "this program must run as Windows 98: start the prefix with tools/wine-prefix";
    if (realDeviceIoControl == nullptr) {
      realDeviceIoControl = reinterpret_cast<DeviceIoControlFn>(
          PatchKernel32Import(GetModuleHandleA(nullptr), "DeviceIoControl",
                              reinterpret_cast<void*>(&ModelDeviceIoControl)));
      realCreateFileA = reinterpret_cast<CreateFileAFn>(PatchKernel32Import(
          GetModuleHandleA(nullptr), "CreateFileA", reinterpret_cast<void*>(&WatchedCreateFileA)));
    }
    ASSERT_NE(realDeviceIoControl, nullptr) << "DeviceIoControl is not imported from kernel32";
    ASSERT_NE(realCreateFileA, nullptr) << "CreateFileA is not imported from kernel32";
    model = Vwin32Model();
    lastOpen = OpenRecord();
    DetachDrives();
  }
  void TearDown() override { DetachDrives(); }

  // The model serves `image` as DOS drive `dosDrive`.
  void Serve(const DiskImage& image, DWORD dosDrive = 1) {
    model.serving = true;
    model.dosDrive = dosDrive;
    model.disk = image.Bytes();
  }
};

std::string Block(const std::string& bytes, uint32_t block, uint32_t count = 1) {
  return bytes.substr(static_cast<size_t>(block) * 512, static_cast<size_t>(count) * 512);
}

TEST_F(RawDrive9x, OpensVwin32ForEveryLetter) {
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.State(), kDriveIdle);
  EXPECT_EQ(lastOpen.name, "\\\\.\\vwin32");
  EXPECT_EQ(lastOpen.access, 0u);
  EXPECT_EQ(lastOpen.share, 0u);
  EXPECT_EQ(lastOpen.disposition, 0u);
  EXPECT_EQ(lastOpen.flags, static_cast<DWORD>(FILE_FLAG_DELETE_ON_CLOSE));
  EXPECT_FALSE(lastOpen.security);
  EXPECT_FALSE(lastOpen.templateFile);
  RawDrive other;
  EXPECT_EQ(other.Open('Q'), 1) << "the vwin32 handle names no drive and is not exclusive";
  EXPECT_EQ(drive.Close(), 0);
  EXPECT_EQ(drive.State(), kDriveClosed);
}

TEST_F(RawDrive9x, ReadsAskForFunction7305WithADiskIoBlock) {
  const DiskImage image = ZazeBeforeRepair(64);
  Serve(image);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  const HANDLE vwin32 = lastOpen.result;
  std::string buffer(512, '\0');
  ASSERT_EQ(drive.Read(&buffer[0], 512, 512), 512);
  EXPECT_EQ(buffer, Block(image.Bytes(), 1)) << "block 1 read back wrong";
  EXPECT_EQ(drive.State(), kDriveIdle);
  EXPECT_EQ(model.calls, 1);
  EXPECT_EQ(model.handle, vwin32);
  EXPECT_EQ(model.code, 6u) << "VWIN32_DIOC_DOS_DRIVEINFO";
  EXPECT_EQ(model.inSize, 28u);
  EXPECT_EQ(model.outSize, 28u);
  EXPECT_TRUE(model.sameBlock) << "one register block, in and out";
  EXPECT_FALSE(model.overlapped);
  EXPECT_EQ(model.in.eax, 0x7305u);
  EXPECT_EQ(model.in.ecx, 0xFFFFu);
  EXPECT_EQ(model.in.edx, 1u) << "A is DOS drive 1";
  EXPECT_EQ(model.in.esi, 0u) << "bit 0 clear: read";
  EXPECT_EQ(model.in.flags, kCarry) << "carry set beforehand";
  EXPECT_EQ(model.io.startSector, 1u);
  EXPECT_EQ(model.io.sectors, 1u);

  std::string three(3 * 512, '\0');
  ASSERT_EQ(drive.Read(&three[0], 10 * 512, 3 * 512), 3 * 512);
  EXPECT_EQ(three, Block(image.Bytes(), 10, 3));
  EXPECT_EQ(model.io.startSector, 10u);
  EXPECT_EQ(model.io.sectors, 3u);
}

TEST_F(RawDrive9x, LettersNameDosDrivesFromOne) {
  const DiskImage image = OrdinaryDisk(8);
  const struct {
    char letter;
    DWORD dosDrive;
  } cases[] = {{'A', 1}, {'C', 3}, {'g', 39}};  // 'g': the wizard's letter without a search
  for (const auto& [letter, dosDrive] : cases) {
    Serve(image, dosDrive);
    RawDrive drive;
    ASSERT_EQ(drive.Open(letter), 1) << "letter " << letter;
    char buffer[512];
    EXPECT_EQ(drive.Read(buffer, 0, 512), 512) << "letter " << letter;
    EXPECT_EQ(model.in.edx, dosDrive) << "letter " << letter;
  }
}

TEST_F(RawDrive9x, CarryOnReturnOrAFailedCallFailsTheReadUntilClosed) {
  const DiskImage image = OrdinaryDisk(8);
  Serve(image, 2);  // the model has drive B only
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  char buffer[512];
  EXPECT_EQ(drive.Read(buffer, 0, 512), kTransferFailed) << "carry set on return";
  EXPECT_EQ(drive.State(), kDriveReading);
  const int calls = model.calls;
  EXPECT_EQ(drive.Read(buffer, 0, 512), kTransferNotIdle);
  EXPECT_EQ(drive.Write(buffer, 0, 512), kTransferNotIdle);
  EXPECT_EQ(model.calls, calls) << "a drive left Reading asked vwin32 again";
  drive.Close();

  Serve(image, 1);
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.Read(buffer, 8 * 512, 512), kTransferFailed) << "past the end of the disk";
  drive.Close();
  model.callFails = true;
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.Read(buffer, 0, 512), kTransferFailed) << "DeviceIoControl returned 0";
  EXPECT_EQ(drive.State(), kDriveReading);
  drive.Close();
  model.callFails = false;
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.Read(buffer, 0, 512), 512) << "after close and reopen";
}

TEST_F(RawDrive9x, SectorTestsComeBeforeAnyRequest) {
  Serve(OrdinaryDisk(8));
  RawDrive drive;
  char buffer[1024];
  EXPECT_EQ(drive.Read(buffer, 0, 512), kTransferNotIdle) << "before Open";
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.Read(buffer, 0, 100), kTransferMisaligned);
  EXPECT_EQ(drive.Read(buffer, 100, 512), kTransferMisaligned);
  EXPECT_EQ(drive.State(), kDriveIdle);
  EXPECT_EQ(model.calls, 0) << "a refused read reached vwin32";
  EXPECT_EQ(drive.Read(buffer, 0, 0), 0) << "zero length";
  EXPECT_EQ(drive.State(), kDriveIdle);
}

TEST_F(RawDrive9x, ReadsOfMoreSectorsThanOneRequestCountsAreRefused) {
  Serve(OrdinaryDisk(8));
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  std::vector<char> buffer(65536u * 512);
  EXPECT_EQ(drive.Read(buffer.data(), 0, 65536u * 512), kTransferFailed);
  EXPECT_EQ(model.calls, 0) << "a request for 0 sectors reached vwin32";
}

TEST_F(RawDrive9x, ReadsIntoUnalignedBuffers) {
  const DiskImage image = ZazeBeforeRepair(64);
  Serve(image);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  char* block = static_cast<char*>(std::malloc(2 * 512 + 2));
  ASSERT_NE(block, nullptr);
  block[2 * 512 + 1] = '\x5C';
  EXPECT_EQ(drive.Read(block + 1, 20 * 512, 2 * 512), 2 * 512);
  EXPECT_EQ(std::string(block + 1, 2 * 512), Block(image.Bytes(), 20, 2));
  EXPECT_EQ(block[2 * 512 + 1], '\x5C') << "the read ran past the caller's buffer";
  std::free(block);
}

TEST_F(RawDrive9x, EveryWriteIsRefusedAndLeavesTheDriveIdle) {
  const DiskImage image = ZazeBeforeRepair(64);
  Serve(image);
  AttachDrive(0, image);  // what the NT path would have written to
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  std::string data(2 * 512 + 1, 'w');
  struct Case {
    const char* what;
    const char* buffer;
    uint32_t offset, length;
  };
  const Case cases[] = {{"one block", data.data(), 512, 512},
                        {"unaligned buffer", data.data() + 1, 1024, 1024},
                        {"zero length", data.data(), 0, 0},
                        {"past 2^31", data.data(), 0x80000000u, 512}};
  for (const Case& c : cases) {
    EXPECT_EQ(drive.Write(c.buffer, c.offset, c.length), kTransferFailed) << c.what;
    EXPECT_EQ(drive.State(), kDriveIdle) << c.what;
  }
  EXPECT_EQ(drive.Write(data.data(), 100, 512), kTransferMisaligned);
  EXPECT_EQ(model.calls, 0) << "a write reached vwin32";
  EXPECT_EQ(model.disk, image.Bytes());
  char buffer[512];
  EXPECT_EQ(drive.Read(buffer, 512, 512), 512) << "the drive still reads after refused writes";
  drive.Close();
  EXPECT_EQ(DriveBytes(0), image.Bytes()) << "a write reached the physical drive";
}

// Every write would be refused, so the update says so before it begins, and
// never reaches the half-written firmware's box.
TEST_F(RawDrive9x, TheUpdateIsRefusedBeforeItTouchesTheDrive) {
  const DiskImage image = ZazeRepaired(256);
  Serve(image);
  AttachDrive(0, image);
  ScratchFolder scratch;
  SaveFile("firmware.img", FirmwareImage(40448, 1));
  std::snprintf(FirmwarePath, sizeof FirmwarePath, "firmware.img");
  FoundDriveLetter = 'A';
  ResetRecordedUi();
  FirmwareUpdateThread(nullptr);
  EXPECT_EQ(RecordedLogLines(), std::vector<std::string>({"Firmware not written: this version of "
                                                          "Windows cannot write to the zAze."}));
  const std::vector<std::string> boxes = RecordedErrorBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].substr(0, boxes[0].find('\n')),
            "Error: This version of Windows cannot write to your zAze. Nothing was written; update "
            "it from Windows 2000 or Windows XP.");
  EXPECT_EQ(RecordedWizardLastCount(), 1);
  EXPECT_EQ(model.calls, 0) << "the drive was read for an update that cannot be written";
  EXPECT_EQ(DriveBytes(0), image.Bytes());
  std::memset(FirmwarePath, 0, sizeof FirmwarePath);
  FoundDriveLetter = 0;
}

// The request as Wine itself takes it, without the model.
TEST_F(RawDrive9x, WinesVwin32TakesTheRequest) {
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  char buffer[512];
  const int32_t result = drive.Read(buffer, 0, 512);
  EXPECT_EQ(model.calls, 1);
  EXPECT_EQ(model.code, 6u);
  if (result == 512) {
    EXPECT_EQ(drive.State(), kDriveIdle);
  } else {
    EXPECT_EQ(result, kTransferFailed);
    EXPECT_EQ(drive.State(), kDriveReading);
  }
}

}  // namespace
