// A directory of its own for each test, made the current directory for the
// test's length: the code under test uses fixed file names relative to it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestFiles.h"  // ReadWholeFile

class ScratchDirectoryTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The full Windows path of `name` in the scratch directory.
  std::string PathOf(const std::string& name) const;

  std::string scratch_;

 private:
  std::string previous_;
};

bool FileExists(const std::string& name);

void WriteWholeFile(const std::string& name, const std::string& bytes);
