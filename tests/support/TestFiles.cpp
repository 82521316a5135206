#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

std::string TestFileName(const std::string& suffix) {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name() + "." + suffix;
  for (char& c : name) {
    if (c == '/') c = '_';  // parameterised test names
  }
  return name;
}

void SaveFile(const std::string& name, const std::string& bytes) {
  FILE* file = std::fopen(name.c_str(), "wb");
  EXPECT_NE(file, nullptr) << name;
  if (file != nullptr) {
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
  }
}

std::string WriteTestFile(const std::string& suffix, const std::string& bytes) {
  const std::string name = TestFileName(suffix);
  SaveFile(name, bytes);
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

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

ScratchWorkingDirectory::ScratchWorkingDirectory() {
  namespace fs = std::filesystem;
  const fs::path home = fs::current_path();
  const fs::path scratch = home / TestFileName("dir");
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  fs::create_directory(scratch);
  fs::current_path(scratch);
  home_ = home.string();
  path_ = scratch.string();
}

ScratchWorkingDirectory::~ScratchWorkingDirectory() {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::current_path(home_, ignored);
  fs::remove_all(path_, ignored);
}
