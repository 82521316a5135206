#include "tests/support/PeImage.h"

#include <cstring>
#include <sstream>

#include "tests/support/TestFiles.h"

namespace {

struct Section {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Has(uint64_t offset, uint64_t size) const { return offset + size <= bytes_.size(); }
  uint16_t U16(uint64_t offset) const {
    if (!Has(offset, 2)) return 0;
    return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
  }
  uint32_t U32(uint64_t offset) const {
    if (!Has(offset, 4)) return 0;
    return static_cast<uint32_t>(U16(offset)) | static_cast<uint32_t>(U16(offset + 2)) << 16;
  }
  std::string CString(uint64_t offset) const {
    std::string text;
    while (Has(offset, 1) && bytes_[offset] != '\0' && text.size() < 512) text += bytes_[offset++];
    return text;
  }

 private:
  unsigned Byte(uint64_t offset) const { return static_cast<unsigned char>(bytes_[offset]); }
  const std::string& bytes_;
};

// File offset of a relative virtual address, or 0 when no section holds it.
uint64_t FileOffset(const std::vector<Section>& sections, uint32_t rva) {
  for (const Section& s : sections) {
    const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva < s.virtualAddress + span) {
      return uint64_t{s.rawOffset} + (rva - s.virtualAddress);
    }
  }
  return 0;
}

bool ReadImports(const Reader& in, const std::vector<Section>& sections, uint32_t importRva,
                 PeImage& image) {
  uint64_t descriptor = FileOffset(sections, importRva);
  if (descriptor == 0) return false;
  for (;; descriptor += 20) {
    if (!in.Has(descriptor, 20)) return false;
    const uint32_t lookupRva = in.U32(descriptor);
    const uint32_t nameRva = in.U32(descriptor + 12);
    const uint32_t addressRva = in.U32(descriptor + 16);
    if (lookupRva == 0 && nameRva == 0 && addressRva == 0) return true;
    const std::string dll = in.CString(FileOffset(sections, nameRva));
    uint64_t thunk = FileOffset(sections, lookupRva != 0 ? lookupRva : addressRva);
    if (thunk == 0) return false;
    for (;; thunk += 4) {
      if (!in.Has(thunk, 4)) return false;
      const uint32_t entry = in.U32(thunk);
      if (entry == 0) break;
      if (entry & 0x80000000u) {
        image.imports.push_back({dll, "#" + std::to_string(entry & 0xFFFF)});
      } else {
        image.imports.push_back({dll, in.CString(FileOffset(sections, entry) + 2)});
      }
    }
  }
}

}  // namespace

PeImage ReadPeImage(const std::string& bytes) {
  PeImage image;
  const Reader in(bytes);
  if (!in.Has(0, 64) || bytes.compare(0, 2, "MZ") != 0) {
    image.error = "no MZ header";
    return image;
  }
  const uint32_t pe = in.U32(0x3C);
  if (!in.Has(pe, 24) || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    image.error = "no PE signature";
    return image;
  }
  image.machine = in.U16(pe + 4);
  const uint16_t sectionCount = in.U16(pe + 6);
  const uint16_t optionalSize = in.U16(pe + 20);
  image.characteristics = in.U16(pe + 22);
  const uint64_t opt = pe + 24;
  image.optionalMagic = in.U16(opt);
  if (image.optionalMagic != 0x10B || optionalSize < 224) {
    image.error = "not a PE32 optional header";
    return image;
  }
  image.majorOsVersion = in.U16(opt + 40);
  image.minorOsVersion = in.U16(opt + 42);
  image.majorSubsystemVersion = in.U16(opt + 48);
  image.minorSubsystemVersion = in.U16(opt + 50);
  image.subsystem = in.U16(opt + 68);
  const uint32_t directoryCount = in.U32(opt + 92);
  const uint64_t directories = opt + 96;
  const uint32_t importRva = directoryCount > 1 ? in.U32(directories + 8) : 0;
  image.delayImportSize = directoryCount > 13 ? in.U32(directories + 13 * 8 + 4) : 0;

  std::vector<Section> sections;
  const uint64_t table = opt + optionalSize;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t s = table + 40u * i;
    if (!in.Has(s, 40)) {
      image.error = "section table cut short";
      return image;
    }
    sections.push_back({in.U32(s + 12), in.U32(s + 8), in.U32(s + 20), in.U32(s + 16)});
  }
  if (importRva != 0 && !ReadImports(in, sections, importRva, image)) {
    image.error = "import table cut short";
    return image;
  }
  image.valid = true;
  return image;
}

ImportAllowList ParseImportAllowList(const std::string& text) {
  ImportAllowList list;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string dll, function, oldest;
    if (!(fields >> dll >> function)) continue;
    std::getline(fields >> std::ws, oldest);
    const std::string key = Lower(dll) + "!" + function;
    list.entries.insert(key);
    list.oldest[key] = oldest;
  }
  return list;
}
