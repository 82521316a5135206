// The wizard as a host and a user drive it: through the built DLL's exports,
// with mouse messages on its drawn buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <utility>

#include "resources/resource.h"
#include "tests/gui/GuiHarness.h"

namespace {

using WizardLifetime = WizardFixture;
using WizardNavigation = WizardFixture;
using WizardControls = WizardFixture;
using WizardLook = WizardFixture;

// Next on page 1 and Back on page 2.
constexpr char kBothWays[] = "step1.forward.1\nstep2.back.1\n";

struct ModalCall {
  ZephlarWizardFunction wizard;
  ZephlarWizardHwndFunction wizardHwnd;  // called with a null parent when set
};

DWORD WINAPI RunModal(void* parameter) {
  const auto* call = static_cast<const ModalCall*>(parameter);
  if (call->wizardHwnd != nullptr) {
    call->wizardHwnd(nullptr);
  } else {
    call->wizard();
  }
  return 0;
}

// While `wizard` is open, a host that opens again, modeless from this thread
// and modal from another, gets no second wizard, and `wizard` goes on
// working: Next or Back, whichever the page it is on has, moves it. A second
// wizard that did open is closed again.
void ExpectNoSecondWizard(HWND wizard, ZephlarWizardFunction modal,
                          ZephlarWizardHwndFunction modeless, HWND host) {
  modeless(host);
  ModalCall call = {modal, nullptr};
  HANDLE second = CreateThread(nullptr, 0, RunModal, &call, 0, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 3000)) << "a modal wizard opened";
  const std::vector<HWND> wizards = FindWizards();
  EXPECT_EQ(1u, wizards.size());
  for (HWND other : wizards) {
    if (other != wizard) SendMessageA(other, WM_CLOSE, 0, 0);
  }
  WaitForSingleObject(second, 5000);
  CloseHandle(second);
  int page = 0;
  EXPECT_TRUE(WaitUntil([&] { return (page = PageOnScreen(wizard)) != 0; }));
  Click(wizard, page == 1 ? kNextPoint : kBackPoint);
  EXPECT_EQ(3 - page, PageOnScreen(wizard)) << "the first wizard no longer works";
}

TEST_F(WizardLifetime, RunningIsOneOnlyWhileAModelessWizardIsOpen) {
  EXPECT_EQ(0, running_());
  HWND wizard = OpenOn(PagedScript(2, kBothWays));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(1, running_());
  EXPECT_TRUE(IsWindowVisible(wizard));
  ExpectNoSecondWizard(wizard, wizard_, wizardHwnd_, host_);
  EXPECT_EQ(1, running_());
  Click(wizard, CancelPoint(wizard));
  EXPECT_FALSE(IsWindow(wizard));
  EXPECT_EQ(0, running_());

  // Any way of closing ends it: a close request too.
  wizard = OpenModeless();
  ASSERT_NE(wizard, nullptr);
  SendMessageA(wizard, WM_CLOSE, 0, 0);
  EXPECT_EQ(0, running_());
  EXPECT_TRUE(FindWizards().empty());
}

TEST_F(WizardLifetime, ModalWizardBlocksItsCallerAndIsNotRunning) {
  WriteScript(PagedScript(2, kBothWays));
  // The modal entry, and the modeless one without a parent.
  const ModalCall calls[] = {{wizard_, nullptr}, {nullptr, wizardHwnd_}};
  for (const ModalCall& call : calls) {
    DWORD threadId = 0;
    HANDLE host = CreateThread(nullptr, 0, RunModal, const_cast<ModalCall*>(&call), 0, &threadId);
    ASSERT_NE(host, nullptr);
    HWND wizard = WaitForWizard();
    if (wizard != nullptr) {
      EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(host, 50));
      EXPECT_EQ(0, running_());
      ExpectNoSecondWizard(wizard, wizard_, wizardHwnd_, host_);
      EXPECT_EQ(0, running_());
      // Sent from this thread, handled on the wizard's: the call must return
      // although no further message reaches its dialog loop.
      Click(wizard, CancelPoint(wizard));
    }
    const DWORD ended = WaitForSingleObject(host, 5000);
    if (ended != WAIT_OBJECT_0) {
      PostThreadMessageA(threadId, WM_NULL, 0, 0);
      WaitForSingleObject(host, INFINITE);
    }
    CloseHandle(host);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, ended) << "the modal call did not return";
    EXPECT_TRUE(FindWizards().empty());
  }
}

TEST_F(WizardLifetime, ReadsTheScriptAgainAtEachOpeningAndResumesItsStep) {
  HWND wizard = OpenOn(PagedScript(2, "step1.forward.1\n"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(1, PageShown(wizard));
  EXPECT_EQ(2, PageAfter(wizard, kNextPoint));
  Click(wizard, CancelPoint(wizard));

  // The page the last wizard left is the first one shown, with the new text.
  wizard = OpenOn(PagedScript(2, "step2.controls1.value.page 22\n"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(22, PageShown(wizard));
}

TEST_F(WizardLifetime, WithoutAScriptOnlyCancelWorks) {
  HWND wizard = OpenOn("");  // no pages: only the lines that skip the search
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(VisibleChildren(wizard).empty());
  EXPECT_EQ("Back disabled, Next disabled, Cancel normal", DrawnButtons(dll_, wizard));
  Click(wizard, kNextPoint);
  Click(wizard, kBackPoint);
  EXPECT_EQ(1, running_());
  Click(wizard, CancelPoint(wizard));
  EXPECT_EQ(0, running_());
}

TEST_F(WizardNavigation, BackAndNextFollowTheFlagsOfThePageShown) {
  HWND wizard = OpenOn(PagedScript(3,
                                   "step1.back.1\nstep1.forward.1\n"
                                   "step2.forward.1\n"
                                   "step3.back.1\n"));
  ASSERT_NE(wizard, nullptr);
  // Back on the first page stays there but makes the page again.
  const HWND firstLabel = VisibleChildren(wizard).at(0).window;
  EXPECT_EQ(1, PageAfter(wizard, kBackPoint));
  EXPECT_FALSE(IsWindow(firstLabel));

  ASSERT_EQ(2, PageAfter(wizard, kNextPoint));
  EXPECT_EQ("Back disabled, Next normal, Cancel normal", DrawnButtons(dll_, wizard));
  EXPECT_EQ(2, PageAfter(wizard, kBackPoint));  // disabled: nothing is sent

  ASSERT_EQ(3, PageAfter(wizard, kNextPoint));
  EXPECT_EQ("Back normal, Next disabled, Cancel normal", DrawnButtons(dll_, wizard));
  EXPECT_EQ(2, PageAfter(wizard, kBackPoint));
}

TEST_F(WizardNavigation, NextStaysOnTheLastPageUnlessItFinishes) {
  HWND wizard = OpenOn(PagedScript(1, "step1.finish.1\n"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ("Back disabled, OK normal, Cancel normal", DrawnButtons(dll_, wizard));
  Click(wizard, kNextPoint);
  EXPECT_FALSE(IsWindow(wizard));
  EXPECT_EQ(0, running_());

  wizard = OpenOn(PagedScript(2, "step1.finish.0\nstep1.forward.1\nstep2.forward.1\n"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ("Back disabled, Next normal, Cancel normal", DrawnButtons(dll_, wizard));
  Click(wizard, kNextPoint);
  const HWND label = VisibleChildren(wizard).at(0).window;
  EXPECT_EQ(2, PageAfter(wizard, kNextPoint));
  EXPECT_FALSE(IsWindow(label));  // shown again
}

TEST_F(WizardNavigation, StaysWithinTheTableWhateverTheScriptDeclares) {
  std::string both;  // Back and Next work on every page
  for (int n = 1; n <= 10; ++n) {
    both += StepLine(n, "forward", "1") + StepLine(n, "back", "1");
  }
  HWND wizard = OpenOn(PagedScript(10, both, 40));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(10, PageAfter(wizard, kNextPoint, 12));
  SendMessageA(wizard, WM_COMMAND, ID_WIZARD_LAST, 0);
  EXPECT_EQ(10, PageShown(wizard));
  Click(wizard, CancelPoint(wizard));

  // A shorter script resumes on its own last page, not on the older
  // script's page 10 that the table still holds.
  wizard = OpenOn(PagedScript(3, both));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(3, PageShown(wizard));
  EXPECT_EQ(3, PageAfter(wizard, kNextPoint));
  Click(wizard, CancelPoint(wizard));

  // A count of 0 keeps the first page, and so does the last-page command.
  wizard = OpenOn("steps 0\n" + PagedScript(3, both).substr(8));
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(1, PageShown(wizard));
  EXPECT_EQ(1, PageAfter(wizard, kBackPoint, 12));
  EXPECT_EQ(1, PageAfter(wizard, kNextPoint));
  SendMessageA(wizard, WM_COMMAND, ID_WIZARD_LAST, 0);
  EXPECT_EQ(1, PageShown(wizard));
}

TEST_F(WizardNavigation, AReleaseOffAPressedButtonSendsNothing) {
  HWND wizard = OpenOn(PagedScript(2, "step1.forward.1\n"));
  ASSERT_NE(wizard, nullptr);
  Press(wizard, kNextPoint);
  EXPECT_EQ("Back disabled, Next pressed, Cancel normal", DrawnButtons(dll_, wizard));
  Release(wizard, kBackgroundPoint);
  EXPECT_EQ("Back disabled, Next normal, Cancel normal", DrawnButtons(dll_, wizard));
  EXPECT_EQ(1, PageShown(wizard));
  // Edges belong to the button: a release on Next's bottom right corner.
  Press(wizard, kNextPoint);
  Release(wizard, {358, 429});
  EXPECT_EQ(2, PageShown(wizard));
}

// Presses at `at`, moves with the button down, moves the cursor by (30, 20)
// and lets one drag step run; returns how far the window went.
std::pair<LONG, LONG> DragBy(HWND wizard, POINT at) {
  RECT before, after;
  GetWindowRect(wizard, &before);
  SetCursorPos(400, 300);
  Press(wizard, at);
  SendMessageA(wizard, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(at.x + 1, at.y + 1));
  SetCursorPos(430, 320);
  SendMessageA(wizard, WM_TIMER, 523, 0);
  GetWindowRect(wizard, &after);
  Release(wizard, kBackgroundPoint);
  // Released: later steps do not move it.
  SetCursorPos(480, 380);
  SendMessageA(wizard, WM_TIMER, 523, 0);
  RECT released;
  GetWindowRect(wizard, &released);
  EXPECT_EQ(after.left, released.left);
  return {after.left - before.left, after.top - before.top};
}

TEST_F(WizardNavigation, DragsFromFreeSpotsAndDisabledButtonsOnly) {
  HWND wizard = OpenOn(PagedScript(1));
  ASSERT_NE(wizard, nullptr);
  const std::pair<LONG, LONG> along(30, 20), still(0, 0);
  EXPECT_EQ(along, DragBy(wizard, kBackgroundPoint));
  EXPECT_EQ(along, DragBy(wizard, kBackPoint));  // disabled on this page
  EXPECT_EQ(still, DragBy(wizard, CancelPoint(wizard)));
  EXPECT_EQ(1, running_());  // the release off Cancel closed nothing
}

// The user lets go of the mouse button at screen point `at`, as real input:
// over a child control, or outside the wizard, where the wizard hears of it
// only while it holds the mouse.
void LetGoAt(POINT at) {
  SetCursorPos(at.x, at.y);
  INPUT up = {};
  up.type = INPUT_MOUSE;
  up.mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(1, &up, sizeof up);
  PumpMessages();
}

TEST_F(WizardNavigation, ADragEndsWhereverTheButtonIsLetGo) {
  HWND wizard = OpenOn(PagedScript(1));
  ASSERT_NE(wizard, nullptr);
  const std::vector<ChildInfo> children = VisibleChildren(wizard);
  ASSERT_FALSE(children.empty());
  POINT overChild = {(children[0].rect.left + children[0].rect.right) / 2,
                     (children[0].rect.top + children[0].rect.bottom) / 2};
  ClientToScreen(wizard, &overChild);
  RECT frame;
  GetWindowRect(wizard, &frame);
  const POINT outside = {frame.right + 40, frame.bottom + 30};
  const POINT places[] = {overChild, outside};
  for (const POINT& place : places) {
    SCOPED_TRACE(&place == &places[0] ? "over a child control" : "outside the window");
    Press(wizard, kBackgroundPoint);
    SendMessageA(wizard, WM_MOUSEMOVE, MK_LBUTTON,
                 MAKELPARAM(kBackgroundPoint.x + 1, kBackgroundPoint.y + 1));
    LetGoAt(place);
    RECT released, later;
    GetWindowRect(wizard, &released);
    SetCursorPos(place.x - 60, place.y - 50);
    SendMessageA(wizard, WM_TIMER, 523, 0);
    PumpMessages();
    GetWindowRect(wizard, &later);
    EXPECT_EQ(released.left, later.left) << "the wizard still follows the cursor";
    EXPECT_EQ(released.top, later.top) << "the wizard still follows the cursor";
  }
}

TEST_F(WizardControls, EachPageMakesItsOwnWindows) {
  HWND wizard = OpenOn(
      "steps 3\nstep1.numcontrols.7\nstep1.forward.1\nstep2.numcontrols.2\n"
      "step2.forward.1\nstep2.back.1\nstep3.numcontrols.0\nstep3.back.1\n" +
      ControlLines(1, 1, "type.1;x.210;y.100;width.150;height.30;value.Two~lines") +
      ControlLines(1, 2,
                   "type.2;x.210;y.140;width.120;height.100;selected.1;value.Slow~Fast_mode x") +
      ControlLines(1, 3, "type.7;x.340;y.140;width.120;height.100;selected.1;value.One~a~~Two~b") +
      ControlLines(1, 4, "type.3;x.210;y.180;width.100;height.22;value.typed") +
      ControlLines(1, 5, "type.4;x.320;y.180;width.110;height.24;value.Browse for file") +
      ControlLines(1, 6, "type.6;x.210;y.210;width.160;height.60;dest.5345;value.log") +
      ControlLines(1, 7, "type.9;value.nothing") +
      // An action code that does nothing: 5 would ask to go on line.
      ControlLines(2, 1, "type.5;selected.9;value.http://127.0.0.1/") +
      ControlLines(2, 2, "type.6;x.220;y.120;width.100;height.50;dest.77") + "end\n");
  ASSERT_NE(wizard, nullptr);
  std::vector<ChildInfo> children = VisibleChildren(wizard);
  ASSERT_EQ(6u, children.size());
  EXPECT_EQ("Static", children[0].windowClass);
  EXPECT_EQ("Two\nlines\n", children[0].text);
  EXPECT_EQ(0, children[0].id);
  EXPECT_EQ(210, children[0].rect.left);
  EXPECT_EQ(100, children[0].rect.top);
  EXPECT_EQ(360, children[0].rect.right);
  EXPECT_EQ(130, children[0].rect.bottom);
  EXPECT_EQ("ComboBox", children[1].windowClass);
  EXPECT_EQ(std::vector<std::string>({"Slow", "Fast mode"}), children[1].items);
  EXPECT_EQ(1, children[1].selection);
  EXPECT_EQ(std::vector<std::string>({"One", "Two"}), children[2].items);
  EXPECT_EQ(1, children[2].selection);
  EXPECT_EQ("Edit", children[3].windowClass);
  EXPECT_EQ("typed\n", children[3].text);
  EXPECT_EQ("Button", children[4].windowClass);
  EXPECT_EQ("Browse for file", children[4].text);
  EXPECT_EQ("ListBox", children[5].windowClass);
  EXPECT_EQ(IDC_STATUS_LOG, children[5].id);
  EXPECT_EQ(0, children[5].listCount);
  // Plain windows: the drop-downs cannot be typed into, nothing has a border
  // or an extended style, and the lists do not notify.
  for (const ChildInfo& child : children) {
    const LONG style = GetWindowLongA(child.window, GWL_STYLE);
    EXPECT_EQ(0, style & WS_BORDER) << child.windowClass;
    EXPECT_EQ(0, GetWindowLongA(child.window, GWL_EXSTYLE)) << child.windowClass;
  }
  EXPECT_EQ(CBS_DROPDOWNLIST, GetWindowLongA(children[1].window, GWL_STYLE) & 3);
  EXPECT_EQ(CBS_DROPDOWNLIST, GetWindowLongA(children[2].window, GWL_STYLE) & 3);
  EXPECT_EQ(0, GetWindowLongA(children[5].window, GWL_STYLE) & LBS_NOTIFY);

  // The next page: the Action makes nothing, the list carries its dest; the
  // first page's windows are gone.
  Click(wizard, kNextPoint);
  const std::vector<ChildInfo> second = VisibleChildren(wizard);
  ASSERT_EQ(1u, second.size());
  EXPECT_EQ(77, second[0].id);
  EXPECT_EQ(220, second[0].rect.left);
  for (const ChildInfo& child : children) EXPECT_FALSE(IsWindow(child.window));
  Click(wizard, kNextPoint);
  EXPECT_TRUE(VisibleChildren(wizard).empty());

  // Back twice: the button's caption stays without its line feed.
  Click(wizard, kBackPoint);
  Click(wizard, kBackPoint);
  children = VisibleChildren(wizard);
  ASSERT_EQ(6u, children.size());
  EXPECT_EQ("Browse for file", children[4].text);
}

TEST_F(WizardControls, NoMoreThanTenWindowsWhateverTheCount) {
  std::string script = "steps 1\nstep1.numcontrols.25\n";
  for (int slot = 1; slot <= 12; ++slot) {
    script += ControlLines(1, slot,
                           "type.1;x." + std::to_string(slot * 20) +
                               ";y.60;width.15;"
                               "height.15;value.L");
  }
  HWND wizard = OpenOn(script + "end\n");
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ(10u, VisibleChildren(wizard).size());
}

TEST_F(WizardLook, ShapeButtonsAndTextsSitWhereTheyBelong) {
  HWND wizard = OpenOn(PagedScript(2,
                                   "step1.text.Body text of the first page, long enough to wrap "
                                   "over more than one line of the text box.\n"
                                   "step1.textboxtop.1\nstep1.forward.1\n"
                                   "step2.text.Not drawn.\nstep2.back.1\nstep2.finish.1\n"));
  ASSERT_NE(wizard, nullptr);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, GetWindowRgn(wizard, region));
  RECT box;
  GetRgnBox(region, &box);
  DeleteObject(region);
  EXPECT_EQ(5, box.left);
  EXPECT_EQ(5, box.top);
  // Platforms differ on whether a rounded region keeps its last column and row.
  EXPECT_GE(box.right, 596);
  EXPECT_LE(box.right, 597);
  EXPECT_GE(box.bottom, 436);
  EXPECT_LE(box.bottom, 437);

  // Dark pixels: the title's row, and the body text below it only where
  // textboxtop asks for it.
  auto darkPixels = [](const Capture& capture, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) count += (capture.At(x, y) & 0xC0C0C0) == 0 ? 1 : 0;
    }
    return count;
  };
  const Capture first = CaptureClient(wizard);
  EXPECT_GT(darkPixels(first, 210, 35, 572, 55), 50);
  EXPECT_GT(darkPixels(first, 210, 55, 572, 95), 50);
  EXPECT_EQ("Back disabled, Next normal, Cancel normal", DrawnButtons(dll_, wizard));
  Click(wizard, kNextPoint);
  const Capture second = CaptureClient(wizard);
  EXPECT_GT(darkPixels(second, 210, 35, 572, 55), 50);
  EXPECT_EQ(0, darkPixels(second, 210, 58, 572, 95));
  EXPECT_EQ("Back normal, OK normal, Cancel normal", DrawnButtons(dll_, wizard));
}

TEST_F(WizardLook, SavesAScreenshotOfEveryPage) {
  HWND wizard = OpenOn(
      "steps 3\n"
      "step1.title.Welcome~Step %d of %d\nstep1.textboxtop.1\nstep1.forward.1\n"
      "step1.text.This wizard brings new firmware to your zAze.~~Attach it and press Next.\n"
      "step1.numcontrols.2\n" +
      ControlLines(1, 1, "type.1;x.210;y.200;width.340;height.20;value.Speed of the copy:") +
      ControlLines(1, 2, "type.2;x.210;y.225;width.160;height.90;selected.1;value.Slow~Fast_mode") +
      "step2.title.Choose the firmware~Step %d of %d\nstep2.textboxtop.1\nstep2.back.1\n"
      "step2.forward.1\nstep2.text.Pick the image file.\nstep2.numcontrols.3\n" +
      ControlLines(2, 1, "type.4;x.210;y.130;width.140;height.26;value.Browse for file") +
      ControlLines(2, 2, "type.3;x.210;y.170;width.340;height.22;value.C:\\firmware.bin") +
      ControlLines(2, 3, "type.6;x.210;y.205;width.340;height.95;dest.5345") +
      "step3.title.Done~Step %d of %d\nstep3.textboxtop.1\nstep3.back.1\nstep3.finish.1\n"
      "step3.text.The firmware has been written.\nend\n");
  ASSERT_NE(wizard, nullptr);
  CreateDirectoryA(ZEPHLAR_SCREENSHOT_DIR, nullptr);
  for (int page = 1; page <= 3; ++page) {
    const std::string path =
        std::string(ZEPHLAR_SCREENSHOT_DIR) + "/page" + std::to_string(page) + ".bmp";
    EXPECT_TRUE(SaveWindowBmp(wizard, path)) << path;
    Click(wizard, kNextPoint);
  }
  EXPECT_FALSE(IsWindow(wizard));
}

}  // namespace
