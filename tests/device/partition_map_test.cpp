#include "device/PartitionMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/Contact.h"
#include "tests/support/TestFiles.h"

namespace {

uint32_t BigEndian(const std::string& block, size_t offset, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value = value << 8 | static_cast<uint8_t>(block[offset + i]);
  return value;
}

std::string BytesOf(const PartitionMapEntry& entry) {
  return std::string(reinterpret_cast<const char*>(&entry), sizeof entry);
}

void SetName(char (&field)[32], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

// What a stream opened in text mode leaves in the file for `text`.
std::string AsTextFile(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

// Runs `write` on a fresh text-mode stream and returns the file's bytes.
template <typename Write>
std::string DumpedText(Write write) {
  const std::string name = TestFileName("txt");
  std::FILE* file = std::fopen(name.c_str(), "w");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return std::string();
  write(file);
  std::fclose(file);
  const std::string bytes = ReadWholeFile(name);
  std::remove(name.c_str());
  return bytes;
}

const char kRule[] = "\t***************************************************************\n";

TEST(PartitionMapSwap, ConvertsEveryNumberFromDiskOrderAndNothingElse) {
  // Every byte differs from its neighbours, so a field converted with the
  // wrong width or left out shows.
  std::string block(512, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 3);
  block.replace(0, 2, "\x50\x4D", 2);
  block.replace(0x0C, 4, std::string("\x00\x00\x00\x3E", 4));
  block.replace(0x10, 9, std::string("firmware\0", 9));
  PartitionMapEntry entry;
  std::memcpy(&entry, block.data(), sizeof entry);
  SwapPartitionMapEntry(entry);

  EXPECT_EQ(entry.pmSig, 0x504D);
  EXPECT_EQ(entry.pmPartBlkCnt, 62u);
  EXPECT_STREQ(entry.pmPartName, "firmware");
  EXPECT_EQ(entry.pmSigPad, BigEndian(block, 0x02, 2));
  EXPECT_EQ(entry.pmMapBlkCnt, BigEndian(block, 0x04, 4));
  EXPECT_EQ(entry.pmPyPartStart, BigEndian(block, 0x08, 4));
  const uint32_t fromDataStart[] = {entry.pmLgDataStart, entry.pmDataCnt,   entry.pmPartStatus,
                                    entry.pmLgBootStart, entry.pmBootSize,  entry.pmBootAddr,
                                    entry.pmBootAddr2,   entry.pmBootEntry, entry.pmBootEntry2,
                                    entry.pmBootCksum};
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(fromDataStart[i], BigEndian(block, 0x50 + 4 * i, 4)) << "field at " << 0x50 + 4 * i;
  }
  const std::string swapped = BytesOf(entry);
  EXPECT_EQ(swapped.substr(0x10, 0x40), block.substr(0x10, 0x40)) << "names";
  EXPECT_EQ(swapped.substr(0x78), block.substr(0x78)) << "processor type and reserved area";

  SwapPartitionMapEntry(entry);
  EXPECT_EQ(BytesOf(entry), block);
}

TEST(PartitionMapName, MatchesTheWholeNameWithinItsField) {
  PartitionMapEntry entry = {};
  SetName(entry.pmPartName, std::string("firmware\0left over", 18));
  EXPECT_TRUE(HasPartName(entry, "firmware"));
  for (const char* other : {"Firmware", "firmwar", "firmware ", "disk", ""}) {
    EXPECT_FALSE(HasPartName(entry, other)) << other;
  }
  SetName(entry.pmPartName, "FIRMWARE");
  EXPECT_FALSE(HasPartName(entry, "firmware"));

  // Without a NUL inside the field the name equals nothing, not even itself.
  const std::string full(32, 'x');
  SetName(entry.pmPartName, full);
  SetName(entry.pmParType, "Apple_Free");  // right behind the name
  EXPECT_FALSE(HasPartName(entry, full.c_str()));
  EXPECT_FALSE(HasPartName(entry, full.substr(0, 31).c_str()));
  EXPECT_FALSE(HasPartName(entry, (full + "Apple_Free").c_str()));
}

TEST(PartitionMapDump, WritesTheTwelveLinesOfAnEntry) {
  // Names of 32 characters without a NUL, each followed by more text; the
  // name also holds conversions, which must come out as they stand.
  const std::string name = std::string("%s%n%x ") + "0123456789abcdefghijklmno";
  const std::string type(32, 'T');
  PartitionMapEntry entry = {};
  entry.pmSigPad = 0xABC;
  entry.pmMapBlkCnt = 3;
  entry.pmPyPartStart = 63;
  entry.pmPartBlkCnt = 65477;
  SetName(entry.pmPartName, name);
  SetName(entry.pmParType, type);
  entry.pmLgDataStart = 0x41414141;  // "AAAA", right behind the type
  entry.pmDataCnt = 0xDEADBEEF;
  entry.pmPartStatus = 0x7F;
  entry.pmBootSize = 0x11111111;  // not printed
  const std::string text = DumpedText([&](std::FILE* f) { DumpPartitionMapEntry(entry, f); });
  EXPECT_EQ(text, AsTextFile(std::string(kRule) +
                             "\tpmSig -> 0x0000\n"
                             "\tpmSigPad -> 0x0abc\n"
                             "\tpmMapBlkCnt -> 0x00000003\n"
                             "\tpmPyPartStart -> 0x0000003f\n"
                             "\tpmPartBlkCnt -> 0x0000ffc5\n"
                             "\tpmPartName -> \"" +
                             name + "\"\n\tpmParType -> \"" + type +
                             "\"\n"
                             "\tpmLgDataStart -> 0x41414141\n"
                             "\tpmDataCnt -> 0xdeadbeef\n"
                             "\tpmPartStatus -> 0x0000007f\n" +
                             kRule));
}

TEST(PartitionMapDump, WritesTheHeaderAndNumberedSections) {
  PartitionMapEntry entries[3] = {};
  SetName(entries[0].pmPartName, "partition map");
  SetName(entries[1].pmPartName, "firmware");
  SetName(entries[2].pmPartName, "disk");
  const std::string text = DumpedText([&](std::FILE* f) {
    DumpPartitionMapHeader(f, -1234);  // a tick count past 2^31
    for (int32_t i = 0; i < 3; ++i) DumpPartitionSection(f, i, 2, entries[i]);
  });
  std::string expected = AsTextFile(
      "************** START OF PARTITION MAP FILE (-1234)\n"
      "Send this file to \"" ZEPHLAR_SUPPORT_ADDRESS
      "\". Thank You!\n"
      "****************************************************\n");
  for (int i = 0; i < 3; ++i) {
    expected += AsTextFile("**> Start of partition " + std::to_string(i) + " of 2\n");
    expected += DumpedText([&](std::FILE* f) { DumpPartitionMapEntry(entries[i], f); });
  }
  EXPECT_EQ(text, expected);
}

}  // namespace
