// zephlar.exe as a user runs it: copied with the built library into a
// scratch folder that holds the step script, and started there or from the
// system folder; and started alone, or beside a library that lacks the
// wizard's entry points. Also the built program as a file: what it asks of
// Windows, and what it imports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "shell/Zephlar.h"
#include "tests/gui/GuiHarness.h"
#include "tests/host/ChildProcess.h"
#include "tests/support/PeImage.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr char kHostClass[] = "ZephlarHost";
constexpr DWORD kStartWaitMs = 15000;
constexpr DWORD kExitWaitMs = 10000;

// A label on the first page that proves which script the wizard read.
constexpr char kMarkerLines[] =
    "step1.numcontrols.1\nstep1.controls1.type.1\nstep1.controls1.x.210\n"
    "step1.controls1.y.280\nstep1.controls1.width.200\nstep1.controls1.height.20\n"
    "step1.controls1.value.read from the scratch folder\n";

HWND HostWindowOf(const ChildProgram& program) {
  return FirstTopLevel([](HWND w) { return ClassOf(w) == kHostClass; }, program.id(), true);
}

std::string MarkerTextOf(HWND wizard) {
  HWND child = GetWindow(wizard, GW_CHILD);
  for (; child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string text = WindowText(child);
    if (text.find("scratch folder") != std::string::npos) return text;
  }
  return "";
}

// Starts the program with `arguments` in `folder`, on the shipped script with
// the marker label and no device search; the wizard once it is shown, or
// null.
HWND StartWithoutSearch(ChildProgram& program, ScratchFolder& folder, const char* arguments) {
  if (!SaveFile(folder.PathOf("steps.stp"),
                ShippedScriptWith(std::string(kMarkerLines) + "step1.runOldWindows.1\n")) ||
      !program.Start(CopyProgramInto(folder, ZEPHLAR_DLL_PATH), arguments, folder.path())) {
    return nullptr;
  }
  return WaitForTopLevel(IsWizard, kStartWaitMs, program.id());
}

// Closes what the program opens first: the device-search prompt with its
// Cancel, which closes the wizard too, or the shown wizard with its own.
void CancelWhateverOpens(const ChildProgram& program) {
  HWND opened = WaitForTopLevel([](HWND w) { return IsPrompt(w) || IsWizard(w); }, kStartWaitMs,
                                program.id());
  ASSERT_NE(opened, nullptr) << "neither the wizard nor the device prompt appeared";
  if (IsPrompt(opened)) {
    EXPECT_TRUE(PressButton(opened, IDCANCEL));
  } else {
    Click(opened, CancelPoint(opened));
  }
}

// Started from the system folder, as an elevated prompt or a shortcut
// without a start folder starts it, the program still reads the script
// beside it.
TEST(HostProgram, OpensTheModalWizardOnTheScriptBesideIt) {
  ScratchFolder folder(ScratchFolder::kStayHere);
  ASSERT_TRUE(SaveFile(folder.PathOf("steps.stp"), ShippedScriptWith(kMarkerLines)));
  char system[MAX_PATH] = "";
  ASSERT_NE(0u, GetSystemDirectoryA(system, sizeof system));
  ChildProgram program;
  ASSERT_TRUE(program.Start(CopyProgramInto(folder, ZEPHLAR_DLL_PATH), "", system));

  // The wizard exists, with its first page's controls, from its set-up on,
  // before any device prompt.
  HWND wizard = nullptr;
  WaitUntil(
      [&] {
        wizard = FirstTopLevel([](HWND w) { return IsWizard(w) && !MarkerTextOf(w).empty(); },
                               program.id(), true);
        return wizard != nullptr;
      },
      kStartWaitMs);
  ASSERT_NE(wizard, nullptr);
  EXPECT_EQ("Zephlar", WindowText(wizard));
  EXPECT_EQ(nullptr, GetWindow(wizard, GW_OWNER)) << "the modal wizard has no owner";
  EXPECT_EQ(nullptr, HostWindowOf(program)) << "no host window without /modeless";
  EXPECT_EQ("read from the scratch folder\n", MarkerTextOf(wizard));  // a label keeps its line feed

  CancelWhateverOpens(program);
  EXPECT_EQ(0u, program.ExitCode(kExitWaitMs));
}

TEST(HostProgram, ModelessWizardLivesUnderTheHostWindowUntilItCloses) {
  ScratchFolder folder(ScratchFolder::kStayHere);
  ChildProgram program;
  HWND wizard = StartWithoutSearch(program, folder, "/MODELESS");
  ASSERT_NE(wizard, nullptr);
  HWND host = HostWindowOf(program);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ("Zephlar", WindowText(host));
  EXPECT_TRUE(IsWindowVisible(host));
  EXPECT_EQ(host, GetWindow(wizard, GW_OWNER));
  EXPECT_EQ("read from the scratch folder\n", MarkerTextOf(wizard));  // a label keeps its line feed

  // While the wizard is open the host keeps running; closing the host's own
  // window does not pull the wizard down.
  EXPECT_FALSE(program.HasEnded(400));
  PostMessageA(host, WM_CLOSE, 0, 0);
  EXPECT_FALSE(program.HasEnded(400));
  EXPECT_TRUE(IsWindow(wizard));
  EXPECT_TRUE(IsWindow(host));

  // Closed by its own Cancel, the wizard takes the program with it.
  Click(wizard, CancelPoint(wizard));
  EXPECT_EQ(0u, program.ExitCode(kExitWaitMs));
  EXPECT_FALSE(IsWindow(host));
}

// The screen's dots per inch as Wine reads it when a process starts: set
// for the holder's life, then put back as it was.
class ScreenDpi {
 public:
  explicit ScreenDpi(DWORD dpi) {
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    DWORD size = sizeof old_;
    had_ = RegQueryValueExA(key_, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_),
                            &size) == ERROR_SUCCESS;
    set_ = RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                          sizeof dpi) == ERROR_SUCCESS;
  }
  ~ScreenDpi() {
    if (key_ == nullptr) return;
    if (had_) {
      RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_),
                     sizeof old_);
    } else {
      RegDeleteValueA(key_, "LogPixels");
    }
    RegCloseKey(key_);
  }
  ScreenDpi(const ScreenDpi&) = delete;
  ScreenDpi& operator=(const ScreenDpi&) = delete;
  bool set() const { return set_; }

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 0;
  bool had_ = false;
  bool set_ = false;
};

// Empty when every corner of `r` (window coordinates of `window`, edges
// inside) lies in the window's visible shape.
std::string OutsideTheShape(HWND window, const RECT& r, const std::string& what) {
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  const int kind = GetWindowRgn(window, shape);
  const POINT corners[] = {
      {r.left, r.top}, {r.right - 1, r.top}, {r.left, r.bottom - 1}, {r.right - 1, r.bottom - 1}};
  std::string out;
  for (const POINT& p : corners) {
    if (kind == ERROR || !PtInRegion(shape, p.x, p.y)) {
      out = what + " reaches outside the window's shape at (" + std::to_string(p.x) + ", " +
            std::to_string(p.y) + ")";
      break;
    }
  }
  DeleteObject(shape);
  return out;
}

// A child's rectangle in its dialog's window coordinates.
RECT ChildRect(HWND dialog, int id) {
  RECT r = {}, frame;
  GetWindowRect(GetDlgItem(dialog, id), &r);
  GetWindowRect(dialog, &frame);
  OffsetRect(&r, -frame.left, -frame.top);
  return r;
}

// At 96, 120 and 144 dots per inch the device prompt's buttons and the
// wizard's drawn buttons lie inside the visible shapes, and they work.
TEST(HostProgram, EveryButtonLiesInsideTheShapeAtEachDpi) {
  for (const DWORD dpi : {96u, 120u, 144u}) {
    SCOPED_TRACE(std::to_string(dpi) + " dots per inch");
    ScreenDpi screen(dpi);
    ASSERT_TRUE(screen.set());

    // The device search first: its prompt, then Cancel, which ends it all.
    ScratchFolder searching(ScratchFolder::kStayHere);
    ASSERT_TRUE(SaveFile(searching.PathOf("steps.stp"), ShippedScriptWith("")));
    ChildProgram first;
    ASSERT_TRUE(first.Start(CopyProgramInto(searching, ZEPHLAR_DLL_PATH), "", searching.path()));
    HWND prompt = WaitForTopLevel(IsPrompt, kStartWaitMs, first.id());
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ("", OutsideTheShape(prompt, ChildRect(prompt, IDOK), "Continue"));
    EXPECT_EQ("", OutsideTheShape(prompt, ChildRect(prompt, IDCANCEL), "Cancel"));
    EXPECT_TRUE(PressButton(prompt, IDCANCEL));
    EXPECT_EQ(0u, first.ExitCode(kExitWaitMs));

    // The wizard without a search: Next, Back and Cancel where they are drawn.
    ScratchFolder folder(ScratchFolder::kStayHere);
    ChildProgram program;
    HWND wizard = StartWithoutSearch(program, folder, "");
    ASSERT_NE(wizard, nullptr);
    const POINT cancel = CancelPoint(wizard);
    const RECT buttons[] = {
        {194, 404, 275, 430}, {278, 404, 359, 430}, {cancel.x - 40, 404, cancel.x + 41, 430}};
    const char* names[] = {"Back", "Next", "Cancel"};
    for (int i = 0; i < 3; ++i) EXPECT_EQ("", OutsideTheShape(wizard, buttons[i], names[i]));
    Click(wizard, kNextPoint);
    EXPECT_TRUE(MarkerTextOf(wizard).empty()) << "Next did not leave the first page";
    Click(wizard, kBackPoint);
    EXPECT_FALSE(MarkerTextOf(wizard).empty()) << "Back did not come back to the first page";
    Click(wizard, cancel);
    EXPECT_EQ(0u, program.ExitCode(kExitWaitMs)) << "Cancel did not close the wizard";
  }
}

TEST(HostProgram, ModelessProgramEndsWhenTheWizardClosesAtOnce) {
  // The shipped script: the device prompt comes first where the search runs,
  // and cancelling it closes the wizard during its opening.
  ScratchFolder folder(ScratchFolder::kStayHere);
  ASSERT_TRUE(CopyInto(folder, ZEPHLAR_DEFAULT_SCRIPT, "steps.stp"));
  ChildProgram program;
  ASSERT_TRUE(program.Start(CopyProgramInto(folder, ZEPHLAR_DLL_PATH), "/modeless", folder.path()));
  CancelWhateverOpens(program);
  EXPECT_EQ(0u, program.ExitCode(kExitWaitMs));
}

// The text of the first message box the program shows, which is then
// acknowledged with OK; empty when none appears.
std::string AcknowledgeMessage(const ChildProgram& program) {
  HWND box = WaitForTopLevel([](HWND w) { return IsBox(w); }, kStartWaitMs, program.id());
  if (box == nullptr) return "";
  const std::string text = BoxText(box);
  EXPECT_EQ("Zephlar", WindowText(box));
  EXPECT_EQ(nullptr, FirstTopLevel(IsWizard, program.id(), true));
  EXPECT_TRUE(PressButton(box, IDOK));
  return text;
}

// Starts zephlar.exe copied into `folder` with the shipped script, beside
// `library` when that is set; acknowledges its message and checks that the
// program then fails without a host window. The message's text.
std::string MessageOfABadLibrary(ScratchFolder& folder, const char* library,
                                 const char* arguments) {
  ChildProgram program;
  const std::string copy = CopyProgramInto(folder, library);
  if (copy.empty() || !CopyInto(folder, ZEPHLAR_DEFAULT_SCRIPT, "steps.stp") ||
      !program.Start(copy, arguments, folder.path())) {
    ADD_FAILURE() << "zephlar.exe did not start in " << folder.path();
    return "";
  }
  const std::string text = AcknowledgeMessage(program);
  const DWORD code = program.ExitCode(kExitWaitMs);
  EXPECT_NE(STILL_ACTIVE, code);
  EXPECT_NE(0u, code);
  EXPECT_EQ(nullptr, HostWindowOf(program));
  return text;
}

TEST(HostProgramErrors, MissingLibraryIsNamedInAMessage) {
  ScratchFolder folder(ScratchFolder::kStayHere);
  const std::string text = MessageOfABadLibrary(folder, nullptr, "");
  EXPECT_NE(std::string::npos, text.find("zephlardll.dll is missing")) << text;
  EXPECT_NE(std::string::npos, text.find(folder.path() + "\\zephlardll.dll")) << text;
  EXPECT_NE(std::string::npos, text.find("Unpack the whole Zephlar archive")) << text;
}

TEST(HostProgramErrors, LibraryWithoutTheWizardEntryPointsIsNamedInAMessage) {
  ScratchFolder folder(ScratchFolder::kStayHere);
  // The stand-in offers `running` only: the message names the other two.
  const std::string text = MessageOfABadLibrary(folder, ZEPHLAR_STAND_IN_DLL_PATH, "/modeless");
  EXPECT_NE(std::string::npos, text.find("is not the library this zephlar.exe needs")) << text;
  EXPECT_NE(std::string::npos, text.find(ZEPHLAR_WIZARD_EXPORT)) << text;
  EXPECT_NE(std::string::npos, text.find(ZEPHLAR_WIZARD_HWND_EXPORT)) << text;
  EXPECT_EQ(std::string::npos, text.find(ZEPHLAR_RUNNING_EXPORT)) << text;
}

// The program as a file.

// What the program imports beyond the library's list: its own window, its
// message loop and the loading of the library, and the C runtime's start-up
// of a program. Each is documented for Windows 2000 (msvcrt.dll 6.1 for the
// runtime).
const std::set<std::string> kHostOnlyImports = {
    "kernel32.dll!GetCurrentThreadId",
    "kernel32.dll!GetFileAttributesA",
    "kernel32.dll!GetModuleFileNameA",
    "kernel32.dll!GetStartupInfoA",
    "kernel32.dll!SetCurrentDirectoryA",
    "kernel32.dll!SetUnhandledExceptionFilter",
    "kernel32.dll!WideCharToMultiByte",
    "user32.dll!DefWindowProcA",
    "user32.dll!GetClassNameA",
    "user32.dll!GetWindow",
    "user32.dll!InflateRect",
    "user32.dll!DispatchMessageA",
    "user32.dll!EnumThreadWindows",
    "user32.dll!GetMessageA",
    "user32.dll!LoadCursorA",
    "user32.dll!LoadIconA",
    "user32.dll!PostQuitMessage",
    "user32.dll!RegisterClassA",
    "user32.dll!SetForegroundWindow",
    "user32.dll!TranslateMessage",
    "msvcrt.dll!__getmainargs",
    "msvcrt.dll!__initenv",
    "msvcrt.dll!__p__acmdln",
    "msvcrt.dll!__p__commode",
    "msvcrt.dll!__p__fmode",
    "msvcrt.dll!__set_app_type",
    "msvcrt.dll!__setusermatherr",
    "msvcrt.dll!_cexit",
    "msvcrt.dll!_onexit",
    "msvcrt.dll!fprintf",
    "msvcrt.dll!signal",
    "msvcrt.dll!strcmp",
    "msvcrt.dll!strrchr",
    "msvcrt.dll!_strnicmp",
    "msvcrt.dll!exit",
};

TEST(HostImage, IsAWindows2000GuiProgramWithReviewedImports) {
  const PeImage image = ReadPeImage(ReadWholeFile(ZEPHLAR_HOST_PATH));
  ASSERT_TRUE(image.valid) << image.error;
  EXPECT_EQ(image.machine, 0x14C);        // i386
  EXPECT_EQ(image.optionalMagic, 0x10B);  // PE32
  EXPECT_EQ(image.characteristics & 0x2000, 0) << "a program, not a DLL";
  EXPECT_EQ(image.subsystem, 2) << "Windows GUI, no console window";
  EXPECT_LE(image.majorSubsystemVersion * 100 + image.minorSubsystemVersion, 500);
  EXPECT_LE(image.majorOsVersion * 100 + image.minorOsVersion, 500);
  EXPECT_EQ(image.delayImportSize, 0u);

  const std::set<std::string> library =
      ParseImportAllowList(ReadWholeFile(ZEPHLAR_IMPORT_ALLOW_LIST)).entries;
  ASSERT_FALSE(library.empty());
  const std::set<std::string> systemDlls = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                            "msvcrt.dll"};
  for (const PeImport& import : image.imports) {
    const std::string key = Lower(import.dll) + "!" + import.function;
    EXPECT_TRUE(systemDlls.count(Lower(import.dll))) << import.dll;
    EXPECT_TRUE(library.count(key) || kHostOnlyImports.count(key))
        << key << " is imported but reviewed for neither the library nor the program";
    EXPECT_NE(Lower(import.dll), "zephlardll.dll") << "the library is loaded at run time";
  }
}

TEST(HostImage, ManifestAsksForAdministratorAndCommonControls6) {
  HMODULE image =
      LoadLibraryExA(FullPath(ZEPHLAR_HOST_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr) << "no manifest of id 1";
  const char* data = static_cast<const char*>(LockResource(LoadResource(image, found)));
  const std::string manifest(data, SizeofResource(image, found));
  EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
  EXPECT_NE(std::string::npos, manifest.find("urn:schemas-microsoft-com:asm.v2"));
  EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\""));
  EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
  EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)), nullptr)
      << "the program's icon";
  FreeLibrary(image);
}

}  // namespace
