// Finding, reading and pressing windows as a user would: the one library
// through which the GUI, end-to-end and host tests and the demo's autopilot
// drive the wizard, its panels, its boxes and the file dialog, in this
// process or in another.
// Reading never sends a message to the window's thread, which may be busy;
// pressing posts, so that the caller never waits on what a press sets off.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

constexpr DWORD kWaitMs = 15000;  // for anything a user waits for
constexpr DWORD kPollMs = 20;

// Client points inside the drawn buttons of a 600 x 440 wizard.
constexpr POINT kBackPoint = {234, 416};
constexpr POINT kNextPoint = {318, 416};
POINT CancelPoint(HWND wizard);  // follows the client width

// ---- Reading ----

std::string ClassOf(HWND window);
std::string WindowText(HWND window);
// The text an edit control or a combo box keeps itself, asked for with a
// message that the window's thread must answer.
std::string AskedText(HWND window);
std::vector<HWND> DirectChildren(HWND parent);
// The text a message box shows: its longest static text, so that the icon's
// static does not count.
std::string BoxText(HWND box);
std::string ButtonText(HWND dialog, int id);

// ---- What a window is ----

bool IsWizard(HWND window);  // the dialog that carries the hidden Next button
// A message box or the file dialog: a captioned dialog that is not the wizard.
bool IsBox(HWND window);
bool IsCaptionedBox(HWND window, const std::string& caption);
// The device-search prompt and the progress window: the two frameless panels
// from one template, told apart by their buttons (shown on the prompt only).
// The prompt's window text is what it paints.
bool IsPrompt(HWND window);
bool IsProgressWindow(HWND window);

// ---- Finding ----

using WindowMatch = std::function<bool(HWND)>;
// The visible top-level windows (with `hiddenToo`, all of them) of process
// `process` (0: this one) that `match` accepts, in z order.
std::vector<HWND> TopLevels(const WindowMatch& match, DWORD process = 0, bool hiddenToo = false);
HWND FirstTopLevel(const WindowMatch& match, DWORD process = 0, bool hiddenToo = false);
// Polls `condition` for up to `ms`.
bool WaitUntil(const std::function<bool()>& condition, DWORD ms = kWaitMs);
// The first window that `match` accepts, waited for up to `ms`; null if none came.
HWND WaitForTopLevel(const WindowMatch& match, DWORD ms = kWaitMs, DWORD process = 0);
// A message box (or the file dialog, "Open") by its caption.
HWND WaitForBox(const std::string& caption, DWORD ms = kWaitMs, DWORD process = 0);
bool WaitGone(HWND window, DWORD ms = kWaitMs);  // destroyed or hidden
// Waits until the window's thread has handled what was sent to it before,
// so that what that thread does after showing the window is done too.
bool WaitForItsThread(HWND window, DWORD ms = kWaitMs);

// ---- The wizard's page ----

// The number in the "page N" label of the page on screen; 0 for none.
int PageOnScreen(HWND wizard);
// The visible windows of the page on screen.
std::vector<HWND> PageWindows(HWND wizard);
// The page's visible push button whose caption is `caption` (any case).
HWND PageButton(HWND wizard, const std::string& caption);
// The page's status log, or null when the page has none.
HWND StatusLogList(HWND wizard);
// The file dialog's name field, or null.
HWND FileNameField(HWND dialog);

// ---- Pressing ----

// Presses the dialog's button `id` as a click would; false when it shows none.
bool PressButton(HWND dialog, int id);
bool PressPageButton(HWND wizard, const std::string& caption);
// A click on the wizard's client point `at` (its drawn buttons), posted.
void PostClick(HWND wizard, POINT at);
// Presses the dialog's button `id` and waits up to `ms` for the dialog to go.
bool PressAndWaitGone(HWND dialog, int id, DWORD ms = kWaitMs);
// Types `name` into the file dialog's name field; false when it shows none.
bool TypeFileName(HWND dialog, const std::string& name);
