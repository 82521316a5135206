// One common-controls progress bar at a time, inside the progress dialog.
#include <windows.h>
#include <commctrl.h>

#include "device/DeviceUi.h"
#include "shell/WizardState.h"

static HWND ProgressBarWnd = nullptr;

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
