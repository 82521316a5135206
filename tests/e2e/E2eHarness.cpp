#include "tests/e2e/E2eHarness.h"

#include <gtest/gtest.h>

// After windows.h, which the harness's header brings.
#include <commctrl.h>

#include <cstdlib>

#include "resources/resource.h"
#include "tests/support/TestFiles.h"

namespace {

std::string Drive38Path() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || prefix[0] == '\0') return std::string();
  return std::string("Z:") + prefix + "/dosdevices/physicaldrive38";
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
  const std::string done = FullPath("e2e-shell-done");
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
  const std::string full = FullPath(path);
  if (full.compare(0, 2, "Z:") != 0) return std::string();
  std::string unixPath = full.substr(2);
  for (char& c : unixPath) {
    if (c == '\\') c = '/';
  }
  return unixPath;
}

// ---- The fixture ----

void E2eTest::SetUp() {
  WizardFixture::SetUp();
  if (HasFatalFailure()) return;
  ForgetWhatTheThreadSaw();
  ResetLibraryFaults();
  DetachDrives();
  AttachDrive(0, OrdinaryDisk());
  AttachDrive(1, ZazeBeforeRepair(kZazeBlocks));
}

void E2eTest::EndWizard() {
  if (thread_ == nullptr) return;
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
  WizardFixture::TearDown();
}

void E2eTest::WriteScript(const std::string& text) { SaveFile("steps.stp", text); }

void E2eTest::OpenWizard(Entry entry) {
  ASSERT_EQ(thread_, nullptr) << "one wizard at a time";
  thread_ = StartHostThread({wizard_, wizardHwnd_, running_, entry == kModeless});
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
  SaveFile("firmware.img", image);
  HWND wizard = OpenOnFirmwarePage(script, entry);
  if (wizard == nullptr) return nullptr;
  EXPECT_EQ("The file has been verified as the correct firmware file.",
            ChooseFirmware(wizard, FullPath("firmware.img"), "File verified"));
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
  SaveFile(drive38_, image.Bytes());
}

std::string E2eTest::Drive38Bytes() const { return ReadWholeFile(drive38_); }
