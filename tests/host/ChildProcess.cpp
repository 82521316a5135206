#include "tests/host/ChildProcess.h"

#include <cstdio>
#include <cstring>

#include "tests/support/TestFiles.h"

bool CopyInto(const ScratchFolder& folder, const std::string& source, const std::string& name) {
  return CopyFileA(FullPath(source).c_str(), folder.PathOf(name).c_str(), FALSE) != 0;
}

std::string CopyProgramInto(const ScratchFolder& folder, const char* library) {
  // Copied once: a program started before may still hold its files.
  const std::string program = folder.PathOf("zephlar.exe");
  if (GetFileAttributesA(program.c_str()) != INVALID_FILE_ATTRIBUTES) return program;
  const bool copied = CopyInto(folder, ZEPHLAR_HOST_PATH, "zephlar.exe") &&
                      (library == nullptr || CopyInto(folder, library, "zephlardll.dll"));
  return copied ? program : std::string();
}

ChildProgram::~ChildProgram() {
  if (info_.hProcess == nullptr) return;
  if (!HasEnded()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool ChildProgram::Start(const std::string& program, const std::string& arguments,
                         const std::string& directory) {
  std::string commandLine = "\"" + FullPath(program) + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  return CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &info_) != 0;
}

bool ChildProgram::HasEnded(DWORD waitMs) const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, waitMs) == WAIT_OBJECT_0;
}

DWORD ChildProgram::ExitCode(DWORD waitMs) const {
  if (!HasEnded(waitMs)) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}
