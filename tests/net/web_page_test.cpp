// Opening a web page: the shell first, then the ".htm" open command from the
// registry, run with a recorder program in place of a browser. The tests
// change HKEY_CLASSES_ROOT\.htm and put it back after each test.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // RegCopyTreeA and RegDeleteTreeA, test code only
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/WebPage.h"
#include "tests/net/ScratchDirectory.h"

namespace {

constexpr char kTestClass[] = "ZephlarTest.htm";
constexpr char kBackupKey[] = "ZephlarTest.backup.htm";
// A scheme nobody handles, so that the shell refuses it.
constexpr char kAddress[] = "zephlarnone://loopback/page?x=1";

// The recorder program, built next to this one.
std::string RecorderPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path);
  directory.resize(directory.rfind('\\') + 1);
  return directory + "zephlar_record_args.exe";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void SetDefaultValue(HKEY root, const std::string& subkey, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS)
      << subkey;
  EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

bool KeyExists(HKEY root, const char* subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Copies the whole tree at `from` to `to`, both under HKEY_CLASSES_ROOT.
void CopyClassesTree(const char* from, const char* to) {
  HKEY source = nullptr;
  HKEY target = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, from, 0, KEY_READ, &source), ERROR_SUCCESS) << from;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, to, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target,
                            nullptr),
            ERROR_SUCCESS)
      << to;
  EXPECT_EQ(RegCopyTreeA(source, nullptr, target), ERROR_SUCCESS);
  RegCloseKey(source);
  RegCloseKey(target);
}

uint32_t ShellResult(const char* address) {
  return static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(
      ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOW)));
}

class OpenWebPageTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    // A run that died half-way left its backup; that one holds the original.
    if (KeyExists(HKEY_CLASSES_ROOT, kBackupKey)) RestoreHtmKey();
    hadHtmKey_ = KeyExists(HKEY_CLASSES_ROOT, ".htm");
    if (hadHtmKey_) CopyClassesTree(".htm", kBackupKey);
    record_ = PathOf("record.log");
    SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", record_.c_str());
    recorder_ = Quoted(RecorderPath());
  }

  void TearDown() override {
    SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", nullptr);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestClass);
    if (hadHtmKey_) RestoreHtmKey();
    ScratchDirectoryTest::TearDown();
  }

  void RestoreHtmKey() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
    CopyClassesTree(kBackupKey, ".htm");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, kBackupKey), ERROR_SUCCESS);
  }

  // Web pages open with the test class, whose open command is `command`.
  void RegisterOpenCommand(const std::string& command) {
    SetDefaultValue(HKEY_CLASSES_ROOT, ".htm", kTestClass);
    SetDefaultValue(HKEY_CLASSES_ROOT, std::string(kTestClass) + "\\shell\\open\\command", command);
  }

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

  bool hadHtmKey_ = false;
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
  RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
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

TEST_F(ReadKeyDefaultTest, CopiesTheDefaultValue) {
  SetDefaultValue(HKEY_CURRENT_USER, kScratchKey, "htmlfile");
  char output[260] = "old";
  EXPECT_EQ(ReadKeyDefault(HKEY_CURRENT_USER, kScratchKey, output), ERROR_SUCCESS);
  EXPECT_STREQ(output, "htmlfile");
}

TEST_F(ReadKeyDefaultTest, MissingKeyGivesItsErrorAndLeavesTheOutput) {
  char output[260] = "unchanged";
  EXPECT_EQ(ReadKeyDefault(HKEY_CURRENT_USER, kScratchKey, output), ERROR_FILE_NOT_FOUND);
  EXPECT_STREQ(output, "unchanged");
}

TEST_F(ReadKeyDefaultTest, TakesAtMost259Characters) {
  const std::string longest(259, 'x');
  SetDefaultValue(HKEY_CURRENT_USER, kScratchKey, longest);
  char output[260] = "unchanged";
  EXPECT_EQ(ReadKeyDefault(HKEY_CURRENT_USER, kScratchKey, output), ERROR_SUCCESS);
  EXPECT_EQ(std::string(output), longest);

  SetDefaultValue(HKEY_CURRENT_USER, kScratchKey, longest + "y");
  lstrcpyA(output, "unchanged");
  EXPECT_NE(ReadKeyDefault(HKEY_CURRENT_USER, kScratchKey, output), ERROR_SUCCESS);
  EXPECT_STREQ(output, "unchanged");
}

TEST_F(ReadKeyDefaultTest, PathAndOutputMayShareABuffer) {
  SetDefaultValue(HKEY_CURRENT_USER, kScratchKey, "a value longer than the key's own path is");
  char buffer[260];
  lstrcpyA(buffer, kScratchKey);
  EXPECT_EQ(ReadKeyDefault(HKEY_CURRENT_USER, buffer, buffer), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "a value longer than the key's own path is");
}

}  // namespace
