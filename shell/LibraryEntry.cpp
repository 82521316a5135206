// The library's lifetime and its three exports.
#include "shell/LibraryEntry.h"

#include <commctrl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/ScopedFile.h"
#include "device/Platform.h"
#include "script/StepScript.h"
#include "shell/DeviceUiWin32.h"
#include "shell/StepControls.h"
#include "shell/WizardState.h"
#include "shell/WizardWindow.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  // Thread starts and ends, the update worker's among them, touch nothing.
  if (reason == DLL_PROCESS_ATTACH) {
    ModuleInstance = instance;
    ModelessWizardWnd = nullptr;
    CurrentStep = 0;
    AppIcon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    InitCommonControls();  // the progress bar's class
    SendSkinNotesToStatusLog();
  } else if (reason == DLL_PROCESS_DETACH) {
    if (AppIcon != nullptr) DestroyIcon(AppIcon);
    AppIcon = nullptr;
  }
  return TRUE;
}

namespace {

// Set while an export opens a wizard and, for a modal one, until it has
// closed. ModelessWizardWnd alone cannot keep a second wizard out: it stays
// null for a modal wizard and for a modeless one still in its set-up, whose
// device prompt runs a message loop in which a host may call again.
volatile LONG WizardOpening = 0;

// The box before a wizard without pages: the folder that was looked in, and
// the system's reason.
void TellScriptUnreadable(HWND owner, int reason) {
  char folder[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) lstrcpyA(folder, "(its name could not be read)");
  char text[MAX_PATH + 512];
  // The folder's name is an argument, never part of the format.
  std::snprintf(text, sizeof text,
                "Zephlar could not read steps.stp, the file that holds the wizard's pages, in "
                "this folder:\n\n%s\n\n(%s)\n\nThe wizard will open without pages. Close it, then "
                "put steps.stp from the Zephlar archive in that folder, or start Zephlar from "
                "the folder that holds steps.stp.",
                folder, std::strerror(reason));
  MessageBoxA(owner, text, "Zephlar", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void ShowWizard(HWND parent) {
  ScopedFile script(std::fopen("steps.stp", "r"));
  if (script.get() == nullptr) {
    TellScriptUnreadable(parent, errno);
    // An earlier opening's pages would otherwise show, with their actions.
    std::memset(WizardSteps, 0, sizeof WizardSteps);
  }
  StepCount = LoadStepScript(script.get(), WizardSteps, kStepTableCapacity);
  // Resume where the last wizard left off, but only on a page this script
  // has: the table keeps an older, longer script's pages.
  const int32_t lastStep = NavigableStepCount() - 1;
  if (CurrentStep > lastStep) CurrentStep = lastStep < 0 ? 0 : lastStep;
  ForgetStepControls();  // an earlier wizard's controls went with its window
  if (parent == nullptr) {
    DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, WizardDlgProc, 0);
    return;
  }
  HWND window =
      CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_WIZARD), parent, WizardDlgProc, 0);
  // The start-up actions may have closed the window during its set-up.
  if (window == nullptr || !IsWindow(window)) return;
  ModelessWizardWnd = window;
  ShowWindow(window, SW_SHOW);
}

}  // namespace

void OpenWizard(HWND parent) {
  // One wizard at a time, whichever export and thread asks, and none while
  // an earlier wizard's update still writes to the zAze.
  if (InterlockedCompareExchange(&WizardOpening, 1, 0) != 0) return;
  if (ModelessWizardWnd == nullptr && WorkerRunning == kWorkerNone) ShowWizard(parent);
  InterlockedExchange(&WizardOpening, 0);
}

int32_t IsNtPlatform() { return PlatformId() == kNtPlatformId ? 1 : 0; }

// The exports; zephlardll.def gives them their decorated names.
extern "C" void ZephlarDLLWizard() { OpenWizard(nullptr); }

extern "C" void ZephlarDLLWizard_hwnd(HWND parent) { OpenWizard(parent); }

extern "C" char running() { return ModelessWizardWnd != nullptr ? 1 : 0; }
