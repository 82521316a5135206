// The step script that ships, resources/steps.stp: every line is one the
// reader understands, its pages carry the actions in the places where the
// wizard runs them, and every page, opened through the built DLL, fits the
// white panel of the background. Each page shown is saved as a screenshot.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "net/MakerSite.h"
#include "resources/resource.h"
#include "script/StepScript.h"
#include "shell/StepControls.h"
#include "tests/gui/GuiHarness.h"
#include "tests/host/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr char kSourcesAddress[] = "http://www.zephlar.example/firmware/sources.dat";
constexpr int kFetchSources = 5;
constexpr int kStartUpdate = 6;

// The white face of the background, edges included, and where the page's
// texts are drawn.
constexpr RECT kWhiteFace = {206, 32, 571, 311};
constexpr int kTextLeft = 210;
constexpr int kTextRight = 572;
constexpr int kTitleTop = 35;
// Free space between the last line of the text and the first control.
constexpr int kTextGap = 6;

struct Script {
  int32_t count = 0;
  StepTable steps = {};
};

std::unique_ptr<Script> LoadShipped() {
  auto script = std::make_unique<Script>();
  script->count = LoadStepScript(ZEPHLAR_DEFAULT_SCRIPT, script->steps, kStepTableCapacity);
  return script;
}

std::string WithoutLineFeed(const char* text) {
  std::string value(text, strnlen(text, kControlValueSize));
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// A control of the script: its page (1-based) and slot (1-based); 0 when
// there is none.
struct Slot {
  int page = 0;
  int control = 0;
};

template <typename Match>
std::vector<Slot> FindControls(const Script& script, Match match) {
  std::vector<Slot> found;
  for (int page = 1; page <= script.count && page <= kStepTableCapacity; ++page) {
    const WizardStep& step = script.steps[page - 1];
    for (int slot = 1; slot <= step.numcontrols && slot <= kControlsPerStep; ++slot) {
      if (match(step.controls[slot - 1])) found.push_back({page, slot});
    }
  }
  return found;
}

std::vector<Slot> FindActions(const Script& script, int code) {
  return FindControls(script, [code](const StepControl& control) {
    return control.type == kAction && control.selected == code;
  });
}

std::vector<Slot> FindButtons(const Script& script, const char* caption) {
  return FindControls(script, [caption](const StepControl& control) {
    return control.type == kPushButton && WithoutLineFeed(control.value) == caption;
  });
}

TEST(DefaultScript, EveryLineIsOneTheReaderUnderstands) {
  // A mistyped key or a comment that begins with "step" is skipped or
  // misread without a word; this catches both.
  const std::regex count("steps [1-9][0-9]*");
  const std::regex page(
      "step([1-9]|10)\\.(title|numcontrols|runOldWindows|textboxtop|text|back|forward|finish)"
      "\\..*");
  const std::regex control(
      "step([1-9]|10)\\.controls([1-9]|10)\\.(type|dest|selected|x|y|width|height|value)\\..*");
  std::istringstream lines(ReadWholeFile(ZEPHLAR_DEFAULT_SCRIPT));
  std::string line;
  int number = 0;
  bool ended = false;
  bool counted = false;
  while (std::getline(lines, line)) {
    ++number;
    ASSERT_TRUE(line.empty() || line.back() != '\r') << "line " << number << ": CR LF";
    ASSERT_LT(line.size(), 599u) << "line " << number << " is cut by the reader";
    if (line.empty() || line[0] == '#') continue;
    ASSERT_FALSE(ended) << "line " << number << " follows the end line";
    if (line == "end") {
      ended = true;
      continue;
    }
    if (std::regex_match(line, count)) {
      EXPECT_FALSE(counted) << "line " << number << ": a second count";
      counted = true;
      continue;
    }
    EXPECT_TRUE(counted) << "line " << number << " comes before the count";
    EXPECT_TRUE(std::regex_match(line, page) || std::regex_match(line, control))
        << "line " << number << " is not understood: " << line;
    // '%' starts a conversion; only "%%" and a title's "%d" are meant.
    const std::string rest = std::regex_replace(line, std::regex("%%|%d"), "");
    EXPECT_EQ(std::string::npos, rest.find('%')) << "line " << number << ": " << line;
  }
  EXPECT_TRUE(ended) << "no end line";
}

TEST(DefaultScript, PagesCarryTheActionsWhereTheWizardRunsThem) {
  const std::unique_ptr<Script> script = LoadShipped();
  ASSERT_GE(script->count, 4);
  ASSERT_LE(script->count, kStepTableCapacity);
  const auto& steps = script->steps;

  // The first page keeps the Windows check and the device search.
  EXPECT_EQ(0, steps[0].runOldWindows);

  for (int page = 1; page <= script->count; ++page) {
    const WizardStep& step = steps[page - 1];
    EXPECT_GT(strnlen(step.title, kStepTextSize), 1u) << "page " << page;
    EXPECT_EQ(1, step.textboxtop) << "page " << page << " hides its text";
    EXPECT_GT(strnlen(step.text, kStepTextSize), 1u) << "page " << page;
    EXPECT_TRUE(step.numcontrols >= 0 && step.numcontrols <= kControlsPerStep);
    for (int slot = step.numcontrols; slot < kControlsPerStep; ++slot) {
      EXPECT_EQ(0, step.controls[slot].type)
          << "page " << page << " slot " << slot + 1 << " lies beyond numcontrols";
    }
    // Only the last page finishes; every other one lets the user on or back.
    if (page < script->count) {
      EXPECT_EQ(0, step.finish) << "page " << page;
    } else {
      EXPECT_EQ(1, step.finish) << "the last page";
    }
  }

  const std::vector<Slot> fetch = FindActions(*script, kFetchSources);
  ASSERT_EQ(1u, fetch.size());
  const StepControl& fetchControl = steps[fetch[0].page - 1].controls[fetch[0].control - 1];
  EXPECT_EQ(kSourcesAddress, WithoutLineFeed(fetchControl.value));

  // The file page: Next only once a file is verified; Back always.
  const std::vector<Slot> browse = FindButtons(*script, "Browse for file");
  ASSERT_EQ(1u, browse.size());
  const WizardStep& filePage = steps[browse[0].page - 1];
  EXPECT_EQ(0, filePage.forward);
  EXPECT_EQ(1, filePage.back);
  EXPECT_GT(browse[0].page, fetch[0].page);

  // The update starts on arriving at its page with Next, and the page before
  // stays on screen while it runs: that page holds the status log, and the
  // file must have been chosen on or before it.
  const std::vector<Slot> update = FindActions(*script, kStartUpdate);
  ASSERT_EQ(1u, update.size());
  ASSERT_GT(update[0].page, browse[0].page);
  const int runningPage = update[0].page - 1;
  const std::vector<Slot> logs = FindControls(*script, [](const StepControl& control) {
    return control.type == kList && control.dest == IDC_STATUS_LOG;
  });
  ASSERT_EQ(1u, logs.size());
  EXPECT_EQ(runningPage, logs[0].page);
  EXPECT_EQ(1, steps[runningPage - 1].forward);
  // The worker ends on the last page; Back from it must not lead to a
  // second update.
  EXPECT_EQ(0, steps[script->count - 1].back);
  for (int page = update[0].page; page < script->count; ++page) {
    EXPECT_EQ(0, steps[page - 1].back) << "page " << page;
  }

  // The web-site button, where there is one, opens the site only under the
  // library's caption.
  const std::vector<Slot> visit = FindControls(*script, [](const StepControl& control) {
    return control.type == kPushButton && _strnicmp(control.value, "Visit", 5) == 0;
  });
  for (const Slot& slot : visit) {
    EXPECT_EQ(ZEPHLAR_VISIT_CAPTION,
              WithoutLineFeed(steps[slot.page - 1].controls[slot.control - 1].value));
  }
}

// The wizard opened on a copy of the shipped script with a few lines added
// before its end line, so that the walk needs no device and no network.
class DefaultScriptWalk : public WizardFixture {
 protected:
  void SetUp() override {
    WizardFixture::SetUp();
    if (HasFatalFailure()) return;
    shipped_ = LoadShipped();
    ASSERT_GT(shipped_->count, 0);
    const std::vector<Slot> browse = FindButtons(*shipped_, "Browse for file");
    ASSERT_EQ(1u, browse.size());
    filePage_ = browse[0].page;
  }

  // Every page skips the Windows check and the device search (the page a
  // wizard opens on is the one the last one left), and the download asks
  // nothing and fetches nothing.
  std::string WalkLines() const {
    std::string lines;
    for (int page = 1; page <= shipped_->count; ++page) {
      lines += "step" + std::to_string(page) + ".runOldWindows.1\n";
    }
    for (const Slot& slot : FindActions(*shipped_, kFetchSources)) {
      lines += ControlLine(slot, "selected.0");
    }
    return lines;
  }

  static std::string ControlLine(const Slot& slot, const std::string& field) {
    return "step" + std::to_string(slot.page) + ".controls" + std::to_string(slot.control) + "." +
           field + "\n";
  }

  void OpenWith(const std::string& lines) {
    wizard_ = OpenOn(ShippedScriptWith(lines));
    ASSERT_NE(wizard_, nullptr);
    ASSERT_TRUE(IsWindowVisible(wizard_));
  }

  // Checks page `page` as shown and saves its screenshot.
  void ExpectPageShown(int page) {
    SCOPED_TRACE("page " + std::to_string(page));
    const WizardStep& step = shipped_->steps[page - 1];
    const std::vector<ChildInfo> children = VisibleChildren(wizard_);
    ExpectChildrenOf(step, children);
    ExpectTextsFit(step, children);
    ExpectNavigation(step);
    CreateDirectoryA(ZEPHLAR_SCREENSHOT_DIR, nullptr);
    const std::string path = std::string(ZEPHLAR_SCREENSHOT_DIR) + "/default_script_page" +
                             std::to_string(page) + ".bmp";
    EXPECT_TRUE(SaveWindowBmp(wizard_, path)) << path;
    SaveWithSampleLog(page, children);
    // Each page looks different from the one before it.
    const Capture shot = CaptureClient(wizard_);
    EXPECT_NE(shot.pixels, lastShot_.pixels) << "the page did not change";
    lastShot_ = shot;
  }

  // The status log, where the page has one, holds lines like an update's,
  // enough of them to be read, and the page is saved again with them.
  void SaveWithSampleLog(int page, const std::vector<ChildInfo>& children) {
    static const char* const kLines[] = {
        "    <Checking partition information...>",
        "Opened zaze_pm.txt successfully, dumping "
        "partition map:",
        "Found firmware on zAze!",
        "The size of the partition is 33524224 bytes.",
        "Updating firmware with file \"C:\\zAze\\firmware.bin\"...",
        "Firmware verified.",
        "Updated firmware!"};
    for (const ChildInfo& child : children) {
      if (child.id != IDC_STATUS_LOG) continue;
      for (const char* line : kLines) {
        SendMessageA(child.window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
      }
      const auto lineHeight = static_cast<int>(SendMessageA(child.window, LB_GETITEMHEIGHT, 0, 0));
      EXPECT_GE((child.rect.bottom - child.rect.top) / (lineHeight > 0 ? lineHeight : 1), 5)
          << "the status log shows too few lines";
      const std::string path = std::string(ZEPHLAR_SCREENSHOT_DIR) + "/default_script_page" +
                               std::to_string(page) + "_log.bmp";
      EXPECT_TRUE(SaveWindowBmp(wizard_, path)) << path;
    }
  }

  // The page's windows are those of its controls, in slot order.
  static void ExpectChildrenOf(const WizardStep& step, const std::vector<ChildInfo>& children) {
    std::vector<const StepControl*> windowed;
    for (int slot = 0; slot < step.numcontrols; ++slot) {
      const StepControl& control = step.controls[slot];
      if (control.type >= kLabel && control.type <= kPairedDropList && control.type != kAction) {
        windowed.push_back(&control);
      }
    }
    ASSERT_EQ(windowed.size(), children.size());
    for (size_t i = 0; i < children.size(); ++i) {
      EXPECT_EQ(windowed[i]->x, children[i].rect.left);
      EXPECT_EQ(windowed[i]->y, children[i].rect.top);
    }
  }

  void ExpectTextsFit(const WizardStep& step, const std::vector<ChildInfo>& children) {
    HDC dc = GetDC(wizard_);
    // The title breaks only at its line feeds and is cut with an ellipsis.
    const RECT title = Measure(dc, step.title, 19, 800, 0);
    EXPECT_LE(title.right, kTextRight) << "the title is cut: " << step.title;
    const RECT text = Measure(dc, step.text, 17, 0, DT_WORDBREAK, title.bottom - title.top);
    EXPECT_LE(text.bottom, kWhiteFace.bottom - kTextGap) << "the text runs off the panel";

    for (const ChildInfo& child : children) {
      SCOPED_TRACE(child.windowClass + " \"" + child.text + "\"");
      EXPECT_GE(child.rect.left, kWhiteFace.left);
      EXPECT_GE(child.rect.top, kWhiteFace.top);
      EXPECT_LE(child.rect.right, kWhiteFace.right);
      EXPECT_LE(child.rect.bottom, kWhiteFace.bottom);
      EXPECT_GE(child.rect.top, text.bottom + kTextGap) << "the control covers the text";
      ExpectCaptionFits(dc, child);
    }
    ReleaseDC(wizard_, dc);
  }

  // The extent of `text` drawn from the page's text origin, `below` pixels
  // under the title's top, in Arial as the page paints it.
  static RECT Measure(HDC dc, const char* text, int height, int weight, UINT format,
                      int below = 0) {
    LOGFONTA description;
    std::memset(&description, 0, sizeof description);
    description.lfHeight = height;
    description.lfWeight = weight;
    std::strcpy(description.lfFaceName, "Arial");
    HFONT font = CreateFontIndirectA(&description);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT rect = {kTextLeft, kTitleTop + below, kTextRight, kTitleTop + below + 1000};
    DrawTextA(dc, text, static_cast<int>(strnlen(text, kStepTextSize)), &rect,
              format | DT_CALCRECT);
    SelectObject(dc, previous);
    DeleteObject(font);
    return rect;
  }

  // Captions and labels are drawn in the control's own font (the system's,
  // since the controls get none) and must fit their window.
  static void ExpectCaptionFits(HDC dc, const ChildInfo& child) {
    if (child.windowClass != "Button" && child.windowClass != "Static") return;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(child.window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    const int width = child.rect.right - child.rect.left;
    const int height = child.rect.bottom - child.rect.top;
    const bool button = child.windowClass == "Button";
    RECT rect = {0, 0, button ? width - 8 : width, 1000};
    DrawTextA(dc, child.text.c_str(), static_cast<int>(child.text.size()), &rect,
              DT_CALCRECT | (button ? DT_SINGLELINE : DT_WORDBREAK));
    EXPECT_LE(rect.right, button ? width - 8 : width) << "the caption is cut";
    EXPECT_LE(rect.bottom, button ? height - 6 : height) << "the caption is cut";
    SelectObject(dc, previous);
  }

  // The drawn Back and Next buttons show the page's flags; Next reads OK on
  // the finish page.
  void ExpectNavigation(const WizardStep& step) {
    const char* next = step.finish == 1    ? "OK normal"
                       : step.forward == 1 ? "Next normal"
                                           : "Next disabled";
    EXPECT_EQ(std::string("Back ") + (step.back == 1 ? "normal, " : "disabled, ") + next +
                  ", Cancel normal",
              DrawnButtons(dll_, wizard_));
  }

  std::unique_ptr<Script> shipped_;
  int filePage_ = 0;  // the page with the Browse button
  HWND wizard_ = nullptr;
  Capture lastShot_;
};

TEST_F(DefaultScriptWalk, PagesUpToTheFileChoiceFitAndGoBackAndForth) {
  OpenWith(WalkLines());
  if (HasFatalFailure()) return;
  for (int page = 1; page <= filePage_; ++page) {
    if (page > 1) Click(wizard_, kNextPoint);
    ExpectPageShown(page);
    if (HasFatalFailure()) return;
  }
  // Without a verified file, Next stays on the file page.
  Click(wizard_, kNextPoint);
  EXPECT_EQ(1u, VisibleChildren(wizard_).size());
  EXPECT_EQ("Browse for file", VisibleChildren(wizard_).at(0).text);

  // Back all the way, through the same pages.
  for (int page = filePage_ - 1; page >= 1; --page) {
    ASSERT_EQ(1, shipped_->steps[page].back) << "page " << page + 1 << " has no Back";
    Click(wizard_, kBackPoint);
    SCOPED_TRACE("back on page " + std::to_string(page));
    ExpectChildrenOf(shipped_->steps[page - 1], VisibleChildren(wizard_));
    ExpectNavigation(shipped_->steps[page - 1]);
  }
  Click(wizard_, CancelPoint(wizard_));
  EXPECT_EQ(0, running_());
}

TEST_F(DefaultScriptWalk, PagesFromTheFileChoiceToTheEndFitAndOkCloses) {
  // As after a verified file, and with the update left out: arriving on its
  // page then moves on as any Next does.
  std::string lines = WalkLines() + "step" + std::to_string(filePage_) + ".forward.1\n";
  for (const Slot& slot : FindActions(*shipped_, kStartUpdate)) {
    lines += ControlLine(slot, "selected.0");
  }
  OpenWith(lines);
  if (HasFatalFailure()) return;

  PageAfter(wizard_, kNextPoint, filePage_ - 1);
  for (int page = filePage_ + 1; page <= shipped_->count; ++page) {
    Click(wizard_, kNextPoint);
    ExpectPageShown(page);
    if (HasFatalFailure()) return;
  }
  // No Back from the last page; OK closes the wizard.
  Click(wizard_, kBackPoint);
  EXPECT_EQ(1, running_());
  ExpectChildrenOf(shipped_->steps[shipped_->count - 1], VisibleChildren(wizard_));
  Click(wizard_, kNextPoint);
  EXPECT_EQ(0, running_());
  EXPECT_TRUE(FindWizards().empty());
}

}  // namespace
