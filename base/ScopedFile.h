// Closes a C stream on every way out of a function.
#pragma once

#include <cstdio>

class ScopedFile {
 public:
  explicit ScopedFile(std::FILE* file) : file_(file) {}
  ~ScopedFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};
