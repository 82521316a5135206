// The library's lifetime and its three exports.
#include "shell/LibraryEntry.h"

#include <commctrl.h>

#include "device/Platform.h"
#include "script/StepControls.h"
#include "script/StepScript.h"
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
  } else if (reason == DLL_PROCESS_DETACH) {
    if (AppIcon != nullptr) DestroyIcon(AppIcon);
    AppIcon = nullptr;
  }
  return TRUE;
}

void OpenWizard(HWND parent) {
  // One wizard at a time, and none while an earlier wizard's update still
  // writes to the zAze.
  if (ModelessWizardWnd != nullptr || WorkerRunning != kWorkerNone) return;
  StepCount = LoadStepScript("steps.stp", WizardSteps, kStepTableCapacity);
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

int32_t IsNtPlatform() { return PlatformId() == kNtPlatformId ? 1 : 0; }

// The exports; zephlardll.def gives them their decorated names.
extern "C" void ZephlarDLLWizard() { OpenWizard(nullptr); }

extern "C" void ZephlarDLLWizard_hwnd(HWND parent) { OpenWizard(parent); }

extern "C" char running() { return ModelessWizardWnd != nullptr ? 1 : 0; }
