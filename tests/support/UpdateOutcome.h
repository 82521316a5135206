// What an update run did, in a few words: the boxes the user saw, whether the
// firmware was reported updated, and which blocks of the disk changed. Used
// in test messages and in the hardening table. Header-only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "device/UpdateRecord.h"
#include "tests/support/RecordingUi.h"

// The files of every backup set gone from the current folder: each update
// of a test starts as on a fresh machine.
inline void RemoveBackupSets() {
  for (int set = 1; set <= kBackupSets; ++set) {
    const BackupFiles files = BackupFilesOf(set);
    for (const char* name : {files.firmware, files.map, files.record}) std::remove(name);
  }
}

// A box by a short label: what went wrong, or the refusal it tells.
inline std::string BoxLabel(const std::string& text) {
  struct Known {
    const char* start;
    const char* label;
  };
  static const Known kKnown[] = {
      {"Error: Unable to modify the zAze's partition table! Its previous",
       "map not repaired and not put back"},
      {"Error: Unable to modify the zAze's partition table!", "map not repaired"},
      {"Error: Unable to open the drive!", "drive not opened"},
      {"Error: Unable to read from the drive!", "block 1 unreadable"},
      {"Error: Current drive isn't a Mac Drive!", "not a Mac drive"},
      {"Error: Unable to read from drive!", "map entry unreadable"},
      {"Error: Unable to open the firmware source!", "image not opened"},
      {"Error: The firmware partition on your zAze is in an undetermined", "copy failed"},
      {"Error: The new firmware could not be written to your zAze. Its previous",
       "copy failed, previous firmware restored"},
      {"Error: Unable to read the firmware partition on your zAze to save it",
       "refused: backup unreadable"},
      {"Error: Not enough memory or disk space to keep", "refused: no room for the backup"},
      {"Error: Unable to read the whole partition table", "refused: map not read in full"},
      {"Error: Unable to determine the size", "refused: image size unknown"},
      {"Error: The firmware file is empty", "refused: empty image"},
      {"Error: The firmware file is not a whole number", "refused: not whole sectors"},
      {"Error: The firmware file does not fit", "refused: larger than the partition"},
      {"Error: The firmware partition on your zAze lies out of reach", "refused: out of reach"},
      {"Error: The firmware file would overwrite", "refused: overlaps another partition"},
      {"Error: Not enough memory to read", "no memory for the map"},
      {"Error: Not enough memory to update", "no memory for the copy"},
      {"Error: This version of Windows cannot write", "refused: drive cannot be written"},
      {"Error: The firmware file is no longer a valid", "refused: file fails the check now"},
      {"Error: No firmware partition was found", "refused: no firmware partition"},
      {"Error: The new firmware could not be written, and the drive no longer is the zAze",
       "copy failed, restore refused: another disk in the zAze's place"},
      {"Error: The copy of the firmware on your zAze could not be saved",
       "refused: backup not on this computer's disk"},
      {"Error: Unable to record the update", "refused: update not recorded"},
      {"Error: This folder holds the backups of 99", "refused: no backup name left"},
      {"Error: Your zAze is write-protected", "write-protected: nothing written"},
      {"Error: Your zAze was disconnected", "copy failed, zAze disconnected"},
      {"Error: The path of the firmware file is too long", "refused: path too long"},
  };
  for (const Known& known : kKnown) {
    if (text.compare(0, std::char_traits<char>::length(known.start), known.start) == 0) {
      return known.label;
    }
  }
  return text.substr(0, text.find('\n'));
}

inline bool LoggedLine(const std::vector<UiEvent>& events, const std::string& line) {
  return std::any_of(events.begin(), events.end(),
                     [&](const UiEvent& e) { return e.kind == UiEvent::kLog && e.text == line; });
}

// "nothing written", or the block ranges that differ: "wrote blocks 1-2, 63-204".
inline std::string ChangedBlocks(const std::string& before, const std::string& after) {
  const size_t size = std::min(before.size(), after.size());
  std::string out;
  int64_t first = -1;
  int64_t changedBlocks = 0;
  const uint64_t blocks = (size + 511) / 512;
  for (uint64_t b = 0; b <= blocks; ++b) {
    const size_t at = static_cast<size_t>(b) * 512;
    const bool changed = b < blocks && before.compare(at, std::min<size_t>(512, size - at), after,
                                                      at, std::min<size_t>(512, size - at)) != 0;
    if (changed && first < 0) first = static_cast<int64_t>(b);
    if (!changed && first >= 0) {
      if (!out.empty()) out += ", ";
      out += std::to_string(first);
      if (static_cast<int64_t>(b) - 1 > first) out += "-" + std::to_string(b - 1);
      changedBlocks += static_cast<int64_t>(b) - first;
      first = -1;
    }
  }
  if (!out.empty()) out = (changedBlocks == 1 ? "wrote block " : "wrote blocks ") + out;
  if (before.size() != after.size()) out += (out.empty() ? "" : ", ") + std::string("resized");
  return out.empty() ? "nothing written" : out;
}

// "copy failed; wrote blocks 63-125", "updated and verified; wrote
// blocks 63-204", ...
inline std::string DescribeUpdate(const std::vector<UiEvent>& events, const std::string& before,
                                  const std::string& after) {
  std::string told;
  for (const UiEvent& e : events) {
    if (e.kind != UiEvent::kErrorBox) continue;
    told += (told.empty() ? "" : " + ") + BoxLabel(e.text);
  }
  if (LoggedLine(events, "Updated firmware!")) {
    told += (told.empty() ? "" : " + ") + std::string("updated and verified");
  }
  if (std::any_of(events.begin(), events.end(), [](const UiEvent& e) {
        return e.kind == UiEvent::kLog && e.text.find("Unable to write file") == 0;
      })) {
    told += (told.empty() ? "" : " + ") + std::string("dump told incomplete");
  }
  if (told.empty()) told = "no box";
  return told + "; " + ChangedBlocks(before, after);
}
