// The internet question on leaving a page: declined, answered twice, and a
// download that fails at once or is given up.
#include <gtest/gtest.h>

#include "net/FirmwareSources.h"
#include "net/MakerSite.h"
#include "tests/e2e/E2eHarness.h"
#include "tests/net/LoopbackServer.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

class E2eInternet : public E2eTest {
 protected:
  // Opens the wizard on the road script with a download of each of
  // `addresses`, presses Next on page 1 and answers the question that names
  // the first address with `answer`.
  HWND LeaveTheFirstPage(const std::vector<std::string>& addresses, int answer) {
    WriteScript(RoadScript(addresses));
    HWND wizard = OpenPastPrompt();
    if (wizard == nullptr) return nullptr;
    PostClick(wizard, kNextPoint);
    ExpectAsked(addresses.front(), answer);
    return wizard;
  }

  // The question names the address it is about to check, and is answered.
  static void ExpectAsked(const std::string& address, int answer) {
    const std::string asked = AnswerBox("Zephlar Internet Connection", answer);
    EXPECT_NE(std::string::npos, asked.find("Checking at: " + address + "\n")) << asked;
    EXPECT_NE(std::string::npos, asked.find("Do you wish to continue?")) << asked;
  }

  // The failure as the user is told it, and what it leaves: the wizard moves
  // on, and neither file of the download is there.
  void ExpectTheFailureTold(HWND wizard) {
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
};

// The lowest row of the list box `list` with text painted on it, from a
// capture; -1 when none has.
int LowestPaintedRow(HWND list) {
  const Capture shot = CaptureClient(list);
  for (int y = shot.height - 1; y >= 0; --y) {
    for (int x = 0; x < shot.width; ++x) {
      const unsigned pixel = shot.At(x, y);
      if ((pixel >> 16 & 0xFF) < 0x50 && (pixel >> 8 & 0xFF) < 0x50 && (pixel & 0xFF) < 0x50) {
        return y;
      }
    }
  }
  return -1;
}

TEST_F(E2eInternet, DecliningTheFirstQuestionClosesTheWizardWithoutTheSecond) {
  LoopbackServer first("first"), second("second");
  ASSERT_NE(nullptr, LeaveTheFirstPage({first.Address("/a"), second.Address("/b")}, IDNO));
  EXPECT_EQ("You have chosen not to connect, the Zephlar will now close.", AnswerBox("Zephlar"));
  ASSERT_TRUE(WizardEnded());
  EXPECT_TRUE(FindWizards().empty());
  EXPECT_EQ(0, first.requests() + second.requests());
  EXPECT_FALSE(FileExists("frmwrsrc.dat"));
}

TEST_F(E2eInternet, TwoActionsAskAndDownloadInTheirOrder) {
  LoopbackServer first("first body"), second("second body");
  HWND wizard = LeaveTheFirstPage({first.Address("/a"), second.Address("/b")}, IDYES);
  ASSERT_NE(wizard, nullptr);
  // The user is given two seconds to read "Connecting to server.." before the
  // download; the answer took at most a poll of the box's going to notice.
  const DWORD answered = GetTickCount();
  ASSERT_NE(nullptr, WaitForBox("Zephlar"));
  EXPECT_GE(GetTickCount() - answered, 1800u) << "no pause before the download";
  EXPECT_EQ("Got the firmware sources!", AnswerBox("Zephlar"));
  EXPECT_EQ("first body", ReadWholeFile("frmwrsrc.dat"));
  ExpectAsked(second.Address("/b"), IDYES);
  EXPECT_EQ("Got the firmware sources!", AnswerBox("Zephlar"));
  EXPECT_TRUE(WaitForPage(wizard, 2));
  EXPECT_EQ("second body", ReadWholeFile("frmwrsrc.dat"));
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
  SaveFile("frmwrsrc.dat", "from an earlier run");
  SaveFile("temp.ugi", "left over");
  HWND wizard = LeaveTheFirstPage({address}, IDYES);
  ASSERT_NE(wizard, nullptr);
  ExpectTheFailureTold(wizard);
}

// A server that takes the request and never answers: "Connecting to
// server.." is on screen during the pause, and the download is given up at
// the time limit like any failed one.
TEST_F(E2eInternet, AServerThatNeverAnswersIsGivenUpAtTheTimeLimit) {
  LoopbackServer silent("never sent", LoopbackServer::kNeverAnswer);
  const std::string address = silent.Address("/sources.dat");
  SaveFile("frmwrsrc.dat", "from an earlier run");
  SaveFile("temp.ugi", "left over");
  WriteScript(RoadScript({address}));
  HWND wizard = OpenPastPrompt();
  ASSERT_NE(wizard, nullptr);
  HWND log = StatusLogList(wizard);
  ASSERT_NE(log, nullptr);
  const int line = static_cast<int>(SendMessageA(log, LB_GETITEMHEIGHT, 0, 0));
  PostClick(wizard, kNextPoint);
  ExpectAsked(address, IDYES);
  const DWORD answered = GetTickCount();
  // Below the search's two lines.
  EXPECT_TRUE(WaitUntil([&] { return LowestPaintedRow(log) >= 2 * line; }, 1500))
      << LowestPaintedRow(log) << " with lines of " << line;
  EXPECT_NE(nullptr, WaitForBox("Zephlar Error", 2000 + kSourcesTimeLimitMs + 5000));
  EXPECT_GE(GetTickCount() - answered, kSourcesTimeLimitMs);
  EXPECT_EQ(1, silent.requests());
  ExpectTheFailureTold(wizard);
}

}  // namespace

#endif
