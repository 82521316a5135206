// The Win32 side of how the device code reaches the user: the status log on
// the wizard page, the progress bar inside the progress dialog, the update's
// error boxes and the wizard's final command.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "shell/DeviceUiWin32.h"

#include "device/DeviceUi.h"
#include "shell/WizardState.h"
#include "skin/SkinNote.h"

namespace {

HWND ProgressBarWnd = nullptr;

void LogSkinNote(const char* line) { LogStatus("%s", line); }

}  // namespace

void SendSkinNotesToStatusLog() { SetSkinNoteSink(LogSkinNote); }

void AddStatusLine(const char* line) {
  // Sent, not posted: a call from the worker returns only once the wizard's
  // thread has added the line, so the caller's buffer outlives its use.
  // Without a log on the page the line is dropped.
  HWND log = GetDlgItem(WizardWnd, IDC_STATUS_LOG);
  if (log == nullptr) return;
  const LRESULT added = SendMessageA(log, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  // The log shows a few lines and has no scroll bar: the newest is the one
  // the user must see, so the list scrolls to it (as far as it can go).
  if (added >= 0) SendMessageA(log, LB_SETTOPINDEX, static_cast<WPARAM>(added), 0);
}

void ProgressBarCreate() {
  ProgressBarWnd = nullptr;
  if (ProgressDlgWnd == nullptr || !IsWindow(ProgressDlgWnd)) return;
  RECT client;
  GetClientRect(ProgressDlgWnd, &client);
  ProgressBarWnd = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE,
                                   client.left + 10, client.bottom - 27, client.right - 20, 10,
                                   ProgressDlgWnd, nullptr, ModuleInstance, nullptr);
}

void ProgressBarSetRange(int32_t minimum, int32_t maximum) {
  if (ProgressBarWnd == nullptr) return;
  // Both ends travel in one parameter, 16 bits each.
  SendMessageA(ProgressBarWnd, PBM_SETRANGE, 0,
               MAKELPARAM(static_cast<WORD>(minimum), static_cast<WORD>(maximum)));
  SendMessageA(ProgressBarWnd, PBM_SETSTEP, 1, 0);
}

void ProgressBarSetPos(int32_t position) {
  if (ProgressBarWnd == nullptr) return;
  SendMessageA(ProgressBarWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ProgressBarDestroy() {
  if (ProgressBarWnd == nullptr) return;
  DestroyWindow(ProgressBarWnd);
  ProgressBarWnd = nullptr;
}

void ShowUpdateError(const char* text) {
  MessageBoxA(WizardWnd, text, "Firmware Upgrade Error", MB_OK);
}

// The worker's last act. A modeless wizard destroyed under the worker kept
// running() at 1 until now.
void SendWizardLast() { SendAsWorkersLastAct(WM_COMMAND, ID_WIZARD_LAST, 0); }
