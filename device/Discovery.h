// Finding the zAze among the drives.
#pragma once

constexpr int kDiscoveryCandidates = 27;  // letters 'A' to 'Z', then '['
constexpr char kNoDriveFound = static_cast<char>(0xFF);

// Probes drives 'A' + 0 to 'A' + 26 in order and returns the letter of the
// first whose block 1 is an Apple Partition Map entry named "partition map",
// or 0xFF when none is. Logs one line per candidate that read in full, and
// drives the progress bar over the 27 candidates.
char FindZazeDrive();
