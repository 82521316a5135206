// The fuzz targets' entry functions. The libFuzzer programs call them from
// LLVMFuzzerTestOneInput; the native test suite replays the committed corpus
// and every kept crash through the same functions.
#pragma once

#include <cstddef>
#include <cstdint>

// Told of every broken invariant: the target's name and what broke. The
// fuzzers leave it null, which prints the message and aborts so that libFuzzer
// keeps the input; the replay test records a test failure instead.
using FuzzFailureHandler = void (*)(const char* target, const char* what);
void SetFuzzFailureHandler(FuzzFailureHandler handler);
void FuzzFail(const char* target, const char* what);

// The step-script reader, then the drop-down item scan and the title, text
// and value handling over every step it produced.
int FuzzStepScript(const uint8_t* data, size_t size);

// Discovery, repair, the update worker's map walk, copy and dump over a disk
// held in memory, with an image file and faults chosen by the input. Works
// in the current directory (the dump file and the image live there); call
// FuzzDiskSetUp once before the first input.
void FuzzDiskSetUp();
int FuzzDisk(const uint8_t* data, size_t size);
