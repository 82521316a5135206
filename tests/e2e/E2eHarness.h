// The built DLL end to end, driven as a user would drive it: the wizard runs
// on a thread of its own (as in a host program), and the test thread plays
// the user. It finds the wizard's dialogs and message boxes, reads their
// texts, presses their buttons, fills the file dialog and clicks the drawn
// buttons. Hooks on the wizard's thread record the status log and can hold
// or refuse windows at fixed moments.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/ImportFaults.h"
#include "tests/e2e/WizardThreadHooks.h"
#include "tests/gui/GuiHarness.h"
#include "tests/support/DiskImage.h"
#include "tests/support/StepScripts.h"
#include "tests/support/TestFiles.h"

constexpr DWORD kQuietMs = 700;  // for something that must not happen
constexpr uint32_t kSector = 512;

// ---- Windows as the user sees them (beyond harness/WindowDriver) ----

// Waits for a box, reads its text, presses `id` and waits for it to go.
std::string AnswerBox(const std::string& caption, int id = IDOK);
HWND WaitForPrompt(DWORD ms = kWaitMs);
// The painted lines of text on a panel, counted from a capture of it.
int PaintedTextLines(HWND panel);

// Fills the file dialog's name field with `path` and presses its OK button.
void ChooseInFileDialog(const std::string& path);
// Goes into `folder` in the file dialog, as typing its name and OK does.
void OpenFolderInFileDialog(const std::string& folder);
// The name the file dialog shows when it opens.
std::string FileDialogName(HWND dialog);

// Whether the wizard handled a click on its client point `at` within `ms`.
bool ClickWithin(HWND wizard, POINT at, DWORD ms = 3000);
bool WaitForPage(HWND wizard, int page, DWORD ms = kWaitMs);

// Saves the window as screenshots/<name>.bmp in the build folder, after
// its thread has painted what is pending (unless that thread is held).
void SaveShot(HWND window, const std::string& name, bool paintFirst = true);

// Takes away, for its lifetime, every stretch of address space that could
// hold one more thread's default stack, so that a new thread cannot start.
class ThreadRoomTaken {
 public:
  ThreadRoomTaken();
  ~ThreadRoomTaken();
  ThreadRoomTaken(const ThreadRoomTaken&) = delete;
  ThreadRoomTaken& operator=(const ThreadRoomTaken&) = delete;
  bool holds() const;  // a new thread indeed cannot start now

 private:
  std::vector<void*> regions_;
};

// ---- Files and drives ----

// The Linux path of a file that the Z: drive reaches; empty for others.
std::string UnixPathOf(const std::string& path);

// Takes drive `number`'s image away as the zAze's cable would, even while the
// update holds it open, and puts a copy of the file at `replacement` (a Linux
// path) in its place unless that is empty. ReplugDrive gives the image back.
void UnplugDrive(int number, const std::string& replacement = std::string());
void ReplugDrive(int number);

// ---- The fixture -----------------------------------------------------------

// A fresh DLL and scratch directory per test (WizardFixture), an ordinary
// disk at drive 0 and a zAze at drive 1.
class E2eTest : public WizardFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes steps.stp exactly as given.
  void WriteScript(const std::string& text);

  enum Entry { kModal, kModeless };
  // Opens the wizard on its own thread, as a host program would.
  void OpenWizard(Entry entry = kModal);
  // Whether the wizard's thread has left the wizard (and the modeless host
  // loop) within `ms`.
  bool WizardEnded(DWORD ms = kWaitMs);
  // The wizard once it is shown; null if it is not shown in time.
  HWND WaitForShownWizard(DWORD ms = kWaitMs);
  // Opens the wizard, presses Continue on the prompt and waits for the
  // wizard to be shown on page 1 (or on whatever page it shows).
  HWND OpenPastPrompt(Entry entry = kModal);
  HWND OpenPastPromptOnAnyPage(Entry entry = kModal);
  // Writes `script`, opens the wizard past the prompt and goes on to page 2,
  // the firmware page; null (after a test failure) when it did not get there.
  HWND OpenOnFirmwarePage(const std::string& script, Entry entry = kModal);
  // The same, with `image` written to firmware.img and chosen there, and the
  // choice verified.
  HWND OpenWithFirmwareChosen(const std::string& script, const std::string& image,
                              Entry entry = kModal);
  // Presses Browse, picks `path` and returns the verdict box's text, after
  // checking its caption ("File verified" or "Error").
  std::string ChooseFirmware(HWND wizard, const std::string& path, const std::string& caption);

  // Waits for the wizard's thread to end (answering what is left open) so
  // that another wizard can be opened.
  void EndWizard();

  // A zAze image at physical drive 38, the drive that letter 0x67 names.
  void AttachDrive38(const DiskImage& image);
  std::string Drive38Bytes() const;

 private:
  HANDLE thread_ = nullptr;
  std::string drive38_;
};

constexpr uint32_t kZazeBlocks = 8192;  // 4 MB of the zAze: its map and the firmware's start
