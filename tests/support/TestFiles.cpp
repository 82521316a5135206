#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>

std::string TestFileName(const std::string& suffix) {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name() + "." + suffix;
  for (char& c : name) {
    if (c == '/') c = '_';  // parameterised test names
  }
  return name;
}

std::string WriteTestFile(const std::string& suffix, const std::string& bytes) {
  const std::string name = TestFileName(suffix);
  FILE* file = std::fopen(name.c_str(), "wb");
  EXPECT_NE(file, nullptr) << name;
  if (file != nullptr) {
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
  }
  return name;
}

std::string ReadWholeFile(const std::string& name) {
  std::string bytes;
  FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return bytes;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}
