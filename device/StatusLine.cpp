#include "device/StatusLine.h"

#include <cstdio>
#include <cstring>

#include "device/DeviceUi.h"
#include "device/Platform.h"

int32_t FormatStatusLine(char (&line)[kStatusLineSize], const char* format, va_list args) {
  line[0] = '\0';
  if (format == nullptr) return 0;
  // vsnprintf cuts at the buffer; its result is the length it wanted.
  const int wanted = std::vsnprintf(line, sizeof line, format, args);
  if (wanted < 0) line[0] = '\0';
  const size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
  return static_cast<int32_t>(length);
}

int32_t LogStatus(const char* format, ...) {
  char line[kStatusLineSize];  // each call its own: two threads never share it
  va_list args;
  va_start(args, format);
  const int32_t length = FormatStatusLine(line, format, args);
  va_end(args);
  if (length == 0) return 0;
  AddStatusLine(line);
  return 1;
}

void LogFailure(uint32_t code, const char* format, ...) {
  char line[kStatusLineSize];
  va_list args;
  va_start(args, format);
  FormatStatusLine(line, format, args);
  va_end(args);
  char words[kStatusLineSize] = "";
  if (code != 0) ErrorWords(code, words, sizeof words);
  if (words[0] == '\0') {
    LogStatus("%s", line);
  } else {
    LogStatus("%s %s", line, words);
  }
}
