#include "device/Discovery.h"

#include "device/DeviceUi.h"
#include "device/MapReader.h"
#include "device/RawDrive.h"

namespace {

// What the candidate's block 1 holds; kUnreadable also when the drive cannot
// be opened. Leaves the drive closed.
MapStart ProbeCandidate(RawDrive& drive, char letter) {
  if (drive.Open(letter) != 1) return MapStart::kUnreadable;
  PartitionMapEntry entry;
  const MapStart start = ReadMapStart(drive, entry).kind;
  drive.Close();
  return start;
}

}  // namespace

char FindZazeDrive() {
  // One drive object for the whole search, opened and closed per candidate so
  // that no disk stays held (the open is exclusive).
  RawDrive drive;
  ProgressBarCreate();
  ProgressBarSetRange(0, kDiscoveryCandidates);
  for (int n = 0; n < kDiscoveryCandidates; ++n) {
    ProgressBarSetPos(n);
    const char letter = static_cast<char>('A' + n);
    const MapStart found = ProbeCandidate(drive, letter);
    if (found == MapStart::kUnreadable) continue;  // absent or unreadable: not worth a line
    if (found == MapStart::kFound) {
      LogStatus("Found zAze Drive at %c!", letter);
      ProgressBarDestroy();
      return letter;
    }
    LogStatus("Drive %c is not an zAze", letter);
  }
  ProgressBarDestroy();
  return kNoDriveFound;
}
