#include "script/ListItems.h"

// Blanks within a line; a line feed ends the line.
static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int32_t BoundedLength(const char* text, int32_t size) {
  int32_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return length;
}

// The first word of the line at `scan.position` into `item`; moves the scan
// to the next line. Returns 0 for an empty or blank-only line.
static int32_t TakeLineWord(const char* value, int32_t length, ListItemScan& scan, char* item,
                            int32_t itemSize) {
  int32_t at = scan.position;
  while (at < length && IsBlank(value[at])) ++at;
  const int32_t wordStart = at;
  int32_t used = 0;
  while (at < length && value[at] != '\n' && !IsBlank(value[at])) {
    if (used + 1 < itemSize) item[used++] = value[at] == '_' ? ' ' : value[at];
    ++at;
  }
  item[used] = '\0';
  const int32_t found = at > wordStart ? 1 : 0;
  while (at < length && value[at] != '\n') ++at;
  scan.position = at + 1;  // past the line feed, or past the end
  return found;
}

int32_t NextListItem(const char* value, int32_t length, int32_t paired, ListItemScan& scan,
                     char* item, int32_t itemSize) {
  if (itemSize <= 0) return 0;
  while (scan.position < length) {
    if (TakeLineWord(value, length, scan, item, itemSize) == 0) continue;
    ++scan.words;
    if (paired == 0 || scan.words % 2 == 1) return 1;
  }
  item[0] = '\0';
  return 0;
}
