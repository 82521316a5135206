#include "script/StepScript.h"

#include <cstdint>
#include <cstdio>

#include "base/ScopedFile.h"
#include "script/ScriptText.h"

// A line is read as at most 599 characters and NUL.
static constexpr int kLineBufferSize = 600;

// ASCII only, so that the script reads the same whatever the user's locale.
static char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool StartsWithNoCase(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (AsciiLower(*text) != *word) return false;  // also stops at the end of `text`
  }
  return true;
}

static bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal integer in the manner of atoi, but saturating at the 32-bit range instead of
// overflowing.
static int32_t ParseScriptInt(const char* text) {
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = (*text == '-');
    ++text;
  }
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

static int32_t ClampToControls(int32_t value) {
  if (value < 0) return 0;
  return value > kControlsPerStep ? kControlsPerStep : value;
}

// The low 8 bits of `value` as a signed byte, without relying on narrowing conversions.
static int8_t LowByte(int32_t value) {
  const int low = static_cast<int>(static_cast<uint32_t>(value) & 0xFFu);
  return static_cast<int8_t>(low >= 128 ? low - 256 : low);
}

// Flags look at the first character only: most are on unless it is '0'...
static int32_t FlagUnlessZero(const char* value) { return value[0] == '0' ? 0 : 1; }

// ...while runOldWindows is off unless it is '1', since it relaxes a safety check.
static int32_t FlagOnlyIfOne(const char* value) { return value[0] == '1' ? 1 : 0; }

// Position N of the script held at N - 1; a missing, zero or negative N means step 1.
static int32_t StepPosition(int32_t number) { return number > 1 ? number - 1 : 0; }

static void StoreScriptText(char* field, size_t size, const char* source, const int32_t* args,
                            int argCount) {
  FormatScriptText(field, size, source, args, argCount);
  TildesToNewlines(field);  // after formatting, so a '~' never takes part in it
}

// Reads one line as fgets with a 600-byte buffer does on a runtime whose text mode turns
// CR LF into LF: up to and including the line feed, at most 599 characters. Text mode
// elsewhere keeps the CR, so a CR right before a LF is dropped here, also when the pair
// straddles the 599-character limit. Returns false when nothing was left to read.
static bool ReadScriptLine(std::FILE* file, char* line, int size) {
  int length = 0;
  while (length < size - 1) {
    int c = std::fgetc(file);
    if (c == EOF) break;
    if (c == '\r') {
      const int next = std::fgetc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[length] = '\0';
  return length > 0;
}

// stepN.controlsM.subkey.value; `subkeyStart` is the position after the dot after M.
static void ApplyControlLine(WizardStep& step, int32_t slot, const char* line,
                             int32_t subkeyStart) {
  if (slot < 1 || slot > kControlsPerStep) return;  // no such slot: the line is skipped
  const int32_t valueStart = NextField(line, subkeyStart);
  if (valueStart < 0) return;

  StepControl& control = step.controls[slot - 1];
  const char* subkey = line + subkeyStart;
  const char* value = line + valueStart;
  // Tested in this order; "x" and "y" match any subkey that begins with that letter.
  if (StartsWithNoCase(subkey, "type")) {
    control.type = LowByte(ParseScriptInt(value));
  } else if (StartsWithNoCase(subkey, "dest")) {
    control.dest = ParseScriptInt(value);
  } else if (StartsWithNoCase(subkey, "selected")) {
    control.selected = ParseScriptInt(value);
  } else if (StartsWithNoCase(subkey, "x")) {
    control.x = ParseScriptInt(value);
  } else if (StartsWithNoCase(subkey, "y")) {
    control.y = ParseScriptInt(value);
  } else if (StartsWithNoCase(subkey, "width")) {
    control.width = ParseScriptInt(value);
  } else if (StartsWithNoCase(subkey, "height")) {
    control.height = ParseScriptInt(value);
  } else if (StartsWithNoCase(subkey, "value")) {
    StoreScriptText(control.value, sizeof control.value, value, nullptr, 0);
  }
}

// stepN.key.value, for the step at its position; `stepNumber` and `count` feed a title.
static void ApplyStepLine(WizardStep& step, int32_t stepNumber, int32_t count, const char* line) {
  const int32_t keyStart = NextField(line, 4);
  if (keyStart < 0) return;
  const int32_t valueStart = NextField(line, keyStart);
  if (valueStart < 0) return;

  const char* key = line + keyStart;
  const char* value = line + valueStart;
  // Keys match over their own length and are tested in this order, so "textboxtop" is
  // taken before "text" and "titles" counts as "title".
  if (StartsWithNoCase(key, "title")) {
    const int32_t args[2] = {stepNumber, count};
    StoreScriptText(step.title, sizeof step.title, value, args, 2);
  } else if (StartsWithNoCase(key, "numcontrols")) {
    step.numcontrols = ClampToControls(ParseScriptInt(value));
  } else if (StartsWithNoCase(key, "runoldwindows")) {
    step.runOldWindows = FlagOnlyIfOne(value);
  } else if (StartsWithNoCase(key, "textboxtop")) {
    step.textboxtop = FlagUnlessZero(value);
  } else if (StartsWithNoCase(key, "text")) {
    StoreScriptText(step.text, sizeof step.text, value, nullptr, 0);
  } else if (StartsWithNoCase(key, "back")) {
    step.back = FlagUnlessZero(value);
  } else if (StartsWithNoCase(key, "forward")) {
    step.forward = FlagUnlessZero(value);
  } else if (StartsWithNoCase(key, "finish")) {
    step.finish = FlagUnlessZero(value);
  } else if (StartsWithNoCase(key, "controls")) {
    // The value found above is the control line's subkey.
    ApplyControlLine(step, ParseScriptInt(key + 8), line, valueStart);
  }
}

int32_t LoadStepScript(const char* path, WizardStep* table, int32_t capacity) {
  if (path == nullptr) return 0;
  ScopedFile file(std::fopen(path, "r"));
  return LoadStepScript(file.get(), table, capacity);
}

int32_t LoadStepScript(std::FILE* script, WizardStep* table, int32_t capacity) {
  if (script == nullptr) return 0;
  if (table == nullptr) capacity = 0;

  // The count stays as declared; callers bound their navigation by the table.
  int32_t count = 0;
  int32_t position = 0;
  char line[kLineBufferSize];
  while (position < capacity && ReadScriptLine(script, line, kLineBufferSize)) {
    // "steps" before "step", so a count line is never taken for a step line.
    if (StartsWithNoCase(line, "steps")) {
      count = ParseScriptInt(line + 5);
    } else if (StartsWithNoCase(line, "step")) {
      position = StepPosition(ParseScriptInt(line + 4));
      if (position >= capacity) break;  // a step the table cannot hold ends the script
      ApplyStepLine(table[position], position + 1, count, line);
    } else if (StartsWithNoCase(line, "end")) {
      break;
    }
  }
  return count;
}

int32_t NextField(const char* line, int32_t from) {
  if (line == nullptr) return -1;
  if (from < 0) from = 0;
  // Walk to `from` first and stop at the NUL, so a start past the end reads nothing more.
  int32_t i = 0;
  while (i < from && line[i] != '\0') ++i;
  for (; line[i] != '\0'; ++i) {
    if (line[i] == '.') return i + 1;
  }
  return -1;
}

void TildesToNewlines(char* text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) {
    if (*text == '~') *text = '\n';
  }
}
