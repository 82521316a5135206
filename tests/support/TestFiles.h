// Scratch files for tests, named after the running test so that tests run
// in parallel (natively and under Wine) never share a file.
#pragma once

#include <string>

// Name of a scratch file for the running test: "<suite>.<test>.<suffix>".
std::string TestFileName(const std::string& suffix);

// Writes `bytes` to the scratch file and returns its name.
std::string WriteTestFile(const std::string& suffix, const std::string& bytes);

// Writes `bytes` to the file `name`, replacing it; a failure fails the test.
void SaveFile(const std::string& name, const std::string& bytes);

// Reads a whole file; an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& name);

// `text` in lower case (ASCII), as Windows compares file names.
std::string Lower(std::string text);

// For the life of the holder, the current directory is a fresh scratch
// directory "<suite>.<test>.dir" of its own, for code that writes files of
// fixed names (the dump file) there. Made while a test runs; on its end the
// old directory is current again and the scratch one is removed.
class ScratchWorkingDirectory {
 public:
  ScratchWorkingDirectory();
  ~ScratchWorkingDirectory();
  ScratchWorkingDirectory(const ScratchWorkingDirectory&) = delete;
  ScratchWorkingDirectory& operator=(const ScratchWorkingDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string home_;
  std::string path_;
};
