// What the pages do besides being shown: the four points at which the wizard
// window hands over to its step actions. All run on the wizard's thread.
#pragma once

#include <windows.h>

#include <cstdint>

// During set-up, once the first page's controls exist: the Windows check and
// the device search, and when the zAze found has an unfinished update, the
// offer to undo it, posted to come once the wizard is shown. May destroy
// `wizard`.
void RunStartupActions(HWND wizard);

// At the start of a WM_COMMAND sent by the child `control`: the firmware file
// choice and the web-site button. Never changes the step shown.
void ScanPageControls(HWND wizard, HWND control);

// On Next, before the step moves: the internet question and download of each
// FetchSources action. Returns 1 when it closed the wizard.
int32_t RunLeavingActions(HWND wizard);

enum class UpdateStart {
  kNotStarted,  // the step has no StartUpdate action
  kStarted,     // the previous page stays on screen
  kFailed,      // told to the user; nothing runs
};

// On Next, after the step moved: opens the progress dialog and starts the
// update worker when the step carries a StartUpdate action. While the update
// runs, UpdateRunning is set; EndDeviceWork clears it.
UpdateStart RunUpdateStart(HWND wizard);

// Opens the progress dialog, locks the wizard (UpdateRunning), asks Windows
// not to end the session, and starts `routine` on a worker thread that ends
// with SendAsWorkersLastAct. Tells the user when it cannot.
// `cannotStart` is the box when the thread cannot start.
UpdateStart StartDeviceWorker(HWND wizard, void (*routine)(void*), const char* cannotStart);
// The same for the restore of the previous firmware.
void StartRestore(HWND wizard, void (*routine)(void*));
// The worker has ended: the lock, the session hold and the progress dialog go.
void EndDeviceWork(HWND wizard);
