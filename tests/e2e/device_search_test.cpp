// The device search as the wizard opens: the prompt, its Retry form after a
// search that found nothing, and the ways out of it.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/E2eHarness.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

class E2eDeviceSearch : public E2eTest {
 protected:
  // The road script, with an ordinary disk the only drive.
  void WithoutAZaze() {
    DetachDrives();
    AttachDrive(0, OrdinaryDisk());
    WriteScript(RoadScript({}));
  }

  // Opens the modeless wizard without a zAze and presses Continue on the
  // first prompt; the prompt shown after that search found nothing.
  HWND PromptAfterAFailedSearch() {
    WithoutAZaze();
    OpenWizard(kModeless);
    HWND first = WaitForPrompt();
    if (first == nullptr) return nullptr;
    EXPECT_EQ("Continue", ButtonText(first, IDOK));
    WaitUntil([&] { return (firstLines_ = PaintedTextLines(first)) >= 2; }, 3000);
    EXPECT_TRUE(PressButton(first, IDOK));
    EXPECT_TRUE(WaitGone(first));
    return WaitForPrompt();
  }

  int firstLines_ = 0;  // the text lines of the first prompt
};

TEST_F(E2eDeviceSearch, WithoutAZazeThePromptComesBackUntilCancelled) {
  HWND again = PromptAfterAFailedSearch();
  ASSERT_NE(again, nullptr) << "the prompt did not come back";
  const int firstLines = firstLines_;
  EXPECT_GE(firstLines, 2);
  // The caption changes when the prompt first paints.
  EXPECT_TRUE(WaitUntil([again] { return ButtonText(again, IDOK) == "Retry"; }, 3000))
      << ButtonText(again, IDOK);
  // The failure notice is one more line, however often the prompt paints.
  EXPECT_TRUE(WaitUntil([&] { return PaintedTextLines(again) == firstLines + 1; }, 3000));
  for (int i = 0; i < 5; ++i) {
    InvalidateRect(again, nullptr, TRUE);
    UpdateWindow(again);
  }
  EXPECT_EQ(firstLines + 1, PaintedTextLines(again));
  // Cut to its rounded shape in fixed pixels.
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  HRGN expected = CreateRoundRectRgn(5, 7, 369, 122, 14, 14);
  RECT shapeBox = {}, expectedBox = {};
  EXPECT_NE(ERROR, GetWindowRgn(again, shape));
  GetRgnBox(shape, &shapeBox);
  GetRgnBox(expected, &expectedBox);
  EXPECT_TRUE(EqualRect(&shapeBox, &expectedBox));
  EXPECT_FALSE(PtInRegion(shape, 6, 8)) << "the corners are rounded";
  EXPECT_TRUE(PtInRegion(shape, 20, 8));
  DeleteObject(expected);
  DeleteObject(shape);
  SaveShot(again, "device_prompt_retry");

  // A third showing keeps the failure form.
  EXPECT_TRUE(PressButton(again, IDOK));
  EXPECT_TRUE(WaitGone(again));
  HWND third = WaitForPrompt();
  ASSERT_NE(third, nullptr);
  EXPECT_TRUE(WaitUntil([third] { return ButtonText(third, IDOK) == "Retry"; }, 3000));
  EXPECT_TRUE(FindWizards().empty() || !IsWindowVisible(FindWizards().front()));

  EXPECT_TRUE(PressButton(third, IDCANCEL));
  ASSERT_TRUE(WizardEnded());
  EXPECT_EQ(0, running_());
  EXPECT_TRUE(FindWizards().empty());
  // Three showings, two searches.
  const std::vector<std::string> searches(2, "Drive A is not an zAze");
  EXPECT_EQ(searches, LoggedLines());
}

TEST_F(E2eDeviceSearch, RetryFindsTheZazeOnceItIsAttached) {
  HWND again = PromptAfterAFailedSearch();
  ASSERT_NE(again, nullptr);
  AttachDrive(3, ZazeBeforeRepair());
  EXPECT_TRUE(PressButton(again, IDOK));

  HWND wizard = WaitForShownWizard();
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(WaitForPage(wizard, 1));
  EXPECT_EQ(1, running_());
  EXPECT_TRUE(TopLevels(IsPrompt).empty());
  const std::vector<std::string> log = {"Drive A is not an zAze", "Drive A is not an zAze",
                                        "Found zAze Drive at D!"};
  EXPECT_EQ(log, LoggedLines());
  ASSERT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  ASSERT_TRUE(WizardEnded());
  EXPECT_EQ(0, running_());
}

// Drives that are there but refuse to be opened say why the search failed:
// without administrator rights Retry can never succeed, and a zAze held by
// another program or of 4096-byte sectors is not "not found". The prompt
// tells what to do, and the log names each drive.
TEST_F(E2eDeviceSearch, ARefusedSearchIsToldForWhatItIs) {
  const struct {
    DWORD openError;
    DWORD sectorBytes;
    const char* told;
    const char* logged;
  } cases[] = {
      {ERROR_ACCESS_DENIED, 0, "Zephlar needs administrator rights to reach the zAze.",
       "Drive A cannot be opened without administrator rights."},
      {ERROR_SHARING_VIOLATION, 0, "Another program is using the zAze",
       "Drive A is in use by another program."},
      {0, 4096, "The disk found has sectors of another size than 512 bytes",
       "Drive B has sectors of another size than 512 bytes."},
  };
  WriteScript(RoadScript({}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    FailLibraryDriveOpens(c.openError);
    AnswerLibraryGeometry(c.sectorBytes);
    OpenWizard(kModeless);
    HWND first = WaitForPrompt();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(PressButton(first, IDOK));
    EXPECT_TRUE(WaitGone(first));
    HWND again = WaitForPrompt();
    ASSERT_NE(again, nullptr);
    EXPECT_NE(WindowText(again).find(c.told), std::string::npos) << WindowText(again);
    const std::vector<std::string> log = LoggedLines();
    EXPECT_NE(std::find(log.begin(), log.end(), c.logged), log.end());
    EXPECT_TRUE(PressButton(again, IDCANCEL));
    ASSERT_TRUE(WizardEnded());
    EndWizard();
  }
}

// A close request on the prompt is its Cancel.
TEST_F(E2eDeviceSearch, ClosingThePromptClosesTheWizard) {
  WriteScript(RoadScript({}));
  OpenWizard(kModeless);
  HWND prompt = WaitForPrompt();
  ASSERT_NE(prompt, nullptr);
  PostMessageA(prompt, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WizardEnded());
  EXPECT_EQ(0, running_());
  EXPECT_TRUE(LoggedLines().empty()) << "no search after Cancel";
}

// A prompt that cannot be shown counts as Continue once: the zAze is still
// searched for and found.
TEST_F(E2eDeviceSearch, APromptThatCannotBeShownIsPassed) {
  WriteScript(RoadScript({}));
  RefusePanels(1);
  OpenWizard(kModeless);
  HWND wizard = WaitForShownWizard();
  ASSERT_NE(wizard, nullptr) << "the zAze was not searched for";
  EXPECT_TRUE(WaitForPage(wizard, 1));
  EXPECT_EQ(std::vector<std::string>({"Drive A is not an zAze", "Found zAze Drive at B!"}),
            LoggedLines());
  ASSERT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  ASSERT_TRUE(WizardEnded());
}

// When that search finds nothing and the prompt still cannot be shown, the
// wizard closes rather than search forever where nobody can stop it.
TEST_F(E2eDeviceSearch, APromptThatCannotBeShownTwiceEndsTheSearch) {
  WithoutAZaze();
  RefusePanels(1000);
  OpenWizard(kModeless);
  ASSERT_TRUE(WizardEnded());
  RefusePanels(0);
  EXPECT_EQ(0, running_());
  EXPECT_TRUE(FindWizards().empty());
}

// Without a script a box names the folder the wizard looked in; the wizard
// still searches for the zAze, then opens with no page on it: Back and Next
// find nothing to go to, and Cancel closes it.
TEST_F(E2eDeviceSearch, WithoutAScriptTheSearchRunsAndAnEmptyWizardOpens) {
  // An earlier opening's pages stay out once its script has gone.
  WriteScript(WithoutSearch(PagedScript(1)));
  OpenWizard(kModeless);
  HWND earlier = WaitForShownWizard();
  ASSERT_NE(earlier, nullptr);
  ASSERT_FALSE(PageWindows(earlier).empty());
  ASSERT_TRUE(ClickWithin(earlier, CancelPoint(earlier)));
  EndWizard();
  DeleteFileA("steps.stp");
  OpenWizard(kModeless);
  const std::string told = AnswerBox("Zephlar");
  EXPECT_EQ(0u, told.find("Zephlar could not read steps.stp")) << told;
  EXPECT_NE(std::string::npos, told.find("folder:\n\n" + scratch() + "\n")) << told;
  HWND prompt = WaitForPrompt();
  ASSERT_NE(prompt, nullptr);
  EXPECT_TRUE(PressButton(prompt, IDOK));
  HWND wizard = WaitForShownWizard();
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(PageWindows(wizard).empty());
  EXPECT_TRUE(ClickWithin(wizard, kNextPoint));
  EXPECT_TRUE(ClickWithin(wizard, kBackPoint));
  EXPECT_TRUE(PageWindows(wizard).empty());
  EXPECT_EQ(1, running_());
  SaveShot(wizard, "no_script");
  ASSERT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  ASSERT_TRUE(WizardEnded());
  EXPECT_EQ(0, running_());
}

}  // namespace

#endif
