// The update worker's error boxes and final command, on the wizard.
#include <windows.h>

#include "device/DeviceUi.h"
#include "shell/WizardState.h"

void ShowUpdateError(const char* text) {
  MessageBoxA(WizardWnd, text, "Firmware Upgrade Error", MB_OK);
}

void SendWizardLast() { SendMessageA(WizardWnd, WM_COMMAND, ID_WIZARD_LAST, 0); }
