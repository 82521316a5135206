// The firmware file the user chooses on the page's "Browse for file" button.
#pragma once

#include <windows.h>

// Shows the file dialog and checks the file chosen: a firmware file turns
// Next on and sets the page's forward flag, one that is not (or cannot be
// opened, which is told as such) turns them off. Keeps the current folder.
void ChooseFirmwareFile(HWND wizard);
