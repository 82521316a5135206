#include "shell/WizardWindow.h"

#include "shell/RestoreOffer.h"
#include "shell/StepActions.h"
#include "shell/StepControls.h"
#include "shell/WizardState.h"
#include "skin/ArtworkFit.h"

namespace {

constexpr UINT_PTR kDragTimer = 523;
constexpr UINT kDragIntervalMs = 20;
// The window's shape: a rounded rectangle inside the 600 x 440 background.
constexpr RoundedShape kWizardShape = {5, 5, 597, 437, 16};

// The command each drawn button sends, by WizardButton.
constexpr WORD kButtonCommands[kButtonCount] = {ID_WIZARD_BACK, ID_WIZARD_CANCEL, ID_WIZARD_NEXT};

HBITMAP LoadSkinBitmap(int id) {
  return static_cast<HBITMAP>(
      LoadImageA(ModuleInstance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

void SetButtonRect(WizardButton button, LONG left) {
  ButtonRects[button] = {left, 404, left + 80, 429};
}

// The button under a client point, tested Back, Cancel, Next, edges included;
// -1 when none.
int HitButton(LPARAM lParam) {
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  for (int button = 0; button < kButtonCount; ++button) {  // index order is Back, Cancel, Next
    const RECT& r = ButtonRects[button];
    if (x >= r.left && x <= r.right && y >= r.top && y <= r.bottom) return button;
  }
  return -1;
}

void CloseWizard(HWND window) {
  ModelessWizardWnd = nullptr;
  DestroyWindow(window);
}

BOOL OnInitDialog(HWND window) {
  WizardWnd = window;
  FitToArtwork(window, kWizardShape.right, kWizardShape.bottom);
  RECT client;
  GetClientRect(window, &client);
  // The dialog class is the system's, shared by every dialog of the process;
  // the icon is taken off again when the wizard goes.
  SetClassLongA(window, GCL_HICON, static_cast<LONG>(reinterpret_cast<LONG_PTR>(AppIcon)));
  SetWindowTextA(window, "Zephlar");

  BackgroundBitmap = LoadSkinBitmap(IDB_BACKGROUND);
  ButtonBitmaps[kBackStrip] = LoadSkinBitmap(IDB_BTN_BACK);
  ButtonBitmaps[kCancelStrip] = LoadSkinBitmap(IDB_BTN_CANCEL);
  ButtonBitmaps[kNextStrip] = LoadSkinBitmap(IDB_BTN_NEXT);
  ButtonBitmaps[kOkStrip] = LoadSkinBitmap(IDB_BTN_OK);
  ButtonStates[kBackButton] = kButtonDisabled;
  ButtonStates[kCancelButton] = kButtonNormal;
  ButtonStates[kNextButton] = kButtonNormal;
  SetButtonRect(kBackButton, 194);
  SetButtonRect(kCancelButton, client.right - 142);  // only Cancel follows the width
  SetButtonRect(kNextButton, 278);
  // A wizard closed mid-press or mid-drag must not leave the next one stuck.
  ButtonPressed = 0;
  Dragging = 0;

  CutToShape(window, kWizardShape);

  UpdateNavButtons();
  CreateStepControls(window, ShownStep());
  RunStartupActions(window);  // may close the wizard before it is ever shown
  return TRUE;
}

void OnLButtonDown(HWND window, LPARAM lParam) {
  const int button = HitButton(lParam);
  if (button < 0) {
    ButtonPressed = 0;
    return;
  }
  if (ButtonStates[button] == kButtonNormal) {
    ButtonStates[button] = kButtonPressedLook;
    ButtonPressed = 1;
  }
  RedrawButtons(window);
}

void OnMouseMove(HWND window, WPARAM wParam) {
  // A press on a free spot or on a disabled button drags; one on a live
  // button does not.
  if ((wParam & MK_LBUTTON) == 0 || Dragging || ButtonPressed) return;
  Dragging = 1;
  GetCursorPos(&DragAnchor);
  // With the mouse captured, the button's release reaches this window
  // wherever it happens: over a child control, or outside the window.
  SetCapture(window);
  SetTimer(window, kDragTimer, kDragIntervalMs, nullptr);
}

void EndDrag(HWND window) {
  if (!Dragging) return;
  Dragging = 0;
  KillTimer(window, kDragTimer);
  if (GetCapture() == window) ReleaseCapture();
}

void OnTimer(HWND window, WPARAM timer) {
  if (timer != kDragTimer) return;
  if (!Dragging) {
    KillTimer(window, kDragTimer);
    return;
  }
  POINT cursor;
  GetCursorPos(&cursor);
  WINDOWPLACEMENT placement;
  placement.length = sizeof placement;
  if (GetWindowPlacement(window, &placement)) {
    OffsetRect(&placement.rcNormalPosition, cursor.x - DragAnchor.x, cursor.y - DragAnchor.y);
    SetWindowPlacement(window, &placement);
  }
  DragAnchor = cursor;
}

void OnLButtonUp(HWND window, LPARAM lParam) {
  EndDrag(window);
  const int button = HitButton(lParam);
  if (button >= 0) {
    // The pressed look lasts only while the mouse button is down, also on a
    // button other than the one released on.
    for (signed char& state : ButtonStates) {
      if (state == kButtonPressedLook) state = kButtonNormal;
    }
    if (ButtonStates[button] != kButtonDisabled) {
      ButtonStates[button] = kButtonNormal;
      SendMessageA(window, WM_COMMAND, kButtonCommands[button], 0);
    }
    if (IsWindow(window)) RedrawButtons(window);  // not when the command closed the wizard
  } else if (ButtonPressed) {
    for (signed char& state : ButtonStates) {
      if (state != kButtonDisabled) state = kButtonNormal;
    }
    RedrawButtons(window);
  }
  ButtonPressed = 0;
}

void OnNext(HWND window) {
  if (ShownStep().finish == 1) {
    CloseWizard(window);
    return;
  }
  if (RunLeavingActions(window)) return;
  const int32_t leaving = CurrentStep;
  if (CurrentStep + 1 < NavigableStepCount()) ++CurrentStep;
  const UpdateStart update = RunUpdateStart(window);
  // An update keeps the old page on screen until the worker's ID_WIZARD_LAST.
  if (update == UpdateStart::kStarted) return;
  // One that could not start leaves the user on the page they were on.
  if (update == UpdateStart::kFailed) CurrentStep = leaving;
  ShowCurrentStep(window);
}

void OnWizardLast(HWND window) {
  EndDeviceWork(window);  // the worker has ended its work
  CurrentStep = NavigableStepCount() > 0 ? NavigableStepCount() - 1 : 0;
  ShowCurrentStep(window);
}

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  // While the worker runs, only its own closing command is taken: no page
  // change, no other file, no second update, no closing under it.
  if (UpdateRunning) {
    if (wParam == ID_WIZARD_LAST) OnWizardLast(window);
    return;
  }
  if (lParam != 0) ScanPageControls(window, reinterpret_cast<HWND>(lParam));
  // Wizard commands come as clicks or as sent commands, never as other
  // notifications: a script's list box given a command id as its dest must
  // not close or move the wizard by taking the focus.
  if (HIWORD(wParam) != 0) return;
  switch (LOWORD(wParam)) {
    case ID_WIZARD_BACK:
      // A command whose drawn button is off does nothing, whatever sent it
      // (Enter through the dialog's default button, another program).
      if (ButtonStates[kBackButton] == kButtonDisabled) break;
      if (CurrentStep > 0) --CurrentStep;
      ShowCurrentStep(window);  // also when it stayed: the page is made again
      break;
    case ID_WIZARD_CANCEL:
      CloseWizard(window);
      break;
    case ID_WIZARD_NEXT:
      if (ButtonStates[kNextButton] == kButtonDisabled) break;
      OnNext(window);
      break;
    case ID_WIZARD_LAST:
      OnWizardLast(window);
      break;
    default:
      break;
  }
}

void OnClose(HWND window) {
  if (!UpdateRunning) CloseWizard(window);  // the worker still reports to this window
}

// Ending the session would end the worker mid-write, before any rollback.
BOOL OnQueryEndSession(HWND window) {
  SetWindowLongPtrA(window, DWLP_MSGRESULT, UpdateRunning ? FALSE : TRUE);
  return TRUE;
}

void OnDestroy(HWND window) {
  // The navigation lock belongs to this window; the worker, if one still
  // runs, keeps a modeless wizard counted as running until it ends.
  UpdateRunning = 0;
  if (InterlockedCompareExchange(&WorkerRunning, kWorkerOutlivedWizard, kWorkerRunning) ==
      kWorkerNone) {
    ModelessWizardWnd = nullptr;
  }
  DeleteObject(BackgroundBitmap);
  BackgroundBitmap = nullptr;
  for (HBITMAP& strip : ButtonBitmaps) {
    DeleteObject(strip);
    strip = nullptr;
  }
  // AppIcon stays loaded until the library goes.
  SetClassLongA(window, GCL_HICON, 0);
  // A modal wizard closed by a message sent from another thread would leave
  // its dialog loop waiting for a message that never comes; this one wakes it.
  PostMessageA(nullptr, WM_NULL, 0, 0);
}

}  // namespace

void UpdateNavButtons() {
  const WizardStep& step = ShownStep();
  ButtonStates[kNextButton] =
      step.finish != 0 || step.forward != 0 ? kButtonNormal : kButtonDisabled;
  ButtonStates[kBackButton] = step.back == 1 ? kButtonNormal : kButtonDisabled;
}

void ShowCurrentStep(HWND window) {
  CreateStepControls(window, ShownStep());
  UpdateNavButtons();
  InvalidateRect(window, nullptr, FALSE);  // no erase: the page is redrawn whole
  UpdateWindow(window);
}

INT_PTR CALLBACK WizardDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_PAINT:
      PaintWizardPage(window);
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(window, lParam);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(window, wParam);
      return 0;
    case WM_TIMER:
      OnTimer(window, wParam);
      return 0;
    case WM_LBUTTONUP:
      OnLButtonUp(window, lParam);
      return 0;
    case WM_CAPTURECHANGED:
      // Another window took the mouse: the release will not come here.
      EndDrag(window);
      return 0;
    case WM_COMMAND:
      OnCommand(window, wParam, lParam);
      return 0;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      // Never erase: the background image shows around the labels' text.
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_CLOSE:
      OnClose(window);
      return 0;
    case WM_QUERYENDSESSION:
      return OnQueryEndSession(window);
    case kOfferRestoreMessage:
      OfferRestore(window);
      return 0;
    case kRestoreDoneMessage:
      OnRestoreDone(window, wParam);
      return 0;
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    default:
      return 0;
  }
}
