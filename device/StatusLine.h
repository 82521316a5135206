// Formatting of one status-log line, shared by every side of the log (the
// wizard's list box, the recording for tests, the command line).
#pragma once

#include <cstdarg>
#include <cstdint>

constexpr int kStatusLineSize = 140;  // 139 characters and NUL

// Formats `format` with `args` into `line`, cut to 139 characters, and drops
// one final line feed. Returns the length formatted before that line feed was
// dropped: 0 means the text was empty and no line is to be added.
int32_t FormatStatusLine(char (&line)[kStatusLineSize], const char* format, va_list args)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 0)))
#endif
    ;

// A status line for a failed transfer or open: the printf-style text, then
// the system's words for error `code` ("The media is write protected."), so
// that the user reads more than a number; code 0 (no call failed, a read
// came up short) adds nothing. Logged through LogStatus.
void LogFailure(uint32_t code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
