#include "tests/gui/GuiHarness.h"

#include <cstdio>
#include <cstring>

#include "resources/resource.h"
#include "tests/support/TestFiles.h"

static BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
  auto* found = reinterpret_cast<std::vector<HWND>*>(lParam);
  if (IsWindowVisible(child)) found->push_back(child);
  return TRUE;
}

std::vector<ChildInfo> VisibleChildren(HWND wizard) {
  std::vector<HWND> windows;
  EnumChildWindows(wizard, CollectChild, reinterpret_cast<LPARAM>(&windows));
  std::vector<ChildInfo> children;
  for (HWND window : windows) {
    if (GetParent(window) != wizard) continue;  // a combo box's own parts
    ChildInfo info{window, ClassOf(window), AskedText(window), GetDlgCtrlID(window), {}, {}, -1,
                   -1};
    GetWindowRect(window, &info.rect);
    MapWindowPoints(nullptr, wizard, reinterpret_cast<POINT*>(&info.rect), 2);
    if (_stricmp(info.windowClass.c_str(), "ComboBox") == 0) {
      const auto count = static_cast<int>(SendMessageA(window, CB_GETCOUNT, 0, 0));
      for (int i = 0; i < count; ++i) {
        char item[256] = "";
        SendMessageA(window, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        info.items.push_back(item);
      }
      info.selection = static_cast<int>(SendMessageA(window, CB_GETCURSEL, 0, 0));
    } else if (_stricmp(info.windowClass.c_str(), "ListBox") == 0) {
      info.listCount = static_cast<int>(SendMessageA(window, LB_GETCOUNT, 0, 0));
    }
    children.push_back(info);
  }
  return children;
}

std::vector<HWND> FindWizards() { return TopLevels(IsWizard, 0, true); }

HWND WaitForWizard() {
  HWND wizard = nullptr;
  WaitUntil(
      [&] {
        const std::vector<HWND> wizards = FindWizards();
        if (!wizards.empty()) wizard = wizards.front();
        return wizard != nullptr;
      },
      5000);
  return wizard;
}

void PumpMessages() {
  for (int round = 0; round < 3; ++round) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

void Press(HWND wizard, POINT at) {
  SendMessageA(wizard, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
}

void Release(HWND wizard, POINT at) {
  SendMessageA(wizard, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

void Click(HWND wizard, POINT at) {
  Press(wizard, at);
  Release(wizard, at);
}

Capture CaptureClient(HWND wizard) {
  PumpMessages();
  RECT client;
  GetClientRect(wizard, &client);
  HDC dc = GetDC(wizard);
  Capture capture = CaptureDc(dc, 0, 0, client.right, client.bottom);
  ReleaseDC(wizard, dc);
  return capture;
}

bool SaveWindowBmp(HWND window, const std::string& path) {
  PumpMessages();
  return SaveBmp(CaptureWindow(window), path);
}

int DrawnCell(HMODULE dll, const Capture& capture, int stripId, int left, int top) {
  HBITMAP strip = static_cast<HBITMAP>(
      LoadImageA(dll, MAKEINTRESOURCEA(stripId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (strip == nullptr) return -1;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, strip);
  const Capture cells = CaptureDc(memory, 0, 0, 320, 25);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  DeleteObject(strip);
  // Points well inside the pill, away from its clipped rim.
  for (int cell = 0; cell < 4; ++cell) {
    bool same = true;
    for (int y = 6; same && y <= 19; y += 3) {
      for (int x = 8; same && x <= 72; x += 2) {
        same = cells.At(cell * 80 + x, y) == capture.At(left + x, top + y);
      }
    }
    if (same) return cell;
  }
  return -1;
}

std::string DrawnButtons(HMODULE dll, HWND wizard) {
  static const char* const kLooks[] = {"normal", "disabled", "pressed"};
  const Capture page = CaptureClient(wizard);
  auto look = [&](int stripId, int left) -> std::string {
    const int cell = DrawnCell(dll, page, stripId, left, 404);
    return cell >= 0 && cell < 3 ? kLooks[cell] : "?";
  };
  const bool ok = DrawnCell(dll, page, IDB_BTN_OK, 278, 404) >= 0;
  return "Back " + look(IDB_BTN_BACK, 194) + (ok ? ", OK " : ", Next ") +
         look(ok ? IDB_BTN_OK : IDB_BTN_NEXT, 278) + ", Cancel " +
         look(IDB_BTN_CANCEL, CancelPoint(wizard).x - 40);
}

void WizardFixture::SetUp() {
  folder_ = std::make_unique<ScratchFolder>();

  dll_ = LoadLibraryA(ZEPHLAR_DLL_PATH);
  ASSERT_NE(dll_, nullptr) << ZEPHLAR_DLL_PATH;
  wizard_ = reinterpret_cast<ZephlarWizardFunction>(
      reinterpret_cast<void*>(GetProcAddress(dll_, ZEPHLAR_WIZARD_EXPORT)));
  wizardHwnd_ = reinterpret_cast<ZephlarWizardHwndFunction>(
      reinterpret_cast<void*>(GetProcAddress(dll_, ZEPHLAR_WIZARD_HWND_EXPORT)));
  running_ = reinterpret_cast<ZephlarRunningFunction>(
      reinterpret_cast<void*>(GetProcAddress(dll_, ZEPHLAR_RUNNING_EXPORT)));
  ASSERT_TRUE(wizard_ != nullptr && wizardHwnd_ != nullptr && running_ != nullptr);
  // The first window of a program makes Wine start its desktop process, which
  // the program before may have left still shutting down: a refusal then is
  // the desktop's, not the library's, and goes with a moment's wait.
  DWORD error = 0;
  WaitUntil(
      [&] {
        host_ = CreateWindowExA(0, "Static", "host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
        error = GetLastError();
        return host_ != nullptr;
      },
      10000);
  ASSERT_NE(host_, nullptr) << "no window could be made, error " << error;
}

void WizardFixture::TearDown() {
  // The library cannot go while one of its windows is open.
  for (HWND wizard : FindWizards()) SendMessageA(wizard, WM_CLOSE, 0, 0);
  PumpMessages();
  if (host_ != nullptr) DestroyWindow(host_);
  if (dll_ != nullptr) FreeLibrary(dll_);
  folder_.reset();
}

void WizardFixture::WriteScript(const std::string& text) {
  SaveFile("steps.stp", WithoutSearch(text));
}

HWND WizardFixture::OpenModeless() {
  wizardHwnd_(host_);
  const std::vector<HWND> wizards = FindWizards();
  return wizards.empty() ? nullptr : wizards.front();
}

HWND WizardFixture::OpenOn(const std::string& script) {
  WriteScript(script);
  return OpenModeless();
}

int WizardFixture::PageShown(HWND wizard) { return PageOnScreen(wizard); }

int WizardFixture::PageAfter(HWND wizard, POINT at, int clicks) {
  for (int i = 0; i < clicks; ++i) Click(wizard, at);
  return PageShown(wizard);
}
