// The wizard's pages as read from the step script: a fixed table of steps,
// each with its texts, navigation flags and up to ten child controls.
// Portable: no window-system header is used here.
#pragma once

#include <cstdint>

constexpr int kStepTableCapacity = 10;  // steps held; the script numbers them 1 to 10
constexpr int kControlsPerStep = 10;    // control slots per step, numbered 1 to 10
constexpr int kStepTextSize = 500;      // title and body text, NUL included
constexpr int kControlValueSize = 100;  // control value, NUL included

struct StepControl {
  int8_t type;  // a StepControlType number; 0 means no control
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;    // for a drop-down list it includes the opened list
  int32_t dest;      // window identifier of a List control
  int32_t selected;  // initial item of a drop-down list, or an action code
  char value[kControlValueSize];
  void* window;  // window made for the control; never filled by the reader
};

struct WizardStep {
  char title[kStepTextSize];
  int32_t numcontrols;  // slots in use from the first; kept within 0 to 10
  StepControl controls[kControlsPerStep];
  int32_t textboxtop;
  char text[kStepTextSize];
  int32_t back;
  int32_t forward;
  int32_t finish;
  int32_t runOldWindows;
};

using StepTable = WizardStep[kStepTableCapacity];
