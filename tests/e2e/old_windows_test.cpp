// The Windows check and runOldWindows. The Windows 98 cases run in the
// program that the prefix runs as Windows 98; the drive that runOldWindows
// names is checked on the NT path, where it can be written.
#include <gtest/gtest.h>

#include "device/Contact.h"
#include "tests/e2e/E2eHarness.h"

namespace {

#if ZEPHLAR_E2E_WIN98

using E2eWin98 = E2eTest;

TEST_F(E2eWin98, WithoutRunOldWindowsTheWizardIsNeverShown) {
  // The flag of a later step does not count: only the step shown first.
  WriteScript(RoadScript({}, "step2.runOldWindows.1\n"));
  OpenWizard(kModeless);
  HWND box = WaitForBox("Zephlar Requires XP or 2000");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(
      "Current Only Windows 2000 and Windows XP are supported.\nIf you believe that this is "
      "major problem and support needs\nto be added, e-mail: " ZEPHLAR_SUPPORT_ADDRESS,
      BoxText(box));
  EXPECT_EQ(nullptr, WaitForShownWizard(0));
  EXPECT_TRUE(TopLevels(IsPrompt).empty());
  EXPECT_TRUE(PressButton(box, IDOK));
  ASSERT_TRUE(WizardEnded());
  EXPECT_TRUE(FindWizards().empty());
  EXPECT_EQ(0, running_());
  EXPECT_TRUE(LoggedLines().empty());
}

TEST_F(E2eWin98, RunOldWindowsOnTheFirstStepOpensWithoutCheckOrSearch) {
  WriteScript(RoadScript({}, "step1.runOldWindows.1\n"));
  OpenWizard(kModeless);
  HWND wizard = WaitForShownWizard();
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(WaitForPage(wizard, 1));
  EXPECT_TRUE(TopLevels(IsPrompt).empty());
  EXPECT_EQ(nullptr, WaitForBox("Zephlar Requires XP or 2000", 0));
  EXPECT_TRUE(LoggedLines().empty()) << "no drive was searched";
  EXPECT_EQ(1, running_());
  EXPECT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  EXPECT_TRUE(WizardEnded());
}

#else

using E2eOldWindows = E2eTest;

// Without a search, letter 0x67 names physical drive 38: a zAze there is
// the one updated, and the drives searched otherwise are left alone.
TEST_F(E2eOldWindows, RunOldWindowsSkipsTheSearchAndUpdatesDrive38) {
  AttachDrive38(ZazeBeforeRepair(kZazeBlocks));
  const std::string before = Drive38Bytes();
  const std::string searched = DriveBytes(1);
  WriteScript(RoadScript({}, "step1.runOldWindows.1\n"));
  const std::string image = FirmwareImage(79 * kSector, 8);
  SaveFile("firmware.img", image);

  OpenWizard();
  HWND wizard = WaitForShownWizard();
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(TopLevels(IsPrompt).empty());
  ASSERT_TRUE(WaitForPage(wizard, 1));
  EXPECT_TRUE(LoggedLines().empty()) << "no drive was searched";
  ASSERT_TRUE(ClickWithin(wizard, kNextPoint));
  ASSERT_TRUE(WaitForPage(wizard, 2));
  ChooseFirmware(wizard, FullPath("firmware.img"), "File verified");
  PostClick(wizard, kNextPoint);
  ASSERT_TRUE(WaitForPage(wizard, 4));
  EXPECT_EQ(nullptr, WaitForBox("Firmware Upgrade Error", kQuietMs));
  PostClick(wizard, kNextPoint);
  ASSERT_TRUE(WizardEnded());

  const std::string after = Drive38Bytes();
  EXPECT_TRUE(after.compare(63 * kSector, image.size(), image) == 0);
  EXPECT_EQ("", ChangesOutside(before, after, {{1, 2}, {63, 79}}));
  EXPECT_EQ(searched, DriveBytes(1));
}

// On an NT-family Windows the flag of a later step leaves the search on.
TEST_F(E2eOldWindows, ALaterStepsFlagLeavesTheSearchOn) {
  WriteScript(RoadScript({}, "step2.runOldWindows.1\n"));
  OpenWizard();
  HWND prompt = WaitForPrompt();
  ASSERT_NE(prompt, nullptr);
  EXPECT_TRUE(PressButton(prompt, IDCANCEL));
  EXPECT_TRUE(WizardEnded());
}

#endif

}  // namespace
