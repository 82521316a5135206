// The autopilot's window into zephlar.exe: a hook procedure that the
// autopilot sets on the wizard's thread, and that the system therefore runs
// inside zephlar.exe. It sees every message sent to the wizard's windows and
// appends each line the status log receives to the file that the variable
// ZEPHLAR_AUTOPILOT_LOG names (inherited from the autopilot), so that no line
// is lost when the last page replaces the log. At the end of the copy it also
// holds the wizard's thread for a moment, so that the autopilot can take the
// progress window's picture with its bar full.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "resources/resource.h"

namespace {

constexpr char kLogVariable[] = "ZEPHLAR_AUTOPILOT_LOG";

void AppendLine(const char* line) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(kLogVariable, path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  std::FILE* file = std::fopen(path, "ab");  // read by Unix tools: line feeds only
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", line);
  std::fclose(file);
}

// The events the autopilot makes when it wants the progress window's picture.
constexpr char kHeldEvent[] = "ZephlarAutopilotProgressHeld";
constexpr char kShotEvent[] = "ZephlarAutopilotProgressShot";

// The worker removes its bar while this thread is in the notice of the
// removal; the worker waits in that send and still answers sent messages, so
// the panel and its bar repaint as they were at the end of the copy.
void HoldForPicture(HWND panel) {
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHeldEvent);
  HANDLE shot = OpenEventA(SYNCHRONIZE, FALSE, kShotEvent);
  if (held != nullptr && shot != nullptr) {
    RedrawWindow(panel, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Waiting for messages, not only for the event, lets the system put what
    // was painted on the screen, where the autopilot takes it from.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_SENDMESSAGE);
    SetEvent(held);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 5000 &&
           MsgWaitForMultipleObjects(1, &shot, FALSE, 50, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
    }
  }
  if (held != nullptr) CloseHandle(held);
  if (shot != nullptr) CloseHandle(shot);
}

bool IsProgressBar(HWND window) {
  char name[32] = "";
  GetClassNameA(window, name, sizeof name);
  return lstrcmpiA(name, PROGRESS_CLASSA) == 0;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    RecordStatusLog(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == LB_ADDSTRING && sent->lParam != 0 &&
        GetDlgCtrlID(sent->hwnd) == IDC_STATUS_LOG) {
      AppendLine(reinterpret_cast<const char*>(sent->lParam));
    } else if (sent->message == WM_PARENTNOTIFY && LOWORD(sent->wParam) == WM_DESTROY &&
               IsProgressBar(reinterpret_cast<HWND>(sent->lParam))) {
      HoldForPicture(sent->hwnd);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
