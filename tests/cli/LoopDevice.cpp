#include "tests/cli/LoopDevice.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/TestFiles.h"

namespace {

// losetup's one line of output, without its line feed; empty on failure.
std::string Attach(const std::string& image, const std::string& options) {
  const std::string command = "losetup --find --show " + options + " '" + image + "' 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return std::string();
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, out) != nullptr;
  const bool done = pclose(out) == 0;
  std::string path = read && done ? line : "";
  while (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}

void Detach(const std::string& path) {
  if (!path.empty()) std::system(("losetup --detach " + path + " 2>/dev/null").c_str());
}

std::string Check() {
  if (geteuid() != 0) return "loop devices need root; these tests run as root in CI";
  if (std::system("command -v losetup >/dev/null 2>&1") != 0) return "losetup is not installed";
  char name[] = "/tmp/zephlar-loop.XXXXXX";
  const int fd = mkstemp(name);
  const bool sized = fd >= 0 && ftruncate(fd, 1 << 20) == 0;
  if (fd >= 0) close(fd);
  const std::string path = sized ? Attach(name, "") : "";
  Detach(path);
  std::remove(name);
  return path.empty() ? "losetup cannot attach a loop device on this machine" : "";
}

}  // namespace

std::string WhyNoLoopDevices() {
  static const std::string why = Check();
  return why;
}

LoopDevice::LoopDevice(const std::string& image, const std::string& bytes,
                       const std::string& options)
    : image_(std::filesystem::absolute(image).string()) {
  SaveFile(image, bytes);
  path_ = Attach(image, options);
}

LoopDevice::~LoopDevice() { Detach(path_); }

std::string LoopDevice::Bytes() const { return ReadWholeFile(image_); }
