// The autopilot's window into zephlar.exe: a hook procedure that the
// autopilot sets on the wizard's thread, and that the system therefore runs
// inside zephlar.exe. It sees every message sent to the wizard's windows and
// appends each line the status log receives to the file that the variable
// ZEPHLAR_AUTOPILOT_LOG names (inherited from the autopilot), so that no line
// is lost when the last page replaces the log. At the end of the copy it also
// holds the wizard's thread for a moment, so that the autopilot can take the
// progress window's picture with its bar full.
#include <windows.h>

#include <cstdio>

#include "harness/WizardHook.h"

namespace {

constexpr char kLogVariable[] = "ZEPHLAR_AUTOPILOT_LOG";

void AppendLine(const char* line) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(kLogVariable, path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  std::FILE* file = std::fopen(path, "ab");  // read by Unix tools: line feeds only
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", line);
  std::fclose(file);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    RecordStatusLog(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (const char* line = StatusLogLine(*sent)) {
      AppendLine(line);
    } else if (EndsTheCopy(*sent)) {
      HoldForPicture(sent->hwnd);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
