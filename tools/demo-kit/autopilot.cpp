// The demo's autopilot: starts zephlar.exe in the demo folder and walks the
// whole road of one update as a user would. It finds every window the wizard
// opens, answers it (Continue on the device prompt, Next on the pages, Yes on
// the internet question, the firmware file in the file dialog, OK on every
// box), saves a screenshot of each, records every box's caption and text,
// and records the status log of the update page.
//
//   zephlar_autopilot --program Z:\...\zephlar.exe --folder Z:\...\demo
//                     --firmware Z:\...\firmware.bin [--timeout SECONDS] [--watch]
//
// With --watch it presses nothing: the user drives the wizard, and the
// autopilot only records the boxes, the status log and the screenshots.
//
// The status log is recorded by a hook on the wizard's thread, which the
// system runs inside zephlar.exe (zephlar_autopilot_hook.dll, beside this
// program); where the hook cannot be set, the log is read off the list box
// while the update runs, which can miss the last lines.
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

#include "resources/resource.h"
#include "tests/support/WindowDriver.h"

namespace {

constexpr DWORD kDefaultTimeoutSeconds = 90;
constexpr DWORD kSettleMs = 300;      // for X to show what the window has painted
constexpr DWORD kExitWaitMs = 15000;  // for zephlar.exe to end after the last OK
// The page's panel, where the title, the text and the controls are drawn.
constexpr RECT kPanelArea = {206, 32, 571, 311};
constexpr char kBrowseCaption[] = "Browse for file";
constexpr char kQuestionCaption[] = "Zephlar Internet Connection";
constexpr char kVerifiedCaption[] = "File verified";
constexpr char kRefusedCaption[] = "Error";
// LogStatus lines are at most 139 characters; room to spare for the copy.
constexpr int kLogLineSize = 512;
constexpr int kLogLineRetries = 100;

struct Options {
  std::string program;
  std::string folder;
  std::string firmware;
  DWORD timeoutMs = kDefaultTimeoutSeconds * 1000;
  bool watch = false;
};

Options Settings;
PROCESS_INFORMATION Child = {};
DWORD Deadline = 0;
int ShotNumber = 0;
std::FILE* BoxesFile = nullptr;

constexpr char kHookLibrary[] = "zephlar_autopilot_hook.dll";
constexpr char kHookLogVariable[] = "ZEPHLAR_AUTOPILOT_LOG";
HHOOK LogHook = nullptr;

// The status log as read so far, filled by the reader thread.
CRITICAL_SECTION LogLock;
std::vector<std::string> LogLines;
HANDLE LogReader = nullptr;
HWND LogReaderList = nullptr;
volatile LONG StopLogReader = 0;

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
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n') {
      line += " / ";
    } else {
      line += text[i];
    }
  }
  return line;
}

std::string InFolder(const char* name) { return Settings.folder + "\\" + name; }

int CountLines(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  int lines = 0;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) lines += c == '\n';
  std::fclose(file);
  return lines;
}

void SaveStatusLog() {
  if (LogHook != nullptr) {
    Say("status log: %d lines recorded in status-log.txt", CountLines(InFolder("status-log.txt")));
    return;
  }
  std::FILE* file = std::fopen(InFolder("status-log.txt").c_str(), "wb");
  if (file == nullptr) {
    Say("cannot write status-log.txt");
    return;
  }
  EnterCriticalSection(&LogLock);
  for (const std::string& line : LogLines) std::fprintf(file, "%s\n", line.c_str());
  const size_t count = LogLines.size();
  LeaveCriticalSection(&LogLock);
  std::fclose(file);
  Say("status log: %u lines written to status-log.txt", static_cast<unsigned>(count));
}

// ---- Windows of zephlar.exe ----

// zephlar.exe's visible top-level windows.
std::vector<HWND> ChildWindows() {
  return TopLevels([](HWND) { return true; }, Child.dwProcessId);
}

HWND FindTopLevel(bool (*match)(HWND)) { return FirstTopLevel(match, Child.dwProcessId); }

// Waits until the window's thread has handled what was sent before, then
// gives X the moment it needs to show the result.
void Settle(HWND window) {
  WaitForItsThread(window, 2000);
  Sleep(kSettleMs);
}

// ---- Screenshots ----

// `area` of the screen as 24-bit rows, bottom row first, as a BMP holds them.
bool CaptureScreen(const RECT& area, std::vector<unsigned char>& rows, int& stride) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return false;
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool taken = false;
  if (dib != nullptr) {
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, dib);
    taken = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
    GdiFlush();
    stride = (width * 3 + 3) & ~3;
    const auto* start = static_cast<const unsigned char*>(bits);
    rows.assign(start, start + static_cast<size_t>(stride) * height);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(dib);
  }
  ReleaseDC(nullptr, screen);
  return taken;
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

void Shot(const char* name) {
  const RECT area = ShotArea();
  std::vector<unsigned char> rows;
  int stride = 0;
  if (!CaptureScreen(area, rows, stride)) {
    Say("screenshot %s could not be taken", name);
    return;
  }
  CreateDirectoryA(InFolder("screenshots").c_str(), nullptr);
  // Names come from captions too: lower case, a dash for anything else.
  char clean[41];
  size_t length = 0;
  for (const char* at = name; *at != '\0' && length + 1 < sizeof clean; ++at) {
    const auto c = static_cast<unsigned char>(*at);
    clean[length++] = std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '-';
  }
  clean[length] = '\0';
  char file[64];
  std::snprintf(file, sizeof file, "screenshots\\%02d-%s.bmp", ++ShotNumber, clean);
  std::FILE* out = std::fopen(InFolder(file).c_str(), "wb");
  if (out == nullptr) {
    Say("cannot write %s", file);
    return;
  }
  BITMAPINFOHEADER header;
  std::memset(&header, 0, sizeof header);
  header.biSize = sizeof header;
  header.biWidth = area.right - area.left;
  header.biHeight = area.bottom - area.top;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  BITMAPFILEHEADER fileHeader;
  std::memset(&fileHeader, 0, sizeof fileHeader);
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
  fileHeader.bfSize = fileHeader.bfOffBits + static_cast<DWORD>(rows.size());
  std::fwrite(&fileHeader, sizeof fileHeader, 1, out);
  std::fwrite(&header, sizeof header, 1, out);
  std::fwrite(rows.data(), 1, rows.size(), out);
  std::fclose(out);
  Say("screenshot %s", file);
}

// A fingerprint of the page's panel as it shows on the screen: it changes
// when another page's title and text are drawn.
unsigned PanelPrint(HWND wizard) {
  POINT corner = {kPanelArea.left, kPanelArea.top};
  ClientToScreen(wizard, &corner);
  const RECT area = {corner.x, corner.y, corner.x + kPanelArea.right - kPanelArea.left,
                     corner.y + kPanelArea.bottom - kPanelArea.top};
  std::vector<unsigned char> rows;
  int stride = 0;
  if (!CaptureScreen(area, rows, stride)) return 0;
  unsigned hash = 2166136261u;
  for (unsigned char byte : rows) hash = (hash ^ byte) * 16777619u;
  return hash;
}

// ---- Boxes ----

void RecordBox(HWND box, const char* answer) {
  const std::string caption = WindowText(box);
  const std::string text = OneLine(BoxText(box));
  Say("box \"%s\": \"%s\" -> %s", caption.c_str(), text.c_str(), answer);
  if (BoxesFile != nullptr) {
    std::fprintf(BoxesFile, "%s | %s | %s\n", caption.c_str(), text.c_str(), answer);
    std::fflush(BoxesFile);
  }
}

// ---- Failing ----

void ListWindows() {
  for (HWND window : ChildWindows()) {
    const std::string text = IsBox(window) ? OneLine(BoxText(window)) : std::string();
    Say("  open window: class %s, caption \"%s\", text \"%s\"", ClassOf(window).c_str(),
        WindowText(window).c_str(), text.c_str());
  }
}

void StopReadingLog();

[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Fail(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  Say("FAILED: %s", text);
  if (!ChildWindows().empty()) {
    ListWindows();
    Shot("failure");
  }
  StopReadingLog();
  SaveStatusLog();
  if (Child.hProcess != nullptr && WaitForSingleObject(Child.hProcess, 0) == WAIT_TIMEOUT) {
    Say("ending zephlar.exe");
    TerminateProcess(Child.hProcess, 1);
    WaitForSingleObject(Child.hProcess, 5000);
  }
  if (BoxesFile != nullptr) std::fclose(BoxesFile);
  std::exit(1);
}

// ---- The status log ----

// Where the hook cannot be set: reads the list box line by line while the
// update runs, asking for the next line over and over. The last page
// replaces the list box as soon as the worker is done, so the last lines can
// be missed when the page changes before they are asked for.
//
// The text is asked for in UTF-16: Wine hands an ANSI LB_GETTEXT from
// another process back in UTF-16 all the same. Now and then the answer
// comes without its text, the length alone; that line is asked for again.
DWORD WINAPI ReadStatusLog(void* parameter) {
  HWND list = static_cast<HWND>(parameter);
  wchar_t wide[kLogLineSize];
  int retries = 0;
  for (WPARAM next = 0;;) {
    DWORD_PTR result = 0;
    std::memset(wide, 0, sizeof wide);
    const LRESULT answered = SendMessageTimeoutW(
        list, LB_GETTEXT, next, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG, 2000, &result);
    const auto length = static_cast<LRESULT>(result);
    if (answered != 0 && length != LB_ERR) {
      wide[kLogLineSize - 1] = L'\0';
      const auto got = static_cast<LRESULT>(lstrlenW(wide));
      // An empty answer from a list box that is gone is no line.
      if (length == 0 && !IsWindow(list)) return 0;
      if (got != length && ++retries < kLogLineRetries) continue;
      retries = 0;
      char line[kLogLineSize * 2] = "";
      WideCharToMultiByte(CP_ACP, 0, wide, -1, line, sizeof line - 1, nullptr, nullptr);
      EnterCriticalSection(&LogLock);
      LogLines.push_back(got == length ? line : "(a line that could not be read)");
      LeaveCriticalSection(&LogLock);
      ++next;
      continue;
    }
    if (!IsWindow(list) || StopLogReader != 0) return 0;
    SwitchToThread();
  }
}

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
    Say("status log: no hook (%s, error %lu); it is read off the update page instead",
        library == nullptr ? "the hook library did not load" : "the hook could not be set",
        GetLastError());
  }
}

void StartReadingLog(HWND list) {
  if (LogHook != nullptr) return;
  if (LogReader != nullptr && LogReaderList == list) return;
  if (LogReader != nullptr) {
    WaitForSingleObject(LogReader, 5000);
    CloseHandle(LogReader);
  }
  InterlockedExchange(&StopLogReader, 0);
  LogReaderList = list;
  LogReader = CreateThread(nullptr, 0, ReadStatusLog, list, 0, nullptr);
  if (LogReader == nullptr) Say("cannot start the status-log reader");
}

void StopReadingLog() {
  if (LogReader == nullptr) return;
  InterlockedExchange(&StopLogReader, 1);
  WaitForSingleObject(LogReader, 5000);
  CloseHandle(LogReader);
  LogReader = nullptr;
  LogReaderList = nullptr;
}

// ---- Waiting ----

// Any box that comes while something else is awaited is recorded, shot and
// answered with OK (or Yes), as a user would to get on.
bool AnswerStrayBoxes(bool (*expected)(HWND)) {
  bool answered = false;
  for (HWND window : ChildWindows()) {
    if (!IsBox(window) || (expected != nullptr && expected(window))) continue;
    if (WindowText(window) == "Open") continue;  // the file dialog is no box to dismiss
    Settle(window);
    Shot(("box-" + WindowText(window)).c_str());
    const bool ok = PressButton(window, IDOK);
    RecordBox(window, ok ? "OK" : "Yes");
    if (!ok) PressButton(window, IDYES);
    answered = true;
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < 5000) {
      Sleep(kPollMs);
    }
  }
  return answered;
}

void CheckTime(const char* what) {
  if (static_cast<LONG>(GetTickCount() - Deadline) > 0) {
    Fail("timed out after %lu s waiting for %s", Settings.timeoutMs / 1000, what);
  }
  if (WaitForSingleObject(Child.hProcess, 0) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(Child.hProcess, &code);
    Fail("zephlar.exe ended (exit code %lu) while the autopilot waited for %s", code, what);
  }
}

// The first window `match` accepts, answering stray boxes meanwhile.
HWND WaitFor(const char* what, bool (*match)(HWND)) {
  Say("waiting for %s", what);
  for (;;) {
    if (HWND found = FindTopLevel(match)) return found;
    AnswerStrayBoxes(match);
    CheckTime(what);
    Sleep(kPollMs);
  }
}

// The wizard stays open the whole way; it is looked up again at each use.
HWND TheWizard() {
  HWND wizard = FindTopLevel(IsWizard);
  if (wizard == nullptr) Fail("the wizard window is gone");
  return wizard;
}

bool IsQuestion(HWND window) { return IsBox(window) && WindowText(window) == kQuestionCaption; }
bool IsSourcesResult(HWND window) {
  return IsBox(window) &&
         (WindowText(window) == "Zephlar" || WindowText(window) == "Zephlar Error");
}
bool IsFileDialog(HWND window) { return IsBox(window) && WindowText(window) == "Open"; }
bool IsVerdict(HWND window) {
  return IsBox(window) &&
         (WindowText(window) == kVerifiedCaption || WindowText(window) == kRefusedCaption);
}
bool IsShownWizard(HWND window) { return IsWizard(window); }
bool ShowsBrowse(HWND window) {
  return IsWizard(window) && PageButton(window, kBrowseCaption) != nullptr;
}
bool ShowsStatusLog(HWND window) { return IsWizard(window) && StatusLogList(window) != nullptr; }

// A box: shot, recorded, answered with `id`; waits for it to go.
void AnswerBox(HWND box, const char* what, int id, const char* answer, const char* shot) {
  Settle(box);
  Shot(shot);
  RecordBox(box, answer);
  if (!PressButton(box, id)) Fail("%s has no %s button", what, answer);
  const DWORD start = GetTickCount();
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (GetTickCount() - start > 5000) Fail("%s stayed open after %s", what, answer);
    Sleep(kPollMs);
  }
}

// The box `match` accepts, once it comes, answered with `id`.
void Answer(const char* what, bool (*match)(HWND), int id, const char* answer, const char* shot) {
  AnswerBox(WaitFor(what, match), what, id, answer, shot);
}

// ---- The road ----

void Launch() {
  // The hook, running inside zephlar.exe, finds its file through the
  // environment that zephlar.exe inherits.
  const std::string log = InFolder("status-log.txt");
  if (std::FILE* empty = std::fopen(log.c_str(), "wb")) std::fclose(empty);
  SetEnvironmentVariableA(kHookLogVariable, log.c_str());
  std::string commandLine = "\"" + Settings.program + "\"";
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(Settings.program.c_str(), writable.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, Settings.folder.c_str(), &startup, &Child)) {
    Fail("cannot start %s (error %lu)", Settings.program.c_str(), GetLastError());
  }
  Say("started %s in %s", Settings.program.c_str(), Settings.folder.c_str());
}

void PassDevicePrompt() {
  HWND prompt = WaitFor("the device prompt", IsPrompt);
  HookStatusLog(prompt);
  Settle(prompt);
  Shot("device-prompt");
  Say("device prompt: pressing \"%s\"", WindowText(GetDlgItem(prompt, IDOK)).c_str());
  PressButton(prompt, IDOK);
  // The search runs on the wizard's thread; then the wizard is shown, or
  // the prompt comes again with Retry.
  const char* what = "the wizard after the device search";
  Say("waiting for %s", what);
  while (FindTopLevel(IsWizard) == nullptr) {
    HWND again = FindTopLevel(IsPrompt);
    if (again != nullptr && WindowText(GetDlgItem(again, IDOK)) == "Retry") {
      Settle(again);
      Shot("device-prompt-retry");
      Fail("the zAze was not found: the device prompt came back with Retry");
    }
    CheckTime(what);
    Sleep(kPollMs);
  }
}

// Next on a page that only leads to the next page: done when another page
// shows in the panel.
void NextPage(const char* what) {
  HWND wizard = TheWizard();
  const unsigned before = PanelPrint(wizard);
  Say("pressing Next");
  PostClick(wizard, kNextPoint);
  Say("waiting for %s", what);
  while (PanelPrint(wizard) == before) {
    AnswerStrayBoxes(nullptr);
    CheckTime(what);
    Sleep(50);
  }
}

void FetchSources() {
  Say("pressing Next (the page fetches the firmware sources)");
  PostClick(TheWizard(), kNextPoint);
  Answer("the box \"Zephlar Internet Connection\"", IsQuestion, IDYES, "Yes", "internet-question");
  Answer("the box telling the download's result", IsSourcesResult, IDOK, "OK", "sources-result");
}

void ChooseFirmware() {
  HWND wizard = WaitFor("the firmware page with \"Browse for file\"", ShowsBrowse);
  Settle(wizard);
  Shot("page-firmware");
  Say("pressing \"Browse for file\"");
  PressPageButton(wizard, kBrowseCaption);
  HWND dialog = WaitFor("the file dialog \"Open\"", IsFileDialog);
  Settle(dialog);
  HWND field = FileNameField(dialog);
  if (field == nullptr) Fail("the file dialog has no file name field");
  Say("file dialog: typing %s", Settings.firmware.c_str());
  DWORD_PTR result = 0;
  SendMessageTimeoutA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Settings.firmware.c_str()),
                      SMTO_ABORTIFHUNG, 5000, &result);
  Settle(dialog);
  Shot("file-dialog");
  Say("file dialog: pressing Open");
  PressButton(dialog, IDOK);
  const char* what = "the box \"File verified\"";
  HWND verdict = WaitFor(what, IsVerdict);
  if (WindowText(verdict) != kVerifiedCaption) {
    AnswerBox(verdict, "the box \"Error\"", IDOK, "OK", "file-refused");
    Fail("the firmware file was refused");
  }
  AnswerBox(verdict, what, IDOK, "OK", "file-verified");
  Settle(TheWizard());
  Shot("page-firmware-verified");
}

void RunUpdate() {
  Say("pressing Next");
  PostClick(TheWizard(), kNextPoint);
  HWND wizard = WaitFor("the update page with the status log", ShowsStatusLog);
  StartReadingLog(StatusLogList(wizard));
  Settle(wizard);
  Shot("page-update");
  // With the hook in place the wizard's thread waits for the picture at the
  // end of the copy; without it the window is taken whenever it is seen.
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "ZephlarAutopilotProgressHeld");
  HANDLE shot = CreateEventA(nullptr, TRUE, FALSE, "ZephlarAutopilotProgressShot");
  Say("pressing Next (the update starts)");
  PostClick(wizard, kNextPoint);

  // The progress window may come and go between two looks when the update
  // is quick; the update page's list box going is the sure sign of its end.
  bool progressShot = false;
  const char* what = "the update to end (the progress window to go and the last page to show)";
  Say("waiting for %s", what);
  for (;;) {
    HWND progress = FindTopLevel(IsProgressWindow);
    const bool holding = LogHook != nullptr && held != nullptr && shot != nullptr;
    if (!progressShot && holding && WaitForSingleObject(held, 0) == WAIT_OBJECT_0) {
      Shot("progress");
      progressShot = true;
      SetEvent(shot);
    } else if (!progressShot && !holding && progress != nullptr) {
      // Shot at once, without settling: a small image is copied in a moment.
      Shot("progress");
      progressShot = true;
    }
    AnswerStrayBoxes(nullptr);
    HWND shown = FindTopLevel(IsWizard);
    if (shown != nullptr && progress == nullptr && StatusLogList(shown) == nullptr) break;
    CheckTime(what);
    Sleep(kPollMs);
  }
  StopReadingLog();
  if (shot != nullptr) SetEvent(shot);
  if (held != nullptr) CloseHandle(held);
  if (shot != nullptr) CloseHandle(shot);
  if (!progressShot) Say("the progress window came and went between two looks");
}

void Finish() {
  HWND wizard = TheWizard();
  Settle(wizard);
  Shot("page-finished");
  Say("pressing OK on the last page");
  PostClick(wizard, kNextPoint);
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(Child.hProcess, kPollMs) == WAIT_TIMEOUT) {
    AnswerStrayBoxes(nullptr);
    if (GetTickCount() - start > kExitWaitMs) Fail("zephlar.exe did not end after OK");
  }
  DWORD code = 0;
  GetExitCodeProcess(Child.hProcess, &code);
  Say("zephlar.exe ended with exit code %lu", code);
  if (code != 0) Fail("zephlar.exe ended with exit code %lu", code);
}

void Drive() {
  PassDevicePrompt();
  HWND wizard = WaitFor("the wizard", IsShownWizard);
  Settle(wizard);
  Shot("page-welcome");
  NextPage("the firmware-sources page");
  Settle(TheWizard());
  Shot("page-sources");
  FetchSources();
  ChooseFirmware();
  RunUpdate();
  Finish();
}

// ---- Watching ----

// The user drives; every new window and every new page is shot, every box
// recorded, and the status log read whenever an update page shows one.
void Watch() {
  std::vector<HWND> seen;
  unsigned lastPage = 0;
  bool hookTried = false;
  Say("watching: drive the wizard yourself; the autopilot presses nothing");
  while (WaitForSingleObject(Child.hProcess, 100) == WAIT_TIMEOUT) {
    for (HWND window : ChildWindows()) {
      if (!hookTried) HookStatusLog(window);
      hookTried = true;
      bool known = false;
      for (HWND old : seen) known = known || old == window;
      if (known) continue;
      seen.push_back(window);
      Settle(window);
      if (IsFileDialog(window)) {
        Shot("file-dialog");
      } else if (IsBox(window)) {
        RecordBox(window, "the user's answer");
        Shot(("box-" + WindowText(window)).c_str());
      } else if (IsPrompt(window)) {
        Shot("device-prompt");
      } else if (IsProgressWindow(window)) {
        Shot("progress");
      }
    }
    HWND wizard = FindTopLevel(IsWizard);
    if (wizard == nullptr) continue;
    if (HWND list = StatusLogList(wizard)) StartReadingLog(list);
    const unsigned page = PanelPrint(wizard);
    if (page != lastPage && FindTopLevel(IsBox) == nullptr) {
      Sleep(kSettleMs);
      if (PanelPrint(wizard) == page) {
        Shot("page");
        lastPage = page;
      }
    }
  }
  StopReadingLog();
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
  InitializeCriticalSection(&LogLock);
  // Both files are read by the report's Unix tools: line feeds only.
  BoxesFile = std::fopen(InFolder("boxes.txt").c_str(), "wb");
  if (BoxesFile == nullptr) Say("cannot write boxes.txt");
  Deadline = GetTickCount() + Settings.timeoutMs;
  Launch();
  if (Settings.watch) {
    Watch();
  } else {
    Drive();
    Say("the road was walked to the end in %lu s",
        (GetTickCount() - (Deadline - Settings.timeoutMs)) / 1000);
  }
  SaveStatusLog();
  if (BoxesFile != nullptr) std::fclose(BoxesFile);
  CloseHandle(Child.hThread);
  CloseHandle(Child.hProcess);
  return 0;
}
