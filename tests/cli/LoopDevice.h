// Real block devices for the command line's tests: loop devices over image
// files, made with losetup (which needs root).
#pragma once

#include <string>

// Why loop devices cannot be made here, or empty when they can.
std::string WhyNoLoopDevices();

// A loop device over the file `image`, which it first fills with `bytes`;
// `options` go to losetup ("--sector-size 4096"). Detached when the holder
// goes, also when a test fails.
class LoopDevice {
 public:
  LoopDevice(const std::string& image, const std::string& bytes, const std::string& options = "");
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  // "/dev/loopN"; empty when it could not be made.
  const std::string& path() const { return path_; }
  // What the device holds now, as its image file has it.
  std::string Bytes() const;

 private:
  std::string image_;
  std::string path_;
};
