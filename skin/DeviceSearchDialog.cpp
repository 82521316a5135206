#include "skin/DeviceSearchDialog.h"

#include <cstdio>

#include "skin/PanelDialog.h"

namespace {

constexpr char kRequest[] =
    "The Zephlar will attempt to automatically find the zAze attached to this computer. Make "
    "sure you have the zAze plugged into your computer.";
constexpr char kNotFound[] = "\n** Unable to find the zAze! **";

using PanelText = char[256];

// Each showing of the dialog loads its own copy, and is told whether the
// last search failed.
HBITMAP PanelBitmap = nullptr;
bool AfterFailedSearch = false;

void OnPaint(HWND window, PanelText& text) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  if (AfterFailedSearch) {
    std::snprintf(text, sizeof text, "%s%s", kRequest, kNotFound);
    // Nothing turns it back: every showing starts from the template's
    // "Continue".
    SetWindowTextA(GetDlgItem(window, IDOK), "Retry");
  }
  if (dc != nullptr) PaintPanel(dc, client, PanelBitmap, text);
  EndPaint(window, &paint);
}

}  // namespace

INT_PTR CALLBACK DeviceSearchDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Made afresh for every message, so that the failure notice shows once
  // however often the panel is painted.
  PanelText text;
  std::snprintf(text, sizeof text, "%s", kRequest);
  switch (message) {
    case WM_INITDIALOG:
      AfterFailedSearch = lParam != 0;
      PanelBitmap = SetUpPanel(window);
      return TRUE;  // the focus goes to the default button
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return PanelColour(reinterpret_cast<HDC>(wParam));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      OnPaint(window, text);
      return FALSE;
    case WM_DESTROY:
      ReleasePanel(PanelBitmap);
      return FALSE;
    default:
      // WM_CLOSE included: the default handling ends the dialog as Cancel.
      return FALSE;
  }
}
