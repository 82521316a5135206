#include "harness/WizardHook.h"

#include <commctrl.h>

#include <string>

#include "harness/WindowDriver.h"
#include "resources/resource.h"

namespace {

// Named after the wizard's process, so that two walks never meet.
std::string EventName(const char* what, DWORD process) {
  return std::string("ZephlarProgress") + what + "." + std::to_string(process);
}

}  // namespace

const char* StatusLogLine(const CWPSTRUCT& sent) {
  if (sent.message != LB_ADDSTRING || sent.lParam == 0) return nullptr;
  if (GetDlgCtrlID(sent.hwnd) != IDC_STATUS_LOG) return nullptr;
  return reinterpret_cast<const char*>(sent.lParam);
}

bool EndsTheCopy(const CWPSTRUCT& sent) {
  return sent.message == WM_PARENTNOTIFY && LOWORD(sent.wParam) == WM_DESTROY &&
         ClassOf(reinterpret_cast<HWND>(sent.lParam)) == PROGRESS_CLASSA;
}

void HoldForPicture(HWND progress) {
  const DWORD self = GetCurrentProcessId();
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName("Held", self).c_str());
  HANDLE taken = OpenEventA(SYNCHRONIZE, FALSE, EventName("Taken", self).c_str());
  if (held != nullptr && taken != nullptr) {
    RedrawWindow(progress, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Waiting for messages, not only for the event, lets the system put what
    // was painted on the screen, where the demo takes its picture from.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_SENDMESSAGE);
    SetEvent(held);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kWaitMs &&
           MsgWaitForMultipleObjects(1, &taken, FALSE, 50, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
    }
  }
  if (held != nullptr) CloseHandle(held);
  if (taken != nullptr) CloseHandle(taken);
}

ProgressPicture::ProgressPicture(DWORD process) {
  const DWORD owner = process != 0 ? process : GetCurrentProcessId();
  held_ = CreateEventA(nullptr, TRUE, FALSE, EventName("Held", owner).c_str());
  taken_ = CreateEventA(nullptr, TRUE, FALSE, EventName("Taken", owner).c_str());
}

ProgressPicture::~ProgressPicture() {
  Release();
  if (held_ != nullptr) CloseHandle(held_);
  if (taken_ != nullptr) CloseHandle(taken_);
}

bool ProgressPicture::Held(DWORD ms) const {
  return held_ != nullptr && WaitForSingleObject(held_, ms) == WAIT_OBJECT_0;
}

void ProgressPicture::Release() {
  if (held_ != nullptr) ResetEvent(held_);
  if (taken_ != nullptr) SetEvent(taken_);
}
