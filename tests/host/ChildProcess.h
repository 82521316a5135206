// zephlar.exe started from a test as a user starts it, in a scratch folder of
// its own; its windows are found through tests/support/WindowDriver with the
// process's id.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A folder under the current directory, named after the running test, with
// the files copied into it; removed again with everything in it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // Copies `source` into the folder as `name`; false when it could not.
  bool Copy(const std::string& source, const std::string& name);
  bool Write(const std::string& name, const std::string& bytes);
  // zephlar.exe copied into the folder, with `library` beside it as its
  // zephlardll.dll unless that is null, unless an earlier call copied them;
  // the program's path there, or empty when a copy failed.
  std::string CopyProgram(const char* library);

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// The step script that ships, with `lines` read just before its "end" line,
// where they override what the script set.
std::string ShippedScriptWith(const std::string& lines);

// A full Windows path for a path as the build names it.
std::string FullPath(const std::string& path);

// A started program. It is ended by force if a test leaves it running.
class ChildProgram {
 public:
  ChildProgram() = default;
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // Starts `program` with `arguments` and `directory` as its current
  // directory.
  bool Start(const std::string& program, const std::string& arguments,
             const std::string& directory);
  DWORD id() const { return info_.dwProcessId; }
  bool HasEnded(DWORD waitMs = 0) const;
  // The exit code once the process has ended within `waitMs`; STILL_ACTIVE
  // when it has not.
  DWORD ExitCode(DWORD waitMs) const;

 private:
  PROCESS_INFORMATION info_ = {};
};
