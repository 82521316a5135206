// The firmware-sources download against a server of the test's own on the
// loopback address.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "net/FirmwareSources.h"
#include "tests/net/LoopbackServer.h"
#include "tests/support/TestFiles.h"

namespace {

// Binary on purpose: a line end, a NUL and a high byte must come through as
// they are.
constexpr char kBodyBytes[] = "firmware sources\r\n\0\x01\xff line two\n";
const std::string kBody(kBodyBytes, sizeof kBodyBytes - 1);
const std::string kEarlier = "an earlier copy, longer than the body that replaces it......";

class DownloadTest : public testing::Test {
 protected:
  ScratchFolder folder_;  // the current directory: the files have fixed names

  void SetUp() override {
    // A proxy from the environment would carry the requests off this machine.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
      ASSERT_EQ(GetEnvironmentVariableA(name, nullptr, 0), 0u) << name << " is set";
    }
  }
};

TEST_F(DownloadTest, WritesExactlyTheBodyAndReturnsOne) {
  LoopbackServer server(kBody);
  ASSERT_TRUE(server.listening());
  EXPECT_EQ(DownloadFirmwareSources(server.Address("/sources.dat").c_str()), 1);
  EXPECT_EQ(server.requests(), 1);
  EXPECT_EQ(ReadWholeFile("frmwrsrc.dat"), kBody);
}

TEST_F(DownloadTest, ReplacesAnEarlierCopyAndLeavesTempUgiAlone) {
  SaveFile("frmwrsrc.dat", kEarlier);
  SaveFile("temp.ugi", "kept");
  LoopbackServer server(kBody);
  ASSERT_TRUE(server.listening());
  EXPECT_EQ(DownloadFirmwareSources(server.Address("/sources.dat").c_str()), 1);
  EXPECT_EQ(ReadWholeFile("frmwrsrc.dat"), kBody);
  EXPECT_EQ(ReadWholeFile("temp.ugi"), "kept");
}

// The step script stores the address with the line feed of its line.
TEST_F(DownloadTest, TakesTheAddressWithItsLineFeed) {
  LoopbackServer server(kBody);
  ASSERT_TRUE(server.listening());
  EXPECT_EQ(DownloadFirmwareSources((server.Address("/list/sources.txt") + "\n").c_str()), 1);
  EXPECT_EQ(ReadWholeFile("frmwrsrc.dat"), kBody);
  EXPECT_EQ(server.lastRequestLine().rfind("GET /list/sources.txt HTTP/1.", 0), 0u)
      << server.lastRequestLine();
}

// Failures that the download reports before any data arrives: nothing
// listening on the port, and a scheme that nothing handles.
TEST_F(DownloadTest, FailureReturnsZeroAndClearsBothFiles) {
  const std::string addresses[] = {
      "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/sources.dat\n",
      "zephlarnone://loopback/sources.dat\n",
  };
  for (const std::string& address : addresses) {
    SaveFile("frmwrsrc.dat", kEarlier);
    SaveFile("temp.ugi", "partial");
    EXPECT_EQ(DownloadFirmwareSources(address.c_str()), 0) << address;
    EXPECT_NE(ReadWholeFile("frmwrsrc.dat"), kEarlier) << address;
    EXPECT_FALSE(FileExists("temp.ugi")) << address;
  }
}

// A server slower than the limit: the download is given up in time, with
// the caller kept busy meanwhile, and the answer that comes later is never
// written.
TEST_F(DownloadTest, AServerSlowerThanTheLimitIsGivenUpAndItsAnswerDropped) {
  SaveFile("temp.ugi", "partial");
  LoopbackServer server(kBody, 5000);
  ASSERT_TRUE(server.listening());
  int waits = 0;
  const DWORD start = GetTickCount();
  EXPECT_EQ(DownloadFirmwareSources(
                server.Address("/sources.dat").c_str(), 3000,
                [](void* count) { ++*static_cast<int*>(count); }, &waits),
            0);
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 3000u);
  EXPECT_LT(took, 4500u);
  EXPECT_GE(waits, 30);
  EXPECT_FALSE(FileExists("temp.ugi"));
  ASSERT_EQ(server.requests(), 1) << "the request came after the limit";
  for (const DWORD due = GetTickCount(); server.handled() == 0 && GetTickCount() - due < 5000;) {
    Sleep(20);
  }
  ASSERT_EQ(server.handled(), 1);
  Sleep(700);
  EXPECT_FALSE(FileExists("frmwrsrc.dat"));
}

TEST_F(DownloadTest, FailureWithoutTempUgiIsStillZero) {
  const std::string address =
      "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/sources.dat";
  EXPECT_EQ(DownloadFirmwareSources(address.c_str()), 0);
  EXPECT_FALSE(FileExists("temp.ugi"));
}

}  // namespace
