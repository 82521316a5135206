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
};

// A disk whose block 1 would match but ends 24 bytes short of a whole block.
DiskImage ShortPartitionMap() {
  DiskImage image = ZazeBeforeRepair();
  image.Bytes().resize(1000);
  return image;
}

static_assert(static_cast<unsigned char>(kNoDriveFound) == 0xFF, "the wizard stores it as 0xFF");

// Drives attached by number, what the search finds and logs, how far the bar
// goes (to the last candidate when `lastPosition` is -1), and drives that
// must be let go again.
struct Search {
  const char* what;
  std::vector<std::pair<int, DiskImage>> drives;
  char found;
  Lines log;
  int32_t lastPosition;
  std::string released;
};

TEST_F(Discovery, FindsTheFirstPartitionMapAndLetsEveryCandidateGo) {
  const Search searches[] = {
      {"an ordinary disk, then two partition maps",
       {{0, OrdinaryDisk()}, {1, ZazeBeforeRepair()}, {2, ZazeRepaired()}},
       'B',
       {"Drive A is not an zAze", "Found zAze Drive at B!"},
       1,
       "AB"},
      {"the lower of two Macintosh disks",
       {{3, MacDisk()}, {5, ZazeBeforeRepair()}},
       'D',
       {"Found zAze Drive at D!"},
       3,
       "D"},
      {"none: each disk that read in full is logged",
       {{0, OrdinaryDisk()}, {2, OrdinaryDisk(4)}, {4, ShortPartitionMap()}, {26, OrdinaryDisk()}},
       kNoDriveFound,
       {"Drive A is not an zAze", "Drive C is not an zAze", "Drive [ is not an zAze"},
       -1,
       "AE["},
      {"a block 1 that cannot be read in full, though it would match",
       {{0, ShortPartitionMap()}, {2, ZazeBeforeRepair()}},
       'C',
       {"Found zAze Drive at C!"},
       2,
       "AC"},
      {"the last candidate, labelled with the character after Z",
       {{25, OrdinaryDisk()}, {26, ZazeRepaired()}},
       '[',
       {"Drive Z is not an zAze", "Found zAze Drive at [!"},
       -1,
       "Z["},
  };
  for (const Search& search : searches) {
    SCOPED_TRACE(search.what);
    DetachDrives();
    ResetRecordedUi();
    for (const auto& [number, disk] : search.drives) AttachDrive(number, disk);

    EXPECT_EQ(FindZazeDrive(), search.found);
    EXPECT_EQ(RecordedLogLines(), search.log);
    const std::vector<UiEvent> ui = RecordedUi();
    ASSERT_GE(ui.size(), 3u);
    EXPECT_EQ(ui[0].kind, UiEvent::kProgressCreate);
    EXPECT_EQ(ui[1].kind, UiEvent::kProgressRange);
    EXPECT_EQ(ui[1].first, 0);
    EXPECT_EQ(ui[1].second, 27);
    EXPECT_EQ(ui.back().kind, UiEvent::kProgressDestroy);
    std::vector<int32_t> positions;
    const int32_t last = search.lastPosition < 0 ? kDiscoveryCandidates - 1 : search.lastPosition;
    for (int32_t n = 0; n <= last; ++n) positions.push_back(n);
    EXPECT_EQ(RecordedProgressPositions(), positions);
    for (const char letter : search.released) {
      RawDrive drive;  // an exclusive open succeeds only on a drive let go
      EXPECT_EQ(drive.Open(letter), 1) << "drive " << letter << " is still held";
    }
  }
}

}  // namespace
