#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "script/ScriptText.h"
#include "script/StepScript.h"
#include "tests/support/TestFiles.h"

namespace {

// The table's fields in the order and at the sizes the reader fills them.
template <typename... Offsets>
constexpr bool Ascending(size_t first, Offsets... rest) {
  size_t last = first;
  bool ascending = true;
  for (size_t next : {rest...}) {
    ascending = ascending && next > last;
    last = next;
  }
  return ascending;
}
static_assert(Ascending(offsetof(StepControl, type), offsetof(StepControl, x),
                        offsetof(StepControl, y), offsetof(StepControl, width),
                        offsetof(StepControl, height), offsetof(StepControl, dest),
                        offsetof(StepControl, selected), offsetof(StepControl, value),
                        offsetof(StepControl, window)),
              "StepControl's fields out of order");
static_assert(Ascending(offsetof(WizardStep, title), offsetof(WizardStep, numcontrols),
                        offsetof(WizardStep, controls), offsetof(WizardStep, textboxtop),
                        offsetof(WizardStep, text), offsetof(WizardStep, back),
                        offsetof(WizardStep, forward), offsetof(WizardStep, finish),
                        offsetof(WizardStep, runOldWindows)),
              "WizardStep's fields out of order");
static_assert(sizeof(StepControl::type) == 1 && sizeof(StepControl::value) == 100 &&
                  sizeof(WizardStep::title) == 500 && sizeof(WizardStep::text) == 500 &&
                  sizeof(StepTable) == 10 * sizeof(WizardStep),
              "field sizes");

// A field of the table by the script's own key ("step3.controls2.x",
// "step1.title"), as text: numbers in decimal, texts as stored.
std::string Field(const StepTable& table, const std::string& key) {
  int step = 0, slot = 0;
  char name[32] = {};
  if (std::sscanf(key.c_str(), "step%d.controls%d.%31s", &step, &slot, name) == 3) {
    const StepControl& c = table[step - 1].controls[slot - 1];
    const std::pair<const char*, int32_t> numbers[] = {
        {"type", c.type},        {"x", c.x},           {"y", c.y},
        {"width", c.width},      {"height", c.height}, {"dest", c.dest},
        {"selected", c.selected}};
    if (std::string(name) == "value") return c.value;
    for (const auto& [field, value] : numbers) {
      if (field == std::string(name)) return std::to_string(value);
    }
  } else if (std::sscanf(key.c_str(), "step%d.%31s", &step, name) == 2) {
    const WizardStep& s = table[step - 1];
    const std::pair<const char*, int32_t> numbers[] = {{"numcontrols", s.numcontrols},
                                                       {"textboxtop", s.textboxtop},
                                                       {"back", s.back},
                                                       {"forward", s.forward},
                                                       {"finish", s.finish},
                                                       {"runOldWindows", s.runOldWindows}};
    if (std::string(name) == "title") return s.title;
    if (std::string(name) == "text") return s.text;
    for (const auto& [field, value] : numbers) {
      if (field == std::string(name)) return std::to_string(value);
    }
  }
  ADD_FAILURE() << "no field " << key;
  return "";
}

class StepScriptTest : public ::testing::Test {
 protected:
  StepScriptTest() { std::memset(&table_, 0, sizeof table_); }
  ~StepScriptTest() override {
    if (!path_.empty()) std::remove(path_.c_str());
  }

  // Copy of the table, for checks that a load wrote nothing else.
  struct TableCopy {
    StepTable steps;
  };
  TableCopy Snapshot() const {
    TableCopy copy;
    std::memcpy(&copy.steps, &table_, sizeof copy.steps);
    return copy;
  }

  // Writes `content` byte for byte (line ends as given) and reads it into the table.
  int32_t Load(const std::string& content, int32_t capacity = kStepTableCapacity) {
    path_ = WriteTestFile("stp", content);
    return LoadStepScript(path_.c_str(), table_, capacity);
  }

  // Fails unless every byte of the table outside [field, field + size) equals `before`.
  void ExpectUnchangedOutside(const TableCopy& before, const void* field, size_t size) {
    const auto* now = reinterpret_cast<const unsigned char*>(&table_);
    const auto* old = reinterpret_cast<const unsigned char*>(&before.steps);
    const auto first = static_cast<size_t>(static_cast<const unsigned char*>(field) - now);
    for (size_t i = 0; i < sizeof(StepTable); ++i) {
      if (i >= first && i < first + size) continue;
      ASSERT_EQ(old[i], now[i]) << "byte " << i << " outside the field changed";
    }
  }

  StepTable table_;
  std::string path_;
};

TEST_F(StepScriptTest, ReadsExampleScriptIntoStepTwoOnly) {
  EXPECT_EQ(3, Load("steps 3\n"
                    "step2.title.Step %d of %d\n"
                    "step2.text.Pick the file.~Then press Next.\n"
                    "step2.textboxtop.1\n"
                    "step2.back.1\n"
                    "step2.numcontrols.1\n"
                    "step2.controls1.type.4\n"
                    "step2.controls1.x.240\n"
                    "step2.controls1.value.Browse for file\n"
                    "end\n"
                    "step2.finish.1\n"));
  const WizardStep& step = table_[1];
  EXPECT_STREQ("Step 2 of 3\n", step.title);
  EXPECT_STREQ("Pick the file.\nThen press Next.\n", step.text);
  EXPECT_EQ(1, step.textboxtop);
  EXPECT_EQ(1, step.back);
  EXPECT_EQ(0, step.forward);
  EXPECT_EQ(0, step.finish);  // given after "end"
  EXPECT_EQ(0, step.runOldWindows);
  EXPECT_EQ(1, step.numcontrols);
  const StepControl& button = step.controls[0];
  EXPECT_EQ(4, button.type);
  EXPECT_EQ(240, button.x);
  EXPECT_EQ(0, button.y + button.width + button.height + button.dest + button.selected);
  EXPECT_STREQ("Browse for file\n", button.value);
  EXPECT_EQ(nullptr, button.window);

  StepTable zero;
  std::memset(&zero, 0, sizeof zero);
  std::memcpy(&table_[1], &zero[1], sizeof(WizardStep));  // the rest must still be zero
  EXPECT_EQ(0, std::memcmp(&zero, &table_, sizeof zero));
}

TEST_F(StepScriptTest, CountLineForms) {
  EXPECT_EQ(4, Load("STEPS 4\n"));
  EXPECT_EQ(4, Load("steps4\n"));
  EXPECT_EQ(0, Load("steps=4\n"));
  EXPECT_EQ(-2, Load("Steps\t-2\n"));
  EXPECT_EQ(25, Load("steps 25\n"));  // returned as declared; navigation bounds it
  EXPECT_EQ(INT32_MAX, Load("steps 99999999999\n"));
  EXPECT_EQ(0, Load("step1.title.A\n"));  // no count line at all
}

// Scripts read into a zeroed table, and the fields they must leave as named.
TEST_F(StepScriptTest, StoresEachLineInTheFieldItNames) {
  const struct {
    const char* what;
    const char* script;
    std::vector<std::pair<const char*, std::string>> fields;
  } cases[] = {
      {"the title formats the step number and the count so far",
       "step1.title.%d/%d\nsteps 5\nstep1.text.%d/%d\nstep3.title.%d/%d\nsteps 7\n",
       {{"step1.title", "1/0\n"}, {"step1.text", "%d/%d\n"}, {"step3.title", "3/5\n"}}},
      {"a missing or negative step number means step 1",
       "step.title.A\nstep-5.text.B\nstep-2147483648.back.1\nstep-99999999999.finish.1\n",
       {{"step1.title", "A\n"}, {"step1.text", "B\n"}, {"step1.back", "1"}, {"step1.finish", "1"}}},
      {"dots after the value's start belong to the value",
       "step1.text.Version 2.0.\nstep1.controls1.value.http://a.example/x.htm\n",
       {{"step1.text", "Version 2.0.\n"}, {"step1.controls1.value", "http://a.example/x.htm\n"}}},
      {"keys match in order over their own length",
       "step1.textboxtop.1\nstep2.textbox.1\nstep3.titles.T\nSTEP4.TEXT.Up\n"
       "step5.RunOldWindowsNow.1\nstep6.numcontrolsX.3\n",
       {{"step1.textboxtop", "1"},
        {"step1.text", ""},
        {"step2.text", "1\n"},
        {"step2.textboxtop", "0"},
        {"step3.title", "T\n"},
        {"step4.text", "Up\n"},
        {"step5.runOldWindows", "1"},
        {"step6.numcontrols", "3"}}},
      {"the last line may lack its line feed",
       "step1.title.A\nstep1.text.B",
       {{"step1.title", "A\n"}, {"step1.text", "B"}}},
      {"subkeys match in order, x and y by their first letter",
       "step3.controls2.xpos.15\nstep3.controls2.Yield.16\nstep3.controls2.WIDTH.80\n"
       "step3.controls2.height.40\nstep3.controls2.dest.5345\nstep3.controls2.selected.6\n"
       "step3.controls2.typeface.5\nstep3.controls2.values.a.b\nstep3.controls2.zoom.9\n",
       {{"step3.controls2.x", "15"},
        {"step3.controls2.y", "16"},
        {"step3.controls2.width", "80"},
        {"step3.controls2.height", "40"},
        {"step3.controls2.dest", "5345"},
        {"step3.controls2.selected", "6"},
        {"step3.controls2.type", "5"},
        {"step3.controls2.value", "a.b\n"}}},
      {"percent pairs become one percent",
       "step1.text.50%% done\nstep1.title.%d%%\nstep1.controls1.value.%%~%%%%\n",
       {{"step1.text", "50% done\n"},
        {"step1.title", "1%\n"},
        {"step1.controls1.value", "%\n%%\n"}}},
      {"flags look at the first character only, and '0' clears a set one",
       "step1.forward.1\nstep2.runOldWindows.1\n"
       "step1.back.no\nstep1.forward.0\nstep1.finish.\nstep1.textboxtop.0x\n"
       "step1.runOldWindows.yes\nstep2.runOldWindows.01\nstep3.runOldWindows.1\n",
       {{"step1.back", "1"},
        {"step1.forward", "0"},
        {"step1.finish", "1"},
        {"step1.textboxtop", "0"},
        {"step1.runOldWindows", "0"},
        {"step2.runOldWindows", "0"},
        {"step3.runOldWindows", "1"}}},
      {"numbers are saturated and bounded to the table",
       "step1.numcontrols.11\nstep2.numcontrols.-3\nstep3.numcontrols.99999999999\n"
       "step4.numcontrols. 7x\nstep5.controls1.x. +15\nstep5.controls1.y.-7abc\n"
       "step5.controls1.width.abc\nstep5.controls1.height.99999999999\n"
       "step5.controls1.dest.-99999999999\nstep5.controls1.selected.\t42\n",
       {{"step1.numcontrols", "10"},
        {"step2.numcontrols", "0"},
        {"step3.numcontrols", "10"},
        {"step4.numcontrols", "7"},
        {"step5.controls1.x", "15"},
        {"step5.controls1.y", "-7"},
        {"step5.controls1.width", "0"},
        {"step5.controls1.height", std::to_string(INT32_MAX)},
        {"step5.controls1.dest", std::to_string(INT32_MIN)},
        {"step5.controls1.selected", "42"}}},
      {"a control's type keeps the low 8 bits",
       "step1.controls1.type.300\nstep1.controls2.type.-1\nstep1.controls3.type.255\n"
       "step1.controls4.type.128\nstep1.controls5.type.4\n",
       {{"step1.controls1.type", "44"},
        {"step1.controls2.type", "-1"},
        {"step1.controls3.type", "-1"},
        {"step1.controls4.type", "-128"},
        {"step1.controls5.type", "4"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(&table_, 0, sizeof table_);
    Load(c.script);
    for (const auto& [key, expected] : c.fields) EXPECT_EQ(Field(table_, key), expected) << key;
  }
}

// Script text is never a printf format: other sequences stay and nothing outside the
// field is written.
TEST_F(StepScriptTest, OtherPercentSequencesAreCopiedAndStayInTheirField) {
  enum Field { kTitle, kText, kValue };
  struct Case {
    const char* line;
    Field field;
    const char* expected;
  } const cases[] = {
      {"step1.title.%d %d %d %s %n\n", kTitle, "1 0 %d %s %n\n"},
      {"step1.title.%5d%99999d%\n", kTitle, "%5d%99999d%\n"},
      {"step1.text.%s%n%99999d %d %", kText, "%s%n%99999d %d %"},
      {"step1.controls1.value.%s %n %5d %d\n", kValue, "%s %n %5d %d\n"},
  };
  for (const Case& c : cases) {
    std::memset(&table_, 0x5A, sizeof table_);
    const TableCopy before = Snapshot();
    Load(c.line);
    char* field = c.field == kTitle  ? table_[0].title
                  : c.field == kText ? table_[0].text
                                     : table_[0].controls[0].value;
    const size_t size = c.field == kValue ? kControlValueSize : kStepTextSize;
    EXPECT_STREQ(c.expected, field) << c.line;
    ExpectUnchangedOutside(before, field, size);
  }
}

TEST_F(StepScriptTest, LongTextsAreCutToTheirFields) {
  std::memset(&table_, 0x5A, sizeof table_);
  TableCopy before = Snapshot();
  Load("step1.title." + std::string(580, 't') + "\n");
  EXPECT_EQ(std::string(499, 't'), table_[0].title);
  ExpectUnchangedOutside(before, table_[0].title, kStepTextSize);

  before = Snapshot();
  Load("step2.text." + std::string(580, 'x') + "\n");
  EXPECT_EQ(std::string(499, 'x'), table_[1].text);
  ExpectUnchangedOutside(before, table_[1].text, kStepTextSize);

  before = Snapshot();
  Load("step2.controls10.value." + std::string(150, 'v') + "\n");
  EXPECT_EQ(std::string(99, 'v'), table_[1].controls[9].value);
  ExpectUnchangedOutside(before, table_[1].controls[9].value, kControlValueSize);
}

TEST_F(StepScriptTest, EndStopsReadingAndUnmatchedLinesAreIgnored) {
  Load(
      "# comment\n  step1.title.A\n\tstep1.back.1\n\nstep1.title\nstep1.bogus.3\nstep1\n"
      "step1.controls1\nstep1.controls1.x\nstep1.controls1.size.4\n"
      "end of the pages\nstep1.title.B\n");
  StepTable zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(0, std::memcmp(&zero, &table_, sizeof zero));

  Load("step1.title.A\nENDING\nstep1.title.B\n");
  EXPECT_STREQ("A\n", table_[0].title);
}

TEST_F(StepScriptTest, StepBeyondCapacityStopsReadingAndStoresNothing) {
  EXPECT_EQ(2, Load("steps 2\nstep11.title.X\nsteps 9\nstep1.title.A\n"));
  EXPECT_EQ(1, Load("steps 1\nstep99999999999.title.X\nstep1.title.A\n"));
  EXPECT_STREQ("", table_[0].title);

  EXPECT_EQ(0, Load("step3.back.1\nstep4.back.1\nstep1.back.1\n", 3));
  EXPECT_EQ(1, table_[2].back);
  EXPECT_EQ(0, table_[3].back);
  EXPECT_EQ(0, table_[0].back);
}

TEST_F(StepScriptTest, MissingFileReturnsZeroAndLeavesTableAlone) {
  std::memset(&table_, 0x33, sizeof table_);
  const TableCopy before = Snapshot();
  EXPECT_EQ(0, LoadStepScript("no_such_dir_zz/none.stp", table_, kStepTableCapacity));
  EXPECT_EQ(0, std::memcmp(&before.steps, &table_, sizeof table_));
}

TEST_F(StepScriptTest, SecondLoadWritesOnlyNamedFields) {
  Load("steps 2\nstep1.title.First\nstep1.controls1.value.Go\nstep2.back.1\n");
  table_[0].forward = 1;                  // set at run time
  table_[0].controls[0].value[2] = '\0';  // line feed removed by the control code
  Load("step1.text.Body\n");
  EXPECT_STREQ("First\n", table_[0].title);
  EXPECT_STREQ("Body\n", table_[0].text);
  EXPECT_EQ(1, table_[0].forward);
  EXPECT_STREQ("Go", table_[0].controls[0].value);
  EXPECT_EQ(1, table_[1].back);
}

TEST_F(StepScriptTest, LineOver599CharactersIsReadAsTwoLines) {
  const std::string head = "step1.text.";
  const std::string rest = "step2.title." + std::string(88, 'b') + "\n";
  Load(head + std::string(599 - head.size(), 'a') + rest);  // 700 characters
  EXPECT_EQ(std::string(499, 'a'), table_[0].text);
  EXPECT_EQ(std::string(88, 'b') + "\n", table_[1].title);
}

TEST_F(StepScriptTest, CarriageReturnBeforeLineFeedIsDropped) {
  Load("steps 2\r\nstep1.title.A\r\nstep1.text.a\rb\r\nstep1.controls1.value.v\r\n");
  EXPECT_STREQ("A\n", table_[0].title);
  EXPECT_STREQ("a\rb\n", table_[0].text);  // a lone CR stays
  EXPECT_STREQ("v\n", table_[0].controls[0].value);

  // A CR as the 599th character: with a LF after it the pair ends the line; without one
  // it stays, and the next character starts the next line.
  const std::string pad = "step3.back.1" + std::string(586, ' ');  // 598 characters
  EXPECT_EQ(6, Load(pad + "\r\nsteps 6\r\n"));
  EXPECT_EQ(1, table_[2].back);
  EXPECT_EQ(7, Load(pad + "\rsteps 7\n"));
}

TEST_F(StepScriptTest, ControlSlotOutsideOneToTenIsSkipped) {
  std::memset(&table_, 0x5A, sizeof table_);
  const TableCopy before = Snapshot();
  Load(
      "step2.controls0.x.1\nstep2.controls11.x.1\nstep2.controls-1.value.v\n"
      "step2.controls.type.1\nstep2.controls99999999999.y.1\nstep10.controls10.x.3\n");
  EXPECT_EQ(3, table_[9].controls[9].x);
  ExpectUnchangedOutside(before, &table_[9].controls[9].x, sizeof(int32_t));
}

TEST(NextFieldTest, FindsThePositionAfterTheNextDot) {
  EXPECT_EQ(6, NextField("step1.title.x", 4));
  EXPECT_EQ(12, NextField("step1.title.x", 6));
  EXPECT_EQ(6, NextField("step1.title.x", 5));  // the dot at `from` counts
  EXPECT_EQ(2, NextField("a.", 0));             // a dot at the end gives an empty field
  EXPECT_EQ(-1, NextField("step1.title", 6));
  EXPECT_EQ(-1, NextField("abc", 0));
  EXPECT_EQ(-1, NextField("a.b", 50));  // past the end: nothing read beyond the NUL
  EXPECT_EQ(-1, NextField("", 0));
  EXPECT_EQ(-1, NextField(nullptr, 0));
}

TEST(TildesToNewlinesTest, TurnsEveryTildeIntoALineFeed) {
  char text[] = "~a~~b~";
  TildesToNewlines(text);
  EXPECT_STREQ("\na\n\nb\n", text);
}

TEST(FormatScriptTextTest, CutsAtTheBufferAndNeverReadsMissingArguments) {
  char out[8];
  const int32_t args[] = {INT32_MIN, 7};
  FormatScriptText(out, sizeof out, "%d|%d|%d", args, 2);
  EXPECT_STREQ("-214748", out);
  FormatScriptText(out, sizeof out, "%d %d", args + 1, 1);
  EXPECT_STREQ("7 %d", out);
  FormatScriptText(out, sizeof out, "%d%", nullptr, 2);
  EXPECT_STREQ("%d%", out);
  FormatScriptText(out, 1, "abc", nullptr, 0);
  EXPECT_STREQ("", out);
  out[0] = 'z';
  FormatScriptText(out, 0, "abc", nullptr, 0);
  EXPECT_EQ('z', out[0]);
  FormatScriptText(out, sizeof out, nullptr, nullptr, 0);
  EXPECT_STREQ("", out);
}

}  // namespace
