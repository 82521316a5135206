#include "net/FirmwareSources.h"

#include <urlmon.h>
#include <windows.h>

#include <cstdio>

int32_t DownloadFirmwareSources(const char* address) {
  char localFile[] = "frmwrsrc.dat";
  // A copy from an earlier run must not pass for this one's result. The
  // runtime's remove is enough here; a file that is not there is no error.
  std::remove(localFile);
  if (URLDownloadToFileA(nullptr, address, localFile, 0, nullptr) == S_OK) return 1;
  // The library never writes "temp.ugi"; after a failed download the host
  // must not find one in the current directory either.
  std::remove("temp.ugi");
  return 0;
}
