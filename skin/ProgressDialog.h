// The modeless panel that stands over the wizard while the update worker
// writes the firmware; the worker puts its progress bar inside it.
#pragma once

#include <windows.h>

// The dialog procedure of template 116 (IDD_PANEL) as the progress window:
// its buttons are hidden, and commands and close requests leave it as it is.
// Only the wizard removes it, when the worker has ended.
INT_PTR CALLBACK ProgressDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
