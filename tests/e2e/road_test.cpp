// One update from the first prompt to the last page, as a user goes through
// it, and what it leaves on the zAze, in the dump file and in the status log.
#include <gtest/gtest.h>

#include <cstdio>

#include "device/Contact.h"
#include "tests/e2e/E2eHarness.h"

#include <commctrl.h>
#include "tests/net/LoopbackServer.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

// 57 chunks of the copy, the last one short: the bar stops half way.
constexpr uint32_t kImageSectors = 56 * 63 + 40;
constexpr char kSourcesBody[] = "zephlar firmware sources 1\nimage=zaze.bin\n";

PartitionMapEntry EntryIn(const std::string& drive, uint32_t index) {
  DiskImage image(0);
  image.Bytes() = drive;
  return image.Entry(index);
}

// The dump's text for one entry, written out here field by field.
std::string DumpedEntry(uint32_t index, uint32_t last, const PartitionMapEntry& e) {
  const char* rule = "\t***************************************************************\n";
  char text[1024];
  std::snprintf(text, sizeof text,
                "**> Start of partition %u of %u\n%s\tpmSig -> 0x%.4x\n\tpmSigPad -> 0x%.4x\n"
                "\tpmMapBlkCnt -> 0x%.8x\n\tpmPyPartStart -> 0x%.8x\n\tpmPartBlkCnt -> 0x%.8x\n"
                "\tpmPartName -> \"%.32s\"\n\tpmParType -> \"%.32s\"\n"
                "\tpmLgDataStart -> 0x%.8x\n\tpmDataCnt -> 0x%.8x\n\tpmPartStatus -> 0x%.8x\n%s",
                index, last, rule, e.pmSig, e.pmSigPad, e.pmMapBlkCnt, e.pmPyPartStart,
                e.pmPartBlkCnt, e.pmPartName, e.pmParType, e.pmLgDataStart, e.pmDataCnt,
                e.pmPartStatus, rule);
  return text;
}

using E2eRoad = E2eTest;

TEST_F(E2eRoad, FromTheDevicePromptToTheLastPage) {
  LoopbackServer server(kSourcesBody);
  ASSERT_TRUE(server.listening());
  const std::string address = server.Address("/zaze/sources.dat");
  WriteScript(RoadScript({address}));
  const std::string image = FirmwareImage(kImageSectors * kSector, 7);
  WriteBytes("firmware.img", image);
  const std::string firmwarePath = FullPathOf("firmware.img");
  const std::string before = DriveBytes(1);
  HoldProgressAtEndOfCopy();

  OpenWizard();
  HWND prompt = WaitForPrompt();
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ("Continue", ButtonText(prompt, IDOK));
  EXPECT_EQ("Cancel", ButtonText(prompt, IDCANCEL));
  EXPECT_TRUE(FindWizards().empty() || !IsWindowVisible(FindWizards().front()))
      << "the search comes before the wizard is shown";
  SaveShot(prompt, "device_prompt");
  PressButton(prompt, IDOK);

  HWND wizard = WaitForShownWizard();
  ASSERT_NE(wizard, nullptr);
  ASSERT_TRUE(WaitForPage(wizard, 1));
  SaveShot(wizard, "road_page1");

  // Leaving page 1: the question names the address as the script has it.
  PostClick(wizard, kNextPoint);
  EXPECT_EQ(
      "The Zephlar needs to connect to the\ninternet to check for possible firmware "
      "sources.\n\nChecking at: " +
          address + "\n\nDo you wish to continue?",
      AnswerBox("Zephlar Internet Connection", IDYES));
  EXPECT_EQ("Got the firmware sources!", AnswerBox("Zephlar"));
  EXPECT_EQ(kSourcesBody, ReadBytes("frmwrsrc.dat"));
  EXPECT_EQ(1, server.requests());
  EXPECT_EQ("GET /zaze/sources.dat HTTP/1.1", server.lastRequestLine().substr(0, 30));

  ASSERT_TRUE(WaitForPage(wizard, 2));
  SaveShot(wizard, "road_page2");
  EXPECT_EQ("The file has been verified as the correct firmware file.",
            ChooseFirmware(wizard, firmwarePath, "File verified"));

  // Next onto the update page: the progress window over the page left.
  PostClick(wizard, kNextPoint);
  HWND progress = WaitForHeldProgress();
  ASSERT_NE(progress, nullptr) << "no progress window with its bar";
  EXPECT_EQ(2, PageOnScreen(wizard)) << "the page left stays on screen during the update";
  HWND bar = FindWindowExA(progress, nullptr, "msctls_progress32", nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(57, SendMessageA(bar, PBM_GETPOS, 0, 0));
  EXPECT_EQ(114, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
  EXPECT_GE(PaintedTextLines(progress), 2);
  SaveShot(progress, "road_progress", false);  // painted where it is held
  ReleaseProgress();

  ASSERT_TRUE(WaitForPage(wizard, 4));
  EXPECT_TRUE(WaitGone(progress));
  EXPECT_TRUE(TopLevels(IsProgressWindow).empty());
  SaveShot(wizard, "road_page4");
  PostClick(wizard, kNextPoint);  // OK on the last page
  ASSERT_TRUE(WizardEnded());
  EXPECT_TRUE(FindWizards().empty());

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

  // The dump: header, the map's entry, then the firmware line before the
  // firmware's own entry, then the rest.
  // A text file: its lines end in CR LF on Windows.
  std::string dump = ReadBytes("zaze_pm.txt");
  for (size_t at; (at = dump.find("\r\n")) != std::string::npos;) dump.erase(at, 1);
  const std::string header = "************** START OF PARTITION MAP FILE (";
  ASSERT_EQ(header, dump.substr(0, header.size()));
  const size_t headerEnd = dump.find('\n');
  const std::string expected = "Send this file to \"" ZEPHLAR_SUPPORT_ADDRESS
                               "\". Thank You!\n"
                               "****************************************************\n" +
                               DumpedEntry(0, 2, map) + "**> Firmware partition\n" +
                               DumpedEntry(1, 2, firmware) + DumpedEntry(2, 2, EntryIn(after, 2));
  EXPECT_EQ(expected, dump.substr(headerEnd + 1));

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
      "Firmware verified.",
      "Updated firmware!",
  };
  EXPECT_EQ(log, LoggedLines());
}

}  // namespace

#endif
