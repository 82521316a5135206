// The wizard's process-wide state: the library's module and icon, the open
// wizard window, the step table and the page shown, and the drawn buttons.
// One wizard at a time; everything but WizardWnd and ProgressDlgWnd is used on
// the wizard's thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "resources/resource.h"
#include "script/StepTable.h"
#include "skin/SkinButtons.h"

// The library's own module: resources and windows come from it.
extern HINSTANCE ModuleInstance;
// The library's icon, loaded at attach and destroyed at detach; the wizard's
// class icon while a wizard is open.
extern HICON AppIcon;

// The wizard window, recorded at the start of its set-up and never cleared:
// owner of the wizard's message boxes, parent of the status log.
extern HWND WizardWnd;
// The open modeless wizard; null when none is open, and always for the modal one.
extern HWND ModelessWizardWnd;
// The progress dialog while an update runs.
extern HWND ProgressDlgWnd;
// Set from the start of the update or restore until EndDeviceWork. The
// worker reads FoundDriveLetter and FirmwarePath and reports to the wizard
// meanwhile, so the wizard neither navigates, nor chooses another file, nor
// closes while it is set.
extern int32_t UpdateRunning;
// Set from the start of the update worker until its last act, whatever
// becomes of the wizard meanwhile: a host may destroy its own window, and
// with it a modeless wizard, under a running update. While it is set no
// wizard opens, and running() stays 1 for a modeless wizard's update, so
// that a host does not unload the library under the worker. The wizard's
// destruction and the worker's end each swap it atomically, so that exactly
// one of them clears ModelessWizardWnd, whichever comes last.
constexpr LONG kWorkerNone = 0;
constexpr LONG kWorkerRunning = 1;
constexpr LONG kWorkerOutlivedWizard = 2;
extern volatile LONG WorkerRunning;

// The worker's last act: sends `message` to the wizard and returns once the
// wizard has handled it, then clears WorkerRunning; a modeless wizard
// destroyed under the worker stops counting as running only now.
void SendAsWorkersLastAct(UINT message, WPARAM wParam, LPARAM lParam);

// The wizard's own messages: the offer to undo an unfinished update, posted
// during set-up so that it comes once the wizard is shown; and the restore
// worker's end (wParam 1 when the previous firmware is back).
constexpr UINT kOfferRestoreMessage = WM_APP + 1;
constexpr UINT kRestoreDoneMessage = WM_APP + 2;

// The pages read from the script at every opening, the page shown (0-based)
// and the count the script declared, which may exceed the table.
extern StepTable WizardSteps;
extern int32_t CurrentStep;
extern int32_t StepCount;

// Steps that navigation may reach: the declared count, held to the table.
int32_t NavigableStepCount();
// The step shown, CurrentStep held to the table.
WizardStep& ShownStep();
// The step whose page is on screen, for painting: ShownStep() but while an
// update runs, when the page left stays until the last page is shown.
const WizardStep& PageOnScreen();

// The drawn buttons (their indexes and states are the skin's, in
// skin/SkinButtons.h).

extern HBITMAP ButtonBitmaps[kStripCount];
extern signed char ButtonStates[kButtonCount];
extern RECT ButtonRects[kButtonCount];
extern int32_t ButtonPressed;   // a drawn button is down and not yet released
extern unsigned char Dragging;  // the window follows the cursor
extern POINT DragAnchor;        // cursor's screen position at the last drag step
extern HBITMAP BackgroundBitmap;
