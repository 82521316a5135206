#include "harness/WindowDriver.h"

#include <cstdio>

#include "resources/resource.h"

namespace {

struct TopLevelSearch {
  const WindowMatch* match;
  DWORD process;
  bool hiddenToo;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<TopLevelSearch*>(lParam);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == search->process && (search->hiddenToo || IsWindowVisible(window)) &&
      (*search->match)(window)) {
    search->found.push_back(window);
  }
  return TRUE;
}

bool IsDialog(HWND window) { return ClassOf(window) == "#32770"; }

bool SameCaption(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

}  // namespace

POINT CancelPoint(HWND wizard) {
  RECT client;
  GetClientRect(wizard, &client);
  return {client.right - 142 + 40, 416};
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string WindowText(HWND window) {
  wchar_t wide[1024] = L"";
  const int length = InternalGetWindowText(window, wide, 1024);
  char text[2048] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, length, text, sizeof text - 1, nullptr, nullptr);
  return text;
}

std::string AskedText(HWND window) {
  char text[2048] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::vector<HWND> DirectChildren(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

std::string BoxText(HWND box) {
  std::string best;
  for (HWND child : DirectChildren(box)) {
    if (!SameCaption(ClassOf(child), "Static")) continue;
    const std::string text = WindowText(child);
    if (text.size() > best.size()) best = text;
  }
  return best;
}

std::string ButtonText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool IsWizard(HWND window) {
  return IsDialog(window) && GetDlgItem(window, ID_WIZARD_NEXT) != nullptr;
}

// The panels are frameless popups; boxes and the file dialog have a caption.
bool HasCaption(HWND window) {
  return (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
}

bool IsBox(HWND window) {
  return IsDialog(window) && !IsWizard(window) && HasCaption(window) && !WindowText(window).empty();
}

bool IsCaptionedBox(HWND window, const std::string& caption) {
  return IsBox(window) && WindowText(window) == caption;
}

bool IsPrompt(HWND window) {
  HWND first = GetDlgItem(window, IDOK);
  return IsDialog(window) && !IsWizard(window) && !HasCaption(window) && first != nullptr &&
         IsWindowVisible(first);
}

bool IsProgressWindow(HWND window) {
  HWND first = GetDlgItem(window, IDOK);
  return IsDialog(window) && !IsWizard(window) && !HasCaption(window) && first != nullptr &&
         !IsWindowVisible(first);
}

std::vector<HWND> TopLevels(const WindowMatch& match, DWORD process, bool hiddenToo) {
  TopLevelSearch search{&match, process != 0 ? process : GetCurrentProcessId(), hiddenToo, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FirstTopLevel(const WindowMatch& match, DWORD process, bool hiddenToo) {
  const std::vector<HWND> found = TopLevels(match, process, hiddenToo);
  return found.empty() ? nullptr : found.front();
}

bool WaitUntil(const std::function<bool()>& condition, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(kPollMs);
  }
}

HWND WaitForTopLevel(const WindowMatch& match, DWORD ms, DWORD process) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FirstTopLevel(match, process)) != nullptr; }, ms);
  return found;
}

HWND WaitForBox(const std::string& caption, DWORD ms, DWORD process) {
  return WaitForTopLevel([&](HWND w) { return IsCaptionedBox(w, caption); }, ms, process);
}

bool WaitGone(HWND window, DWORD ms) {
  return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, ms);
}

bool WaitForItsThread(HWND window, DWORD ms) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ms, &result) != 0;
}

int PageOnScreen(HWND wizard) {
  for (HWND child : PageWindows(wizard)) {
    int page = 0;
    if (std::sscanf(WindowText(child).c_str(), "page %d", &page) == 1) return page;
  }
  return 0;
}

std::vector<HWND> PageWindows(HWND wizard) {
  std::vector<HWND> page;
  for (HWND child : DirectChildren(wizard)) {
    if (IsWindowVisible(child)) page.push_back(child);
  }
  return page;
}

HWND PageButton(HWND wizard, const std::string& caption) {
  for (HWND child : PageWindows(wizard)) {
    if (SameCaption(ClassOf(child), "Button") && SameCaption(WindowText(child), caption)) {
      return child;
    }
  }
  return nullptr;
}

HWND StatusLogList(HWND wizard) {
  HWND list = GetDlgItem(wizard, IDC_STATUS_LOG);
  return list != nullptr && IsWindowVisible(list) ? list : nullptr;
}

HWND FileNameField(HWND dialog) {
  // "edt1" in the old-style dialog, the name combo box "cmb13" in the
  // Explorer-style one, which Wine shows although it is not asked for.
  for (int id : {0x480, 0x47c}) {
    HWND field = GetDlgItem(dialog, id);
    if (field != nullptr && IsWindowVisible(field)) return field;
  }
  return nullptr;
}

bool PressButton(HWND dialog, int id) {
  // A message box keeps the buttons it does not use, hidden.
  HWND button = GetDlgItem(dialog, id);
  if (button == nullptr || !IsWindowVisible(button)) return false;
  PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

bool PressPageButton(HWND wizard, const std::string& caption) {
  HWND button = PageButton(wizard, caption);
  if (button == nullptr) return false;
  PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

void PostClick(HWND wizard, POINT at) {
  PostMessageA(wizard, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  PostMessageA(wizard, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

bool PressAndWaitGone(HWND dialog, int id, DWORD ms) {
  return PressButton(dialog, id) && WaitGone(dialog, ms);
}

bool TypeFileName(HWND dialog, const std::string& name) {
  HWND field = FileNameField(dialog);
  DWORD_PTR result = 0;
  // The dialog may be another process's, busy for a moment: a send that
  // cannot hang.
  return field != nullptr &&
         SendMessageTimeoutA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()),
                             SMTO_ABORTIFHUNG, 5000, &result) != 0;
}
