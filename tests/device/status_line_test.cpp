#include "device/StatusLine.h"

#include <gtest/gtest.h>

#include <string>

#include "device/DeviceUi.h"
#include "tests/support/RecordingUi.h"

namespace {

std::string Format(const char* format, ...) ZEPHLAR_PRINTF(1, 2);

std::string Format(const char* format, ...) {
  char line[kStatusLineSize];
  va_list args;
  va_start(args, format);
  FormatStatusLine(line, format, args);
  va_end(args);
  return line;
}

TEST(StatusLine, DropsExactlyOneFinalLineFeed) {
  EXPECT_EQ(Format("Error GetObject!\n"), "Error GetObject!");
  EXPECT_EQ(Format("two\n\n"), "two\n");
  EXPECT_EQ(Format("inner\nline"), "inner\nline");
  EXPECT_EQ(Format("\n"), "");
}

TEST(StatusLine, KeepsLeadingBlanksAndFormatsItsArguments) {
  EXPECT_EQ(Format("    <Checking partition information...>"),
            "    <Checking partition information...>");
  EXPECT_EQ(Format("Found zAze Drive at %c!", 'B'), "Found zAze Drive at B!");
  EXPECT_EQ(Format("    <Drive read failed! fixDc:1 gle: 0x%x ret: %ld>", 0x1fu, -3L),
            "    <Drive read failed! fixDc:1 gle: 0x1f ret: -3>");
}

TEST(StatusLine, CutsAtThe139thCharacter) {
  const std::string path(300, 'p');
  const std::string line = Format("Updating firmware with file \"%s\"...", path.c_str());
  ASSERT_EQ(line.size(), 139u);
  EXPECT_EQ(line, ("Updating firmware with file \"" + path).substr(0, 139));
  // A line feed past the cut is not the line's last character any more.
  EXPECT_EQ(Format("%s\n", std::string(139, 'x').c_str()).size(), 139u);
}

TEST(StatusLine, AnEmptyResultAddsNothing) {
  ResetRecordedUi();
  EXPECT_EQ(LogStatus("%s", ""), 0);
  EXPECT_EQ(LogStatus("\n"), 1);  // not empty: its line feed is dropped and an empty line added
  EXPECT_EQ(LogStatus("line\n"), 1);
  EXPECT_EQ(RecordedLogLines(), (std::vector<std::string>{"", "line"}));
}

}  // namespace
