#include "tests/e2e/E2eHarness.h"

#include <gtest/gtest.h>

// After windows.h, which the harness's header brings.
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "device/StatusLine.h"
#include "net/MakerSite.h"
#include "resources/resource.h"
#include "tests/support/TestFiles.h"

namespace {

// ---- Hooks on the wizard's thread ----

std::mutex logMutex;
std::vector<std::string> logLines;

// What a test does on the wizard's thread at a chosen moment of the update,
// while the worker waits in its send; each runs once.
std::mutex momentMutex;
std::string momentLine;
std::function<void()> atMomentLine;
std::function<void()> atBarMade;

// Takes the action out under the lock, so that it runs without it.
void RunOnce(std::function<void()>& action) {
  std::function<void()> taken;
  {
    std::lock_guard<std::mutex> lock(momentMutex);
    taken.swap(action);
  }
  if (taken) taken();
}

void OnLogged(const std::string& line) {
  bool due = false;
  {
    std::lock_guard<std::mutex> lock(momentMutex);
    due = atMomentLine && line.compare(0, momentLine.size(), momentLine) == 0;
  }
  if (due) RunOnce(atMomentLine);
}

std::atomic<int> refusePanels{0};
std::atomic<bool> holdArmed{false};
std::atomic<HWND> heldWindow{nullptr};
HANDLE heldEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE releaseEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// The worker removes its bar while the wizard's thread is here, inside the
// notice of the removal; the worker waits in that send meanwhile and still
// answers sent messages, so the bar repaints at its last position.
void HoldProgress(HWND progress) {
  RedrawWindow(progress, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  heldWindow = progress;
  SetEvent(heldEvent);
  WaitForSingleObject(releaseEvent, kWaitMs);
}

// The worker's progress bar lives on the worker's thread: its positions are
// seen by a subclass put on it when it is made.
std::vector<int> barPositions;
WNDPROC barProcedure = nullptr;

LRESULT CALLBACK WatchBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    std::lock_guard<std::mutex> lock(logMutex);
    barPositions.push_back(static_cast<int>(wParam));
  }
  return CallWindowProcA(barProcedure, bar, message, wParam, lParam);
}

void WatchBarOf(HWND bar) {
  if (ClassOf(bar) != PROGRESS_CLASSA) return;
  barProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchBar)));
}

// The status log as the worker's last command finds it.
LogView logAtTheEnd;

void NoteLogView(HWND wizard) {
  HWND list = GetDlgItem(wizard, IDC_STATUS_LOG);
  if (list == nullptr) return;
  RECT client;
  GetClientRect(list, &client);
  const auto item = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
  std::lock_guard<std::mutex> lock(logMutex);
  logAtTheEnd = {static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)),
                 static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0)),
                 item > 0 ? client.bottom / item : 0};
}

LRESULT CALLBACK WatchSentMessages(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == LB_ADDSTRING && GetDlgCtrlID(sent->hwnd) == IDC_STATUS_LOG) {
      const std::string line = reinterpret_cast<const char*>(sent->lParam);
      {
        std::lock_guard<std::mutex> lock(logMutex);
        logLines.push_back(line);
      }
      OnLogged(line);
    } else if (sent->message == WM_PARENTNOTIFY && LOWORD(sent->wParam) == WM_CREATE &&
               IsProgressWindow(sent->hwnd)) {
      WatchBarOf(reinterpret_cast<HWND>(sent->lParam));
      RunOnce(atBarMade);
    } else if (sent->message == WM_COMMAND && LOWORD(sent->wParam) == ID_WIZARD_LAST) {
      NoteLogView(sent->hwnd);
    } else if (sent->message == WM_PARENTNOTIFY && LOWORD(sent->wParam) == WM_DESTROY &&
               IsProgressWindow(sent->hwnd) && holdArmed.exchange(false)) {
      HoldProgress(sent->hwnd);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Takes one from `count` if it is above zero.
bool TakeOne(std::atomic<int>& count) {
  int left = count.load();
  while (left > 0 && !count.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

LRESULT CALLBACK WatchCreations(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && refusePanels > 0) {
    const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
    // A panel is a dialog of the wizard's; message boxes are the other ones.
    const bool panel = ClassOf(reinterpret_cast<HWND>(wParam)) == "#32770" &&
                       create->lpcs->hwndParent != nullptr && IsWizard(create->lpcs->hwndParent);
    if (panel && TakeOne(refusePanels)) return 1;  // the window is not made
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct HostCall {
  ZephlarWizardFunction wizard;
  ZephlarWizardHwndFunction wizardHwnd;
  ZephlarRunningFunction running;
  bool modeless;
};

// The host program's thread: the modal call, or the modeless one under a
// window of its own followed by a message loop while the wizard is open.
DWORD WINAPI HostThread(void* parameter) {
  const HostCall call = *static_cast<HostCall*>(parameter);
  delete static_cast<HostCall*>(parameter);
  const DWORD self = GetCurrentThreadId();
  HHOOK sent = SetWindowsHookExA(WH_CALLWNDPROC, WatchSentMessages, nullptr, self);
  HHOOK cbt = SetWindowsHookExA(WH_CBT, WatchCreations, nullptr, self);
  if (call.modeless) {
    HWND host = CreateWindowExA(0, "Static", "e2e host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    call.wizardHwnd(host);
    while (call.running()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    DestroyWindow(host);
  } else {
    call.wizard();
  }
  UnhookWindowsHookEx(cbt);
  UnhookWindowsHookEx(sent);
  return 0;
}

std::string ScratchOf() {
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  return directory;
}

std::string Drive38Path() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || prefix[0] == '\0') return std::string();
  return std::string("Z:") + prefix + "/dosdevices/physicaldrive38";
}

void RemoveFilesIn(const std::string& directory) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = directory + "\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveFilesIn(path);
      RemoveDirectoryA(path.c_str());
    } else {
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

size_t DefaultStackReserve() {
  const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  return nt->OptionalHeader.SizeOfStackReserve;
}

DWORD WINAPI DoNothing(void*) { return 0; }

}  // namespace

// ---- Windows ----

HWND WaitForBox(const std::string& caption, DWORD ms) {
  return WaitForTopLevel([&caption](HWND window) { return IsBox(window, caption); }, ms);
}

std::string AnswerBox(const std::string& caption, int id) {
  HWND box = WaitForBox(caption);
  if (box == nullptr) {
    ADD_FAILURE() << "no box captioned \"" << caption << "\"";
    return std::string();
  }
  const std::string text = BoxText(box);
  EXPECT_TRUE(PressButton(box, id)) << "no button " << id << " on \"" << caption << "\"";
  EXPECT_TRUE(WaitGone(box)) << "box \"" << caption << "\" stayed";
  return text;
}

HWND WaitForPrompt(DWORD ms) { return WaitForTopLevel(IsPrompt, ms); }

int PaintedTextLines(HWND panel) {
  const Capture shot = CaptureClient(panel);
  RECT button;
  GetWindowRect(GetDlgItem(panel, IDOK), &button);
  MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&button), 2);
  int lines = 0;
  bool inLine = false;
  for (int y = 12; y < button.top - 2 && y < shot.height; ++y) {
    bool dark = false;
    for (int x = 10; !dark && x < shot.width - 8; ++x) {
      const unsigned pixel = shot.At(x, y);
      dark = (pixel >> 16 & 0xFF) < 0x50 && (pixel >> 8 & 0xFF) < 0x50 && (pixel & 0xFF) < 0x50;
    }
    if (dark && !inLine) ++lines;
    inLine = dark;
  }
  return lines;
}

// Types `text` into the open file dialog's name field and presses its OK
// button; the dialog, or null (after a test failure) when there is none.
HWND TypeIntoFileDialog(const std::string& text) {
  HWND dialog = WaitForBox("Open");
  HWND field = dialog != nullptr ? FileNameField(dialog) : nullptr;
  if (field == nullptr) {
    ADD_FAILURE() << "no file dialog with a name field";
    return nullptr;
  }
  SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  EXPECT_TRUE(PressButton(dialog, IDOK));
  return dialog;
}

void ChooseInFileDialog(const std::string& path) {
  HWND dialog = TypeIntoFileDialog(path);
  if (dialog == nullptr) return;
  EXPECT_TRUE(WaitGone(dialog)) << "the file dialog did not take " << path;
}

void OpenFolderInFileDialog(const std::string& folder) {
  HWND dialog = TypeIntoFileDialog(folder);
  if (dialog == nullptr) return;
  // The dialog goes into the folder and stays open; Wine's also says, in a
  // box without a caption, that no file has the folder's name.
  EXPECT_FALSE(WaitGone(dialog, kQuietMs)) << "the file dialog took the folder " << folder;
  for (HWND box : TopLevels([&](HWND w) {
         return w != dialog && ClassOf(w) == "#32770" && WindowText(w).empty();
       })) {
    PressButton(box, IDOK);
    WaitGone(box);
  }
}

std::string FileDialogName(HWND dialog) {
  HWND field = FileNameField(dialog);
  return field != nullptr ? AskedText(field) : std::string();
}

bool ClickWithin(HWND wizard, POINT at, DWORD ms) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(wizard, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y),
                             SMTO_NORMAL, ms, &result) != 0 &&
         SendMessageTimeoutA(wizard, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y), SMTO_NORMAL, ms,
                             &result) != 0;
}

bool WaitForPage(HWND wizard, int page, DWORD ms) {
  return WaitUntil([&] { return PageOnScreen(wizard) == page; }, ms);
}

void SaveShot(HWND window, const std::string& name, bool paintFirst) {
  // The window's children paint on its thread, after everything else there.
  if (paintFirst) RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  CreateDirectoryA(ZEPHLAR_SCREENSHOT_DIR, nullptr);
  const std::string path = std::string(ZEPHLAR_SCREENSHOT_DIR) + "/" + name + ".bmp";
  EXPECT_TRUE(SaveWindowBmp(window, path)) << path;
}

// ---- What the wizard's thread saw ----

std::vector<std::string> LoggedLines() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logLines;
}

std::vector<int> ProgressPositions() {
  std::lock_guard<std::mutex> lock(logMutex);
  return barPositions;
}

LogView StatusLogAtTheEnd() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logAtTheEnd;
}

std::string AsLogged(const std::string& line) { return line.substr(0, kStatusLineSize - 1); }

void RefusePanels(int count) { refusePanels = count; }

void WhenLogged(const std::string& lineStart, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(momentMutex);
  momentLine = lineStart;
  atMomentLine = std::move(action);
}

void WhenProgressBarMade(std::function<void()> action) {
  std::lock_guard<std::mutex> lock(momentMutex);
  atBarMade = std::move(action);
}

void HoldProgressAtEndOfCopy() {
  ResetEvent(heldEvent);
  ResetEvent(releaseEvent);
  heldWindow = nullptr;
  holdArmed = true;
}

HWND WaitForHeldProgress(DWORD ms) {
  return WaitForSingleObject(heldEvent, ms) == WAIT_OBJECT_0 ? heldWindow.load() : nullptr;
}

void ReleaseProgress() {
  holdArmed = false;
  SetEvent(releaseEvent);
}

ThreadRoomTaken::ThreadRoomTaken() {
  // Largest pieces first, down to the size of one stack: what is left are
  // holes too small for a stack and big enough for everything else.
  const size_t stack = DefaultStackReserve();
  for (size_t piece = size_t{1} << 30; piece >= stack; piece /= 2) {
    while (void* taken = VirtualAlloc(nullptr, piece, MEM_RESERVE, PAGE_NOACCESS)) {
      regions_.push_back(taken);
    }
  }
}

ThreadRoomTaken::~ThreadRoomTaken() {
  for (void* region : regions_) VirtualFree(region, 0, MEM_RELEASE);
}

bool ThreadRoomTaken::holds() const {
  HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
  if (thread == nullptr) return true;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return false;
}

// ---- Files ----

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
}

std::string ReadBytes(const std::string& path) { return ReadWholeFile(path); }

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- The drive taken away under the update ----

namespace {

std::string UnixDrivePath(int number) {
  const char* prefix = std::getenv("WINEPREFIX");
  return std::string(prefix != nullptr ? prefix : "") + "/dosdevices/physicaldrive" +
         std::to_string(number);
}

std::string ZPath(const std::string& unixPath) { return "Z:" + unixPath; }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a shell command as a Linux process. The update holds the drive's file
// with exclusive sharing, which Wine enforces on every Windows caller; Linux
// itself lets the file be renamed from under the open handle, as the system
// lets a device vanish from under a program that holds it.
bool RunShell(const std::string& command) {
  const std::string done = FullPathOf("e2e-shell-done");
  const std::string unixDone = UnixPathOf(done);
  if (unixDone.empty()) return false;
  DeleteFileA(done.c_str());
  std::string line = "/bin/sh -c \"" + command + " && touch " + Quoted(unixDone) + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Wine starts a Linux program but gives no handle to wait on: the command
  // leaves a file behind when it has done its work.
  if (!CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  const bool ran = WaitUntil([&] { return FileExists(done); }, 5000);
  DeleteFileA(done.c_str());
  return ran;
}

}  // namespace

void UnplugDrive(int number, const std::string& replacement) {
  const std::string drive = UnixDrivePath(number);
  std::string command = "mv " + Quoted(drive) + " " + Quoted(drive + ".unplugged");
  if (!replacement.empty()) command += " && cp " + Quoted(replacement) + " " + Quoted(drive);
  EXPECT_TRUE(RunShell(command)) << command;
}

void ReplugDrive(int number) {
  const std::string drive = ZPath(UnixDrivePath(number));
  const std::string away = drive + ".unplugged";
  if (!FileExists(away)) return;
  DeleteFileA(drive.c_str());
  EXPECT_TRUE(MoveFileA(away.c_str(), drive.c_str())) << away;
}

std::string UnixPathOf(const std::string& path) {
  const std::string full = FullPathOf(path);
  if (full.compare(0, 2, "Z:") != 0) return std::string();
  std::string unixPath = full.substr(2);
  for (char& c : unixPath) {
    if (c == '\\') c = '/';
  }
  return unixPath;
}

std::string FullPathOf(const std::string& name) {
  char full[MAX_PATH] = "";
  GetFullPathNameA(name.c_str(), sizeof full, full, nullptr);
  return full;
}

// ---- Scripts ----

namespace {

std::string Line(int step, const std::string& key, const std::string& value) {
  return "step" + std::to_string(step) + "." + key + "." + value + "\n";
}

// One control: `fields` as "key.value" pairs separated by ';'.
std::string Control(int step, int slot, const std::string& fields) {
  std::string lines;
  size_t at = 0;
  while (at < fields.size()) {
    size_t end = fields.find(';', at);
    if (end == std::string::npos) end = fields.size();
    lines += Line(step, "controls" + std::to_string(slot), fields.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string Label(int step, int slot, int page) {
  return Control(step, slot,
                 "type.1;x.450;y.38;width.110;height.18;value.page " + std::to_string(page));
}

std::string StatusLog(int step, int slot) {
  return Control(step, slot, "type.6;x.212;y.205;width.355;height.100;dest.5345");
}

}  // namespace

std::string RoadScript(const std::vector<std::string>& addresses, const std::string& extra) {
  std::string script = "steps 4\n";
  // Page 1: every kind of control but the push buttons.
  script += Line(1, "title", "Welcome~Step %d of %d") + Line(1, "textboxtop", "1") +
            Line(1, "text", "This wizard brings new firmware to your zAze.") +
            Line(1, "forward", "1");
  script +=
      Label(1, 1, 1) + StatusLog(1, 2) +
      Control(1, 3, "type.2;x.212;y.110;width.160;height.90;selected.1;value.Slow~Fast") +
      Control(1, 4, "type.3;x.380;y.110;width.185;height.22;value.zAze serial") +
      Control(1, 5, "type.7;x.212;y.140;width.160;height.90;selected.0;value.Europe eu~Asia as") +
      Control(1, 6, "type.5;selected.9;value.an action that does nothing");
  int slot = 7;
  for (const std::string& address : addresses) {
    script += Control(1, slot++, "type.5;selected.5;value." + address);
  }
  script += Line(1, "numcontrols", std::to_string(slot - 1));
  // Page 2: the file choice and the maker's site.
  script += Line(2, "title", "Choose the firmware~Step %d of %d") + Line(2, "textboxtop", "1") +
            Line(2, "text", "Pick the firmware image, then press Next.") + Line(2, "back", "1") +
            Line(2, "numcontrols", "5") + Label(2, 1, 2) +
            Control(2, 2, "type.4;x.212;y.110;width.140;height.26;value.Browse for file") +
            Control(2, 3, "type.4;x.360;y.110;width.200;height.26;value." ZEPHLAR_VISIT_CAPTION) +
            Control(2, 4, "type.4;x.212;y.145;width.140;height.26;value.Read me") + StatusLog(2, 5);
  // Page 3: the update starts when Next arrives here.
  script += Line(3, "title", "Updating~Step %d of %d") + Line(3, "back", "1") +
            Line(3, "forward", "1") + Line(3, "numcontrols", "4") + Label(3, 1, 3) +
            Control(3, 2, "type.4;x.212;y.110;width.140;height.26;value.Browse for file") +
            Control(3, 3, "type.5;selected.6") + Control(3, 4, "type.5;selected.6");
  // Page 4: the end.
  script += Line(4, "title", "Done~Step %d of %d") + Line(4, "textboxtop", "1") +
            Line(4, "text", "The zAze has its new firmware.") + Line(4, "back", "1") +
            Line(4, "finish", "1") + Line(4, "numcontrols", "1") + Label(4, 1, 4);
  return script + extra + "end\n";
}

// ---- The fixture ----

void E2eTest::SetUp() {
  WizardFixture::SetUp();
  if (HasFatalFailure()) return;
  scratch_ = ScratchOf();
  {
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.clear();
    barPositions.clear();
    logAtTheEnd = LogView();
  }
  RefusePanels(0);
  ResetLibraryFaults();
  WhenLogged("", nullptr);
  WhenProgressBarMade(nullptr);
  ReleaseProgress();
  DetachDrives();
  AttachDrive(0, OrdinaryDisk());
  AttachDrive(1, ZazeBeforeRepair(kZazeBlocks));
}

void E2eTest::EndWizard() {
  if (thread_ == nullptr) return;
  ReleaseProgress();
  // Whatever a failed test left open is answered the way that ends soonest.
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(thread_, 100) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > 30000) break;
    for (HWND window : TopLevels([](HWND w) { return ClassOf(w) == "#32770"; })) {
      if (IsWizard(window)) {
        PostMessageA(window, WM_CLOSE, 0, 0);
      } else if (!PressButton(window, IDNO) && !PressButton(window, IDCANCEL)) {
        PressButton(window, IDOK);
      }
    }
  }
  if (WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT) {
    ADD_FAILURE() << "the wizard's thread did not end";
    TerminateThread(thread_, 1);
  }
  CloseHandle(thread_);
  thread_ = nullptr;
  // The worker returns from its last message just after the wizard has
  // handled it; give it that moment before the library goes.
  Sleep(100);
}

void E2eTest::TearDown() {
  EndWizard();
  RefusePanels(0);
  DetachDrives();
  if (!drive38_.empty()) DeleteFileA(drive38_.c_str());
  if (!scratch_.empty()) RemoveFilesIn(scratch_);
  WizardFixture::TearDown();
}

void E2eTest::WriteScript(const std::string& text) { WriteBytes("steps.stp", text); }

void E2eTest::OpenWizard(Entry entry) {
  ASSERT_EQ(thread_, nullptr) << "one wizard at a time";
  auto* call = new HostCall{wizard_, wizardHwnd_, running_, entry == kModeless};
  thread_ = CreateThread(nullptr, 0, HostThread, call, 0, nullptr);
  ASSERT_NE(thread_, nullptr);
}

bool E2eTest::WizardEnded(DWORD ms) {
  return thread_ == nullptr || WaitForSingleObject(thread_, ms) == WAIT_OBJECT_0;
}

HWND E2eTest::WaitForShownWizard(DWORD ms) {
  // A modeless wizard is shown before the call that opens it returns; the
  // host sees it open once that call is done.
  HWND wizard = WaitForTopLevel(IsWizard, ms);
  if (wizard != nullptr) WaitForItsThread(wizard, ms);
  return wizard;
}

HWND E2eTest::OpenPastPrompt(Entry entry) {
  HWND wizard = OpenPastPromptOnAnyPage(entry);
  if (wizard != nullptr) {
    EXPECT_TRUE(WaitForPage(wizard, 1));
  }
  return wizard;
}

HWND E2eTest::OpenPastPromptOnAnyPage(Entry entry) {
  OpenWizard(entry);
  HWND prompt = WaitForPrompt();
  if (prompt == nullptr) {
    ADD_FAILURE() << "no device prompt";
    return nullptr;
  }
  EXPECT_TRUE(PressButton(prompt, IDOK));
  HWND wizard = WaitForShownWizard();
  EXPECT_NE(wizard, nullptr) << "the wizard was not shown after the search";
  return wizard;
}

HWND E2eTest::OpenOnFirmwarePage(const std::string& script, Entry entry) {
  WriteScript(script);
  HWND wizard = OpenPastPrompt(entry);
  if (wizard == nullptr) return nullptr;
  if (!ClickWithin(wizard, kNextPoint) || !WaitForPage(wizard, 2)) {
    ADD_FAILURE() << "Next did not lead to the firmware page";
    return nullptr;
  }
  return wizard;
}

HWND E2eTest::OpenWithFirmwareChosen(const std::string& script, const std::string& image,
                                     Entry entry) {
  WriteBytes("firmware.img", image);
  HWND wizard = OpenOnFirmwarePage(script, entry);
  if (wizard == nullptr) return nullptr;
  EXPECT_EQ("The file has been verified as the correct firmware file.",
            ChooseFirmware(wizard, FullPathOf("firmware.img"), "File verified"));
  return wizard;
}

std::string E2eTest::ChooseFirmware(HWND wizard, const std::string& path,
                                    const std::string& caption) {
  EXPECT_TRUE(PressPageButton(wizard, "Browse for file")) << "on page " << PageOnScreen(wizard);
  ChooseInFileDialog(path);
  return AnswerBox(caption);
}

void E2eTest::AttachDrive38(const DiskImage& image) {
  drive38_ = Drive38Path();
  ASSERT_FALSE(drive38_.empty()) << "WINEPREFIX is not set";
  WriteBytes(drive38_, image.Bytes());
}

std::string E2eTest::Drive38Bytes() const { return ReadBytes(drive38_); }
