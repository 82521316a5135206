// Driving the built DLL's wizard from a test: loading the library afresh,
// a scratch directory with its steps.stp, finding the wizard, pressing its
// drawn buttons, reading its child windows and its pixels.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <memory>
#include "harness/Screenshot.h"
#include "harness/WindowDriver.h"
#include "shell/Zephlar.h"
#include "tests/support/StepScripts.h"
#include "tests/support/TestFiles.h"

constexpr POINT kBackgroundPoint = {100, 300};

// One child window of the wizard, as a user sees it.
struct ChildInfo {
  HWND window;
  std::string windowClass;
  std::string text;
  int id;
  RECT rect;                       // wizard client coordinates
  std::vector<std::string> items;  // a combo box's list
  int selection;                   // a combo box's selected item, or -1
  int listCount;                   // a list box's line count
};

// The visible children of `wizard`, in creation order.
std::vector<ChildInfo> VisibleChildren(HWND wizard);

// This process's wizards, shown or not.
std::vector<HWND> FindWizards();
// Waits up to five seconds for a wizard to appear; null if none does.
HWND WaitForWizard();

// Handles the messages waiting on this thread, so that child windows paint.
void PumpMessages();

void Press(HWND wizard, POINT at);
void Release(HWND wizard, POINT at);
void Click(HWND wizard, POINT at);

// The wizard's client area, once this thread has painted what is pending.
Capture CaptureClient(HWND wizard);
// Writes the whole window (frame included) to `path` as a BMP file.
bool SaveWindowBmp(HWND window, const std::string& path);

// Which cell (0 to 3) of the strip bitmap `stripId` in `dll` the drawn button
// at client corner (left, top) shows; -1 when it shows none of them.
int DrawnCell(HMODULE dll, const Capture& capture, int stripId, int left, int top);
// What the wizard's drawn buttons show, as "Back <look>, Next <look>, Cancel
// <look>": each look is normal, disabled or pressed (or "?" for none of the
// cells), and Next's place reads "OK" where it shows the OK strip.
std::string DrawnButtons(HMODULE dll, HWND wizard);

// The fixture: a scratch directory as the current directory, the DLL loaded
// afresh (so every test starts from the library's load-time state), its
// exports bound by their decorated names, and a hidden host window.
class WizardFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes steps.stp: `text`, after lines that set runOldWindows on every
  // step, so that no opening searches for the zAze.
  void WriteScript(const std::string& text);
  // Opens the modeless wizard under the host window; null if none appeared.
  HWND OpenModeless();
  // Writes `script` as WriteScript does and opens the modeless wizard on it.
  HWND OpenOn(const std::string& script);
  // The number of the page shown, read from its "page N" label; 0 for none.
  int PageShown(HWND wizard);
  // Clicks the wizard's client point `at` `clicks` times; the page shown then.
  int PageAfter(HWND wizard, POINT at, int clicks = 1);

  HMODULE dll_ = nullptr;
  ZephlarWizardFunction wizard_ = nullptr;
  ZephlarWizardHwndFunction wizardHwnd_ = nullptr;
  ZephlarRunningFunction running_ = nullptr;
  HWND host_ = nullptr;
  // The test's scratch folder, its current directory.
  const std::string& scratch() const { return folder_->path(); }

 private:
  std::unique_ptr<ScratchFolder> folder_;  // goes after the library
};
