// Fetching the firmware-sources file that the host program reads after the
// wizard has run.
#pragma once

#include <cstdint>

// Downloads `address` into "frmwrsrc.dat" in the current directory, after
// deleting any earlier copy. The address is handed on as the step script
// stores it, trailing line feed included. Returns 1 when the download
// succeeded and 0 otherwise; on failure "temp.ugi" is deleted as well. Blocks
// until the download has ended; reports nothing itself.
int32_t DownloadFirmwareSources(const char* address);
