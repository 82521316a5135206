// Bounded formatting of texts that come from the step script.
// Script text is data, never a printf format: only a small, fixed set of sequences is
// interpreted and nothing else can reach memory or arguments.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `source` into `dest` (room for `destSize` bytes, NUL included), interpreting:
//   "%%"  as a single '%';
//   "%d"  as the next of the `argCount` integers in `args`, in decimal, while any remain.
// Every other '%' sequence, a "%d" beyond the given integers included, is copied as it
// stands. The result is cut to destSize - 1 characters and always NUL-terminated; nothing
// is written when destSize is 0. A null `source` gives an empty text. `dest` and `source`
// must not overlap.
void FormatScriptText(char* dest, size_t destSize, const char* source, const int32_t* args,
                      int argCount);
