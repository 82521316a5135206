#include "skin/ProgressDialog.h"

#include "skin/PanelDialog.h"

namespace {

constexpr char kUpgrading[] = "Your zAze is being upgraded. This should only take a few moments.";

HBITMAP PanelBitmap = nullptr;  // this dialog's own, apart from the device prompt's

void OnInitDialog(HWND window) {
  PanelBitmap = SetUpPanel(window);
  // The user cannot act on the panel.
  ShowWindow(GetDlgItem(window, IDOK), SW_HIDE);
  ShowWindow(GetDlgItem(window, IDCANCEL), SW_HIDE);
}

void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  if (dc != nullptr) PaintPanel(dc, client, PanelBitmap, kUpgrading);
  EndPaint(window, &paint);
}

}  // namespace

INT_PTR CALLBACK ProgressDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window);
      return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return PanelColour(reinterpret_cast<HDC>(wParam));
    case WM_PAINT:
      OnPaint(window);
      return FALSE;
    case WM_DESTROY:
      ReleasePanel(PanelBitmap);
      return FALSE;
    default:
      // Commands (Enter, Esc) and WM_CLOSE included: the panel stays.
      return FALSE;
  }
}
