// Stands in for a browser in the tests: appends its own command line and a
// line feed to the file that ZEPHLAR_RECORD_FILE names, then exits.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", path, sizeof path);
  if (length == 0 || length >= sizeof path) return 1;
  // One write per line, so that a reader never sees half of one.
  const char* commandLine = GetCommandLineA();
  const int size = lstrlenA(commandLine);
  char* line = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
  if (line == nullptr) return 1;
  CopyMemory(line, commandLine, size);
  line[size] = '\n';
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, line, size + 1, &written, nullptr);
  CloseHandle(file);
  return written == static_cast<DWORD>(size + 1) ? 0 : 1;
}
