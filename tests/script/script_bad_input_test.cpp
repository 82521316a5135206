// Step scripts that are wrong in one named way each: the reader keeps every
// text inside its field, every count inside the table, and reads on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "script/StepScript.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/TestFiles.h"

namespace {

const char kTable[] = "Bad input: step scripts";

// What holds for any table the reader produced from a zeroed one.
void ExpectWellFormed(const StepTable& table) {
  for (const WizardStep& step : table) {
    EXPECT_NE(std::memchr(step.title, '\0', sizeof step.title), nullptr);
    EXPECT_NE(std::memchr(step.text, '\0', sizeof step.text), nullptr);
    EXPECT_GE(step.numcontrols, 0);
    EXPECT_LE(step.numcontrols, kControlsPerStep);
    for (const StepControl& control : step.controls) {
      EXPECT_NE(std::memchr(control.value, '\0', sizeof control.value), nullptr);
      EXPECT_EQ(control.window, nullptr);
    }
  }
}

class ScriptBadInput : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(&table_, 0, sizeof table_);
    HardeningTable(kTable, {"script", "outcome"});
  }
  void TearDown() override {
    if (!path_.empty()) std::remove(path_.c_str());
  }

  // Reads `content` into a zeroed table, checks what holds for every script
  // and then `checks`, and records `outcome` as checked (or as failed).
  void Try(const std::string& what, const std::string& content, const std::string& outcome,
           const std::function<void(int32_t count)>& checks) {
    SCOPED_TRACE(what);
    std::memset(&table_, 0, sizeof table_);
    path_ = WriteTestFile("stp", content);
    const int32_t count = LoadStepScript(path_.c_str(), table_, kStepTableCapacity);
    ExpectWellFormed(table_);
    checks(count);
    HardeningRow(kTable, {what, HasFailure() ? "FAILS: " + outcome : outcome});
  }

  bool TableIsZero() const {
    static const StepTable zero = {};
    return std::memcmp(&zero, &table_, sizeof table_) == 0;
  }

  StepTable table_;
  std::string path_;
};

TEST_F(ScriptBadInput, EmptyAndBinaryFiles) {
  Try("an empty file", "", "count 0, table untouched", [this](int32_t count) {
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(TableIsZero());
  });

  std::string binary(65536, '\0');
  uint32_t state = 99;
  for (char& c : binary) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  Try("64 KiB of random bytes", binary, "read through; every field terminated, counts bounded",
      [](int32_t) {});
  static const char kNuls[] = "steps 2\nstep1.title.A\0B\nstep2.te\0xt.C\n";
  Try("NUL bytes inside step lines", std::string(kNuls, sizeof kNuls - 1),
      "a line is read up to its NUL: title \"A\", the broken key skipped", [this](int32_t count) {
        EXPECT_EQ(count, 2);
        EXPECT_STREQ(table_[0].title, "A");
        EXPECT_STREQ(table_[1].text, "");
      });
}

TEST_F(ScriptBadInput, HugeLinesAndManyTildes) {
  const std::string huge(10 * 1024 * 1024, 'a');
  Try("a 10 MB line after \"step1.text.\", then a title",
      "step1.text." + huge + "\nstep2.title.B\n",
      "text cut to 499 characters, the rest read as lines that match nothing; title read",
      [this](int32_t) {
        EXPECT_EQ(std::string(table_[0].text), std::string(499, 'a'));
        EXPECT_STREQ(table_[1].title, "B\n");
      });
  Try("a 10 MB line of dots", std::string(10 * 1024 * 1024, '.') + "\nsteps 3\n",
      "ignored; the next line is read", [](int32_t count) { EXPECT_EQ(count, 3); });
  const std::string tildes(5000, '~');
  Try("5,000 '~' in a title, a text and a value",
      "step1.title." + tildes + "\nstep1.text." + tildes + "\nstep1.controls1.value." + tildes +
          "\n",
      "each cut to its field, all line feeds", [this](int32_t) {
        EXPECT_EQ(std::string(table_[0].title), std::string(499, '\n'));
        EXPECT_EQ(std::string(table_[0].text), std::string(499, '\n'));
        EXPECT_EQ(std::string(table_[0].controls[0].value), std::string(99, '\n'));
      });
}

TEST_F(ScriptBadInput, FormatSequences) {
  Try("%n, %s, %x and %99999d in a title, a text and a value",
      "steps 2\nstep1.title.%n%s%x %d %d %d\nstep1.text.%n%s%99999d\n"
      "step1.controls1.value.%s%n%p\n",
      "copied as written; only the title's two %d are numbers", [this](int32_t) {
        EXPECT_STREQ(table_[0].title, "%n%s%x 1 2 %d\n");
        EXPECT_STREQ(table_[0].text, "%n%s%99999d\n");
        EXPECT_STREQ(table_[0].controls[0].value, "%s%n%p\n");
      });
}

TEST_F(ScriptBadInput, KeysWithoutValues) {
  Try("every key with an empty value (\"step1.key.\")",
      "step1.title.\nstep1.numcontrols.\nstep1.runOldWindows.\nstep1.textboxtop.\nstep1.text.\n"
      "step1.back.\nstep1.forward.\nstep1.finish.\nstep1.controls1.type.\nstep1.controls1.dest.\n"
      "step1.controls1.selected.\nstep1.controls1.x.\nstep1.controls1.y.\n"
      "step1.controls1.width.\nstep1.controls1.height.\nstep1.controls1.value.\n",
      "texts hold the line feed alone, numbers 0, flags on but runOldWindows off", [this](int32_t) {
        const WizardStep& step = table_[0];
        EXPECT_STREQ(step.title, "\n");
        EXPECT_STREQ(step.text, "\n");
        EXPECT_STREQ(step.controls[0].value, "\n");
        EXPECT_EQ(step.numcontrols, 0);
        EXPECT_EQ(step.runOldWindows, 0);
        EXPECT_EQ(step.textboxtop + step.back + step.forward + step.finish, 4);
        EXPECT_EQ(step.controls[0].type + step.controls[0].x + step.controls[0].height, 0);
      });
  Try("every key without its dot (\"step1.key\"), and a last line \"step1.\"",
      "step1.title\nstep1.numcontrols\nstep1.text\nstep1.back\nstep1.controls1.type\n"
      "step1.controls1\nstep1.",
      "nothing stored", [this](int32_t) { EXPECT_TRUE(TableIsZero()); });
}

TEST_F(ScriptBadInput, NumbersFarOutOfRange) {
  Try("step numbers 2^31 and beyond",
      "steps 2\nstep-2147483649.title.first\nstep2147483648.title.X\nstep2.title.never\n",
      "a negative N is step 1; N past the table stops the reading", [this](int32_t count) {
        EXPECT_EQ(count, 2);
        EXPECT_STREQ(table_[0].title, "first\n");
        EXPECT_STREQ(table_[1].title, "");
      });
  Try("control slots 0, -1, 11, 2^31 and 10^20",
      "step1.controls0.x.1\nstep1.controls-1.x.1\nstep1.controls11.x.1\n"
      "step1.controls2147483648.x.1\nstep1.controls100000000000000000000.x.1\n",
      "every line skipped", [this](int32_t) { EXPECT_TRUE(TableIsZero()); });
  Try("counts of 10^20, -10^20 and 2^31 controls",
      "steps -100000000000000000000\nstep1.numcontrols.100000000000000000000\n"
      "step2.numcontrols.-2147483649\nstep3.numcontrols.2147483648\n",
      "steps saturated to -2^31; numcontrols kept within 0 to 10", [this](int32_t count) {
        EXPECT_EQ(count, INT32_MIN);
        EXPECT_EQ(table_[0].numcontrols, 10);
        EXPECT_EQ(table_[1].numcontrols, 0);
        EXPECT_EQ(table_[2].numcontrols, 10);
      });
}

}  // namespace
