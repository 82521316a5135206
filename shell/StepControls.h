// The child windows of the page shown, made from its StepControl records.
#pragma once

#include <windows.h>

#include <cstdint>

#include "script/StepTable.h"

// StepControl::type numbers.
enum StepControlType {
  kLabel = 1,
  kDropList = 2,
  kEditField = 3,
  kPushButton = 4,
  kAction = 5,  // no window; `selected` holds the action code
  kList = 6,
  kPairedDropList = 7,
};

// The windows of the page shown, one slot per control slot of the page, and
// the number of slots in use (the page's numcontrols, at most ten).
struct LiveControlSlots {
  HWND windows[kControlsPerStep];
  int32_t inUse;
  // The step these windows were made for: the page on screen, which stays
  // while an update runs although CurrentStep has moved on. Null before the
  // first page of a wizard.
  const WizardStep* page;
};
extern LiveControlSlots LiveControls;

// Destroys the windows of the page shown before and makes those of `step`
// (the step shown) as children of `wizard`. Drops a PushButton's final line
// feed from its value in the step table.
void CreateStepControls(HWND wizard, WizardStep& step);

// Forgets the windows of an earlier wizard without destroying them: they went
// with their parent.
void ForgetStepControls();
