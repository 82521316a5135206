#include "shell/WizardState.h"

#include "shell/StepControls.h"

HINSTANCE ModuleInstance = nullptr;
HICON AppIcon = nullptr;
HWND WizardWnd = nullptr;
HWND ModelessWizardWnd = nullptr;
HWND ProgressDlgWnd = nullptr;
int32_t UpdateRunning = 0;
volatile LONG WorkerRunning = kWorkerNone;

StepTable WizardSteps;
int32_t CurrentStep = 0;
int32_t StepCount = 0;

HBITMAP ButtonBitmaps[kStripCount];
signed char ButtonStates[kButtonCount];
RECT ButtonRects[kButtonCount];
int32_t ButtonPressed = 0;
unsigned char Dragging = 0;
POINT DragAnchor;
HBITMAP BackgroundBitmap = nullptr;

int32_t NavigableStepCount() {
  // The script's count is kept as declared; only the table's steps exist.
  if (StepCount < 0) return 0;
  return StepCount > kStepTableCapacity ? kStepTableCapacity : StepCount;
}

WizardStep& ShownStep() {
  int32_t index = CurrentStep;
  if (index < 0) index = 0;
  if (index >= kStepTableCapacity) index = kStepTableCapacity - 1;
  return WizardSteps[index];
}

const WizardStep& PageOnScreen() {
  return LiveControls.page != nullptr ? *LiveControls.page : ShownStep();
}

void SendAsWorkersLastAct(UINT message, WPARAM wParam, LPARAM lParam) {
  SendMessageA(WizardWnd, message, wParam, lParam);
  if (InterlockedExchange(&WorkerRunning, kWorkerNone) == kWorkerOutlivedWizard) {
    ModelessWizardWnd = nullptr;
  }
}
