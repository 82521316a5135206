// Reader of the step script (steps.stp) into a StepTable.
#pragma once

#include <cstdio>

#include "script/StepTable.h"

// Reads the script at `path` into `table`, which holds `capacity` steps, and
// returns the step count from its "steps" line (0 when the script has none).
// A file that cannot be opened returns 0 and leaves the table untouched.
// Only the fields the script names are written; nothing is cleared.
int32_t LoadStepScript(const char* path, WizardStep* table, int32_t capacity);

// The same reading from a stream already open for reading, from where it
// stands to its end or to the line that stops the script. The stream is left
// open. A null stream returns 0 and leaves the table untouched.
int32_t LoadStepScript(std::FILE* script, WizardStep* table, int32_t capacity);

// Position just after the first '.' at or after `from` in `line`, or -1 when
// there is none before the end of the line.
int32_t NextField(const char* line, int32_t from);

// Turns every '~' of `text` into a line feed, in place.
void TildesToNewlines(char* text);
