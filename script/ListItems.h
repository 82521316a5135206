// The items of a drop-down list, read from a control's value: the first word
// of each line, with '_' standing for a blank inside an item. Portable.
#pragma once

#include <cstdint>

// Where a scan of one value stands.
struct ListItemScan {
  int32_t position;  // next character of the value to look at
  int32_t words;     // words taken so far; a paired list keeps the odd ones
};

// Length of `text`, looking at no more than `size` bytes.
int32_t BoundedLength(const char* text, int32_t size);

// Takes the next item of `value` (a text of `length` characters) into `item`
// (room for `itemSize` bytes, NUL included, cut to fit) and returns 1, or
// returns 0 when no item remains. With `paired` non-zero only the 1st, 3rd,
// 5th ... words are items. Lines that are empty or hold only blanks are
// skipped: they give no item and do not count for the pairing. Start a scan
// with a zeroed ListItemScan.
int32_t NextListItem(const char* value, int32_t length, int32_t paired, ListItemScan& scan,
                     char* item, int32_t itemSize);
