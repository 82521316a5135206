// zephlar.exe, the program a user starts. It loads zephlardll.dll from its
// own folder, binds the library's three exports by their decorated names and
// opens the wizard: modal by default, or with /modeless under a small window
// of its own whose message loop then runs the wizard. The wizard reads
// steps.stp from the current directory and writes its files there, so this
// program makes its own folder the current one; it adds no configuration.
//
// It must start on Windows 2000, so it keeps to plain Win32 calls of that
// era and links the library at run time rather than through an import.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "shell/Zephlar.h"

namespace {

constexpr char kProductName[] = "Zephlar";
constexpr char kLibraryName[] = "zephlardll.dll";
constexpr char kHostClass[] = "ZephlarHost";
constexpr int kAppIconId = 1;
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollIntervalMs = 100;

// Exit codes: 0 when the wizard ran, whatever the user did in it.
enum ExitCode {
  kExitRan = 0,
  kExitNoFolder = 2,
  kExitNoLibrary = 3,
  kExitNoExport = 4,
  kExitNoWindow = 5
};

constexpr char kReinstall[] =
    "zephlar.exe, zephlardll.dll and steps.stp belong together in one folder. "
    "Unpack the whole Zephlar archive again and start zephlar.exe from there.";

struct Library {
  HMODULE module = nullptr;
  ZephlarWizardFunction wizard = nullptr;
  ZephlarWizardHwndFunction wizardHwnd = nullptr;
  ZephlarRunningFunction running = nullptr;
};

// The library's `running`, for the host window's poll.
ZephlarRunningFunction Running = nullptr;

// Messages are shown before any window of ours exists, so they have no owner;
// MB_SETFOREGROUND keeps them from opening behind the shell.
void ShowError(const char* text) {
  MessageBoxA(nullptr, text, kProductName, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// The folder this program was started from, with its final backslash, in
// `folder`; false when the name does not fit.
bool OwnFolder(char* folder, DWORD size) {
  const DWORD length = GetModuleFileNameA(nullptr, folder, size);
  if (length == 0 || length >= size) return false;
  char* slash = std::strrchr(folder, '\\');
  if (slash == nullptr) return false;
  slash[1] = '\0';
  return true;
}

// Loads the library from `folder`; on failure tells the user why and what
// to do, and leaves the module null.
HMODULE LoadZephlarLibrary(const char* folder) {
  char path[MAX_PATH];
  const int length = std::snprintf(path, sizeof path, "%s%s", folder, kLibraryName);
  char text[1024];
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
    std::snprintf(text, sizeof text,
                  "Zephlar cannot start: the name of its folder is too long.\n\n%s\n\n"
                  "Move the Zephlar folder to a shorter path, for example C:\\Zephlar.",
                  folder);
    ShowError(text);
    return nullptr;
  }
  // The full path: the library must come from this program's folder, never
  // from wherever the system's search would find a file of that name.
  HMODULE module = LoadLibraryA(path);
  if (module != nullptr) return module;
  const DWORD error = GetLastError();
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    std::snprintf(text, sizeof text,
                  "Zephlar cannot start: %s is missing. It was looked for here:\n\n%s\n\n%s",
                  kLibraryName, path, kReinstall);
  } else {
    std::snprintf(text, sizeof text,
                  "Zephlar cannot start: %s could not be loaded (Windows error %lu):\n\n%s\n\n"
                  "The file may be damaged. %s",
                  kLibraryName, static_cast<unsigned long>(error), path, kReinstall);
  }
  ShowError(text);
  return nullptr;
}

// Binds the three exports. When any is missing, one message names every
// missing entry point; the library is then of another product or release.
bool BindExports(const char* folder, Library& library) {
  struct Export {
    const char* name;
    FARPROC address;
  } exports[] = {{ZEPHLAR_WIZARD_EXPORT, nullptr},
                 {ZEPHLAR_WIZARD_HWND_EXPORT, nullptr},
                 {ZEPHLAR_RUNNING_EXPORT, nullptr}};
  char missing[512] = "";
  size_t used = 0;
  int count = 0;
  for (Export& entry : exports) {
    entry.address = GetProcAddress(library.module, entry.name);
    if (entry.address != nullptr) continue;
    ++count;
    const int added = std::snprintf(missing + used, sizeof missing - used, "    %s\n", entry.name);
    if (added > 0) used += static_cast<size_t>(added);
    if (used >= sizeof missing) used = sizeof missing - 1;
  }
  if (used > 0) {
    char text[1536];
    std::snprintf(text, sizeof text,
                  "Zephlar cannot start: the %s in\n\n%s\n\nis not the library this zephlar.exe "
                  "needs. It lacks %s:\n\n%s\n%s",
                  kLibraryName, folder, count == 1 ? "this entry point" : "these entry points",
                  missing, kReinstall);
    ShowError(text);
    return false;
  }
  library.wizard =
      reinterpret_cast<ZephlarWizardFunction>(reinterpret_cast<void*>(exports[0].address));
  library.wizardHwnd =
      reinterpret_cast<ZephlarWizardHwndFunction>(reinterpret_cast<void*>(exports[1].address));
  library.running =
      reinterpret_cast<ZephlarRunningFunction>(reinterpret_cast<void*>(exports[2].address));
  return true;
}

// True when the command line holds /modeless (or -modeless), in any case.
bool AsksForModeless(const char* commandLine) {
  static const char kSwitch[] = "modeless";
  const size_t switchLength = sizeof kSwitch - 1;
  const char* at = commandLine;
  while (*at != '\0') {
    while (*at == ' ' || *at == '\t') ++at;
    const char* start = at;
    while (*at != '\0' && *at != ' ' && *at != '\t') ++at;
    const size_t length = static_cast<size_t>(at - start);
    if (length == 1 + switchLength && (start[0] == '/' || start[0] == '-') &&
        _strnicmp(start + 1, kSwitch, switchLength) == 0) {
      return true;
    }
  }
  return false;
}

// The host window's handlers.

void OnHostPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc != nullptr) {
    RECT client;
    GetClientRect(window, &client);
    InflateRect(&client, -12, -10);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    static const char kNote[] =
        "The Zephlar wizard is open.\nThis window closes when the wizard closes.";
    DrawTextA(dc, kNote, static_cast<int>(sizeof kNote - 1), &client, DT_WORDBREAK);
    SelectObject(dc, previous);
  }
  EndPaint(window, &paint);
}

// The wizard is gone once `running` says so, by whichever of its own ways it
// was closed; the program then ends.
void OnHostTimer(HWND window, WPARAM timer) {
  if (timer != kPollTimer || Running == nullptr || Running() != 0) return;
  KillTimer(window, kPollTimer);
  DestroyWindow(window);
}

BOOL CALLBACK FindOwnedWizard(HWND candidate, LPARAM lParam) {
  auto* found = reinterpret_cast<HWND*>(lParam);
  char name[16] = "";
  GetClassNameA(candidate, name, sizeof name);
  if (GetWindow(candidate, GW_OWNER) != found[0] || std::strcmp(name, "#32770") != 0) return TRUE;
  found[1] = candidate;
  return FALSE;
}

// Closing this window does not close the wizard: it may be writing to the
// device, and it has its own Cancel. The wizard is brought forward instead.
void OnHostClose(HWND window) {
  if (Running == nullptr || Running() == 0) {
    DestroyWindow(window);
    return;
  }
  HWND found[2] = {window, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindOwnedWizard, reinterpret_cast<LPARAM>(found));
  if (found[1] != nullptr) SetForegroundWindow(found[1]);
}

LRESULT CALLBACK HostWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnHostPaint(window);
      return 0;
    case WM_TIMER:
      OnHostTimer(window, wParam);
      return 0;
    case WM_CLOSE:
      OnHostClose(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(kExitRan);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND CreateHostWindow(HINSTANCE instance, int show) {
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = HostWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kAppIconId));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kHostClass;
  if (RegisterClassA(&windowClass) == 0) return nullptr;
  HWND window = CreateWindowExA(
      0, kHostClass, kProductName, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
      CW_USEDEFAULT, CW_USEDEFAULT, 320, 110, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  ShowWindow(window, show);
  UpdateWindow(window);
  return window;
}

int RunModal(const Library& library) {
  library.wizard();
  return kExitRan;
}

int RunModeless(HINSTANCE instance, int show, const Library& library) {
  HWND host = CreateHostWindow(instance, show);
  if (host == nullptr) {
    ShowError("Zephlar cannot start: its window could not be created.");
    return kExitNoWindow;
  }
  Running = library.running;
  // The call returns once the wizard is shown, after its start-up checks and
  // device search; the poll starts only then, since `running` is 0 until the
  // call has returned.
  library.wizardHwnd(host);
  if (library.running() == 0) {
    DestroyWindow(host);  // the wizard closed during its start-up
  } else {
    SetTimer(host, kPollTimer, kPollIntervalMs, nullptr);
  }
  // No IsDialogMessage: the dialog manager would turn Enter into the wizard's
  // hidden default button, Next, whatever the drawn Next button shows.
  MSG message;
  message.wParam = kExitRan;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine, int show) {
  char folder[MAX_PATH];
  if (!OwnFolder(folder, sizeof folder)) {
    ShowError("Zephlar cannot start: the folder it was started from cannot be determined.");
    return kExitNoFolder;
  }
  // Started from an elevated prompt or a shortcut without a start folder, the
  // program would run in the system folder. Should the change fail, the
  // library's own box names the folder it then looked in.
  SetCurrentDirectoryA(folder);
  Library library;
  library.module = LoadZephlarLibrary(folder);
  if (library.module == nullptr) return kExitNoLibrary;
  if (!BindExports(folder, library)) {
    FreeLibrary(library.module);
    return kExitNoExport;
  }
  // The library stays loaded until the process ends: an update worker may
  // still be running in it after its wizard has closed.
  return AsksForModeless(commandLine != nullptr ? commandLine : "")
             ? RunModeless(instance, show, library)
             : RunModal(library);
}
