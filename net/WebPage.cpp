#include "net/WebPage.h"

#include <shellapi.h>

namespace {

constexpr int kCommandSize = 520;  // class name, then key path, then command line
constexpr int kValueSize = 260;    // one default value, terminator included
constexpr char kOpenCommandKey[] = "\\shell\\open\\command";

// True when `text` starts with `pattern`.
bool StartsWith(const char* text, const char* pattern) {
  for (; *pattern != '\0'; ++text, ++pattern) {
    if (*text != *pattern) return false;
  }
  return true;
}

}  // namespace

LONG ReadKeyDefault(HKEY root, const char* subkey, char* output) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  // Read into a buffer of our own: the registry may leave part of an
  // over-long value behind, and `output` may still hold `subkey`.
  char value[kValueSize] = {};
  LONG size = sizeof value;
  status = RegQueryValueA(key, nullptr, value, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return status;
  // A value stored without its terminator could fill the buffer to the last
  // byte; that is one character too many.
  if (value[kValueSize - 1] != '\0') return ERROR_MORE_DATA;
  lstrcpyA(output, value);
  return ERROR_SUCCESS;
}

const char* FindPlaceholder(const char* command, UINT codePage) {
  // The quoted form is looked for character by character, so that the second
  // byte of a double-byte character is never taken for a quote.
  for (const char* at = command; *at != '\0';) {
    if (StartsWith(at, "\"%1\"")) return at;
    const bool pair = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(*at)) && at[1] != '\0';
    at += pair ? 2 : 1;
  }
  for (const char* at = command; *at != '\0'; ++at) {
    if (StartsWith(at, "%1")) return at;
  }
  return nullptr;
}

uint32_t OpenWebPage(const char* address, int showCommand) {
  // ShellExecuteA answers with a small number on failure and something above
  // 32 on success; only the number matters, never the handle.
  const uint32_t shellResult = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(
      ShellExecuteA(nullptr, "open", address, nullptr, nullptr, showCommand)));
  if (shellResult > 32) return shellResult;

  // Fall back on the browser that opens web pages saved as files.
  char command[kCommandSize];
  if (ReadKeyDefault(HKEY_CLASSES_ROOT, ".htm", command) != ERROR_SUCCESS) return shellResult;
  lstrcatA(command, kOpenCommandKey);  // at most 259 + 19 characters
  if (ReadKeyDefault(HKEY_CLASSES_ROOT, command, command) != ERROR_SUCCESS) return shellResult;

  // The address goes at the end instead of the placeholder; whatever followed
  // the placeholder is dropped with it.
  const char* placeholder = FindPlaceholder(command, CP_ACP);
  if (placeholder != nullptr) command[placeholder - command] = '\0';

  // A cut address would open some other page; rather start nothing.
  if (lstrlenA(command) + 1 + lstrlenA(address) >= kCommandSize) return shellResult;
  lstrcatA(command, " ");
  lstrcatA(command, address);
  return WinExec(command, static_cast<UINT>(showCommand));
}
