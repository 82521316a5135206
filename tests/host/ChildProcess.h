// zephlar.exe started from a test as a user starts it, in a scratch folder of
// its own; its windows are found through harness/WindowDriver with the
// process's id.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/StepScripts.h"
#include "tests/support/TestFiles.h"

// Copies `source` into `folder` as `name`; false when it could not.
bool CopyInto(const ScratchFolder& folder, const std::string& source, const std::string& name);
// zephlar.exe copied into `folder`, with `library` beside it as its
// zephlardll.dll unless that is null, unless an earlier call copied them;
// the program's path there, or empty when a copy failed.
std::string CopyProgramInto(const ScratchFolder& folder, const char* library);

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
