// The internet question on leaving a page: declined, answered twice, and a
// download that fails.
#include <gtest/gtest.h>

#include "net/MakerSite.h"
#include "tests/e2e/E2eHarness.h"
#include "tests/net/LoopbackServer.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

using E2eInternet = E2eTest;

std::string Question(const std::string& address) {
  return "The Zephlar needs to connect to the\ninternet to check for possible firmware "
         "sources.\n\nChecking at: " +
         address + "\n\nDo you wish to continue?";
}

TEST_F(E2eInternet, DecliningTheFirstQuestionClosesTheWizardWithoutTheSecond) {
  LoopbackServer first("first"), second("second");
  WriteScript(RoadScript({first.Address("/a"), second.Address("/b")}));
  HWND wizard = OpenPastPrompt();
  ASSERT_NE(wizard, nullptr);
  PostClick(wizard, kNextPoint);
  EXPECT_EQ(Question(first.Address("/a")), AnswerBox("Zephlar Internet Connection", IDNO));
  EXPECT_EQ("You have chosen not to connect, the Zephlar will now close.", AnswerBox("Zephlar"));
  ASSERT_TRUE(WizardEnded());
  EXPECT_TRUE(FindWizards().empty());
  EXPECT_EQ(0, first.requests() + second.requests());
  EXPECT_FALSE(FileExists("frmwrsrc.dat"));
}

TEST_F(E2eInternet, TwoActionsAskAndDownloadInTheirOrder) {
  LoopbackServer first("first body"), second("second body");
  WriteScript(RoadScript({first.Address("/a"), second.Address("/b")}));
  HWND wizard = OpenPastPrompt();
  ASSERT_NE(wizard, nullptr);
  PostClick(wizard, kNextPoint);
  EXPECT_EQ(Question(first.Address("/a")), AnswerBox("Zephlar Internet Connection", IDYES));
  // The user is given two seconds to read "Connecting to server.." before the
  // download; the answer took at most a poll of the box's going to notice.
  const DWORD answered = GetTickCount();
  ASSERT_NE(nullptr, WaitForBox("Zephlar"));
  EXPECT_GE(GetTickCount() - answered, 1800u) << "no pause before the download";
  EXPECT_EQ("Got the firmware sources!", AnswerBox("Zephlar"));
  EXPECT_EQ("first body", ReadBytes("frmwrsrc.dat"));
  EXPECT_EQ(Question(second.Address("/b")), AnswerBox("Zephlar Internet Connection", IDYES));
  EXPECT_EQ("Got the firmware sources!", AnswerBox("Zephlar"));
  EXPECT_TRUE(WaitForPage(wizard, 2));
  EXPECT_EQ("second body", ReadBytes("frmwrsrc.dat"));
  EXPECT_EQ(1, first.requests());
  EXPECT_EQ(1, second.requests());
  const std::vector<std::string> log = {"Drive A is not an zAze",
                                        "Found zAze Drive at B!",
                                        "Connecting to server.. Please wait",
                                        "Successfully obtained the firmware!",
                                        "Connecting to server.. Please wait",
                                        "Successfully obtained the firmware!"};
  EXPECT_EQ(log, LoggedLines());
}

TEST_F(E2eInternet, AFailedDownloadIsToldAndTheWizardStillMovesOn) {
  const std::string address =
      "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/sources.dat";
  WriteScript(RoadScript({address}));
  WriteBytes("frmwrsrc.dat", "from an earlier run");
  WriteBytes("temp.ugi", "left over");
  HWND wizard = OpenPastPrompt();
  ASSERT_NE(wizard, nullptr);
  PostClick(wizard, kNextPoint);
  EXPECT_EQ(Question(address), AnswerBox("Zephlar Internet Connection", IDYES));
  EXPECT_EQ(
      "Unable to obtain firmware sources!\nMake sure you are connected to the "
      "internet.\n" ZEPHLAR_SOURCES_HELP,
      AnswerBox("Zephlar Error"));
  EXPECT_TRUE(WaitForPage(wizard, 2));
  EXPECT_FALSE(FileExists("frmwrsrc.dat"));
  EXPECT_FALSE(FileExists("temp.ugi"));
  const std::vector<std::string> log = {"Drive A is not an zAze", "Found zAze Drive at B!",
                                        "Connecting to server.. Please wait",
                                        "Unable to get the firmware!"};
  EXPECT_EQ(log, LoggedLines());
}

}  // namespace

#endif
