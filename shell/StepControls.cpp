#include "shell/StepControls.h"

#include "script/ListItems.h"

LiveControlSlots LiveControls;

// The item scan of a drop-down list, then its first selection. An index
// outside the list leaves no item selected.
static void FillDropList(HWND list, const StepControl& control, int32_t paired) {
  const int32_t length = BoundedLength(control.value, kControlValueSize);
  ListItemScan scan = {0, 0};
  char item[kControlValueSize];
  while (NextListItem(control.value, length, paired, scan, item, kControlValueSize)) {
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
  SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(control.selected), 0);
}

static void DropFinalLineFeed(char* value) {
  const int32_t length = BoundedLength(value, kControlValueSize);
  if (length > 0 && value[length - 1] == '\n') value[length - 1] = '\0';
}

// The window for one control slot, or null for an Action, an unknown type or
// a window that could not be made.
static HWND MakeControlWindow(HWND wizard, StepControl& control) {
  const char* windowClass = nullptr;
  DWORD style = WS_CHILD | WS_VISIBLE;
  int id = 0;
  switch (control.type) {
    case kLabel:
      windowClass = "Static";
      break;
    case kDropList:
    case kPairedDropList:
      windowClass = "ComboBox";
      style |= CBS_DROPDOWNLIST;
      break;
    case kEditField:
      windowClass = "Edit";
      break;
    case kPushButton:
      windowClass = "Button";
      DropFinalLineFeed(control.value);  // in the table: showing the page again finds none
      break;
    case kList:
      windowClass = "ListBox";
      id = control.dest;  // 5345 makes it the status log
      break;
    default:
      return nullptr;
  }
  // The reader always terminates the value; the last byte is forced anyway so
  // that a window text never runs past the field.
  control.value[kControlValueSize - 1] = '\0';
  // The controls belong to the module that made the wizard.
  const HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongA(wizard, GWL_HINSTANCE));
  HWND window = CreateWindowExA(0, windowClass, control.value, style, control.x, control.y,
                                control.width, control.height, wizard,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
  if (window != nullptr && (control.type == kDropList || control.type == kPairedDropList)) {
    FillDropList(window, control, control.type == kPairedDropList);
  }
  return window;
}

void CreateStepControls(HWND wizard, WizardStep& step) {
  int32_t inUse = LiveControls.inUse;
  if (inUse > kControlsPerStep) inUse = kControlsPerStep;
  for (int32_t i = 0; i < inUse; ++i) {
    if (LiveControls.windows[i] != nullptr) DestroyWindow(LiveControls.windows[i]);
  }
  ForgetStepControls();

  LiveControls.page = &step;
  int32_t count = step.numcontrols;
  if (count < 0) count = 0;
  if (count > kControlsPerStep) count = kControlsPerStep;  // never more than the ten slots
  LiveControls.inUse = count;
  for (int32_t i = 0; i < count; ++i) {
    LiveControls.windows[i] = MakeControlWindow(wizard, step.controls[i]);
  }
}

void ForgetStepControls() {
  for (HWND& window : LiveControls.windows) window = nullptr;
  LiveControls.inUse = 0;
  LiveControls.page = nullptr;
}
