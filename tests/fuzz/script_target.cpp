// Arbitrary bytes as a step script, read into a table of exactly ten steps;
// then every step's texts and every control's value go through what the
// wizard does with them.
#include <cstdio>
#include <cstring>
#include <memory>

#include "script/ListItems.h"
#include "script/ScriptText.h"
#include "script/StepScript.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

constexpr char kTarget[] = "script";

bool Terminated(const char* field, size_t size) {
  return std::memchr(field, '\0', size) != nullptr;
}

// A stored text is formatted first and its tildes turned afterwards, so none
// is left in it.
void CheckText(const char* field, size_t size, const char* what) {
  if (!Terminated(field, size)) {
    FuzzFail(kTarget, what);
    return;
  }
  if (std::strchr(field, '~') != nullptr) FuzzFail(kTarget, "a '~' was stored");
  if (BoundedLength(field, static_cast<int32_t>(size)) !=
      static_cast<int32_t>(std::strlen(field))) {
    FuzzFail(kTarget, "BoundedLength differs from the text's length");
  }
}

// The drop-down item scan over one value, into an item buffer of exactly
// `itemSize` bytes on the heap, so that a write past it is caught.
void ScanItems(const char* value, int32_t paired, int32_t itemSize) {
  const int32_t length = BoundedLength(value, kControlValueSize);
  std::unique_ptr<char[]> item(new char[static_cast<size_t>(itemSize)]);
  ListItemScan scan = {0, 0};
  int32_t lines = 1;
  for (int32_t i = 0; i < length; ++i) lines += value[i] == '\n' ? 1 : 0;
  int32_t items = 0;
  int32_t last = -1;
  while (NextListItem(value, length, paired, scan, item.get(), itemSize) != 0) {
    if (++items > lines) {
      FuzzFail(kTarget, "the item scan gives more items than the value has lines");
      return;
    }
    if (scan.position <= last || scan.position > length + 1) {
      FuzzFail(kTarget, "the item scan does not move forward within the value");
      return;
    }
    last = scan.position;
    if (!Terminated(item.get(), static_cast<size_t>(itemSize))) {
      FuzzFail(kTarget, "an item is not terminated within its buffer");
      return;
    }
    const size_t itemLength = std::strlen(item.get());
    if (itemLength == 0 || static_cast<int32_t>(itemLength) > length) {
      FuzzFail(kTarget, "an item is empty or longer than its value");
    }
    if (std::strchr(item.get(), '\n') != nullptr) FuzzFail(kTarget, "an item holds a line feed");
  }
  if (item[0] != '\0') FuzzFail(kTarget, "the end of a scan leaves an item behind");
}

void CheckStep(const WizardStep& step, int32_t number, int32_t count) {
  CheckText(step.title, sizeof step.title, "a title is not terminated within its field");
  CheckText(step.text, sizeof step.text, "a body text is not terminated within its field");
  if (step.numcontrols < 0 || step.numcontrols > kControlsPerStep) {
    FuzzFail(kTarget, "numcontrols outside 0 to 10");
  }
  for (const StepControl& control : step.controls) {
    CheckText(control.value, sizeof control.value, "a value is not terminated within its field");
    if (control.window != nullptr) FuzzFail(kTarget, "the reader filled a window slot");
    if (control.value[0] == '\0') continue;
    ScanItems(control.value, 0, kControlValueSize);
    ScanItems(control.value, 1, kControlValueSize);
    ScanItems(control.value, 0, 4);  // items cut to a small buffer
  }
  // What was stored, read again as a format into fields of the same sizes.
  const int32_t args[2] = {number, count};
  std::unique_ptr<char[]> title(new char[kStepTextSize]);
  FormatScriptText(title.get(), kStepTextSize, step.title, args, 2);
  if (!Terminated(title.get(), kStepTextSize)) FuzzFail(kTarget, "a formatted title overflows");
  std::unique_ptr<char[]> text(new char[kStepTextSize]);
  FormatScriptText(text.get(), kStepTextSize, step.text, nullptr, 0);
  if (!Terminated(text.get(), kStepTextSize)) FuzzFail(kTarget, "a formatted text overflows");
  std::unique_ptr<char[]> value(new char[kControlValueSize]);
  for (const StepControl& control : step.controls) {
    FormatScriptText(value.get(), kControlValueSize, control.value, nullptr, 0);
    if (!Terminated(value.get(), kControlValueSize))
      FuzzFail(kTarget, "a formatted value overflows");
  }
}

}  // namespace

int FuzzStepScript(const uint8_t* data, size_t size) {
  static char empty = '\0';
  // fmemopen wants a buffer even for no bytes at all.
  void* bytes = size > 0 ? const_cast<uint8_t*>(data) : static_cast<void*>(&empty);
  std::FILE* script = fmemopen(bytes, size, "r");
  if (script == nullptr) {
    FuzzFail(kTarget, "fmemopen failed");
    return 0;
  }
  // Exactly the table's size on the heap: a write past the last step is caught.
  std::unique_ptr<WizardStep[]> table(new WizardStep[kStepTableCapacity]);
  std::memset(table.get(), 0, sizeof(WizardStep) * kStepTableCapacity);
  const int32_t count = LoadStepScript(script, table.get(), kStepTableCapacity);
  std::fclose(script);
  for (int32_t i = 0; i < kStepTableCapacity; ++i) CheckStep(table[i], i + 1, count);
  return 0;
}
