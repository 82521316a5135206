// What the resource tests read from the built zephlardll.dll, mapped as a
// data file: a resource by kind and id under US English, and little-endian
// numbers within it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr int kBitmap = 2, kIcon = 3, kDialog = 5, kGroupIcon = 14, kManifest = 24;

inline HMODULE Dll() {
  static const HMODULE module = LoadLibraryExA(ZEPHLAR_DLL_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

struct Blob {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

inline Blob Resource(int type, int id) {
  HRSRC found = FindResourceExA(Dll(), MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id), kUsEnglish);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(Dll(), found);
  if (loaded == nullptr) return {};
  return {static_cast<const unsigned char*>(LockResource(loaded)), SizeofResource(Dll(), found)};
}

inline uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t U32(const unsigned char* p) {
  return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16;
}
