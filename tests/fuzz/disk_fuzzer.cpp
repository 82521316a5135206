// libFuzzer program for the device side over a disk in memory. It works in a
// scratch directory of its own, where the dump file and the image live, and
// removes it at exit.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "tests/fuzz/FuzzTargets.h"

namespace {

char scratch[] = "/tmp/zephlar-fuzz-disk-XXXXXX";

void RemoveScratch() {
  std::remove("firmware.img");
  std::remove("zaze_pm.txt");
  if (chdir("/") == 0) rmdir(scratch);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) {
    std::perror("scratch directory");
    return 1;
  }
  std::atexit(RemoveScratch);
  FuzzDiskSetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzDisk(data, size);
}
