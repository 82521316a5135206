#include "tests/support/RecordingUi.h"

#include <mutex>

#include "device/DeviceUi.h"

namespace {

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

ProgressPosHook posHook = nullptr;
void* posHookContext = nullptr;

std::vector<UiEvent>& Events() {
  static std::vector<UiEvent> events;
  return events;
}

void Record(UiEvent::Kind kind, const std::string& text = std::string(), int32_t first = 0,
            int32_t second = 0) {
  std::lock_guard<std::mutex> guard(Lock());
  Events().push_back({kind, text, first, second});
}

template <typename Pick>
auto Collect(UiEvent::Kind kind, Pick pick) {
  std::lock_guard<std::mutex> guard(Lock());
  std::vector<decltype(pick(Events().front()))> out;
  for (const UiEvent& event : Events()) {
    if (event.kind == kind) out.push_back(pick(event));
  }
  return out;
}

}  // namespace

void AddStatusLine(const char* line) { Record(UiEvent::kLog, line); }

void ProgressBarCreate() { Record(UiEvent::kProgressCreate); }
void ProgressBarSetRange(int32_t minimum, int32_t maximum) {
  Record(UiEvent::kProgressRange, std::string(), minimum, maximum);
}
void ProgressBarSetPos(int32_t position) {
  Record(UiEvent::kProgressPos, std::string(), position);
  if (posHook != nullptr) posHook(position, posHookContext);
}

void SetProgressPosHook(ProgressPosHook hook, void* context) {
  posHook = hook;
  posHookContext = context;
}
void ProgressBarDestroy() { Record(UiEvent::kProgressDestroy); }
void ShowUpdateError(const char* text) { Record(UiEvent::kErrorBox, text ? text : ""); }
void SendWizardLast() { Record(UiEvent::kWizardLast); }

std::vector<UiEvent> RecordedUi() {
  std::lock_guard<std::mutex> guard(Lock());
  return Events();
}

void ResetRecordedUi() {
  std::lock_guard<std::mutex> guard(Lock());
  Events().clear();
}

std::vector<std::string> RecordedLogLines() {
  return Collect(UiEvent::kLog, [](const UiEvent& e) { return e.text; });
}

std::vector<std::string> RecordedErrorBoxes() {
  return Collect(UiEvent::kErrorBox, [](const UiEvent& e) { return e.text; });
}

int RecordedWizardLastCount() {
  return static_cast<int>(Collect(UiEvent::kWizardLast, [](const UiEvent&) { return 0; }).size());
}

std::vector<int32_t> RecordedProgressPositions() {
  return Collect(UiEvent::kProgressPos, [](const UiEvent& e) { return e.first; });
}
