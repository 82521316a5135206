// A reader of the few PE header fields and the import table that the DLL
// checks look at. Works on the file's bytes; it loads nothing.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct PeImport {
  std::string dll;
  std::string function;  // "#<ordinal>" for an import by ordinal
};

struct PeImage {
  bool valid = false;
  std::string error;  // why the image could not be read
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  uint16_t optionalMagic = 0;  // 0x10B for PE32
  uint16_t majorOsVersion = 0, minorOsVersion = 0;
  uint16_t majorSubsystemVersion = 0, minorSubsystemVersion = 0;
  uint16_t subsystem = 0;
  uint32_t delayImportSize = 0;
  std::vector<PeImport> imports;
};

PeImage ReadPeImage(const std::string& bytes);

// The reviewed import list (tools/dll-imports.allow): lines of "<dll>
// <function> <oldest Windows ...>", '#' starting a comment.
struct ImportAllowList {
  std::set<std::string> entries;              // "dll!function", the dll in lower case
  std::map<std::string, std::string> oldest;  // entry -> the oldest Windows given for it
};
ImportAllowList ParseImportAllowList(const std::string& text);
