#include "device/FirmwareImage.h"

#include <cstdint>
#include <cstring>

#include "device/Platform.h"

namespace {

constexpr char kSignature[] = "Apple Computer, Inc.";
constexpr uint32_t kSignatureLength = sizeof kSignature - 1;
constexpr uint32_t kSignatureOffset = 130;

}  // namespace

int IsFirmwareFile(const char* path) {
  if (path == nullptr) return 0;
  // Cleared beforehand: a file too short for the whole text leaves zeros,
  // which never match.
  char buffer[100] = {};
  if (!ReadFileRegion(path, kSignatureOffset, buffer, kSignatureLength)) return 0;
  return std::memcmp(buffer, kSignature, kSignatureLength) == 0 ? 1 : 0;
}
