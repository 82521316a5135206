// The library's public interface: the three calls a host program makes.
//
//   ZephlarDLLWizard()            opens the modal wizard; returns when it has closed.
//   ZephlarDLLWizard_hwnd(parent) opens the modeless wizard under `parent` and returns
//                                 once it is shown (a null parent gives the modal one);
//                                 the host keeps dispatching messages meanwhile.
//   running()                     1 while a modeless wizard is open, else 0.
//
// Each opening reads "steps.stp" from the current directory. The calls are
// exported under the Microsoft compiler's decorated names for these
// signatures (all __cdecl), so a host built with that compiler declares them
// as below; any other host binds the names with GetProcAddress.
#pragma once

#include <windows.h>

#if defined(_MSC_VER)
__declspec(dllimport) void ZephlarDLLWizard(void);
__declspec(dllimport) void ZephlarDLLWizard_hwnd(HWND parent);
__declspec(dllimport) char running(void);
#endif

#define ZEPHLAR_WIZARD_EXPORT "?ZephlarDLLWizard@@YAXXZ"
#define ZEPHLAR_WIZARD_HWND_EXPORT "?ZephlarDLLWizard_hwnd@@YAXPAUHWND__@@@Z"
#define ZEPHLAR_RUNNING_EXPORT "?running@@YADXZ"

typedef void(__cdecl* ZephlarWizardFunction)(void);
typedef void(__cdecl* ZephlarWizardHwndFunction)(HWND parent);
typedef char(__cdecl* ZephlarRunningFunction)(void);
