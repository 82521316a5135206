#include "tests/net/ScratchDirectory.h"

#include <windows.h>

#include <cstdio>

namespace {

std::string CurrentDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetCurrentDirectoryA(sizeof path, path);
  EXPECT_GT(length, 0u);
  EXPECT_LT(length, sizeof path);
  return path;
}

// Leaves `directory` empty of files, so a test never sees what an earlier run
// of itself left there.
void RemoveFiles(const std::string& directory) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      const std::string file = directory + "\\" + found.cFileName;
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      EXPECT_TRUE(DeleteFileA(file.c_str())) << file;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

void ScratchDirectoryTest::SetUp() {
  previous_ = CurrentDirectory();
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string root = previous_ + "\\net_scratch";
  CreateDirectoryA(root.c_str(), nullptr);  // may exist already
  scratch_ = root + "\\" + info->test_suite_name() + "." + info->name();
  for (char& c : scratch_) {
    if (c == '/') c = '_';  // parameterised test names
  }
  CreateDirectoryA(scratch_.c_str(), nullptr);
  RemoveFiles(scratch_);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch_.c_str())) << scratch_;
}

void ScratchDirectoryTest::TearDown() { SetCurrentDirectoryA(previous_.c_str()); }

std::string ScratchDirectoryTest::PathOf(const std::string& name) const {
  return scratch_ + "\\" + name;
}

bool FileExists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteWholeFile(const std::string& name, const std::string& bytes) {
  FILE* file = std::fopen(name.c_str(), "wb");
  ASSERT_NE(file, nullptr) << name;
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
}
