#include "device/Discovery.h"

#include "device/DeviceUi.h"
#include "device/MapReader.h"
#include "device/RawDrive.h"

namespace {

// The weightier of two reasons for a miss.
SearchMiss Weightier(SearchMiss a, SearchMiss b) {
  return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

// What an open refused for says about a miss; logged when it says more than
// that the drive is not there.
SearchMiss MissOf(RawDriveRefusal refusal, char letter) {
  switch (refusal) {
    case RawDriveRefusal::kPermission:
      LogStatus("Drive %c cannot be opened without administrator rights.", letter);
      return SearchMiss::kNeedsAdministrator;
    case RawDriveRefusal::kInUse:
      LogStatus("Drive %c is in use by another program.", letter);
      return SearchMiss::kInUse;
    case RawDriveRefusal::kWrongSectorSize:
      LogStatus("Drive %c has sectors of another size than 512 bytes.", letter);
      return SearchMiss::kUnsupportedSectors;
    default:
      return SearchMiss::kNotFound;
  }
}

// What the candidate's block 1 holds; kUnreadable also when the drive cannot
// be opened, and then `miss` learns why. Leaves the drive closed.
MapStart ProbeCandidate(RawDrive& drive, char letter, SearchMiss& miss) {
  if (drive.Open(letter) != 1) {
    miss = Weightier(miss, MissOf(drive.OpenRefusal(), letter));
    return MapStart::kUnreadable;
  }
  PartitionMapEntry entry;
  const MapStart start = ReadMapStart(drive, entry).kind;
  drive.Close();
  return start;
}

}  // namespace

char FindZazeDrive() {
  SearchMiss miss;
  return FindZazeDrive(miss);
}

char FindZazeDrive(SearchMiss& miss) {
  miss = SearchMiss::kNotFound;
  // One drive object for the whole search, opened and closed per candidate so
  // that no disk stays held (the open is exclusive).
  RawDrive drive;
  ProgressBarCreate();
  ProgressBarSetRange(0, kDiscoveryCandidates);
  for (int n = 0; n < kDiscoveryCandidates; ++n) {
    ProgressBarSetPos(n);
    const char letter = static_cast<char>('A' + n);
    const MapStart found = ProbeCandidate(drive, letter, miss);
    if (found == MapStart::kUnreadable) continue;  // absent or unreadable: not worth a line
    if (found == MapStart::kFound) {
      LogStatus("Found zAze Drive at %c!", letter);
      ProgressBarDestroy();
      miss = SearchMiss::kFound;
      return letter;
    }
    LogStatus("Drive %c is not an zAze", letter);
  }
  ProgressBarDestroy();
  return kNoDriveFound;
}
