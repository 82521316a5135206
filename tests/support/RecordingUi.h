// The recording side of the device code's user interface: every status line,
// progress-bar call, error box and final command, in the order made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct UiEvent {
  enum Kind {
    kLog,
    kProgressCreate,
    kProgressRange,
    kProgressPos,
    kProgressDestroy,
    kErrorBox,
    kWizardLast
  };
  Kind kind;
  std::string text;    // the log line or the box text
  int32_t first = 0;   // range minimum, or position
  int32_t second = 0;  // range maximum
};

std::vector<UiEvent> RecordedUi();
void ResetRecordedUi();

std::vector<std::string> RecordedLogLines();
std::vector<std::string> RecordedErrorBoxes();
int RecordedWizardLastCount();
// Positions given to ProgressBarSetPos, in order.
std::vector<int32_t> RecordedProgressPositions();

// Called with each position right after ProgressBarSetPos records it, so a
// test can act between two chunks of a copy; a null hook removes it.
using ProgressPosHook = void (*)(int32_t position, void* context);
void SetProgressPosHook(ProgressPosHook hook, void* context);
