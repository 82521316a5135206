#include "device/StatusLine.h"

#include <cstdio>
#include <cstring>

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
