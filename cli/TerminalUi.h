// The command line's side of the device seam: status lines on standard
// output, the boxes' texts on standard error, and the progress bar on
// standard error, drawn as a bar on a terminal and as a plain line at every
// tenth otherwise.
#pragma once

#include <cstdint>

// Starts a command's reporting. `stepBytes` is how many bytes one step of
// the progress bar moves, for the rate; 0 when its steps are no byte count.
void StartUi(uint32_t stepBytes);

// While kept, status lines and boxes are held back instead of shown: a plan
// made before the update is shown only when it refuses.
void KeepUi();
// Ends keeping; shows what was held back, in order, when `show`.
void EndKeepingUi(bool show);

// Replaces control characters (a line feed too, unless `keepLineFeeds`) with
// '?', so that text read from a disk cannot steer the terminal.
void MakePrintable(char* text, bool keepLineFeeds);
