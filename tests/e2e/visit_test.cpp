// The maker's web site through the real visit button, when the shell cannot
// open the address: the ".htm" open command runs with the address in place
// of its placeholder. A recorder program stands in for the browser; the
// registry keys the test changes are put back after it.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // RegCopyTreeA and RegDeleteTreeA, test code only
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>

#include "net/MakerSite.h"
#include "tests/e2e/E2eHarness.h"
#include "tests/net/HtmCommand.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

constexpr char kTestClass[] = "ZephlarE2e.htm";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

using E2eVisit = E2eTest;

TEST_F(E2eVisit, TheVisitButtonRunsTheHtmCommandWhenTheShellRefuses) {
  // The shell knows no handler for the address's scheme while "http" is set
  // aside, so the library falls back on the ".htm" command.
  SetAsideKey http("http", "ZephlarE2e.backup");
  SetAsideKey htm(".htm", "ZephlarE2e.backup");
  const std::string recorder = "\"" + RecorderPath() + "\"";
  RegisterHtmCommand(kTestClass, recorder + " -url \"%1\" -new");
  const std::string record = FullPath("visits.log");
  SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", record.c_str());

  // The caption is compared without regard to case.
  HWND wizard = OpenOnFirmwarePage(
      RoadScript({}, "step2.controls3.value." + Upper(ZEPHLAR_VISIT_CAPTION) + "\n"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(PressPageButton(wizard, ZEPHLAR_VISIT_CAPTION));
  // The placeholder, its quotes and what follows are cut; one blank and the
  // address are added.
  EXPECT_TRUE(WaitUntil([&] { return !ReadWholeFile(record).empty(); }));
  EXPECT_EQ(recorder + " -url  " ZEPHLAR_MAKER_HOME_PAGE "\n", ReadWholeFile(record));
  EXPECT_EQ(2, PageOnScreen(wizard));
  EXPECT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  EXPECT_TRUE(WizardEnded());
  SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", nullptr);
}

}  // namespace

#endif
