#include "shell/StepActions.h"

#include <process.h>

#include <cstdio>
#include <cstring>

#include "device/Contact.h"
#include "device/DeviceUi.h"
#include "device/Discovery.h"
#include "device/UpdateWorker.h"
#include "net/FirmwareSources.h"
#include "net/MakerSite.h"
#include "net/WebPage.h"
#include "shell/FirmwareChoice.h"
#include "shell/LibraryEntry.h"
#include "shell/RestoreOffer.h"
#include "shell/StepControls.h"
#include "shell/WizardState.h"
#include "skin/DeviceSearchDialog.h"
#include "skin/ProgressDialog.h"

namespace {

// Action codes in the `selected` field of an Action control.
constexpr int32_t kFetchSources = 5;
constexpr int32_t kStartUpdate = 6;

// 'g': without a search, RawDrive makes physical drive 38 of it (DOS drive 39
// on the 9x path).
constexpr signed char kUnsearchedDrive = 0x67;

constexpr char kOldWindowsCaption[] = "Zephlar Requires XP or 2000";
constexpr char kOldWindowsText[] =
    "Current Only Windows 2000 and Windows XP are supported.\nIf you believe that this is major "
    "problem and support needs\nto be added, e-mail: " ZEPHLAR_SUPPORT_ADDRESS;

// How long "Connecting to server.." stays alone before the download starts.
constexpr DWORD kConnectingPauseMs = 2000;

constexpr char kSourcesFailed[] =
    "Unable to obtain firmware sources!\nMake sure you are connected to the "
    "internet.\n" ZEPHLAR_SOURCES_HELP;

constexpr char kNoProgressWindow[] =
    "Error: Unable to open the progress window!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kNoWorker[] = "Error: Unable to start the firmware update!\n\n" ZEPHLAR_SUPPORT_LINE;
constexpr char kNoRestoreWorker[] =
    "Error: Unable to start putting the previous firmware back! Nothing was written to your "
    "zAze.\n\n" ZEPHLAR_SUPPORT_LINE;

// The control slots of `step` that may hold something.
int32_t ControlCount(const WizardStep& step) {
  if (step.numcontrols < 0) return 0;
  return step.numcontrols > kControlsPerStep ? kControlsPerStep : step.numcontrols;
}

bool IsAction(const StepControl& control, int32_t code) {
  return control.type == kAction && control.selected == code;
}

// What the prompt says after a search that ended with `miss`.
PromptNotice NoticeOf(SearchMiss miss) {
  switch (miss) {
    case SearchMiss::kFound:
      return PromptNotice::kNone;
    case SearchMiss::kNotFound:
      return PromptNotice::kNotFound;
    case SearchMiss::kNeedsAdministrator:
      return PromptNotice::kNeedsAdministrator;
    case SearchMiss::kInUse:
      return PromptNotice::kInUse;
    case SearchMiss::kUnsupportedSectors:
      return PromptNotice::kUnsupportedSectors;
  }
  return PromptNotice::kNotFound;
}

void SearchForZaze(HWND wizard) {
  SearchMiss miss = SearchMiss::kFound;  // no search yet
  for (bool searched = false;; searched = true) {
    const INT_PTR choice =
        DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_PANEL), wizard, DeviceSearchDlgProc,
                        static_cast<LPARAM>(NoticeOf(miss)));
    // A prompt that could not be shown counts as Continue, once: after a
    // search that found nothing, one that still cannot be shown would leave
    // the wizard searching forever with nobody able to stop it.
    if (choice == IDCANCEL || (choice == -1 && searched)) {
      DestroyWindow(wizard);
      return;
    }
    FoundDriveLetter = static_cast<signed char>(FindZazeDrive(miss));
    if (FoundDriveLetter == static_cast<signed char>(kNoDriveFound)) continue;
    if (FindUnfinishedUpdateOf(static_cast<char>(FoundDriveLetter))) {
      PostMessageA(wizard, kOfferRestoreMessage, 0, 0);
    }
    return;
  }
}

// Windows from Vista on ask the user before ending a session that a window
// holds up, and say why; earlier ones only ask each window. Found at run
// time, so that the library still loads on Windows 2000.
using BlockReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
using BlockReasonDestroy = BOOL(WINAPI*)(HWND);

void (*User32Call(const char* name))() {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 != nullptr ? reinterpret_cast<void (*)()>(GetProcAddress(user32, name)) : nullptr;
}

void HoldSession(HWND wizard) {
  if (auto create = reinterpret_cast<BlockReasonCreate>(User32Call("ShutdownBlockReasonCreate"))) {
    create(wizard,
           L"Zephlar is writing the firmware of your zAze. Ending now could leave the "
           L"zAze unable to start.");
  }
}

void ReleaseSession(HWND wizard) {
  if (auto destroy =
          reinterpret_cast<BlockReasonDestroy>(User32Call("ShutdownBlockReasonDestroy"))) {
    destroy(wizard);
  }
}

// While the wizard waits for the download: what is due is painted, and
// nothing else is handled, so that no click reaches the wizard meanwhile.
void PaintWhileWaiting(void* wizard) {
  RedrawWindow(static_cast<HWND>(wizard), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// Clicks and keys that came while the wizard waited were aimed at the page
// as it stood; they must not act on it once the wait is over.
void DropInputOfTheWait() {
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  while (PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
}

// Asks leave and downloads `address` (as the script stored it, line feed
// included). False when the user declined: the wizard is then closed.
bool FetchSources(HWND wizard, const char* address) {
  char question[400];
  // The address is script text: an argument, never part of the format.
  std::snprintf(question, sizeof question,
                "The Zephlar needs to connect to the\ninternet to check for possible firmware "
                "sources.\n\nChecking at: %.*s\nDo you wish to continue?",
                kControlValueSize - 1, address);
  if (MessageBoxA(wizard, question, "Zephlar Internet Connection", MB_YESNO) != IDYES) {
    MessageBoxA(wizard, "You have chosen not to connect, the Zephlar will now close.", "Zephlar",
                MB_OK);
    DestroyWindow(wizard);
    return false;
  }
  LogStatus("Connecting to server.. Please wait");
  // The pause is there for the user to read the line, so it is painted first.
  for (const DWORD start = GetTickCount(); GetTickCount() - start < kConnectingPauseMs;) {
    PaintWhileWaiting(wizard);
    Sleep(kSourcesWaitSliceMs);
  }
  const int32_t fetched =
      DownloadFirmwareSources(address, kSourcesTimeLimitMs, PaintWhileWaiting, wizard);
  DropInputOfTheWait();
  // Success or not, Next goes on.
  if (fetched) {
    LogStatus("Successfully obtained the firmware!");
    MessageBoxA(wizard, "Got the firmware sources!", "Zephlar", MB_OK);
  } else {
    LogStatus("Unable to get the firmware!");
    MessageBoxA(wizard, kSourcesFailed, "Zephlar Error", MB_OK);
  }
  return true;
}

bool HasUpdateStart(const WizardStep& step) {
  for (int32_t i = 0; i < ControlCount(step); ++i) {
    if (IsAction(step.controls[i], kStartUpdate)) return true;
  }
  return false;
}

}  // namespace

void RunStartupActions(HWND wizard) {
  // Both flags come from the step shown first.
  const WizardStep& step = ShownStep();
  if (IsNtPlatform() == 0 && step.runOldWindows == 0) {
    MessageBoxA(wizard, kOldWindowsText, kOldWindowsCaption, MB_OK);
    DestroyWindow(wizard);
    return;
  }
  if (step.runOldWindows == 1) {
    FoundDriveLetter = kUnsearchedDrive;
    return;
  }
  SearchForZaze(wizard);
}

void ScanPageControls(HWND wizard, HWND control) {
  const WizardStep& step = ShownStep();
  int32_t count = ControlCount(step);
  if (count > LiveControls.inUse) count = LiveControls.inUse;
  for (int32_t i = 0; i < count; ++i) {
    if (step.controls[i].type != kPushButton || LiveControls.windows[i] != control) continue;
    char caption[kControlValueSize] = "";
    GetWindowTextA(control, caption, sizeof caption);
    if (lstrcmpiA(caption, "Browse for file") == 0) {
      ChooseFirmwareFile(wizard);
    } else if (lstrcmpiA(caption, ZEPHLAR_VISIT_CAPTION) == 0) {
      OpenWebPage(ZEPHLAR_MAKER_HOME_PAGE, SW_SHOW);
    }
  }
}

int32_t RunLeavingActions(HWND wizard) {
  const WizardStep& step = ShownStep();
  for (int32_t i = 0; i < ControlCount(step); ++i) {
    if (IsAction(step.controls[i], kFetchSources) &&
        !FetchSources(wizard, step.controls[i].value)) {
      return 1;
    }
  }
  return 0;
}

void StartRestore(HWND wizard, void (*routine)(void*)) {
  StartDeviceWorker(wizard, routine, kNoRestoreWorker);
}

UpdateStart RunUpdateStart(HWND wizard) {
  // However many StartUpdate actions the step has, one update starts.
  if (!HasUpdateStart(ShownStep())) return UpdateStart::kNotStarted;
  return StartDeviceWorker(wizard, FirmwareUpdateThread, kNoWorker);
}

UpdateStart StartDeviceWorker(HWND wizard, void (*routine)(void*), const char* cannotStart) {
  ProgressDlgWnd =
      CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_PANEL), wizard, ProgressDlgProc, 0);
  if (ProgressDlgWnd == nullptr) {
    ShowUpdateError(kNoProgressWindow);
    return UpdateStart::kFailed;
  }
  ShowWindow(ProgressDlgWnd, SW_SHOW);
  // Set before the worker exists: its last act clears it, and that can come
  // only once this thread handles messages again.
  UpdateRunning = 1;
  InterlockedExchange(&WorkerRunning, kWorkerRunning);
  HoldSession(wizard);
  if (_beginthread(routine, 0, nullptr) == static_cast<uintptr_t>(-1)) {
    InterlockedExchange(&WorkerRunning, kWorkerNone);
    EndDeviceWork(wizard);
    ShowUpdateError(cannotStart);
    return UpdateStart::kFailed;
  }
  return UpdateStart::kStarted;
}

void EndDeviceWork(HWND wizard) {
  UpdateRunning = 0;
  ReleaseSession(wizard);
  if (ProgressDlgWnd != nullptr) DestroyWindow(ProgressDlgWnd);
  ProgressDlgWnd = nullptr;
}
