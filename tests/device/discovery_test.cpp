#include "device/Discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/RawDrive.h"
#include "tests/support/DiskImage.h"
#include "tests/support/RecordingUi.h"

namespace {

using Lines = std::vector<std::string>;

class Discovery : public testing::Test {
 protected:
  void SetUp() override { ResetRecordedUi(); }
  void TearDown() override { DetachDrives(); }

  // Each candidate is closed again: an exclusive open must succeed afterwards.
  static void ExpectReleased(char letter) {
    RawDrive drive;
    EXPECT_EQ(drive.Open(letter), 1) << "drive " << letter << " is still held";
  }
};

// A disk whose block 1 would match but ends 24 bytes short of a whole block.
DiskImage ShortPartitionMap() {
  DiskImage image = ZazeBeforeRepair();
  image.Bytes().resize(1000);
  return image;
}

std::vector<int32_t> AllPositions() {
  std::vector<int32_t> positions;
  for (int32_t n = 0; n < kDiscoveryCandidates; ++n) positions.push_back(n);
  return positions;
}

TEST_F(Discovery, SkipsAnOrdinaryDiskAndStopsAtTheFirstPartitionMap) {
  AttachDrive(0, OrdinaryDisk());
  AttachDrive(1, ZazeBeforeRepair());
  AttachDrive(2, ZazeRepaired());

  EXPECT_EQ(FindZazeDrive(), 'B');
  EXPECT_EQ(RecordedLogLines(), (Lines{"Drive A is not an zAze", "Found zAze Drive at B!"}));

  const std::vector<UiEvent> ui = RecordedUi();
  ASSERT_GE(ui.size(), 3u);
  EXPECT_EQ(ui[0].kind, UiEvent::kProgressCreate);
  EXPECT_EQ(ui[1].kind, UiEvent::kProgressRange);
  EXPECT_EQ(ui[1].first, 0);
  EXPECT_EQ(ui[1].second, 27);
  EXPECT_EQ(ui.back().kind, UiEvent::kProgressDestroy);
  EXPECT_EQ(RecordedProgressPositions(), (std::vector<int32_t>{0, 1}));
  ExpectReleased('A');
  ExpectReleased('B');
}

TEST_F(Discovery, TakesTheLowerOfTwoMacintoshDisks) {
  AttachDrive(3, MacDisk());
  AttachDrive(5, ZazeBeforeRepair());
  EXPECT_EQ(FindZazeDrive(), 'D');
  EXPECT_EQ(RecordedLogLines(), (Lines{"Found zAze Drive at D!"}));
  ExpectReleased('D');
}

static_assert(static_cast<unsigned char>(kNoDriveFound) == 0xFF, "the wizard stores it as 0xFF");

TEST_F(Discovery, ReportsNoDriveAfterLoggingEachOneThatReadInFull) {
  AttachDrive(0, OrdinaryDisk());
  AttachDrive(2, OrdinaryDisk(4));
  AttachDrive(4, ShortPartitionMap());
  AttachDrive(26, OrdinaryDisk());

  EXPECT_EQ(FindZazeDrive(), kNoDriveFound);
  EXPECT_EQ(RecordedLogLines(),
            (Lines{"Drive A is not an zAze", "Drive C is not an zAze", "Drive [ is not an zAze"}));
  EXPECT_EQ(RecordedProgressPositions(), AllPositions());
  EXPECT_EQ(RecordedUi().back().kind, UiEvent::kProgressDestroy);
  ExpectReleased('A');
  ExpectReleased('E');
  ExpectReleased('[');
}

TEST_F(Discovery, SkipsABlockThatCannotBeReadInFullEvenIfItWouldMatch) {
  AttachDrive(0, ShortPartitionMap());
  AttachDrive(2, ZazeBeforeRepair());
  EXPECT_EQ(FindZazeDrive(), 'C');
  EXPECT_EQ(RecordedLogLines(), (Lines{"Found zAze Drive at C!"}));
  EXPECT_EQ(RecordedProgressPositions(), (std::vector<int32_t>{0, 1, 2}));
}

TEST_F(Discovery, LabelsTheLastCandidateWithTheCharacterAfterZ) {
  AttachDrive(25, OrdinaryDisk());
  AttachDrive(26, ZazeRepaired());
  EXPECT_EQ(FindZazeDrive(), '[');
  EXPECT_EQ(RecordedLogLines(), (Lines{"Drive Z is not an zAze", "Found zAze Drive at [!"}));
  EXPECT_EQ(RecordedProgressPositions(), AllPositions());
  ExpectReleased('[');
}

}  // namespace
