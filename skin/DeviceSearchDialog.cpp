#include "skin/DeviceSearchDialog.h"

#include <cstdio>

#include "skin/PanelDialog.h"

namespace {

constexpr char kRequest[] =
    "The Zephlar will attempt to automatically find the zAze attached to this computer. Make "
    "sure you have the zAze plugged into your computer.";
constexpr char kNotFound[] = "\n** Unable to find the zAze! **";
// When drives refused to be opened, the request gives way to what to do.
constexpr char kNeedsAdministrator[] =
    "Zephlar needs administrator rights to reach the zAze. Close Zephlar, then right-click "
    "zephlar.exe and choose \"Run as administrator\" (on Windows 2000 and XP: \"Run as...\" and "
    "an administrator account).";
constexpr char kInUse[] =
    "Another program is using the zAze (a disk tool, a backup or virus scanner). Close that "
    "program, then press Retry.";
constexpr char kUnsupportedSectors[] =
    "The disk found has sectors of another size than 512 bytes, which Zephlar does not support. "
    "Nothing was written to it. Attach the zAze itself, then press Retry.";

using PanelText = char[400];

// Each showing of the dialog loads its own copy, and is told what the last
// search found.
HBITMAP PanelBitmap = nullptr;
PromptNotice LastMiss = PromptNotice::kNone;

// What the last search found in the way, told below the request or in its
// place.
struct NoticeText {
  PromptNotice miss;
  const char* text;
};
constexpr NoticeText kNotices[] = {
    {PromptNotice::kNotFound, kNotFound},
    {PromptNotice::kNeedsAdministrator, kNeedsAdministrator},
    {PromptNotice::kInUse, kInUse},
    {PromptNotice::kUnsupportedSectors, kUnsupportedSectors},
};

const char* NoticeOf(PromptNotice miss) {
  for (const NoticeText& notice : kNotices) {
    if (notice.miss == miss) return notice.text;
  }
  return "";
}

// The panel's text for the last search: the request to plug the zAze in
// stands only where plugging it in is the answer.
void ComposeText(PanelText& text) {
  const bool asks = LastMiss == PromptNotice::kNone || LastMiss == PromptNotice::kNotFound;
  std::snprintf(text, sizeof text, "%s%s", asks ? kRequest : "", NoticeOf(LastMiss));
}

void OnInitDialog(HWND window, LPARAM lParam) {
  LastMiss = lParam == 0 ? PromptNotice::kNone : static_cast<PromptNotice>(lParam);
  PanelBitmap = SetUpPanel(window);
  // The painted text is also the window's, for whatever reads the screen.
  PanelText text;
  ComposeText(text);
  SetWindowTextA(window, text);
  // Nothing turns it back: every showing starts from the template's
  // "Continue".
  if (LastMiss != PromptNotice::kNone) SetWindowTextA(GetDlgItem(window, IDOK), "Retry");
}

void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  PanelText text;
  ComposeText(text);
  if (dc != nullptr) PaintPanel(dc, client, PanelBitmap, text);
  EndPaint(window, &paint);
}

}  // namespace

INT_PTR CALLBACK DeviceSearchDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window, lParam);
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
      OnPaint(window);
      return FALSE;
    case WM_DESTROY:
      ReleasePanel(PanelBitmap);
      return FALSE;
    default:
      // WM_CLOSE included: the default handling ends the dialog as Cancel.
      return FALSE;
  }
}
