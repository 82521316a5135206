// The update worker's error boxes and final command, on the wizard.
#include <windows.h>

#include "device/DeviceUi.h"
#include "shell/WizardState.h"

void ShowUpdateError(const char* text) {
  MessageBoxA(WizardWnd, text, "Firmware Upgrade Error", MB_OK);
}

// The worker's last act. A modeless wizard destroyed under the worker kept
// running() at 1 until now.
void SendWizardLast() {
  SendMessageA(WizardWnd, WM_COMMAND, ID_WIZARD_LAST, 0);
  if (InterlockedExchange(&WorkerRunning, kWorkerNone) == kWorkerOutlivedWizard) {
    ModelessWizardWnd = nullptr;
  }
}
