// The demo's autopilot: starts zephlar.exe in the demo folder and walks the
// whole road of one update as a user would, with the same walker the road
// test uses (harness/RoadWalker): Continue on the device prompt, Next on the
// pages, Yes on the internet question, the firmware file in the file dialog,
// OK on every box. It saves a screenshot at each stop, records every box's
// caption and text, and records the status log of the update.
//
//   zephlar_autopilot --program Z:\...\zephlar.exe --folder Z:\...\demo
//                     --firmware Z:\...\firmware.bin [--timeout SECONDS] [--watch]
//
// With --watch it presses nothing: the user drives the wizard, and the
// autopilot only records the boxes, the status log and the screenshots.
//
// The status log is recorded by a hook on the wizard's thread, which the
// system runs inside zephlar.exe (zephlar_autopilot_hook.dll, beside this
// program); the same hook holds the wizard's thread at the end of the copy
// while the progress window is photographed.
//
// It leaves in the folder: screenshots\NN-name.bmp, status-log.txt and
// boxes.txt. Exit code 0 when the road was walked to the end and zephlar.exe
// closed, 1 on any failure, told in one line that names what it waited for.
#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness/RoadWalker.h"
#include "harness/Screenshot.h"
#include "harness/WindowDriver.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kDefaultTimeoutSeconds = 90;
constexpr DWORD kSettleMs = 300;      // for X to show what the window has painted
constexpr DWORD kExitWaitMs = 15000;  // for zephlar.exe to end after the last OK

struct Options {
  std::string program;
  std::string folder;
  std::string firmware;
  DWORD timeoutMs = kDefaultTimeoutSeconds * 1000;
  bool watch = false;
};

Options Settings;
PROCESS_INFORMATION Child = {};
int ShotNumber = 0;

constexpr char kHookLibrary[] = "zephlar_autopilot_hook.dll";
constexpr char kHookLogVariable[] = "ZEPHLAR_AUTOPILOT_LOG";
HHOOK LogHook = nullptr;

// ---- Reporting ----

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::printf("autopilot: %s\n", text);
  std::fflush(stdout);
}

// A text on one line: line ends become " / ".
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      line += " / ";
    } else if (c != '\r') {
      line += c;
    }
  }
  return line;
}

std::string InFolder(const std::string& name) { return Settings.folder + "\\" + name; }

int CountLines(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  int lines = 0;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) lines += c == '\n';
  std::fclose(file);
  return lines;
}

// Both files are read by the report's Unix tools: line feeds only.
void SaveBoxes(const std::vector<AnsweredBox>& boxes) {
  std::FILE* file = std::fopen(InFolder("boxes.txt").c_str(), "wb");
  if (file == nullptr) {
    Say("cannot write boxes.txt");
    return;
  }
  for (const AnsweredBox& box : boxes) {
    std::fprintf(file, "%s | %s | %s\n", box.caption.c_str(), OneLine(box.text).c_str(),
                 box.answer.c_str());
  }
  std::fclose(file);
}

// ---- Screenshots ----

// zephlar.exe's visible top-level windows.
std::vector<HWND> ChildWindows() {
  return TopLevels([](HWND) { return true; }, Child.dwProcessId);
}

// The part of the screen that zephlar.exe's windows cover, with a margin.
RECT ShotArea() {
  RECT area = {0, 0, 0, 0};
  for (HWND window : ChildWindows()) {
    RECT frame;
    GetWindowRect(window, &frame);
    if (IsRectEmpty(&area)) {
      area = frame;
    } else {
      UnionRect(&area, &area, &frame);
    }
  }
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (IsRectEmpty(&area)) return screen;
  InflateRect(&area, 12, 12);
  IntersectRect(&area, &area, &screen);
  return area;
}

void Shot(const std::string& name) {
  CreateDirectoryA(InFolder("screenshots").c_str(), nullptr);
  // Names come from captions too: lower case, a dash for anything else.
  std::string clean;
  for (char c : name.substr(0, 40)) {
    const auto byte = static_cast<unsigned char>(c);
    clean += std::isalnum(byte) ? static_cast<char>(std::tolower(byte)) : '-';
  }
  char file[64];
  std::snprintf(file, sizeof file, "screenshots\\%02d-%s.bmp", ++ShotNumber, clean.c_str());
  if (SaveBmp(CaptureScreen(ShotArea()), InFolder(file))) {
    Say("screenshot %s", file);
  } else {
    Say("screenshot %s could not be taken", file);
  }
}

// ---- The status log ----

// The hook goes on the thread that owns `window`, the wizard's thread.
void HookStatusLog(HWND window) {
  char path[MAX_PATH] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  char* slash = length > 0 && length < sizeof path ? std::strrchr(path, '\\') : nullptr;
  HMODULE library = nullptr;
  if (slash != nullptr &&
      std::snprintf(slash + 1, sizeof path - (slash + 1 - path), "%s", kHookLibrary) > 0) {
    library = LoadLibraryA(path);
  }
  FARPROC procedure = nullptr;
  if (library != nullptr) {
    procedure = GetProcAddress(library, "RecordStatusLog@12");  // __stdcall, decorated
    if (procedure == nullptr) procedure = GetProcAddress(library, "RecordStatusLog");
  }
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (procedure != nullptr && thread != 0) {
    LogHook = SetWindowsHookExA(WH_CALLWNDPROC,
                                reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(procedure)),
                                library, thread);
  }
  if (LogHook != nullptr) {
    Say("status log: recorded by a hook on the wizard's thread");
  } else {
    Say("status log: no hook (%s, error %lu); neither the log nor the full progress bar can "
        "be recorded",
        library == nullptr ? "the hook library did not load" : "the hook could not be set",
        GetLastError());
  }
}

void ReportStatusLog() {
  Say("status log: %d lines recorded in status-log.txt", CountLines(InFolder("status-log.txt")));
}

// ---- The road ----

// A picture at each stop of the walk, and the walker's words on standard
// output.
class DemoWatcher : public RoadWatcher {
 public:
  void At(RoadStop stop, HWND window, int page) override {
    switch (stop) {
      case RoadStop::kPrompt:
        if (LogHook == nullptr) HookStatusLog(window);
        Shot(ButtonText(window, IDOK) == "Retry" ? "device-prompt-retry" : "device-prompt");
        break;
      case RoadStop::kPage:
        Shot("page-" + std::to_string(page));
        break;
      case RoadStop::kFileDialog:
        Shot("file-dialog");
        break;
      case RoadStop::kBox:
        Shot("box-" + WindowText(window));
        break;
      case RoadStop::kFirmwareChosen:
        Shot("page-" + std::to_string(page) + "-firmware-verified");
        break;
      case RoadStop::kProgress:
        Shot("progress");
        break;
    }
  }
  void Say(const std::string& line) override { ::Say("%s", line.c_str()); }
};

void Launch() {
  // The hook, running inside zephlar.exe, finds its file through the
  // environment that zephlar.exe inherits.
  const std::string log = InFolder("status-log.txt");
  if (std::FILE* empty = std::fopen(log.c_str(), "wb")) std::fclose(empty);
  SetEnvironmentVariableA(kHookLogVariable, log.c_str());
  std::string commandLine = "\"" + Settings.program + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(Settings.program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                      nullptr, Settings.folder.c_str(), &startup, &Child)) {
    Say("FAILED: cannot start %s (error %lu)", Settings.program.c_str(), GetLastError());
    std::exit(1);
  }
  Say("started %s in %s", Settings.program.c_str(), Settings.folder.c_str());
}

// The walk's end: zephlar.exe gone with exit code 0 after the last OK.
bool ProgramEnded() {
  if (WaitForSingleObject(Child.hProcess, kExitWaitMs) != WAIT_OBJECT_0) {
    Say("FAILED: zephlar.exe did not end after OK");
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(Child.hProcess, &code);
  Say("zephlar.exe ended with exit code %lu", code);
  return code == 0;
}

bool Drive() {
  DemoWatcher watcher;
  RoadWalker walker(Child.dwProcessId, Settings.firmware, Settings.timeoutMs, watcher);
  const DWORD start = GetTickCount();
  const bool walked = walker.Walk();
  SaveBoxes(walker.boxes());
  if (!walked) {
    Say("FAILED: %s", walker.failure().c_str());
    for (HWND window : ChildWindows()) {
      Say("  open window: class %s, caption \"%s\", text \"%s\"", ClassOf(window).c_str(),
          WindowText(window).c_str(), IsBox(window) ? OneLine(BoxText(window)).c_str() : "");
    }
    if (!ChildWindows().empty()) Shot("failure");
    return false;
  }
  if (!ProgramEnded()) return false;
  Say("the road was walked to the end in %lu s", (GetTickCount() - start) / 1000);
  return true;
}

// ---- Watching ----

// The user drives; every new window and every new page is shot, and every
// box recorded.
void Watch() {
  std::vector<HWND> seen;
  std::vector<AnsweredBox> boxes;
  unsigned lastPage = 0;
  Say("watching: drive the wizard yourself; the autopilot presses nothing");
  while (WaitForSingleObject(Child.hProcess, 100) == WAIT_TIMEOUT) {
    for (HWND window : ChildWindows()) {
      if (LogHook == nullptr) HookStatusLog(window);
      bool known = false;
      for (HWND old : seen) known = known || old == window;
      if (known) continue;
      seen.push_back(window);
      WaitForItsThread(window, 2000);
      Sleep(kSettleMs);
      if (IsCaptionedBox(window, "Open")) {
        Shot("file-dialog");
      } else if (IsBox(window)) {
        boxes.push_back({WindowText(window), BoxText(window), "the user's answer"});
        SaveBoxes(boxes);
        Shot("box-" + WindowText(window));
      } else if (IsPrompt(window)) {
        Shot("device-prompt");
      } else if (IsProgressWindow(window)) {
        Shot("progress");
      }
    }
    HWND wizard = FirstTopLevel(IsWizard, Child.dwProcessId);
    if (wizard == nullptr) continue;
    const unsigned page = PanelPrint(wizard);
    if (page != lastPage && FirstTopLevel(IsBox, Child.dwProcessId) == nullptr) {
      Sleep(kSettleMs);
      if (PanelPrint(wizard) == page) {
        Shot("page");
        lastPage = page;
      }
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(Child.hProcess, &code);
  Say("zephlar.exe ended with exit code %lu", code);
}

// ---- Options ----

void Usage() {
  std::fprintf(stderr,
               "usage: zephlar_autopilot --program EXE --folder DIR --firmware FILE "
               "[--timeout SECONDS] [--watch]\n");
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--watch") {
      options.watch = true;
      continue;
    }
    if (i + 1 >= argc) Usage();
    const char* value = argv[++i];
    if (name == "--program") {
      options.program = value;
    } else if (name == "--folder") {
      options.folder = value;
    } else if (name == "--firmware") {
      options.firmware = value;
    } else if (name == "--timeout") {
      const long seconds = std::strtol(value, nullptr, 10);
      if (seconds <= 0 || seconds > 3600) Usage();
      options.timeoutMs = static_cast<DWORD>(seconds) * 1000;
    } else {
      Usage();
    }
  }
  if (options.program.empty() || options.folder.empty() ||
      (options.firmware.empty() && !options.watch)) {
    Usage();
  }
  while (!options.folder.empty() && options.folder.back() == '\\') options.folder.pop_back();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Settings = ParseOptions(argc, argv);
  Launch();
  bool walked = true;
  if (Settings.watch) {
    Watch();
  } else {
    walked = Drive();
  }
  if (!walked && WaitForSingleObject(Child.hProcess, 0) == WAIT_TIMEOUT) {
    Say("ending zephlar.exe");
    TerminateProcess(Child.hProcess, 1);
    WaitForSingleObject(Child.hProcess, 5000);
  }
  ReportStatusLog();
  CloseHandle(Child.hThread);
  CloseHandle(Child.hProcess);
  return walked ? 0 : 1;
}
