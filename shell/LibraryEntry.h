// The library's entry points behind the exports, and the platform check.
#pragma once

#include <windows.h>

#include <cstdint>

// Reads the step script and opens the wizard: modal without a parent,
// modeless under `parent`. Does nothing while another wizard is open or
// opening, or an earlier wizard's update still runs. A script that cannot be
// read is told in a box that names the folder; the wizard then has no pages.
void OpenWizard(HWND parent);

// 1 on an NT-family Windows, else 0. No version number is looked at.
int32_t IsNtPlatform();
