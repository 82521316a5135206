#include "harness/RoadWalker.h"

#include "harness/Screenshot.h"

namespace {

constexpr DWORD kSettleMs = 300;    // for the display to show what was painted
constexpr DWORD kBoxGoneMs = 5000;  // for an answered box to go
constexpr char kBrowse[] = "Browse for file";
constexpr char kQuestion[] = "Zephlar Internet Connection";
constexpr char kVerified[] = "File verified";
// The page's panel, where its title, text and controls are drawn.
constexpr RECT kPanelArea = {206, 32, 571, 311};

bool IsVerdict(HWND window) {
  return IsCaptionedBox(window, kVerified) || IsCaptionedBox(window, "Error");
}

}  // namespace

unsigned PanelPrint(HWND wizard) {
  POINT corner = {kPanelArea.left, kPanelArea.top};
  ClientToScreen(wizard, &corner);
  const RECT area = {corner.x, corner.y, corner.x + kPanelArea.right - kPanelArea.left,
                     corner.y + kPanelArea.bottom - kPanelArea.top};
  return PixelPrint(CaptureScreen(area));
}

RoadWalker::RoadWalker(DWORD process, const std::string& firmware, DWORD timeoutMs,
                       RoadWatcher& watcher)
    : process_(process),
      firmware_(firmware),
      timeoutMs_(timeoutMs),
      deadline_(GetTickCount() + timeoutMs),
      watcher_(watcher),
      picture_(process) {
  if (process != 0) program_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, process);
}

RoadWalker::~RoadWalker() {
  if (program_ != nullptr) CloseHandle(program_);
}

bool RoadWalker::Walk() {
  if (PassPrompt() == nullptr) return false;
  for (;;) {
    HWND wizard = FirstTopLevel(IsWizard, process_);
    if (wizard == nullptr) return Fail("the wizard window is gone");
    Settle(wizard);
    watcher_.At(RoadStop::kPage, wizard, ++page_);
    if (!chosen_ && PageButton(wizard, kBrowse) != nullptr && !ChooseFirmware(wizard)) {
      return false;
    }
    const After after = Next(wizard);
    if (after != After::kNewPage) return after == After::kEnded;
  }
}

HWND RoadWalker::PassPrompt() {
  HWND prompt = WaitFor("the device prompt", IsPrompt);
  if (prompt == nullptr) return nullptr;
  Settle(prompt);
  watcher_.At(RoadStop::kPrompt, prompt, page_);
  watcher_.Say("device prompt: pressing \"" + ButtonText(prompt, IDOK) + "\"");
  PressButton(prompt, IDOK);
  // The search runs on the wizard's thread; then the wizard is shown, or the
  // prompt comes again with Retry.
  const std::string what = "the wizard after the device search";
  watcher_.Say("waiting for " + what);
  for (;;) {
    if (HWND wizard = FirstTopLevel(IsWizard, process_)) return wizard;
    HWND again = FirstTopLevel(IsPrompt, process_);
    if (again != nullptr && ButtonText(again, IDOK) == "Retry") {
      Settle(again);
      watcher_.At(RoadStop::kPrompt, again, page_);
      Fail("the zAze was not found: the device prompt came back with Retry");
      return nullptr;
    }
    if (!InTime(what)) return nullptr;
    Sleep(kPollMs);
  }
}

bool RoadWalker::ChooseFirmware(HWND wizard) {
  watcher_.Say(std::string("pressing \"") + kBrowse + "\"");
  if (!PressPageButton(wizard, kBrowse)) return Fail("the page shows no \"Browse for file\"");
  HWND dialog =
      WaitFor("the file dialog \"Open\"", [](HWND w) { return IsCaptionedBox(w, "Open"); });
  if (dialog == nullptr) return false;
  Settle(dialog);
  watcher_.Say("file dialog: typing " + firmware_);
  if (!TypeFileName(dialog, firmware_)) return Fail("the file dialog has no file name field");
  Settle(dialog);
  watcher_.At(RoadStop::kFileDialog, dialog, page_);
  watcher_.Say("file dialog: pressing Open");
  PressButton(dialog, IDOK);
  HWND verdict = WaitFor("the box \"File verified\"", IsVerdict);
  if (verdict == nullptr || !Answer(verdict)) return false;
  if (boxes_.back().caption != kVerified) return Fail("the firmware file was refused");
  chosen_ = true;
  Settle(wizard);
  watcher_.At(RoadStop::kFirmwareChosen, wizard, page_);
  return true;
}

// Next, and whatever it leads to answered or waited out, up to another page
// on screen or the wizard's end. The page left stays on screen under the
// progress window while the update runs, and changes when it is over.
RoadWalker::After RoadWalker::Next(HWND wizard) {
  const unsigned before = PanelPrint(wizard);
  const std::vector<HWND> controlsBefore = PageWindows(wizard);
  unsigned last = before;
  std::vector<HWND> lastControls = controlsBefore;
  watcher_.Say("pressing Next");
  PostClick(wizard, kNextPoint);
  const std::string what = "what Next on page " + std::to_string(page_) + " leads to";
  watcher_.Say("waiting for " + what);
  for (;;) {
    if (AnswerStrayBoxes(nullptr)) {
      if (!failure_.empty()) return After::kFailed;
      continue;
    }
    if (!updated_ && picture_.Held()) {
      watcher_.At(RoadStop::kProgress, FirstTopLevel(IsProgressWindow, process_), page_);
      picture_.Release();
      updated_ = true;
      continue;
    }
    // Without a hook in the wizard's process the copy's end is never held:
    // the progress window seen is then the sign that the update ran.
    const bool progressShown = FirstTopLevel(IsProgressWindow, process_) != nullptr;
    if (progressShown) progressSeen_ = true;
    HWND shown = FirstTopLevel(IsWizard, process_);
    if (shown == nullptr) {
      if (chosen_ && (updated_ || progressSeen_)) return After::kEnded;
      Fail("the wizard closed before the update had run");
      return After::kFailed;
    }
    // Another page is on screen once the panel has changed and stays so,
    // with nothing in front of it. Each page makes its own windows; a page
    // without any is told by its drawing alone (lines added to a status log
    // change the drawing of the same page).
    // A thread busy with the download answers nothing and paints nothing:
    // what the screen shows then is no page.
    if (!progressShown && WaitForItsThread(shown, 200)) {
      const unsigned now = PanelPrint(shown);
      const std::vector<HWND> controls = PageWindows(shown);
      const bool other = controls != controlsBefore || (controls.empty() && now != before);
      if (other && now == last && controls == lastControls &&
          FirstTopLevel(IsBox, process_) == nullptr) {
        return After::kNewPage;
      }
      last = now;
      lastControls = controls;
    }
    if (!InTime(what)) return After::kFailed;
    Sleep(kPollMs);
  }
}

bool RoadWalker::Answer(HWND box) {
  AnsweredBox answered = {WindowText(box), BoxText(box), "OK"};
  int id = IDOK;
  HWND ok = GetDlgItem(box, IDOK);  // a box keeps the buttons it does not use, hidden
  if (answered.caption == kQuestion || ok == nullptr || !IsWindowVisible(ok)) {
    answered.answer = "Yes";
    id = IDYES;
  }
  Settle(box);
  watcher_.At(RoadStop::kBox, box, page_);
  boxes_.push_back(answered);
  watcher_.Say("box \"" + answered.caption + "\": \"" + answered.text + "\" -> " + answered.answer);
  if (!PressAndWaitGone(box, id, kBoxGoneMs)) {
    return Fail("the box \"" + answered.caption + "\" did not go with " + answered.answer);
  }
  return true;
}

// Every box but the file dialog and those `expected` accepts; true when there
// was one.
bool RoadWalker::AnswerStrayBoxes(const WindowMatch& expected) {
  bool answered = false;
  for (HWND box : TopLevels(IsBox, process_)) {
    if ((expected && expected(box)) || WindowText(box) == "Open") continue;
    answered = true;
    if (!Answer(box)) break;
  }
  return answered;
}

HWND RoadWalker::WaitFor(const std::string& what, const WindowMatch& match) {
  watcher_.Say("waiting for " + what);
  for (;;) {
    if (HWND found = FirstTopLevel(match, process_)) return found;
    AnswerStrayBoxes(match);
    if (!failure_.empty() || !InTime(what)) return nullptr;
    Sleep(kPollMs);
  }
}

// Until the window's thread has handled what was sent before, and the
// display has shown what it painted.
void RoadWalker::Settle(HWND window) const {
  WaitForItsThread(window, 2000);
  Sleep(kSettleMs);
}

bool RoadWalker::InTime(const std::string& what) {
  if (static_cast<LONG>(GetTickCount() - deadline_) > 0) {
    return Fail("timed out after " + std::to_string(timeoutMs_ / 1000) + " s waiting for " + what);
  }
  DWORD code = 0;
  if (program_ != nullptr && WaitForSingleObject(program_, 0) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(program_, &code)) {
    return Fail("the wizard's program ended (exit code " + std::to_string(code) +
                ") while the walk waited for " + what);
  }
  return true;
}

bool RoadWalker::Fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
  return false;
}
