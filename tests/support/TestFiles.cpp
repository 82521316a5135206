#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

std::string TestFileName(const std::string& suffix) {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name() + "." + suffix;
  for (char& c : name) {
    if (c == '/') c = '_';  // parameterised test names
  }
  return name;
}

bool SaveFile(const std::string& name, const std::string& bytes) {
  FILE* file = std::fopen(name.c_str(), "wb");
  EXPECT_NE(file, nullptr) << name;
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  EXPECT_TRUE(written) << name;
  return std::fclose(file) == 0 && written;
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

bool FileExists(const std::string& name) {
  std::error_code ignored;
  return fs::exists(name, ignored);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

#ifdef _WIN32
std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = "";
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return length > 0 && length < sizeof full ? std::string(full) : path;
}
#endif

ScratchFolder::ScratchFolder(Stay stay) {
  const fs::path home = fs::current_path();
  const fs::path scratch = home / TestFileName("dir");
  std::error_code ignored;
  // What an earlier run of the test left is gone before it starts.
  fs::remove_all(scratch, ignored);
  fs::create_directory(scratch);
  path_ = scratch.string();
  if (stay == kEnter) {
    fs::current_path(scratch);
    home_ = home.string();
  }
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!home_.empty()) fs::current_path(home_, ignored);
  fs::remove_all(path_, ignored);
}

std::string ScratchFolder::PathOf(const std::string& name) const {
  return (fs::path(path_) / name).string();
}
