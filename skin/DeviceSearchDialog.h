// The modal prompt that asks the user to attach the zAze before each device
// search, and after a failed search says so and offers to retry.
#pragma once

#include <windows.h>

// The dialog procedure of template 116 (IDD_PANEL) as the device-search
// prompt. The dialog ends with 1 for Continue or Retry (or Enter) and with 2
// for Cancel (or Esc, or a close request). It searches nothing itself: the
// creation parameter (DialogBoxParam's last) is a PromptNotice, and after a
// failed search the prompt says why and offers Retry.
INT_PTR CALLBACK DeviceSearchDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the prompt says besides its request.
enum class PromptNotice {
  kNone,                // before the first search
  kNotFound,            // no zAze was found
  kNeedsAdministrator,  // drives refused for want of rights
  kInUse,               // a drive is held by another program
  kUnsupportedSectors,  // a drive's sectors are not 512 bytes long
};
