// Files for tests: scratch files and folders named after the running test,
// so that tests run in parallel (natively and under Wine) never share one,
// and the one writer and reader of whole files.
#pragma once

#include <string>

// Name of a scratch file for the running test: "<suite>.<test>.<suffix>".
std::string TestFileName(const std::string& suffix);

// Writes `bytes` to the file `name`, replacing it; a failure fails the test,
// and the result says whether the file was written whole.
bool SaveFile(const std::string& name, const std::string& bytes);
// Writes `bytes` to the scratch file and returns its name.
std::string WriteTestFile(const std::string& suffix, const std::string& bytes);
// Reads a whole file; an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& name);
bool FileExists(const std::string& name);

// `text` in lower case (ASCII), as Windows compares file names.
std::string Lower(std::string text);

#ifdef _WIN32
// The full Windows path of `path`.
std::string FullPath(const std::string& path);
#endif

// A fresh folder "<suite>.<test>.dir" under the current directory, removed
// with all it holds when the holder goes. Unless told to stay, the holder
// makes it the current directory for its life, for code that writes files
// of fixed names there (the dump file, the backups, frmwrsrc.dat).
class ScratchFolder {
 public:
  enum Stay { kEnter, kStayHere };
  explicit ScratchFolder(Stay stay = kEnter);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's full path, and that of `name` in it.
  const std::string& path() const { return path_; }
  std::string PathOf(const std::string& name) const;

 private:
  std::string home_;  // the current directory before, when the holder entered
  std::string path_;
};
