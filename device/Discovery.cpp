#include "device/Discovery.h"

#include "device/DeviceUi.h"
#include "device/MapReader.h"
#include "device/RawDrive.h"

namespace {

// 1 when the candidate's block 1 reads in full as the map's own entry, 0 when
// it reads in full as anything else, -1 when it cannot be opened or read in
// full. Leaves the drive closed.
int ProbeCandidate(RawDrive& drive, char letter) {
  if (drive.Open(letter) != 1) return -1;
  PartitionMapEntry entry;
  const MapStart start = ReadMapStart(drive, entry).kind;
  drive.Close();
  if (start == MapStart::kUnreadable) return -1;
  return start == MapStart::kFound ? 1 : 0;
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
    const int found = ProbeCandidate(drive, letter);
    if (found < 0) continue;  // absent or unreadable: not worth a line
    if (found == 1) {
      LogStatus("Found zAze Drive at %c!", letter);
      ProgressBarDestroy();
      return letter;
    }
    LogStatus("Drive %c is not an zAze", letter);
  }
  ProgressBarDestroy();
  return kNoDriveFound;
}
