// While the worker runs, the wizard holds still; an update that cannot start
// is told and leaves the user on the page they were on.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/Contact.h"
#include "tests/e2e/E2eHarness.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

using E2eUpdateGuard = E2eTest;

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST_F(E2eUpdateGuard, WhileTheWorkerRunsNothingMovesTheWizard) {
  // A part of a sector: the worker stops in its refusal box until answered.
  SaveFile("other.img", FirmwareImage(4 * kSector, 5));
  HWND wizard = OpenWithFirmwareChosen(RoadScript({}), FirmwareImage(1000, 4));
  ASSERT_NE(wizard, nullptr);
  PostClick(wizard, kNextPoint);
  HWND box = WaitForBox("Firmware Upgrade Error");
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(1u, TopLevels(IsProgressWindow).size());

  // The worker is inside its box: Back, Next, Cancel and a close request
  // change nothing (the page is not even made again), and Browse opens no
  // dialog.
  const std::vector<HWND> page = PageWindows(wizard);
  const char* names[] = {"Back", "Next", "Cancel"};
  const POINT buttons[] = {kBackPoint, kNextPoint, CancelPoint(wizard)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(ClickWithin(wizard, buttons[i])) << names[i];
    ASSERT_TRUE(IsWindow(wizard)) << names[i];
    EXPECT_EQ(page, PageWindows(wizard)) << names[i];
    EXPECT_EQ(1u, TopLevels(IsProgressWindow).size()) << names[i];
  }
  DWORD_PTR result = 0;
  EXPECT_TRUE(SendMessageTimeoutA(wizard, WM_CLOSE, 0, 0, SMTO_NORMAL, 3000, &result));
  ASSERT_TRUE(IsWindow(wizard));
  // Nor may Windows end the session, which would end the worker mid-write.
  result = 1;
  EXPECT_TRUE(SendMessageTimeoutA(wizard, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 3000, &result));
  EXPECT_EQ(0u, result) << "the session may end under the worker";
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  EXPECT_EQ(nullptr, WaitForBox("Open", kQuietMs)) << "a file dialog under the worker";
  EXPECT_EQ(page, PageWindows(wizard));
  EXPECT_EQ(1u, TopLevels(IsProgressWindow).size());

  // Nor does the progress window go for its buttons' commands (Enter, Esc)
  // or a close request.
  HWND progress = TopLevels(IsProgressWindow).front();
  PostMessageA(progress, WM_COMMAND, IDOK, 0);
  PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
  PostMessageA(progress, WM_CLOSE, 0, 0);
  EXPECT_FALSE(WaitGone(progress, kQuietMs));

  EXPECT_TRUE(PressButton(box, IDOK));
  ASSERT_TRUE(WaitForPage(wizard, 4));
  EXPECT_TRUE(TopLevels(IsProgressWindow).empty());
  EXPECT_EQ(1, Count(LoggedLines(), "Found firmware on zAze!"));

  // Once the worker has ended, the wizard works again.
  ASSERT_TRUE(ClickWithin(wizard, kBackPoint));
  EXPECT_TRUE(WaitForPage(wizard, 3));
  ASSERT_TRUE(ClickWithin(wizard, kNextPoint));
  EXPECT_TRUE(WaitForPage(wizard, 4));
  ASSERT_TRUE(ClickWithin(wizard, kBackPoint));
  ASSERT_TRUE(ClickWithin(wizard, kBackPoint));
  EXPECT_TRUE(WaitForPage(wizard, 2));
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file"));
  HWND dialog = WaitForBox("Open");
  ASSERT_NE(dialog, nullptr) << "Browse works again";
  EXPECT_TRUE(PressButton(dialog, IDCANCEL));
  EXPECT_TRUE(WaitGone(dialog));
  result = 0;
  EXPECT_TRUE(SendMessageTimeoutA(wizard, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 3000, &result));
  EXPECT_NE(0u, result) << "the session is held up after the worker ended";
  EXPECT_TRUE(SendMessageTimeoutA(wizard, WM_CLOSE, 0, 0, SMTO_NORMAL, 3000, &result));
  EXPECT_TRUE(WizardEnded());
}

// What an update that could not start must leave: its box, no progress
// window, the page the user was on, an untouched zAze, and a Next that
// starts the update once the system allows it.
void ExpectNotStarted(HWND wizard, const std::string& before) {
  EXPECT_TRUE(WaitForPage(wizard, 2));
  EXPECT_TRUE(TopLevels(IsProgressWindow).empty());
  EXPECT_EQ(before, DriveBytes(1));
  EXPECT_EQ(0, Count(LoggedLines(), "    <Checking partition information...>"));
  PostClick(wizard, kNextPoint);
  EXPECT_TRUE(WaitForPage(wizard, 4));
  EXPECT_EQ(1, Count(LoggedLines(), "Updated firmware!"));
  EXPECT_NE(before, DriveBytes(1));
}

TEST_F(E2eUpdateGuard, AProgressWindowThatCannotBeMadeIsTold) {
  const std::string before = DriveBytes(1);
  HWND wizard = OpenWithFirmwareChosen(RoadScript({}), FirmwareImage(79 * kSector, 6));
  ASSERT_NE(wizard, nullptr);

  RefusePanels(1);
  PostClick(wizard, kNextPoint);
  const std::string told = AnswerBox("Firmware Upgrade Error");
  RefusePanels(0);
  EXPECT_EQ("Error: Unable to open the progress window!\n\n" ZEPHLAR_SUPPORT_LINE, told);
  ExpectNotStarted(wizard, before);
}

TEST_F(E2eUpdateGuard, AWorkerThatCannotStartIsToldAndItsProgressWindowGoes) {
  const std::string before = DriveBytes(1);
  HWND wizard = OpenWithFirmwareChosen(RoadScript({}), FirmwareImage(79 * kSector, 6));
  ASSERT_NE(wizard, nullptr);

  std::string told;
  {
    ThreadRoomTaken noRoom;
    ASSERT_TRUE(noRoom.holds()) << "a thread still starts: the test cannot take the room away";
    PostClick(wizard, kNextPoint);
    HWND box = WaitForBox("Firmware Upgrade Error");
    ASSERT_NE(box, nullptr);
    // The progress window that was made is gone before the user is told.
    EXPECT_TRUE(TopLevels(IsProgressWindow).empty());
    told = BoxText(box);
    EXPECT_TRUE(PressButton(box, IDOK));
    EXPECT_TRUE(WaitGone(box));
  }
  EXPECT_EQ("Error: Unable to start the firmware update!\n\n" ZEPHLAR_SUPPORT_LINE, told);
  ExpectNotStarted(wizard, before);
}

// A host may destroy its own window, and with it the modeless wizard, while
// the update runs. The library then counts as running until the worker has
// ended, so that the host does not unload it under the worker, and the next
// wizard opens only after that and works as any other.
TEST_F(E2eUpdateGuard, AWizardDestroyedUnderTheWorkerRunsUntilTheWorkerEnds) {
  // The update's step finishes: painted on its own, its Next would be OK.
  // A part of a sector: the worker stops in its refusal box until answered.
  HWND wizard =
      OpenWithFirmwareChosen(RoadScript({}, "step3.finish.1\n"), FirmwareImage(1000, 4), kModeless);
  ASSERT_NE(wizard, nullptr);
  PostClick(wizard, kNextPoint);
  ASSERT_NE(nullptr, WaitForBox("Firmware Upgrade Error"));

  // Painted again, the wizard still shows the page it left, with its Next
  // where the update step would have OK.
  RedrawWindow(wizard, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ("Back normal, Next normal, Cancel normal", DrawnButtons(dll_, wizard));
  SaveShot(wizard, "update_running");

  HWND host = GetWindow(wizard, GW_OWNER);
  ASSERT_NE(host, nullptr);
  PostMessageA(host, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitGone(wizard));
  EXPECT_EQ(1, running_()) << "the worker still runs";

  // Once the worker is done, nothing is left running.
  if (HWND box = WaitForBox("Firmware Upgrade Error", kQuietMs)) {
    EXPECT_TRUE(PressButton(box, IDOK));
  }
  EXPECT_TRUE(WaitUntil([this] { return running_() == 0; }));
  EndWizard();
  EXPECT_TRUE(TopLevels(IsProgressWindow).empty());

  wizard = OpenPastPromptOnAnyPage(kModeless);  // on the page the last one left
  ASSERT_NE(wizard, nullptr);
  ASSERT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  EXPECT_TRUE(WizardEnded()) << "the next wizard does not close";
}

}  // namespace

#endif
