// The small rounded panel that the device search and the progress window
// share: template 116 (IDD_PANEL) with bitmap 115 (IDB_PANEL) stretched over
// its client area and one centred text painted on it.
#pragma once

#include <windows.h>

// For WM_INITDIALOG: cuts the window to its rounded shape and loads the panel
// bitmap, which the caller keeps until WM_DESTROY (null when it cannot be
// loaded).
HBITMAP SetUpPanel(HWND window);

// For WM_CTLCOLORDLG and WM_CTLCOLORSTATIC: text on a transparent ground;
// the result is the background brush.
INT_PTR PanelColour(HDC dc);

// For WM_PAINT, between BeginPaint and EndPaint: the bitmap stretched over the
// client area, then `text` word-wrapped and centred below the top edge.
// Without a memory device context nothing is drawn.
void PaintPanel(HDC dc, const RECT& client, HBITMAP bitmap, const char* text);

// For WM_DESTROY: deletes the bitmap and empties its slot.
void ReleasePanel(HBITMAP& bitmap);
