#include "device/Platform.h"

#include <cstdio>

#include "script/ScopedFile.h"

int ReadFileRegion(const char* path, uint32_t offset, void* buffer, uint32_t length) {
  ScopedFile file(std::fopen(path, "rb"));
  if (file.get() == nullptr) return 0;
  // The size query of the Win32 side: a stream that cannot report its end
  // (a directory, for one) is refused the same way.
  if (std::fseek(file.get(), 0, SEEK_END) != 0 || std::ftell(file.get()) < 0) return 0;
  if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) return 0;
  std::fread(buffer, 1, length, file.get());
  return std::ferror(file.get()) ? 0 : 1;
}
