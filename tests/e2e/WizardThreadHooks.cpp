#include "tests/e2e/WizardThreadHooks.h"

#include <commctrl.h>

#include <atomic>
#include <mutex>

#include "device/StatusLine.h"
#include "harness/WindowDriver.h"
#include "harness/WizardHook.h"
#include "resources/resource.h"

namespace {

// ---- Hooks on the wizard's thread ----

std::mutex logMutex;
std::vector<std::string> logLines;

// What a test does on the wizard's thread at a chosen moment of the update,
// while the worker waits in its send; each runs once.
std::mutex momentMutex;
std::string momentLine;
std::function<void()> atMomentLine;
std::function<void()> atBarMade;

// Takes the action out under the lock, so that it runs without it.
void RunOnce(std::function<void()>& action) {
  std::function<void()> taken;
  {
    std::lock_guard<std::mutex> lock(momentMutex);
    taken.swap(action);
  }
  if (taken) taken();
}

void OnLogged(const std::string& line) {
  bool due = false;
  {
    std::lock_guard<std::mutex> lock(momentMutex);
    due = atMomentLine && line.compare(0, momentLine.size(), momentLine) == 0;
  }
  if (due) RunOnce(atMomentLine);
}

std::atomic<int> refusePanels{0};
// The worker's progress bar lives on the worker's thread: its positions are
// seen by a subclass put on it when it is made.
std::vector<int> barPositions;
WNDPROC barProcedure = nullptr;

LRESULT CALLBACK WatchBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    std::lock_guard<std::mutex> lock(logMutex);
    barPositions.push_back(static_cast<int>(wParam));
  }
  return CallWindowProcA(barProcedure, bar, message, wParam, lParam);
}

void WatchBarOf(HWND bar) {
  if (ClassOf(bar) != PROGRESS_CLASSA) return;
  barProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchBar)));
}

// The status log as the worker's last command finds it.
LogView logAtTheEnd;

void NoteLogView(HWND wizard) {
  HWND list = GetDlgItem(wizard, IDC_STATUS_LOG);
  if (list == nullptr) return;
  RECT client;
  GetClientRect(list, &client);
  const auto item = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
  std::lock_guard<std::mutex> lock(logMutex);
  logAtTheEnd = {static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)),
                 static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0)),
                 item > 0 ? client.bottom / item : 0};
}

LRESULT CALLBACK WatchSentMessages(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (const char* logged = StatusLogLine(*sent)) {
      const std::string line = logged;
      {
        std::lock_guard<std::mutex> lock(logMutex);
        logLines.push_back(line);
      }
      OnLogged(line);
    } else if (sent->message == WM_PARENTNOTIFY && LOWORD(sent->wParam) == WM_CREATE &&
               IsProgressWindow(sent->hwnd)) {
      WatchBarOf(reinterpret_cast<HWND>(sent->lParam));
      RunOnce(atBarMade);
    } else if (sent->message == WM_COMMAND && LOWORD(sent->wParam) == ID_WIZARD_LAST) {
      NoteLogView(sent->hwnd);
    } else if (EndsTheCopy(*sent)) {
      // Held while a walker takes the progress window's picture.
      HoldForPicture(sent->hwnd);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Takes one from `count` if it is above zero.
bool TakeOne(std::atomic<int>& count) {
  int left = count.load();
  while (left > 0 && !count.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

LRESULT CALLBACK WatchCreations(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && refusePanels > 0) {
    const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
    // A panel is a dialog of the wizard's; message boxes are the other ones.
    const bool panel = ClassOf(reinterpret_cast<HWND>(wParam)) == "#32770" &&
                       create->lpcs->hwndParent != nullptr && IsWizard(create->lpcs->hwndParent);
    if (panel && TakeOne(refusePanels)) return 1;  // the window is not made
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The host program's thread: the modal call, or the modeless one under a
// window of its own followed by a message loop while the wizard is open.
DWORD WINAPI HostThread(void* parameter) {
  const HostCall call = *static_cast<HostCall*>(parameter);
  delete static_cast<HostCall*>(parameter);
  const DWORD self = GetCurrentThreadId();
  HHOOK sent = SetWindowsHookExA(WH_CALLWNDPROC, WatchSentMessages, nullptr, self);
  HHOOK cbt = SetWindowsHookExA(WH_CBT, WatchCreations, nullptr, self);
  if (call.modeless) {
    HWND host = CreateWindowExA(0, "Static", "e2e host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    call.wizardHwnd(host);
    while (call.running()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    DestroyWindow(host);
  } else {
    call.wizard();
  }
  UnhookWindowsHookEx(cbt);
  UnhookWindowsHookEx(sent);
  return 0;
}

}  // namespace

// ---- What the wizard's thread saw ----

std::vector<std::string> LoggedLines() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logLines;
}

std::vector<int> ProgressPositions() {
  std::lock_guard<std::mutex> lock(logMutex);
  return barPositions;
}

LogView StatusLogAtTheEnd() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logAtTheEnd;
}

std::string AsLogged(const std::string& line) { return line.substr(0, kStatusLineSize - 1); }

void RefusePanels(int count) { refusePanels = count; }

void WhenLogged(const std::string& lineStart, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(momentMutex);
  momentLine = lineStart;
  atMomentLine = std::move(action);
}

void WhenProgressBarMade(std::function<void()> action) {
  std::lock_guard<std::mutex> lock(momentMutex);
  atBarMade = std::move(action);
}

void ForgetWhatTheThreadSaw() {
  {
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.clear();
    barPositions.clear();
    logAtTheEnd = LogView();
  }
  RefusePanels(0);
  WhenLogged("", nullptr);
  WhenProgressBarMade(nullptr);
}

HANDLE StartHostThread(const HostCall& call) {
  return CreateThread(nullptr, 0, HostThread, new HostCall(call), 0, nullptr);
}
