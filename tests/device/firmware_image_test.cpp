#include "device/FirmwareImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "device/Platform.h"
#include "tests/support/TestFiles.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const std::string kSignature = "Apple Computer, Inc.";

// An image of `size` bytes (filler 0x5A) with `text` placed at `offset`.
std::string ImageWith(const std::string& text, size_t offset, size_t size) {
  std::string bytes(size, '\x5A');
  bytes.replace(offset, text.size(), text);
  return bytes.substr(0, size);
}

int CheckBytes(const std::string& bytes) {
  return IsFirmwareFile(WriteTestFile("img", bytes).c_str());
}

TEST(FirmwareImage, AcceptsTheSignatureAtOffset130WhateverElseTheFileHolds) {
  EXPECT_EQ(CheckBytes(ImageWith(kSignature, 130, 512)), 1);
  EXPECT_EQ(CheckBytes(ImageWith(kSignature, 130, 3 * 1024 * 1024 + 17)), 1);
  std::string binary = ImageWith(kSignature, 130, 4096);
  binary[0] = '\0';
  binary[150] = '\0';
  binary[4000] = '\xFF';
  EXPECT_EQ(CheckBytes(binary), 1);
}

TEST(FirmwareImage, RefusesTheSignatureOneByteOffEitherWay) {
  EXPECT_EQ(CheckBytes(ImageWith(kSignature, 129, 512)), 0);
  EXPECT_EQ(CheckBytes(ImageWith(kSignature, 131, 512)), 0);
}

TEST(FirmwareImage, ComparesCaseSensitivelyAndEveryByte) {
  EXPECT_EQ(CheckBytes(ImageWith("apple Computer, Inc.", 130, 512)), 0);
  EXPECT_EQ(CheckBytes(ImageWith("Apple Computer, INC.", 130, 512)), 0);
  EXPECT_EQ(CheckBytes(ImageWith("Apple Computer, Inc,", 130, 512)), 0);
  EXPECT_EQ(CheckBytes(ImageWith("Apple Computer, Inc", 130, 512)), 0);
}

TEST(FirmwareImage, NeedsTheWholeTextInsideTheFile) {
  EXPECT_EQ(CheckBytes(ImageWith(kSignature, 130, 150)), 1);
  EXPECT_EQ(CheckBytes(ImageWith(kSignature.substr(0, 19), 130, 149)), 0);
  EXPECT_EQ(CheckBytes(std::string()), 0);
  EXPECT_EQ(CheckBytes(std::string(130, 'A')), 0);
}

TEST(FirmwareImage, RefusesWhatCannotBeOpened) {
  EXPECT_EQ(IsFirmwareFile(TestFileName("absent").c_str()), 0);
  EXPECT_EQ(IsFirmwareFile(""), 0);
  EXPECT_EQ(IsFirmwareFile("."), 0);  // a directory
  EXPECT_EQ(IsFirmwareFile(nullptr), 0);
}

TEST(FirmwareImage, ClosesTheFileOnEveryOutcome) {
  const std::string good = WriteTestFile("good", ImageWith(kSignature, 130, 512));
  const std::string bad = WriteTestFile("bad", ImageWith(kSignature, 131, 512));
  const std::string tiny = WriteTestFile("tiny", "x");
  EXPECT_EQ(IsFirmwareFile(good.c_str()), 1);
  EXPECT_EQ(IsFirmwareFile(bad.c_str()), 0);
  EXPECT_EQ(IsFirmwareFile(tiny.c_str()), 0);
  // Windows refuses to delete a file that is still open, so this fails if a
  // handle was left behind.
  EXPECT_EQ(std::remove(good.c_str()), 0);
  EXPECT_EQ(std::remove(bad.c_str()), 0);
  EXPECT_EQ(std::remove(tiny.c_str()), 0);
}

#ifdef _WIN32
// A file that another program reads (a browser finishing a download, a virus
// scanner) is read alongside it; one it locks cannot be opened, which is told
// apart from a file that is not firmware.
TEST(FirmwareImage, ReadsAFileAnotherProgramReadsAndTellsOneItLocks) {
  const std::string name = WriteTestFile("held", ImageWith(kSignature, 130, 512));
  HANDLE reading = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reading, INVALID_HANDLE_VALUE);
  EXPECT_EQ(IsFirmwareFile(name.c_str()), 1);
  CloseHandle(reading);
  HANDLE locked = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CheckFirmwareFile(name.c_str()), -1);
  EXPECT_EQ(ClassifyError(LastErrorCode()), SystemError::kInUse);
  CloseHandle(locked);
  EXPECT_EQ(IsFirmwareFile(name.c_str()), 1);
}
#endif

}  // namespace
