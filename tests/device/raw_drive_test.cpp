#include "device/RawDrive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/DiskImage.h"

namespace {

constexpr uint32_t kTwoGig = 0x80000000u;

// Each test attaches its own drives and leaves none behind.
class RawDriveTest : public testing::Test {
 protected:
  void SetUp() override { DetachDrives(); }
  void TearDown() override { DetachDrives(); }

  // Puts disk_ on drive A and opens it through `drive`; Open's result.
  int32_t AttachAndOpen(RawDrive& drive) {
    AttachDrive(0, disk_);
    return drive.Open('A');
  }

  const DiskImage disk_ = OrdinaryDisk(16);  // drive A, unless a test needs another
};

std::string Block(const std::string& bytes, uint32_t block, uint32_t count = 1) {
  return bytes.substr(static_cast<size_t>(block) * 512, static_cast<size_t>(count) * 512);
}

// Reads `length` bytes at `offset`; the result goes to `result`.
std::string ReadAt(RawDrive& drive, uint32_t offset, uint32_t length, int32_t& result) {
  std::string bytes(length, '\0');
  result = drive.Read(&bytes[0], offset, length);
  bytes.resize(result > 0 ? static_cast<size_t>(result) : 0);
  return bytes;
}

std::string ReadAt(RawDrive& drive, uint32_t offset, uint32_t length) {
  int32_t result = 0;
  std::string bytes = ReadAt(drive, offset, length, result);
  EXPECT_EQ(result, static_cast<int32_t>(length)) << "reading " << length << " at " << offset;
  return bytes;
}

// A drive that is not Idle refuses both transfers and stays in `state`.
void ExpectRefusesTransfers(RawDrive& drive, int32_t state) {
  char buffer[512] = {};
  EXPECT_EQ(drive.Read(buffer, 512, 512), kTransferNotIdle) << "a read";
  EXPECT_EQ(drive.Write(buffer, 512, 512), kTransferNotIdle) << "a write";
  EXPECT_EQ(drive.State(), state);
}

// A buffer whose start lies `misalign` bytes past a 4096-byte boundary, with
// guard bytes on either side to catch a copy of the wrong length.
class OddBuffer {
 public:
  OddBuffer(size_t size, size_t misalign)
      : size_(size), storage_(size + 3 * 4096 + 2 * kGuard, '\xEE') {
    uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data()) + kGuard;
    base = (base + 4095) / 4096 * 4096 + misalign;
    data_ = reinterpret_cast<char*>(base);
  }
  char* data() { return data_; }
  std::string Contents() const { return std::string(data_, size_); }
  bool GuardsIntact() const {
    for (size_t i = 1; i <= kGuard; ++i) {
      if (data_[-static_cast<ptrdiff_t>(i)] != '\xEE' || data_[size_ + i - 1] != '\xEE') {
        return false;
      }
    }
    return true;
  }

 private:
  static constexpr size_t kGuard = 64;
  size_t size_;
  std::vector<char> storage_;
  char* data_;
};

// --- The state machine and the sector tests ---

TEST_F(RawDriveTest, ANewDriveIsUnopenedAndRefusesTransfers) {
  AttachDrive(0, disk_);
  RawDrive drive;
  EXPECT_EQ(drive.State(), kDriveUnopened);
  ExpectRefusesTransfers(drive, kDriveUnopened);
  EXPECT_EQ(drive.Close(), 0);
  EXPECT_EQ(drive.State(), kDriveClosed);
  EXPECT_EQ(DriveBytes(0), disk_.Bytes()) << "a drive that was never opened was written";
}

TEST_F(RawDriveTest, ReadsOneSectorAndStaysIdle) {
  const DiskImage image = ZazeBeforeRepair(64);
  AttachDrive(0, image);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.State(), kDriveIdle);
  EXPECT_EQ(ReadAt(drive, 512, 512), Block(image.Bytes(), 1)) << "block 1 read back wrong";
  EXPECT_EQ(drive.State(), kDriveIdle);
  EXPECT_EQ(ReadAt(drive, 10 * 512, 4 * 512), Block(image.Bytes(), 10, 4));
}

TEST_F(RawDriveTest, RefusesPartSectorsWithoutChangingState) {
  RawDrive drive;
  ASSERT_EQ(AttachAndOpen(drive), 1);
  std::vector<char> buffer(1024, 'w');
  EXPECT_EQ(drive.Read(buffer.data(), 0, 100), kTransferMisaligned) << "length 100";
  EXPECT_EQ(drive.Read(buffer.data(), 100, 512), kTransferMisaligned) << "offset 100";
  EXPECT_EQ(drive.Read(buffer.data(), 512, 513), kTransferMisaligned) << "length 513";
  EXPECT_EQ(drive.Write(buffer.data(), 0, 100), kTransferMisaligned) << "length 100";
  EXPECT_EQ(drive.Write(buffer.data(), 100, 512), kTransferMisaligned) << "offset 100";
  EXPECT_EQ(drive.State(), kDriveIdle) << "a refused transfer must leave the drive Idle";
  EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(1024, 'w'))
      << "a refused read touched the buffer";
  EXPECT_EQ(ReadAt(drive, 512, 512), Block(disk_.Bytes(), 1)) << "the drive stopped working";
  drive.Close();
  EXPECT_EQ(DriveBytes(0), disk_.Bytes()) << "a refused write reached the drive";
}

TEST_F(RawDriveTest, ZeroLengthTransfersPassTheTestsAndMoveNothing) {
  RawDrive drive;
  ASSERT_EQ(AttachAndOpen(drive), 1);
  char buffer[512] = {};
  EXPECT_EQ(drive.Read(buffer, 0, 0), 0);
  EXPECT_EQ(drive.State(), kDriveIdle) << "after a zero-length read";
  EXPECT_EQ(drive.Write(buffer, 0, 0), 0);
  EXPECT_EQ(drive.State(), kDriveIdle) << "after a zero-length write";
  EXPECT_EQ(ReadAt(drive, 0, 512), Block(disk_.Bytes(), 0));
  drive.Close();
  EXPECT_EQ(DriveBytes(0), disk_.Bytes());
}

TEST_F(RawDriveTest, AClosedDriveRefusesTransfersUntilOpenedAgain) {
  RawDrive drive;
  ASSERT_EQ(AttachAndOpen(drive), 1);
  EXPECT_EQ(drive.Close(), 0);
  EXPECT_EQ(drive.State(), kDriveClosed);
  EXPECT_EQ(drive.Close(), 0) << "a second Close";
  ExpectRefusesTransfers(drive, kDriveClosed);
  ASSERT_EQ(drive.Open('A'), 1) << "reopening after Close";
  EXPECT_EQ(ReadAt(drive, 512, 512), Block(disk_.Bytes(), 1));
}

// The NT path positions with a 32-bit distance and no high part.
TEST_F(RawDriveTest, OffsetsFromTwoGigCannotBeReachedAndLeaveTheTransferFailed) {
  AttachDrive(0, disk_);
  std::vector<char> buffer(512, 'w');
  for (const uint32_t offset : {kTwoGig, 0xFFFFFE00u}) {
    RawDrive reader;
    ASSERT_EQ(reader.Open('A'), 1);
    EXPECT_EQ(reader.Read(buffer.data(), offset, 512), kTransferSeekFailed) << "at " << offset;
    EXPECT_EQ(reader.State(), kDriveReading) << "a failed read leaves the drive Reading";
    reader.Close();
    RawDrive writer;
    ASSERT_EQ(writer.Open('A'), 1);
    EXPECT_EQ(writer.Write(buffer.data(), offset, 512), kTransferSeekFailed) << "at " << offset;
    EXPECT_EQ(writer.State(), kDriveWriting) << "a failed write leaves the drive Writing";
  }
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  int32_t result = 0;
  ReadAt(drive, kTwoGig - 512, 512, result);
  EXPECT_EQ(result, 0) << "the last sector below 2^31 is reachable; past the image it reads 0";
  EXPECT_EQ(drive.State(), kDriveIdle);
  drive.Close();
  EXPECT_EQ(DriveBytes(0), disk_.Bytes());
}

TEST_F(RawDriveTest, AFailedTransferRefusesEveryOtherUntilClosed) {
  RawDrive drive;
  ASSERT_EQ(AttachAndOpen(drive), 1);
  std::vector<char> buffer(512, 'w');
  ASSERT_EQ(drive.Read(buffer.data(), kTwoGig, 512), kTransferSeekFailed);
  ExpectRefusesTransfers(drive, kDriveReading);
  EXPECT_EQ(drive.Open('A'), kDriveReading) << "Open while a handle is held reports the state";
  EXPECT_EQ(drive.State(), kDriveReading);
  drive.Close();
  ASSERT_EQ(drive.Open('A'), 1);
  ASSERT_EQ(drive.Write(buffer.data(), kTwoGig, 512), kTransferSeekFailed);
  ExpectRefusesTransfers(drive, kDriveWriting);
  EXPECT_EQ(drive.Open('B'), kDriveWriting);
  drive.Close();
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(ReadAt(drive, 512, 512), Block(disk_.Bytes(), 1)) << "after close and reopen";
  drive.Close();
  EXPECT_EQ(DriveBytes(0), disk_.Bytes()) << "a refused write reached the drive";
}

// --- Opening drives by letter ---

#ifndef _WIN32
// A device that takes no data, as a failing disk would: the write is a failed
// transfer, and the drive refuses everything else until it is closed.
TEST_F(RawDriveTest, AWriteTheDeviceRefusesIsAFailedTransfer) {
  const char* const table[] = {"/dev/full"};
  SetRawDriveTable(table, 1);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  std::string data(512, 'x');
  EXPECT_EQ(drive.Write(data.data(), 0, 512), kTransferFailed);
  ExpectRefusesTransfers(drive, kDriveWriting);
  drive.Close();
  DetachDrives();  // the table of the test's images again
}
#endif

TEST_F(RawDriveTest, OpeningAMissingDriveFails) {
  AttachDrive(0, disk_);
  for (const char letter : {'B', 'Z', 'g', '@'}) {
    RawDrive drive;
    SCOPED_TRACE(std::string("letter ") + letter);
    EXPECT_EQ(drive.Open(letter), -1);
    ExpectRefusesTransfers(drive, kDriveUnopened);
    EXPECT_EQ(drive.Close(), 0);
    EXPECT_EQ(drive.State(), kDriveClosed);
  }
}

TEST_F(RawDriveTest, ConsecutiveLettersFromANameConsecutiveDrives) {
  const DiskImage first = OrdinaryDisk(8);
  const DiskImage second = ZazeBeforeRepair(8);
  const DiskImage third = MacDisk(4, 8);
  AttachDrive(0, first);
  AttachDrive(1, second);
  AttachDrive(2, third);
  const DiskImage* expected[] = {&first, &second, &third};
  for (int n = 0; n < 3; ++n) {
    RawDrive drive;
    const char letter = static_cast<char>('A' + n);
    ASSERT_EQ(drive.Open(letter), 1) << "letter " << letter;
    EXPECT_EQ(ReadAt(drive, 0, 1024), Block(expected[n]->Bytes(), 0, 2))
        << "letter " << letter << " should open drive " << n;
  }
}

TEST_F(RawDriveTest, OpenOnAnIdleDriveKeepsTheFirstDrive) {
  const DiskImage onA = OrdinaryDisk(8);
  const DiskImage onE = ZazeBeforeRepair(8);
  AttachDrive(0, onA);
  AttachDrive(4, onE);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  EXPECT_EQ(drive.Open('E'), 1) << "Open on an Idle drive reports the state, Idle";
  EXPECT_EQ(drive.State(), kDriveIdle);
  EXPECT_EQ(ReadAt(drive, 512, 512), Block(onA.Bytes(), 1))
      << "the second Open replaced the first drive";
  RawDrive other;
  EXPECT_EQ(other.Open('E'), 1) << "the second Open must not have taken drive E";
}

TEST_F(RawDriveTest, ADriveIsHeldExclusivelyUntilClosed) {
  AttachDrive(0, OrdinaryDisk(8));
  RawDrive first;
  ASSERT_EQ(first.Open('A'), 1);
  {
    RawDrive second;
    EXPECT_EQ(second.Open('A'), -1) << "opened a drive another RawDrive holds";
    EXPECT_EQ(second.State(), kDriveUnopened);
  }
  first.Close();
  {
    RawDrive third;
    EXPECT_EQ(third.Open('A'), 1) << "the drive stayed held after Close";
    RawDrive fourth;
    EXPECT_EQ(fourth.Open('A'), -1);
  }  // destroying closes, as Close would
  RawDrive fifth;
  EXPECT_EQ(fifth.Open('A'), 1) << "the drive stayed held after its RawDrive was destroyed";
}

TEST_F(RawDriveTest, AFailedOpenCanBeRetried) {
  RawDrive drive;
  ASSERT_EQ(drive.Open('C'), -1);
  const DiskImage image = OrdinaryDisk(8);
  AttachDrive(2, image);
  ASSERT_EQ(drive.Open('C'), 1);
  EXPECT_EQ(ReadAt(drive, 0, 512), Block(image.Bytes(), 0));
}

// --- Moving bytes ---

TEST_F(RawDriveTest, WritesLandExactlyWhereAsked) {
  const DiskImage image = ZazeBeforeRepair(256);
  AttachDrive(0, image);
  std::string one(512, '\0');
  for (size_t i = 0; i < one.size(); ++i) one[i] = static_cast<char>(i * 7 + 1);
  const std::string three = std::string(512, 'a') + std::string(512, 'b') + std::string(512, 'c');
  {
    RawDrive drive;
    ASSERT_EQ(drive.Open('A'), 1);
    EXPECT_EQ(drive.Write(one.data(), 512, 512), 512);
    EXPECT_EQ(drive.State(), kDriveIdle);
    EXPECT_EQ(drive.Write(three.data(), 100 * 512, 3 * 512), 3 * 512);
    EXPECT_EQ(drive.Write(one.data(), 255 * 512, 512), 512) << "the last block";
    EXPECT_EQ(ReadAt(drive, 99 * 512, 5 * 512),
              Block(image.Bytes(), 99) + three + Block(image.Bytes(), 103))
        << "read back through the same RawDrive";
  }
  const std::string after = DriveBytes(0);
  EXPECT_EQ(ChangesOutside(image.Bytes(), after, {{1, 1}, {100, 3}, {255, 1}}), "");
  EXPECT_EQ(Block(after, 1), one);
  EXPECT_EQ(Block(after, 100, 3), three);
  EXPECT_EQ(Block(after, 255), one);
}

TEST_F(RawDriveTest, ReadsAndWritesThroughBuffersOfAnyAlignment) {
  const DiskImage image = ZazeBeforeRepair(128);
  AttachDrive(0, image);
  struct Case {
    const char* what;
    size_t misalign;
    uint32_t block;
  };
  const Case cases[] = {{"4096-aligned", 0, 8},
                        {"one byte past a boundary", 1, 16},
                        {"512-aligned only", 512, 24},
                        {"odd in the middle", 2049, 32}};
  std::vector<BlockRange> written;
  {
    RawDrive drive;
    ASSERT_EQ(drive.Open('A'), 1);
    for (const Case& c : cases) {
      OddBuffer in(3 * 512, c.misalign);
      EXPECT_EQ(drive.Read(in.data(), c.block * 512, 3 * 512), 3 * 512) << c.what;
      EXPECT_EQ(in.Contents(), Block(image.Bytes(), c.block, 3)) << c.what << ": read wrong";
      EXPECT_TRUE(in.GuardsIntact()) << c.what << ": read outside the buffer";

      OddBuffer out(2 * 512, c.misalign);
      for (int i = 0; i < 1024; ++i) out.data()[i] = static_cast<char>(c.misalign + i * 3);
      const std::string sent = out.Contents();
      EXPECT_EQ(drive.Write(out.data(), (c.block + 64) * 512, 1024), 1024) << c.what;
      EXPECT_EQ(ReadAt(drive, (c.block + 64) * 512, 1024), sent) << c.what << ": wrote wrong";
      written.push_back({c.block + 64, 2});
    }
    // A malloc'd block, as callers hand them over, one byte in.
    char* block = static_cast<char*>(std::malloc(1025));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(drive.Read(block + 1, 40 * 512, 1024), 1024);
    EXPECT_EQ(std::string(block + 1, 1024), Block(image.Bytes(), 40, 2)) << "malloc + 1";
    EXPECT_EQ(drive.Write(block + 1, 120 * 512, 1024), 1024) << "malloc + 1";
    written.push_back({120, 2});
    std::free(block);
  }
  const std::string after = DriveBytes(0);
  EXPECT_EQ(ChangesOutside(image.Bytes(), after, written), "");
  EXPECT_EQ(Block(after, 120, 2), Block(image.Bytes(), 40, 2)) << "malloc + 1 write landed wrong";
}

TEST_F(RawDriveTest, LargerTransfersAfterSmallerOnesUseTheWholeBuffer) {
  const DiskImage image = ZazeBeforeRepair(512);
  AttachDrive(0, image);
  RawDrive drive;
  ASSERT_EQ(drive.Open('A'), 1);
  for (const uint32_t blocks : {1u, 8u, 128u, 2u, 200u}) {
    OddBuffer buffer(blocks * 512, 1);
    EXPECT_EQ(drive.Read(buffer.data(), 64 * 512, blocks * 512),
              static_cast<int32_t>(blocks * 512));
    EXPECT_EQ(buffer.Contents(), Block(image.Bytes(), 64, blocks)) << blocks << " blocks";
    EXPECT_TRUE(buffer.GuardsIntact()) << blocks << " blocks";
  }
}

TEST_F(RawDriveTest, ReadsPastTheEndOfTheDriveComeUpShort) {
  RawDrive drive;
  ASSERT_EQ(AttachAndOpen(drive), 1);
  int32_t result = 0;
  EXPECT_EQ(ReadAt(drive, 14 * 512, 4 * 512, result), Block(disk_.Bytes(), 14, 2));
  EXPECT_EQ(result, 2 * 512) << "a read across the end moves what is there";
  EXPECT_EQ(drive.State(), kDriveIdle);
  ReadAt(drive, 16 * 512, 512, result);
  EXPECT_EQ(result, 0) << "a read at the end moves nothing";
  EXPECT_EQ(drive.State(), kDriveIdle);
  OddBuffer odd(4 * 512, 1);
  EXPECT_EQ(drive.Read(odd.data(), 15 * 512, 4 * 512), 512) << "through the bounce buffer";
  EXPECT_EQ(odd.Contents().substr(0, 512), Block(disk_.Bytes(), 15));
  EXPECT_TRUE(odd.GuardsIntact());
}

}  // namespace
