// One update from the first prompt to the last page, as a user goes through
// it, and what it leaves on the zAze, in the dump file and in the status log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "device/Contact.h"
#include "harness/RoadWalker.h"
#include "tests/e2e/E2eHarness.h"

#include <commctrl.h>
#include "tests/net/LoopbackServer.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

// 57 chunks, the last one short.
constexpr uint32_t kImageSectors = 56 * 63 + 40;
constexpr char kSourcesBody[] = "zephlar firmware sources 1\nimage=zaze.bin\n";

PartitionMapEntry EntryIn(const std::string& drive, uint32_t index) {
  DiskImage image(0);
  image.Bytes() = drive;
  return image.Entry(index);
}

// Section `index` of the dump: from its "Start of partition" line up to
// the next line that opens a section, or to the end.
std::string DumpSection(const std::string& dump, uint32_t index) {
  const size_t start = dump.find("**> Start of partition " + std::to_string(index) + " of ");
  if (start == std::string::npos) return std::string();
  return dump.substr(start, dump.find("**> ", start + 1) - start);
}

// The value a section shows for `field`, as a reader finds it: what follows
// "field -> " on its line.
std::string FieldOf(const std::string& section, const std::string& field) {
  const std::string key = "\t" + field + " -> ";
  const size_t at = section.find(key);
  if (at == std::string::npos) return std::string();
  const size_t from = at + key.size();
  return section.substr(from, section.find('\n', from) - from);
}

// A name field of an entry, cut at its NUL where it has one.
std::string Quoted(const char (&field)[32]) {
  return "\"" + std::string(field, strnlen(field, sizeof field)) + "\"";
}

uint32_t NumberOf(const std::string& section, const std::string& field) {
  return static_cast<uint32_t>(std::strtoul(FieldOf(section, field).c_str(), nullptr, 16));
}

using E2eRoad = E2eTest;

// What the user sees at each stop of the road, checked as the walker
// reaches it: the walk is the demo's own.
class RoadChecks : public RoadWatcher {
 public:
  std::vector<int> pages;  // as each was reached
  bool progressHeld = false;

  void At(RoadStop stop, HWND window, int /*page*/) override {
    switch (stop) {
      case RoadStop::kPrompt:
        EXPECT_EQ("Continue", ButtonText(window, IDOK));
        EXPECT_EQ("Cancel", ButtonText(window, IDCANCEL));
        EXPECT_TRUE(FindWizards().empty() || !IsWindowVisible(FindWizards().front()))
            << "the search comes before the wizard is shown";
        SaveShot(window, "device_prompt");
        break;
      case RoadStop::kPage:
        pages.push_back(PageOnScreen(window));
        if (pages.back() == 4) AtTheLastPage();
        SaveShot(window, "road_page" + std::to_string(pages.back()));
        break;
      case RoadStop::kProgress:
        progressHeld = true;
        AtTheEndOfTheCopy(window);
        break;
      default:
        break;
    }
  }

  void Say(const std::string& line) override { std::printf("walk: %s\n", line.c_str()); }

 private:
  static void AtTheEndOfTheCopy(HWND progress) {
    ASSERT_NE(progress, nullptr) << "no progress window with its bar";
    EXPECT_EQ(2, PageOnScreen(FirstTopLevel(IsWizard)))
        << "the page left stays on screen during the update";
    HWND bar = FindWindowExA(progress, nullptr, "msctls_progress32", nullptr);
    ASSERT_NE(bar, nullptr);
    // A step a chunk, saved, written and read back: full when the work ends,
    // and not a step before.
    EXPECT_EQ(3 * 57, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(3 * 57, SendMessageA(bar, PBM_GETPOS, 0, 0));
    const std::vector<int> steps = ProgressPositions();
    ASSERT_EQ(3u * 57, steps.size());
    for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(static_cast<int>(i) + 1, steps[i]);
    EXPECT_GE(PaintedTextLines(progress), 2);
    SaveShot(progress, "road_progress", false);  // painted where it is held
  }

  static void AtTheLastPage() {
    // The log of the page left holds more lines than it shows; the last one,
    // "Updated firmware!", is in view.
    const LogView view = StatusLogAtTheEnd();
    EXPECT_GT(view.lines, view.rows);
    EXPECT_GE(view.top + view.rows, view.lines) << "top " << view.top << " of " << view.lines;
    EXPECT_TRUE(TopLevels(IsProgressWindow).empty());
  }
};

TEST_F(E2eRoad, FromTheDevicePromptToTheLastPage) {
  LoopbackServer server(kSourcesBody);
  ASSERT_TRUE(server.listening());
  const std::string address = server.Address("/zaze/sources.dat");
  WriteScript(RoadScript({address}));
  const std::string image = FirmwareImage(kImageSectors * kSector, 7);
  SaveFile("firmware.img", image);
  const std::string firmwarePath = FullPath("firmware.img");
  const std::string before = DriveBytes(1);

  OpenWizard();
  RoadChecks checks;
  RoadWalker walker(0, firmwarePath, 6 * kWaitMs, checks);
  EXPECT_TRUE(walker.Walk()) << walker.failure();
  EXPECT_EQ((std::vector<int>{1, 2, 4}), checks.pages);
  EXPECT_TRUE(checks.progressHeld) << "the progress window was not held at the end of the copy";
  ASSERT_TRUE(WizardEnded());
  EXPECT_TRUE(FindWizards().empty());
  // Leaving page 1: the question names the address as the script has it.
  const std::vector<AnsweredBox> boxes = walker.boxes();
  ASSERT_EQ(3u, boxes.size());
  EXPECT_EQ("Zephlar Internet Connection", boxes[0].caption);
  EXPECT_EQ(
      "The Zephlar needs to connect to the\ninternet to check for possible firmware "
      "sources.\n\nChecking at: " +
          address + "\n\nDo you wish to continue?",
      boxes[0].text);
  EXPECT_EQ("Yes", boxes[0].answer);
  EXPECT_EQ("Got the firmware sources!", boxes[1].text);
  EXPECT_EQ("Zephlar", boxes[1].caption);
  EXPECT_EQ("File verified", boxes[2].caption);
  EXPECT_EQ("The file has been verified as the correct firmware file.", boxes[2].text);
  EXPECT_EQ(kSourcesBody, ReadWholeFile("frmwrsrc.dat"));
  EXPECT_EQ(1, server.requests());
  EXPECT_EQ("GET /zaze/sources.dat HTTP/1.1", server.lastRequestLine().substr(0, 30));

  // The zAze: the map in its fixed shape, the image in the firmware
  // partition, and nothing else touched.
  const std::string after = DriveBytes(1);
  const PartitionMapEntry map = EntryIn(after, 0);
  const PartitionMapEntry firmware = EntryIn(after, 1);
  EXPECT_EQ(62u, map.pmPartBlkCnt);
  EXPECT_EQ(3u, map.pmMapBlkCnt);
  EXPECT_EQ(63u, firmware.pmPyPartStart);
  EXPECT_EQ(65477u, firmware.pmPartBlkCnt);
  EXPECT_EQ(3u, firmware.pmMapBlkCnt);
  EXPECT_TRUE(after.compare(63 * kSector, image.size(), image) == 0)
      << "the firmware partition does not hold the image";
  EXPECT_EQ("", ChangesOutside(before, after, {{1, 2}, {63, kImageSectors}}));

  // The dump: header, support line, then each entry of the repaired map as
  // the disk holds it, the firmware line just before the firmware's entry.
  // A text file: its lines end in CR LF on Windows.
  std::string dump = ReadWholeFile("zaze_pm.txt");
  for (size_t at; (at = dump.find("\r\n")) != std::string::npos;) dump.erase(at, 1);
  EXPECT_EQ(0u, dump.find("************** START OF PARTITION MAP FILE ("));
  EXPECT_NE(std::string::npos, dump.find("Send this file to \"" ZEPHLAR_SUPPORT_ADDRESS "\""));
  EXPECT_NE(std::string::npos,
            dump.find("**> Firmware partition\n**> Start of partition 1 of 2\n"));
  EXPECT_EQ(std::string::npos, dump.find("**> Start of partition 3 "));
  for (uint32_t index = 0; index < 3; ++index) {
    SCOPED_TRACE("entry " + std::to_string(index));
    const PartitionMapEntry entry = EntryIn(after, index);
    const std::string section = DumpSection(dump, index);
    EXPECT_EQ(Quoted(entry.pmPartName), FieldOf(section, "pmPartName"));
    EXPECT_EQ(Quoted(entry.pmParType), FieldOf(section, "pmParType"));
    EXPECT_EQ(entry.pmMapBlkCnt, NumberOf(section, "pmMapBlkCnt"));
    EXPECT_EQ(entry.pmPyPartStart, NumberOf(section, "pmPyPartStart"));
    EXPECT_EQ(entry.pmPartBlkCnt, NumberOf(section, "pmPartBlkCnt"));
  }

  const std::vector<std::string> log = {
      "Drive A is not an zAze",
      "Found zAze Drive at B!",
      "Connecting to server.. Please wait",
      "Successfully obtained the firmware!",
      "    <Checking partition information...>",
      "    <Firmware partition found...>",
      "    <Drive found...>",
      "    <Checking partition information...>",
      "Opened zaze_pm.txt successfully, dumping partition map:",
      "Found firmware on zAze!",
      "The size of the partition is 33524224 bytes.",
      AsLogged("Updating firmware with file \"" + firmwarePath + "\"..."),
      "Saved the " + std::to_string(image.size()) + " bytes the update replaces to " +
          "zaze_fw_backup.bin.",
      "Firmware verified.",
      "Updated firmware!",
  };
  EXPECT_EQ(log, LoggedLines());
}

}  // namespace

#endif
