// Choosing the firmware image: the verdicts and the Next button, the verdict
// kept across pages, and the chosen file's full path.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
  SaveFile("good.img", FirmwareImage(4 * kSector, 1));
  std::string bad = FirmwareImage(4 * kSector, 2);
  bad[131] = 'x';
  SaveFile("bad.img", bad);
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

  EXPECT_EQ(kVerified, ChooseFirmware(wizard, FullPath("good.img"), "File verified"));
  EXPECT_EQ(kNextOn, DrawnButtons(dll_, wizard));
  // Refused after an accepted one: Next goes off again and does nothing,
  // whether clicked, sent, or pressed as Enter (which the dialog turns into
  // its hidden default button's Next): the update page would write the
  // refused file.
  EXPECT_EQ(kRefused, ChooseFirmware(wizard, FullPath("bad.img"), "Error"));
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

  EXPECT_EQ(kVerified, ChooseFirmware(wizard, FullPath("good.img"), "File verified"));
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
  SaveFile("images\\zaze firmware.img", image);
  const std::string path = FullPath("images\\zaze firmware.img");
  const std::string here = FullPath(".");

  HWND wizard = OpenOnFirmwarePage(RoadScript({}));
  ASSERT_NE(wizard, nullptr);
  // The user goes into the folder in the dialog and picks the file there.
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  OpenFolderInFileDialog("images");
  ChooseInFileDialog(path);
  EXPECT_EQ(kVerified, AnswerBox("File verified"));
  EXPECT_EQ(here, FullPath(".")) << "the file dialog moved the current folder";

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
  ASSERT_TRUE(SetCurrentDirectoryA(scratch().c_str()));
}

// The file at `path` (a wide name), written with `bytes`.
bool WriteWide(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool done =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  CloseHandle(file);
  return done;
}

// Types the wide `path` into the file dialog and presses Open; the text of
// the verdict box with `caption`.
std::string ChooseWide(HWND wizard, const std::wstring& path, const std::string& caption) {
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  HWND dialog = WaitForBox("Open");
  HWND field = dialog != nullptr ? FileNameField(dialog) : nullptr;
  if (field == nullptr) {
    ADD_FAILURE() << "no file dialog with a name field";
    return "";
  }
  SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  EXPECT_TRUE(PressButton(dialog, IDOK));
  return AnswerBox(caption);
}

// A file in a folder whose name the ANSI code page cannot hold (Cyrillic,
// Chinese), and a file another program reads meanwhile (a browser finishing
// a download), are firmware files like any other, and the update writes
// them. One that another program locks is told as such, never as "NOT a
// valid firmware file".
TEST_F(E2eFirmwareChoice, AFileIsChosenByItsWholeNameAndReadBesideOtherReaders) {
  const std::string image = FirmwareImage(79 * kSector, 4);
  HWND wizard = OpenOnFirmwarePage(RoadScript({}));
  ASSERT_NE(wizard, nullptr);
  wchar_t here[MAX_PATH] = L"";
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, here), 0u);
  std::wstring path;
  for (const wchar_t* folder :
       {L"\u041f\u0440\u043e\u0448\u0438\u0432\u043a\u0430", L"\u56fa\u4ef6"}) {
    const std::wstring directory = std::wstring(here) + L"\\" + folder;
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    path = directory + L"\\firmware.img";
    ASSERT_TRUE(WriteWide(path, image));
    EXPECT_EQ(kVerified, ChooseWide(wizard, path, "File verified"));
  }

  HANDLE locked = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  const std::string told = ChooseWide(wizard, path, "Error");
  EXPECT_EQ(told.find("The selected file could not be opened"), 0u) << told;
  EXPECT_NE(told.find("Another program holds it."), std::string::npos) << told;
  CloseHandle(locked);

  HANDLE reading =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reading, INVALID_HANDLE_VALUE);
  EXPECT_EQ(kVerified, ChooseWide(wizard, path, "File verified"));
  PostClick(wizard, kNextPoint);
  ASSERT_TRUE(WaitForPage(wizard, 4));
  EXPECT_EQ(nullptr, WaitForBox("Firmware Upgrade Error", kQuietMs));
  CloseHandle(reading);
  const std::vector<std::string> log = LoggedLines();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ("Updated firmware!", log.back());
  EXPECT_TRUE(DriveBytes(1).compare(63 * kSector, image.size(), image) == 0);
}

}  // namespace

#endif
