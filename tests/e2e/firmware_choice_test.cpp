// Choosing the firmware image: the verdicts and the Next button, the verdict
// kept across pages, and the chosen file's full path.
#include <gtest/gtest.h>

#include <algorithm>

#include "resources/resource.h"
#include "tests/e2e/E2eHarness.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

using E2eFirmwareChoice = E2eTest;

constexpr char kVerified[] = "The file has been verified as the correct firmware file.";
constexpr char kRefused[] = "The selected file is NOT a valid firmware file!";

// The firmware page's drawn buttons with Next off and on.
constexpr char kNextOff[] = "Back normal, Next disabled, Cancel normal";
constexpr char kNextOn[] = "Back normal, Next normal, Cancel normal";

TEST_F(E2eFirmwareChoice, ARefusedImageDisablesNextAndAnAcceptedOneSurvivesBackAndNext) {
  // The button's caption differs from "Browse for file" in case only.
  WriteScript(RoadScript({}, "step2.controls2.value.BROWSE FOR FILE\n"));
  WriteBytes("good.img", FirmwareImage(4 * kSector, 1));
  std::string bad = FirmwareImage(4 * kSector, 2);
  bad[131] = 'x';
  WriteBytes("bad.img", bad);
  const std::string zaze = DriveBytes(1);
  HWND wizard = OpenPastPrompt();
  ASSERT_NE(wizard, nullptr);
  // Back is off on the first page: its command, however sent, does nothing.
  const std::vector<HWND> firstPage = PageWindows(wizard);
  PostMessageA(wizard, WM_COMMAND, ID_WIZARD_BACK, 0);
  ASSERT_TRUE(ClickWithin(wizard, kBackgroundPoint));
  EXPECT_EQ(firstPage, PageWindows(wizard)) << "Back made the page again";
  ASSERT_TRUE(ClickWithin(wizard, kNextPoint));
  ASSERT_TRUE(WaitForPage(wizard, 2));
  EXPECT_EQ(kNextOff, DrawnButtons(dll_, wizard));

  EXPECT_EQ(kVerified, ChooseFirmware(wizard, FullPathOf("good.img"), "File verified"));
  EXPECT_EQ(kNextOn, DrawnButtons(dll_, wizard));
  // Refused after an accepted one: Next goes off again and does nothing,
  // whether clicked, sent, or pressed as Enter (which the dialog turns into
  // its hidden default button's Next): the update page would write the
  // refused file.
  EXPECT_EQ(kRefused, ChooseFirmware(wizard, FullPathOf("bad.img"), "Error"));
  EXPECT_EQ(kNextOff, DrawnButtons(dll_, wizard));
  ASSERT_TRUE(ClickWithin(wizard, kNextPoint));
  EXPECT_EQ(2, PageOnScreen(wizard));
  PostMessageA(wizard, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageA(wizard, WM_KEYUP, VK_RETURN, 0);
  PostMessageA(wizard, WM_COMMAND, ID_WIZARD_NEXT, 0);
  EXPECT_EQ(nullptr, WaitForTopLevel(IsProgressWindow, kQuietMs)) << "an update started";
  EXPECT_EQ(2, PageOnScreen(wizard));
  EXPECT_TRUE(DriveBytes(1) == zaze) << "the zAze was written";

  // Cancelling the dialog changes nothing.
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  HWND dialog = WaitForBox("Open");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(PressButton(dialog, IDCANCEL));
  ASSERT_TRUE(WaitGone(dialog));
  EXPECT_EQ(nullptr, WaitForBox("Error", kQuietMs));
  EXPECT_EQ(kNextOff, DrawnButtons(dll_, wizard));

  EXPECT_EQ(kVerified, ChooseFirmware(wizard, FullPathOf("good.img"), "File verified"));
  ASSERT_TRUE(ClickWithin(wizard, kBackPoint));
  ASSERT_TRUE(WaitForPage(wizard, 1));
  ASSERT_TRUE(ClickWithin(wizard, kNextPoint));
  ASSERT_TRUE(WaitForPage(wizard, 2));
  EXPECT_EQ(kNextOn, DrawnButtons(dll_, wizard)) << "the verdict is kept with the page";
}

// The file dialog leaves the current folder where it was: the update finds
// the image by its full path, and the dump lands beside the script.
TEST_F(E2eFirmwareChoice, TheChosenFilesFullPathIsKeptAndTheCurrentFolderStays) {
  CreateDirectoryA("images", nullptr);
  const std::string image = FirmwareImage(79 * kSector, 3);
  WriteBytes("images\\zaze firmware.img", image);
  const std::string path = FullPathOf("images\\zaze firmware.img");
  const std::string here = FullPathOf(".");

  HWND wizard = OpenOnFirmwarePage(RoadScript({}));
  ASSERT_NE(wizard, nullptr);
  // The user goes into the folder in the dialog and picks the file there.
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  OpenFolderInFileDialog("images");
  ChooseInFileDialog(path);
  EXPECT_EQ(kVerified, AnswerBox("File verified"));
  EXPECT_EQ(here, FullPathOf(".")) << "the file dialog moved the current folder";

  // The dialog opens on the last file chosen.
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  HWND dialog = WaitForBox("Open");
  ASSERT_NE(dialog, nullptr);
  const std::string shown = FileDialogName(dialog);
  EXPECT_TRUE(shown == path || shown == "zaze firmware.img") << shown;
  EXPECT_TRUE(PressButton(dialog, IDCANCEL));
  ASSERT_TRUE(WaitGone(dialog));

  PostClick(wizard, kNextPoint);
  ASSERT_TRUE(WaitForPage(wizard, 4));
  EXPECT_EQ(nullptr, WaitForBox("Firmware Upgrade Error", kQuietMs));
  const std::string updating = AsLogged("Updating firmware with file \"" + path + "\"...");
  const std::vector<std::string> log = LoggedLines();
  EXPECT_NE(std::find(log.begin(), log.end(), updating), log.end()) << updating;
  EXPECT_EQ("Updated firmware!", log.back());
  EXPECT_TRUE(DriveBytes(1).compare(63 * kSector, image.size(), image) == 0);
  EXPECT_TRUE(FileExists("zaze_pm.txt"));
  EXPECT_FALSE(FileExists("images\\zaze_pm.txt"));
  ASSERT_TRUE(SetCurrentDirectoryA(scratch_.c_str()));
}

}  // namespace

#endif
