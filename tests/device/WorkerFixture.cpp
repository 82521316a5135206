#include "tests/device/WorkerFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <utility>

#include "device/Contact.h"
#include "device/ImageCopy.h"
#include "device/RawDrive.h"
#include "device/Repair.h"
#include "tests/support/UpdateOutcome.h"

namespace fs = std::filesystem;

namespace {

// One entry of the dump as a reader takes it back: the heading of its
// section ("1 of 2"), whether the firmware line marks it, and its fields.
struct DumpedEntry {
  std::string heading;
  bool firmware = false;
  std::map<std::string, std::string> fields;

  uint32_t Number(const std::string& name) const {
    const auto field = fields.find(name);
    if (field == fields.end() || field->second.rfind("0x", 0) != 0) {
      ADD_FAILURE() << name << " is not a hexadecimal number in the dump";
      return 0xDEADDEAD;
    }
    return static_cast<uint32_t>(std::strtoul(field->second.c_str(), nullptr, 16));
  }
  std::string Text(const std::string& name) const {
    const auto field = fields.find(name);
    const bool quoted = field != fields.end() && field->second.size() >= 2 &&
                        field->second.front() == '"' && field->second.back() == '"';
    EXPECT_TRUE(quoted) << name << " is not a quoted text in the dump";
    return quoted ? field->second.substr(1, field->second.size() - 2) : "";
  }
};

// A name field up to its NUL or its end.
std::string FieldText(const char (&field)[32]) {
  return std::string(field, std::find(field, field + 32, '\0'));
}

// The entries of a dump body, in order; a line that is neither a heading, a
// rule nor a "\tname -> value" field fails the test.
std::vector<DumpedEntry> ReadEntries(const std::string& body) {
  const std::string start = "**> Start of partition ";
  std::vector<DumpedEntry> entries;
  bool firmware = false;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    const size_t arrow = line.find(" -> ");
    if (line == "**> Firmware partition") {
      firmware = true;
    } else if (line.rfind(start, 0) == 0) {
      entries.push_back({line.substr(start.size()), firmware, {}});
      firmware = false;
    } else if (line.size() > 1 && line.find_first_not_of('*', 1) == std::string::npos) {
      continue;  // a rule around a section
    } else if (line[0] == '\t' && arrow != std::string::npos && !entries.empty()) {
      entries.back().fields[line.substr(1, arrow - 1)] = line.substr(arrow + 4);
    } else {
      ADD_FAILURE() << "unexpected line in the dump: " << line;
    }
  }
  return entries;
}

// The dump in the form written on POSIX: Windows text mode ends each line
// with CR LF, and only there.
std::string ReadDump() {
  std::string text = ReadWholeFile(kDumpName);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
#ifdef _WIN32
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    EXPECT_FALSE(text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) << "bare LF at " << i;
#endif
    out += text[i];
  }
  return out;
}

// The dump after its three header lines, which are checked here.
std::string DumpBody(const std::string& dump, bool written) {
  EXPECT_TRUE(written) << kDumpName << " was not written";
  const std::string first = "************** START OF PARTITION MAP FILE (";
  const size_t end = dump.find('\n');
  EXPECT_EQ(dump.compare(0, first.size(), first), 0) << dump.substr(0, 80);
  if (end == std::string::npos || end < first.size() + 2) return dump;
  const std::string tick = dump.substr(first.size(), end - first.size() - 1);
  EXPECT_EQ(dump[end - 1], ')');
  EXPECT_EQ(tick.find_first_not_of("-0123456789"), std::string::npos) << tick;
  const std::string rest = "Send this file to \"" ZEPHLAR_SUPPORT_ADDRESS
                           "\". Thank You!\n****************************************************\n";
  EXPECT_EQ(dump.compare(end + 1, rest.size(), rest), 0) << dump.substr(end + 1, 200);
  return dump.substr(std::min(dump.size(), end + 1 + rest.size()));
}

// One final command, last of all; every box ends with the support line; the
// drive and the image are let go.
void ExpectTidyEnd(const Lines& trace) {
  EXPECT_EQ(RecordedWizardLastCount(), 1);
  EXPECT_FALSE(trace.empty() || trace.back() != "wizard last") << "ID_WIZARD_LAST not last";
  for (const std::string& box : RecordedErrorBoxes()) {
    const size_t headline = box.find('\n');
    EXPECT_EQ(box.substr(headline == std::string::npos ? 0 : headline),
              std::string("\n\n") + ZEPHLAR_SUPPORT_LINE)
        << "box text: " << box;
  }
  RawDrive probe;
  EXPECT_EQ(probe.Open('A'), 1) << "the worker left the drive open";
  if (fs::exists(kImageName)) {
    EXPECT_EQ(std::remove(kImageName), 0) << "the worker left the image open";
  }
}

}  // namespace

Lines Trace() {
  static const char* const kWords[] = {"log ",        "bar create", "bar range ", "bar pos ",
                                       "bar destroy", "box ",       "wizard last"};
  Lines out;
  for (const UiEvent& e : RecordedUi()) {
    std::string line = kWords[e.kind];
    if (e.kind == UiEvent::kLog) line += e.text;
    if (e.kind == UiEvent::kErrorBox) line += e.text.substr(0, e.text.find('\n'));
    if (e.kind == UiEvent::kProgressRange) line += std::to_string(e.first) + "..";
    if (e.kind == UiEvent::kProgressRange || e.kind == UiEvent::kProgressPos) {
      line += std::to_string(e.kind == UiEvent::kProgressPos ? e.first : e.second);
    }
    out.push_back(line);
  }
  return out;
}

Lines CopyLines(size_t bytes) {
  const size_t chunks = (bytes + kChunkBytes - 1) / kChunkBytes;
  Lines lines = {"bar create", "bar range 0.." + std::to_string(3 * chunks)};
  for (size_t k = 1; k <= 3 * chunks; ++k) {
    lines.push_back("bar pos " + std::to_string(k));
    if (k == chunks) lines.push_back(SavedLine(bytes));
  }
  return Join(lines,
              {"bar destroy", "log Firmware verified.", "log Updated firmware!", "wizard last"});
}

DiskImage RepairedMap(uint32_t start, uint32_t blocks, uint32_t diskStart, uint32_t imageBlocks,
                      const std::vector<PartitionMapEntry>& extra) {
  const uint32_t count = 3 + static_cast<uint32_t>(extra.size());
  DiskImage disk(imageBlocks);
  disk.Fill(0, imageBlocks, 0x6B);
  disk.SetEntry(0, MakeEntry("partition map", "Apple_partition_map", 1, 62, count));
  disk.SetEntry(1, MakeEntry("firmware", "Apple_MDFW", start, blocks, count));
  disk.SetEntry(2, MakeEntry("disk", "Apple_HFS", diskStart, 100000, count));
  for (uint32_t i = 0; i < extra.size(); ++i) {
    if (4 + i < imageBlocks) disk.SetEntry(3 + i, extra[i]);
  }
  return disk;
}

void UpdateWorker::Stage(const DiskImage& disk, const std::string* image, const char* path) {
  AttachDrive(0, disk);
  if (fs::is_regular_file(kDumpName)) fs::remove(kDumpName);
  if (!keepBackups_) RemoveBackupSets();
  if (image != nullptr) SaveFile(path, *image);
  ResetRecordedUi();
}

void UpdateWorker::Run(const DiskImage& disk, const std::string* image, const char* path) {
  before_ = disk.Bytes();
  AttachDrive(0, disk);
  ResetRecordedUi();
  RepairPartitionMap('A');
  repairTrace_ = Trace();
  repaired_ = DriveBytes(0);
  Stage(disk, image, path);
  std::snprintf(FirmwarePath, sizeof FirmwarePath, "%s", path);
  FoundDriveLetter = 'A';

  FirmwareUpdateThread(nullptr);

  after_ = DriveBytes(0);
  trace_ = Trace();
  dumped_ = fs::is_regular_file(kDumpName);
  dump_ = ReadDump();
  ExpectTidyEnd(trace_);
}

void UpdateWorker::ExpectDumpOfMap(uint32_t dumped, uint32_t firmware, uint32_t count) const {
  const std::vector<DumpedEntry> entries = ReadEntries(DumpBody(dump_, dumped_));
  ASSERT_EQ(entries.size(), dumped);
  const uint32_t last = (count == 0 ? dumped : count) - 1;
  for (uint32_t i = 0; i < dumped; ++i) {
    SCOPED_TRACE("dumped entry " + std::to_string(i));
    const DumpedEntry& dump = entries[i];
    const PartitionMapEntry disk = After(i);
    EXPECT_EQ(dump.heading, std::to_string(i) + " of " + std::to_string(last));
    EXPECT_EQ(dump.firmware, i == firmware);
    EXPECT_EQ(dump.Text("pmPartName"), FieldText(disk.pmPartName));
    EXPECT_EQ(dump.Text("pmParType"), FieldText(disk.pmParType));
    const std::pair<const char*, uint32_t> numbers[] = {{"pmSig", disk.pmSig},
                                                        {"pmSigPad", disk.pmSigPad},
                                                        {"pmMapBlkCnt", disk.pmMapBlkCnt},
                                                        {"pmPyPartStart", disk.pmPyPartStart},
                                                        {"pmPartBlkCnt", disk.pmPartBlkCnt},
                                                        {"pmLgDataStart", disk.pmLgDataStart},
                                                        {"pmDataCnt", disk.pmDataCnt},
                                                        {"pmPartStatus", disk.pmPartStatus}};
    for (const auto& [name, value] : numbers) EXPECT_EQ(dump.Number(name), value) << name;
  }
}
