// The firmware-sources download against a server of the test's own on the
// loopback address.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "net/FirmwareSources.h"
#include "tests/net/LoopbackServer.h"
#include "tests/net/ScratchDirectory.h"

namespace {

// Binary on purpose: a line end, a NUL and a high byte must come through as
// they are.
constexpr char kBodyBytes[] = "firmware sources\r\n\0\x01\xff line two\n";
const std::string kBody(kBodyBytes, sizeof kBodyBytes - 1);
const std::string kEarlier = "an earlier copy, longer than the body that replaces it......";

class DownloadTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
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
  WriteWholeFile("frmwrsrc.dat", kEarlier);
  WriteWholeFile("temp.ugi", "kept");
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
// listening on the port, and a scheme that nothing handles; with the files of
// an earlier run, and without them.
TEST_F(DownloadTest, FailureReturnsZeroAndClearsBothFiles) {
  const std::string unused =
      "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/sources.dat";
  const struct {
    std::string address;
    bool earlierFiles;
  } rows[] = {
      {unused + "\n", true}, {"zephlarnone://loopback/sources.dat\n", true}, {unused, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address + (row.earlierFiles ? " after an earlier run" : ""));
    DeleteFileA("frmwrsrc.dat");
    DeleteFileA("temp.ugi");
    if (row.earlierFiles) {
      WriteWholeFile("frmwrsrc.dat", kEarlier);
      WriteWholeFile("temp.ugi", "partial");
    }
    EXPECT_EQ(DownloadFirmwareSources(row.address.c_str()), 0);
    if (row.earlierFiles) {
      EXPECT_NE(ReadWholeFile("frmwrsrc.dat"), kEarlier);
    }
    EXPECT_FALSE(FileExists("temp.ugi"));
  }
}

}  // namespace
