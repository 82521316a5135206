// How the device side reaches the user, and nothing else: the status log, the
// progress bar in the progress dialog, the update's error boxes owned by the
// wizard, and the wizard's final command. The wizard provides the Win32 side;
// the unit tests link a recording side.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define ZEPHLAR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZEPHLAR_PRINTF(fmt, args)
#endif

// Appends one printf-style line to the status log: at most 139 characters,
// one final line feed dropped. Returns 1 when a line was handed on, 0 when the
// formatted text was empty. Returns only after the line is in the log, also
// when called from the update worker.
int32_t LogStatus(const char* format, ...) ZEPHLAR_PRINTF(1, 2);
// What each side of the seam defines for it: shows one formatted line, never
// empty, in that side's log, and returns once it is there.
void AddStatusLine(const char* line);

// One progress bar at a time, inside the progress dialog; without a progress
// dialog the calls have no effect.
void ProgressBarCreate();
void ProgressBarSetRange(int32_t minimum, int32_t maximum);
void ProgressBarSetPos(int32_t position);
void ProgressBarDestroy();

// A "Firmware Upgrade Error" message box with an OK button, owned by the
// wizard; returns when the user has closed it.
void ShowUpdateError(const char* text);

// Sends the wizard ID_WIZARD_LAST; returns once the wizard has handled it.
void SendWizardLast();
