// Fetching the firmware-sources file that the host program reads after the
// wizard has run.
#pragma once

#include <cstdint>

// How long the caller waits for the server before it gives the download up.
constexpr uint32_t kSourcesTimeLimitMs = 20000;
// The longest stretch between two calls of the caller's `whileWaiting`.
constexpr uint32_t kSourcesWaitSliceMs = 50;

// Downloads `address` into "frmwrsrc.dat" in the current directory, after
// deleting any earlier copy. The address is handed on as the step script
// stores it, trailing line feed included. Returns 1 when the download
// succeeded and 0 otherwise; on failure "temp.ugi" is deleted as well.
//
// The transfer runs on a thread of its own, which keeps this module loaded
// for as long as it runs; the caller waits for it at most `limitMs`, and
// calls `whileWaiting(context)` (when set) every slice meanwhile. A download
// given up never writes frmwrsrc.dat afterwards. Where no thread can be
// started the download runs on the caller's thread, without a limit.
// Reports nothing itself.
int32_t DownloadFirmwareSources(const char* address, uint32_t limitMs = kSourcesTimeLimitMs,
                                void (*whileWaiting)(void*) = nullptr, void* context = nullptr);
