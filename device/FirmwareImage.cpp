#include "device/FirmwareImage.h"

#include <cstdint>
#include <cstring>

#include "device/Platform.h"

namespace {

constexpr char kSignature[] = "Apple Computer, Inc.";
constexpr uint32_t kSignatureLength = sizeof kSignature - 1;
constexpr uint32_t kSignatureOffset = 130;

}  // namespace

int CheckFirmwareFile(const char* path) {
  if (path == nullptr) return -1;
  // Cleared beforehand: a file too short for the whole text leaves zeros,
  // which never match.
  char buffer[100] = {};
  const int read = ReadFileRegion(path, kSignatureOffset, buffer, kSignatureLength);
  if (read != 1) return read;
  return std::memcmp(buffer, kSignature, kSignatureLength) == 0 ? 1 : 0;
}

int IsFirmwareFile(const char* path) { return CheckFirmwareFile(path) == 1 ? 1 : 0; }
