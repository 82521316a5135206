#include "cli/TerminalUi.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "device/DeviceUi.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBarWidth = 30;
constexpr double kRedrawSeconds = 0.25;

struct Bar {
  bool shown = false;  // between create and destroy
  bool drawn = false;  // the terminal's last line is the bar
  int32_t minimum = 0;
  int32_t maximum = 0;
  int32_t position = 0;
  int lastPercent = -1;
  Clock::time_point start;
  Clock::time_point lastDraw;
};

struct Held {
  bool box;
  std::string text;
};

struct Ui {
  bool terminal = false;  // standard error is a terminal
  uint32_t stepBytes = 0;
  bool keeping = false;
  std::vector<Held> held;
  Bar bar;
};

Ui& State() {
  static Ui ui;
  return ui;
}

double Since(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// "  12.3 MB/s  0:04 left", as far as it can be told yet.
void Pace(const Ui& ui, int32_t done, int32_t steps, char (&pace)[64]) {
  pace[0] = '\0';
  const double seconds = Since(ui.bar.start);
  if (done <= 0 || seconds <= 0) return;
  int used = 0;
  if (ui.stepBytes > 0) {
    used = std::snprintf(pace, sizeof pace, "  %.1f MB/s",
                         done * double(ui.stepBytes) / seconds / 1e6);
    if (used < 0 || used >= static_cast<int>(sizeof pace)) return;
  }
  if (done < steps) {
    const long left = static_cast<long>(seconds * (steps - done) / done + 0.5);
    std::snprintf(pace + used, sizeof pace - used, "  %ld:%02ld left", left / 60, left % 60);
  }
}

void DrawBar(Ui& ui, bool always) {
  const Bar& bar = ui.bar;
  const int32_t steps = bar.maximum > bar.minimum ? bar.maximum - bar.minimum : 0;
  int32_t done = bar.position - bar.minimum;
  done = done < 0 ? 0 : done > steps ? steps : done;
  const int percent = steps > 0 ? static_cast<int>(int64_t{done} * 100 / steps) : 100;
  char pace[64];
  if (ui.terminal) {
    if (!always && percent == bar.lastPercent && Since(bar.lastDraw) < kRedrawSeconds) return;
    char filled[kBarWidth + 1];
    const int full = percent * kBarWidth / 100;
    for (int i = 0; i < kBarWidth; ++i) filled[i] = i < full ? '#' : '.';
    filled[kBarWidth] = '\0';
    Pace(ui, done, steps, pace);
    std::fprintf(stderr, "\r[%s] %3d%%%s\033[K", filled, percent, pace);
    ui.bar.drawn = true;
  } else {
    if (percent / 10 == bar.lastPercent / 10 || done == 0) return;
    Pace(ui, done, steps, pace);
    std::fprintf(stderr, "progress: %d%%%s\n", percent, pace);
  }
  std::fflush(stderr);
  ui.bar.lastPercent = percent;
  ui.bar.lastDraw = Clock::now();
}

void EraseBar(Ui& ui) {
  if (!ui.bar.drawn) return;
  std::fputs("\r\033[K", stderr);
  ui.bar.drawn = false;
}

void Show(bool box, const char* text) {
  Ui& ui = State();
  if (ui.keeping) {
    ui.held.push_back({box, text});
    return;
  }
  EraseBar(ui);
  std::string shown(text);
  MakePrintable(&shown[0], box);
  std::FILE* out = box ? stderr : stdout;
  std::fputs(shown.c_str(), out);
  std::fputc('\n', out);
  std::fflush(out);
  if (ui.bar.shown && ui.terminal) DrawBar(ui, true);
}

}  // namespace

void StartUi(uint32_t stepBytes) {
  Ui& ui = State();
  ui = Ui();
  ui.terminal = isatty(STDERR_FILENO) == 1;
  ui.stepBytes = stepBytes;
}

void KeepUi() {
  State().keeping = true;
  State().held.clear();
}

void EndKeepingUi(bool show) {
  Ui& ui = State();
  ui.keeping = false;
  std::vector<Held> held;
  held.swap(ui.held);
  if (show) {
    for (const Held& item : held) Show(item.box, item.text.c_str());
  }
}

void MakePrintable(char* text, bool keepLineFeeds) {
  for (char* c = text; *c != '\0'; ++c) {
    const unsigned char byte = static_cast<unsigned char>(*c);
    if ((byte < 0x20 && !(keepLineFeeds && byte == '\n')) || byte == 0x7F) *c = '?';
  }
}

void AddStatusLine(const char* line) { Show(false, line); }

void ProgressBarCreate() {
  Bar& bar = State().bar;
  bar = Bar();
  bar.shown = true;
  bar.start = bar.lastDraw = Clock::now();
}

void ProgressBarSetRange(int32_t minimum, int32_t maximum) {
  Bar& bar = State().bar;
  bar.minimum = bar.position = minimum;
  bar.maximum = maximum;
}

void ProgressBarSetPos(int32_t position) {
  Ui& ui = State();
  if (!ui.bar.shown) return;
  ui.bar.position = position;
  DrawBar(ui, position >= ui.bar.maximum);
}

// The last state of the bar stays on the screen, above what follows.
void ProgressBarDestroy() {
  Ui& ui = State();
  if (ui.bar.drawn) std::fputc('\n', stderr);
  ui.bar = Bar();
}

void ShowUpdateError(const char* text) { Show(true, text != nullptr ? text : ""); }

// The command line has no wizard to tell.
void SendWizardLast() {}
