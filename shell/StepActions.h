// What the pages do besides being shown: the four points at which the wizard
// window hands over to its step actions. All run on the wizard's thread.
#pragma once

#include <windows.h>

#include <cstdint>

// During set-up, once the first page's controls exist. May destroy `wizard`.
void RunStartupActions(HWND wizard);

// At the start of a WM_COMMAND sent by the child `control`. Never changes the
// step shown.
void ScanPageControls(HWND wizard, HWND control);

// On Next, before the step moves. Returns 1 when it closed the wizard.
int32_t RunLeavingActions(HWND wizard);

// On Next, after the step moved. Returns 1 when it started the update (the
// previous page then stays on screen).
int32_t RunUpdateStart(HWND wizard);
