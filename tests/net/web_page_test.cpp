// Opening a web page: the shell first, then the ".htm" open command from the
// registry, run with a recorder program in place of a browser. The tests
// change HKEY_CLASSES_ROOT\.htm and put it back after each test.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // RegCopyTreeA and RegDeleteTreeA, test code only
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/WebPage.h"
#include "tests/net/HtmCommand.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr char kTestClass[] = "ZephlarTest.htm";
// A scheme nobody handles, so that the shell refuses it.
constexpr char kAddress[] = "zephlarnone://loopback/page?x=1";

uint32_t ShellResult(const char* address) {
  return static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(
      ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOW)));
}

class OpenWebPageTest : public testing::Test {
 protected:
  ScratchFolder folder_;  // the current directory: the files have fixed names

  void SetUp() override {
    htm_ = std::make_unique<SetAsideKey>(".htm", "ZephlarTest.backup");
    record_ = folder_.PathOf("record.log");
    SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", record_.c_str());
    recorder_ = "\"" + RecorderPath() + "\"";
  }

  void TearDown() override {
    SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", nullptr);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestClass);
    htm_.reset();
  }

  void RegisterOpenCommand(const std::string& command) { RegisterHtmCommand(kTestClass, command); }

  // The command lines recorded so far, once there are `count` of them or the
  // wait is over. WinExec and the shell return before the program has run.
  std::vector<std::string> RecordedLines(size_t count, DWORD waitMs) const {
    const DWORD start = GetTickCount();
    std::vector<std::string> lines;
    for (;;) {
      lines.clear();
      const std::string text = ReadWholeFile(record_);
      for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(text.substr(at, end - at));
      }
      if (lines.size() >= count || GetTickCount() - start > waitMs) return lines;
      Sleep(20);
    }
  }

  std::unique_ptr<SetAsideKey> htm_;  // no ".htm" key until a test sets one
  std::string record_;
  std::string recorder_;  // quoted, ready for a command line
};

TEST_F(OpenWebPageTest, ShellSuccessIsReturnedAndStartsNothingElse) {
  RegisterOpenCommand(recorder_ + " -fallback \"%1\"");
  // A program's path is an address the shell always opens.
  const std::string program = RecorderPath();
  EXPECT_GT(OpenWebPage(program.c_str(), SW_SHOW), 32u);
  const std::vector<std::string> first = RecordedLines(1, 10000);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_NE(first[0].find("zephlar_record_args"), std::string::npos) << first[0];
  EXPECT_EQ(first[0].find("-fallback"), std::string::npos) << first[0];
  EXPECT_EQ(RecordedLines(2, 1000).size(), 1u);
}

struct CommandForm {
  const char* name;
  const char* arguments;  // after the program, as registered
  const char* kept;       // after the program, before the blank and the address
};

void PrintTo(const CommandForm& form, std::ostream* out) { *out << form.name; }

class OpenCommandTest : public OpenWebPageTest, public testing::WithParamInterface<CommandForm> {};

TEST_P(OpenCommandTest, RunsTheCommandWithTheAddress) {
  ASSERT_LE(ShellResult(kAddress), 32u) << "the shell must refuse the test address";
  RegisterOpenCommand(recorder_ + GetParam().arguments);
  EXPECT_GT(OpenWebPage(kAddress, SW_SHOW), 31u);
  const std::vector<std::string> lines = RecordedLines(1, 10000);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], recorder_ + GetParam().kept + " " + kAddress);
}

INSTANTIATE_TEST_SUITE_P(WebPage, OpenCommandTest,
                         testing::Values(CommandForm{"QuotedPlaceholder", " -url \"%1\"", " -url "},
                                         CommandForm{"BarePlaceholder", " %1 -new", " "},
                                         CommandForm{"NoPlaceholder", " -nohome", " -nohome"}),
                         [](const testing::TestParamInfo<CommandForm>& form) {
                           return std::string(form.param.name);
                         });

TEST_F(OpenWebPageTest, WithoutHtmKeyTheShellResultComesBack) {
  const uint32_t shell = ShellResult(kAddress);
  ASSERT_LE(shell, 32u);
  EXPECT_EQ(OpenWebPage(kAddress, SW_SHOW), shell);
}

TEST_F(OpenWebPageTest, ClassWithoutOpenCommandGivesTheShellResult) {
  SetDefaultValue(HKEY_CLASSES_ROOT, ".htm", kTestClass);
  SetDefaultValue(HKEY_CLASSES_ROOT, std::string(kTestClass) + "\\shell\\open", "Open");
  const uint32_t shell = ShellResult(kAddress);
  ASSERT_LE(shell, 32u);
  EXPECT_EQ(OpenWebPage(kAddress, SW_SHOW), shell);
  EXPECT_TRUE(RecordedLines(1, 1000).empty());
}

// The finished command line has 520 characters of room, terminator included.
// An address that does not fit is not cut short: nothing starts.
TEST_F(OpenWebPageTest, CommandLineFillsItsBufferButNeverPassesIt) {
  RegisterOpenCommand(recorder_ + " -url \"%1\"");
  const std::string kept = recorder_ + " -url ";
  const std::string scheme = "zephlarnone://";
  const size_t fits = 519 - kept.size() - 1 - scheme.size();
  const std::string longest = scheme + std::string(fits, 'a');
  const std::string tooLong = longest + "a";

  const uint32_t shell = ShellResult(tooLong.c_str());
  ASSERT_LE(shell, 32u);
  EXPECT_EQ(OpenWebPage(tooLong.c_str(), SW_SHOW), shell);
  EXPECT_TRUE(RecordedLines(1, 1000).empty());

  EXPECT_GT(OpenWebPage(longest.c_str(), SW_SHOW), 31u);
  const std::vector<std::string> lines = RecordedLines(1, 10000);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 519u);
  EXPECT_EQ(lines[0], kept + " " + longest);
}

TEST(WebPagePlaceholderTest, QuotedFormIsPreferredToAnEarlierBareOne) {
  const char command[] = "prog %1 -x \"%1\"";
  EXPECT_EQ(FindPlaceholder(command, 1252), command + 11);
  const char bare[] = "prog -a %1 -b %1";
  EXPECT_EQ(FindPlaceholder(bare, 1252), bare + 8);
  EXPECT_EQ(FindPlaceholder("prog -nohome %", 1252), nullptr);
}

// In code page 932 the byte 0x81 starts a two-byte character, so the quote
// after it is that character's second byte and no quote at all.
TEST(WebPagePlaceholderTest, QuotedFormIsSearchedCharacterByCharacter) {
  const char command[] = "prog \x81\"%1\"";
  EXPECT_EQ(FindPlaceholder(command, 932), command + 7);   // the bare "%1"
  EXPECT_EQ(FindPlaceholder(command, 1252), command + 6);  // the quoted form
  // A lead byte just before the terminator is a byte of its own: the walk
  // must not step over the terminator onto what lies behind it.
  const char trailing[] = "prog \x81\0\"%1\"";
  EXPECT_EQ(FindPlaceholder(trailing, 932), nullptr);
}

constexpr char kScratchKey[] = "Software\\ZephlarTest\\ReadKeyDefault";

class ReadKeyDefaultTest : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZephlarTest"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZephlarTest"); }
};

// The output takes the value, or keeps what it held when the read fails.
TEST_F(ReadKeyDefaultTest, CopiesADefaultOfAtMost259CharactersOrLeavesTheOutput) {
  constexpr LONG kAnyError = -1;
  const std::string longest(259, 'x'), tooLong = longest + "y";
  const struct {
    const char* what;
    const char* stored;  // null: no key
    LONG result;
  } rows[] = {{"a short value", "htmlfile", ERROR_SUCCESS},
              {"no key", nullptr, ERROR_FILE_NOT_FOUND},
              {"259 characters", longest.c_str(), ERROR_SUCCESS},
              {"260 characters", tooLong.c_str(), kAnyError}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZephlarTest");
    if (row.stored != nullptr) SetDefaultValue(HKEY_CURRENT_USER, kScratchKey, row.stored);
    char output[260] = "unchanged";
    const LONG result = ReadKeyDefault(HKEY_CURRENT_USER, kScratchKey, output);
    if (row.result == kAnyError) {
      EXPECT_NE(ERROR_SUCCESS, result);
    } else {
      EXPECT_EQ(row.result, result);
    }
    EXPECT_EQ(result == ERROR_SUCCESS ? row.stored : "unchanged", std::string(output));
  }
}

TEST_F(ReadKeyDefaultTest, PathAndOutputMayShareABuffer) {
  SetDefaultValue(HKEY_CURRENT_USER, kScratchKey, "a value longer than the key's own path is");
  char buffer[260];
  lstrcpyA(buffer, kScratchKey);
  EXPECT_EQ(ReadKeyDefault(HKEY_CURRENT_USER, buffer, buffer), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "a value longer than the key's own path is");
}

}  // namespace
