// The button painter and the status log in this process, on windows and
// bitmaps the test makes: this program links the library's window code
// itself, with its own copy of the wizard state.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "device/DeviceUi.h"
#include "shell/DeviceUiWin32.h"
#include "shell/WizardState.h"
#include "skin/SkinButtons.h"

namespace {

// Colour of pixel (x, y) of cell `cell` in strip `strip`: every pixel tells
// where it came from.
COLORREF StripColour(int strip, int cell, int x, int y) {
  return RGB(40 + cell * 60, x * 3, strip * 60 + y);
}
constexpr COLORREF kGround = RGB(1, 2, 3);

// A 32-bit top-down DIB section, painted by `colour(x, y)`; a target is
// selected into a memory context of its own, a strip is left for the painter
// to select.
class Canvas {
 public:
  template <typename Colour>
  Canvas(int width, int height, Colour colour, bool target = true) : width_(width) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<unsigned*>(bits);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const COLORREF c = colour(x, y);
        bits_[y * width + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
      }
    }
    if (!target) return;
    dc_ = CreateCompatibleDC(nullptr);
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    if (dc_ != nullptr) {
      SelectObject(dc_, previous_);
      DeleteDC(dc_);
    }
    DeleteObject(bitmap_);
  }
  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const unsigned p = bits_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }

 private:
  int width_;
  HBITMAP bitmap_;
  unsigned* bits_;
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

Canvas* MakeStrip(int strip) {
  return new Canvas(
      320, 25, [strip](int x, int y) { return StripColour(strip, x / 80, x % 80, y); }, false);
}

// Back, Cancel and Next placed apart on a 400 x 60 target.
constexpr RECT kRects[kButtonCount] = {{10, 10, 0, 0}, {290, 30, 0, 0}, {150, 20, 0, 0}};

// A wizard stand-in: a window with the status log list box as its child.
class GuiSkinAndLog : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 600, 440, nullptr, nullptr, nullptr,
                              nullptr);
    log_ = CreateWindowExA(0, "ListBox", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, parent_,
                           reinterpret_cast<HMENU>(IDC_STATUS_LOG), nullptr, nullptr);
    ASSERT_NE(log_, nullptr);
    WizardWnd = parent_;
    SendSkinNotesToStatusLog();  // as the library does when loaded
    for (int strip = 0; strip < kStripCount; ++strip) {
      canvases_[strip] = MakeStrip(strip);
      strips_[strip] = canvases_[strip]->bitmap();
    }
  }
  void TearDown() override {
    for (Canvas* canvas : canvases_) delete canvas;
    DestroyWindow(parent_);
    WizardWnd = nullptr;
    WizardSteps[0].finish = 0;
  }

  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    const auto count = static_cast<int>(SendMessageA(log_, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char line[200] = "";
      SendMessageA(log_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
      lines.push_back(line);
    }
    return lines;
  }

  HWND parent_ = nullptr;
  HWND log_ = nullptr;
  Canvas* canvases_[kStripCount] = {};
  HBITMAP strips_[kStripCount] = {};
};

TEST_F(GuiSkinAndLog, PaintsEachButtonsCellInsideItsPillAndLeavesNoClip) {
  Canvas target(400, 60, [](int, int) { return kGround; });
  HRGN before = CreateRectRgn(0, 0, 5, 5);  // a clip of the caller's goes too
  SelectClipRgn(target.dc(), before);
  DeleteObject(before);

  const signed char states[kButtonCount] = {kButtonDisabled, kButtonNormal, kButtonPressedLook};
  EXPECT_TRUE(PaintSkinButtons(target.dc(), strips_, states, kRects, true));  // Next shows OK

  const int stripAt[kButtonCount] = {kBackStrip, kCancelStrip, kOkStrip};
  for (int button = 0; button < kButtonCount; ++button) {
    const int l = kRects[button].left;
    const int t = kRects[button].top;
    const int s = states[button];
    SCOPED_TRACE(button);
    EXPECT_EQ(StripColour(stripAt[button], s, 40, 12), target.At(l + 40, t + 12));
    EXPECT_EQ(StripColour(stripAt[button], s, 2, 12), target.At(l + 2, t + 12));
    EXPECT_EQ(StripColour(stripAt[button], s, 77, 12), target.At(l + 77, t + 12));
    EXPECT_EQ(StripColour(stripAt[button], s, 40, 21), target.At(l + 40, t + 21));
    // The band outside the pill and its rounded corners keep the ground (the
    // region's last column and row, 78 and 22, differ between platforms).
    for (POINT off :
         {POINT{1, 12}, POINT{79, 12}, POINT{40, 1}, POINT{40, 23}, POINT{3, 3}, POINT{78, 22}}) {
      EXPECT_EQ(kGround, target.At(l + off.x, t + off.y)) << off.x << "," << off.y;
    }
  }
  HRGN clip = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(0, GetClipRgn(target.dc(), clip));
  DeleteObject(clip);
  EXPECT_TRUE(LogLines().empty());

  // Not finishing: the Next strip in the same place.
  PaintSkinButtons(target.dc(), strips_, states, kRects, false);
  EXPECT_EQ(StripColour(kNextStrip, 2, 40, 12), target.At(190, 32));
}

TEST_F(GuiSkinAndLog, WithoutTheBackStripLogsAndPaintsTheRest) {
  Canvas target(400, 60, [](int, int) { return kGround; });
  HBITMAP strips[kStripCount] = {nullptr, strips_[1], strips_[2], strips_[3]};
  const signed char states[kButtonCount] = {0, 0, 0};
  EXPECT_TRUE(PaintSkinButtons(target.dc(), strips, states, kRects, false));
  EXPECT_EQ(kGround, target.At(50, 22));
  EXPECT_EQ(StripColour(kNextStrip, 0, 40, 12), target.At(190, 32));
  EXPECT_EQ(std::vector<std::string>({"Error GetObject!"}), LogLines());

  EXPECT_FALSE(PaintSkinButtons(reinterpret_cast<HDC>(0x5A5A), strips_, states, kRects, false));
}

struct WorkerLog {
  int32_t result;
  LRESULT countAfter;  // lines in the log when LogStatus had returned
  HWND log;
};

DWORD WINAPI LogFromWorker(void* parameter) {
  auto* work = static_cast<WorkerLog*>(parameter);
  work->result = LogStatus("    <Checking partition information...>\n");
  work->countAfter = SendMessageA(work->log, LB_GETCOUNT, 0, 0);
  return 0;
}

TEST_F(GuiSkinAndLog, StatusLogAddsLinesFromEitherThread) {
  EXPECT_EQ(1, LogStatus("Found zAze Drive at %c!", 'E'));
  EXPECT_EQ(1, LogStatus("two\n\n"));
  EXPECT_EQ(0, LogStatus("%s", ""));

  // The worker's line is added by this thread, which owns the list, and the
  // worker goes on only once it is there.
  WorkerLog work = {0, 0, log_};
  HANDLE worker = CreateThread(nullptr, 0, LogFromWorker, &work, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  while (MsgWaitForMultipleObjects(1, &worker, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  CloseHandle(worker);
  EXPECT_EQ(1, work.result);
  EXPECT_EQ(3, work.countAfter);
  EXPECT_EQ(std::vector<std::string>(
                {"Found zAze Drive at E!", "two\n", "    <Checking partition information...>"}),
            LogLines());

  // Without a log on the page the line is lost, and still counts as handed on.
  DestroyWindow(log_);
  EXPECT_EQ(1, LogStatus("lost"));
}

}  // namespace
