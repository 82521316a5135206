#include "tests/host/ChildProcess.h"

#include <cstdio>
#include <cstring>

#include "tests/support/TestFiles.h"

ScratchFolder::ScratchFolder() {
  path_ = FullPath(TestFileName("dir"));
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  for (const std::string& file : files_) DeleteFileA(file.c_str());
  // What the wizard may leave in its current directory.
  for (const char* left : {"frmwrsrc.dat", "zaze_pm.txt", "temp.ugi", "zaze_fw_backup.bin",
                           "zaze_map_backup.bin", "zaze_update.rec"}) {
    DeleteFileA((path_ + "\\" + left).c_str());
  }
  RemoveDirectoryA(path_.c_str());
}

bool ScratchFolder::Copy(const std::string& source, const std::string& name) {
  const std::string target = path_ + "\\" + name;
  files_.push_back(target);
  return CopyFileA(FullPath(source).c_str(), target.c_str(), FALSE) != 0;
}

bool ScratchFolder::Write(const std::string& name, const std::string& bytes) {
  const std::string target = path_ + "\\" + name;
  files_.push_back(target);
  FILE* file = std::fopen(target.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

std::string ScratchFolder::CopyProgram(const char* library) {
  // Copied once: a program started before may still hold its files.
  const std::string program = path_ + "\\zephlar.exe";
  if (GetFileAttributesA(program.c_str()) != INVALID_FILE_ATTRIBUTES) return program;
  const bool copied = Copy(ZEPHLAR_HOST_PATH, "zephlar.exe") &&
                      (library == nullptr || Copy(library, "zephlardll.dll"));
  return copied ? program : std::string();
}

std::string ShippedScriptWith(const std::string& lines) {
  std::string script = ReadWholeFile(ZEPHLAR_DEFAULT_SCRIPT);
  const size_t end = script.find("\nend");
  return end == std::string::npos ? script : script.insert(end + 1, lines);
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = "";
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return length > 0 && length < sizeof full ? std::string(full) : path;
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
