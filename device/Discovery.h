// Finding the zAze among the drives.
#pragma once

constexpr int kDiscoveryCandidates = 27;  // letters 'A' to 'Z', then '['
constexpr char kNoDriveFound = static_cast<char>(0xFF);

// Probes drives 'A' + 0 to 'A' + 26 in order and returns the letter of the
// first whose block 1 is an Apple Partition Map entry named "partition map",
// or 0xFF when none is. Logs one line per candidate that read in full, or
// that is there but could not be opened, and drives the progress bar over
// the 27 candidates.
char FindZazeDrive();

// Why a search found no zAze: the drives that are there but could not be
// opened say more than "none". Without administrator rights every drive
// refuses; another program may hold the zAze; or its sectors are not 512
// bytes long. A later kind outweighs an earlier one: without rights every
// drive refuses alike, so a drive that refused for another reason says more.
enum class SearchMiss {
  kFound,               // a zAze was found
  kNotFound,            // nothing refused: no zAze is attached
  kNeedsAdministrator,  // a drive refused for want of rights
  kInUse,               // a drive is held by another program
  kUnsupportedSectors,  // a drive's sectors are not 512 bytes long
};
char FindZazeDrive(SearchMiss& miss);
