// The copy engine: an image written to a drive in chunks, the drive flushed,
// and the written range read back and compared.
#pragma once

#include <cstdint>
#include <cstdio>

class RawDrive;

constexpr uint32_t kChunkSectors = 63;
constexpr uint32_t kChunkBytes = kChunkSectors * 512;  // 32,256
// RawDrive positions with a signed 32-bit offset, as SetFilePointer does
// without its high part: only the first 2 GB of a drive can be written.
constexpr uint64_t kReachableBytes = 0x80000000ull;

enum class CopyResult {
  kDone,             // written (and read back equal, when verifying)
  kNoBuffer,         // no memory for the buffers; nothing written
  kWriteFailed,      // a chunk write failed or came up short
  kImageReadFailed,  // the image ended or failed before `length`
  kVerifyFailed,     // the read-back failed or differs from the image
  kFlushFailed,      // the drive did not commit what it was given
};

// How a copy ended, and how many bytes from the start of the range it may
// have changed: 0 when it wrote nothing, up to the end of the chunk whose
// write failed, or the whole length once every chunk was written.
struct CopyOutcome {
  CopyResult result;
  uint32_t touched;
  uint32_t errorCode = 0;  // the system's, when the drive failed; 0 otherwise
};

// Told after each chunk a pass has moved (saved, written or read back) how
// many chunks the call has moved so far.
using ChunkReport = void (*)(int32_t chunksMoved, void* context);

// The chunks that `length` bytes take: a pass over them reports this many.
inline uint32_t ChunkCount(uint32_t length) { return (length + kChunkBytes - 1) / kChunkBytes; }
// The size of the chunk that starts `done` bytes into `length`: a whole
// chunk, or what is left.
inline uint32_t ChunkAt(uint32_t done, uint32_t length) {
  return length - done < kChunkBytes ? length - done : kChunkBytes;
}

// Writes the first `length` bytes of `image` (read from its start) to the
// drive at byte offset `startOffset`, in chunks of kChunkBytes, chunk k at
// startOffset + k * kChunkBytes; with `verify`, then reads the written range
// back and compares it with the image. `length` must be a whole number of
// sectors. The drive is flushed after the last chunk, before the read-back.
// Stops at the first failure. `report` (which may be null) counts the chunks
// written, then goes on counting the chunks read back.
CopyOutcome CopyImageToDrive(RawDrive& drive, std::FILE* image, uint32_t length,
                             uint32_t startOffset, bool verify, ChunkReport report, void* context);
