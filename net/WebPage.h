// Opening a web address in the user's browser: through the shell, or, when
// the shell refuses, through the open command registered for ".htm" files.
#pragma once

#include <windows.h>

#include <cstdint>

// Asks the shell to open `address`; a result above 32 is returned as it is.
// Otherwise builds the browser's command line from the ".htm" association in
// HKEY_CLASSES_ROOT, with `address` in place of its "%1" placeholder, starts
// it with WinExec and returns WinExec's result. When the association is
// missing or the finished command would not fit in 520 characters, nothing is
// started and the shell's result comes back unchanged.
uint32_t OpenWebPage(const char* address, int showCommand);

// Copies the default value of `subkey` under `root` into `output` (room for
// 260 characters). Returns ERROR_SUCCESS, or the error code when the key
// cannot be opened or its default value cannot be read or is longer than 259
// characters; `output` is then left as it was. `subkey` and `output` may be
// the same buffer.
LONG ReadKeyDefault(HKEY root, const char* subkey, char* output);

// Where the placeholder of an open command begins: the quoted form "\"%1\"",
// found by a walk that steps over the double-byte characters of `codePage`,
// or else the bare "%1", found byte by byte. nullptr when there is neither.
const char* FindPlaceholder(const char* command, UINT codePage);
