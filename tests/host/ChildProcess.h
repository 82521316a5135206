// zephlar.exe started from a test as a user starts it, in a scratch folder of
// its own, and the windows of that process as a user sees them: the wizard,
// the host window, message boxes and the device-search prompt.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A folder under the current directory, named after the running test, with
// the files copied into it; removed again with everything in it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // Copies `source` into the folder as `name`; false when it could not.
  bool Copy(const std::string& source, const std::string& name);
  bool Write(const std::string& name, const std::string& bytes);

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// A full Windows path for a path as the build names it.
std::string FullPath(const std::string& path);

// A started program. It is ended by force if a test leaves it running.
class ChildProgram {
 public:
  ChildProgram() = default;
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // Starts `program` with `arguments` and `directory` as its current
  // directory.
  bool Start(const std::string& program, const std::string& arguments,
             const std::string& directory);
  DWORD id() const { return info_.dwProcessId; }
  bool HasEnded(DWORD waitMs = 0) const;
  // The exit code once the process has ended within `waitMs`; STILL_ACTIVE
  // when it has not.
  DWORD ExitCode(DWORD waitMs) const;

 private:
  PROCESS_INFORMATION info_ = {};
};

// Top-level windows of class #32770 that belong to the process `id`.
std::vector<HWND> DialogsOf(DWORD id);
// The wizard: the dialog that carries the hidden Next button.
HWND WizardOf(DWORD id);
// A message box: the dialog with the static text of id 0xFFFF.
HWND MessageBoxOf(DWORD id);
// The device-search prompt: a dialog with a Continue or Retry button and a
// Cancel button.
HWND DevicePromptOf(DWORD id);
// A top-level window of class `windowClass` of the process `id`.
HWND WindowOf(DWORD id, const char* windowClass);

// Repeats `find` until it gives a window or `waitMs` have passed.
template <typename Find>
HWND WaitForWindow(Find find, DWORD waitMs = 10000) {
  for (DWORD waited = 0;; waited += 20) {
    HWND found = find();
    if (found != nullptr || waited >= waitMs) return found;
    Sleep(20);
  }
}

std::string WindowText(HWND window);
std::string MessageTextOf(HWND box);
// Presses the dialog's button `id` as a click on it would.
void PressDialogButton(HWND dialog, int id);
