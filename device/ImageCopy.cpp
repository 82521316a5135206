#include "device/ImageCopy.h"

#include <cstdlib>
#include <cstring>

#include "device/Platform.h"
#include "device/RawDrive.h"

namespace {

// The chunk and its read-back, each aligned so that the drive moves them
// without a bounce copy.
class CopyBuffers {
 public:
  static constexpr size_t kCheckOffset =
      (kChunkBytes + kBounceAlignment - 1) / kBounceAlignment * kBounceAlignment;

  CopyBuffers() : block_(std::malloc(kCheckOffset + kChunkBytes + kBounceAlignment - 1)) {}
  ~CopyBuffers() { std::free(block_); }
  CopyBuffers(const CopyBuffers&) = delete;
  CopyBuffers& operator=(const CopyBuffers&) = delete;

  bool valid() const { return block_ != nullptr; }
  unsigned char* chunk() const {
    const uintptr_t start = reinterpret_cast<uintptr_t>(block_);
    return reinterpret_cast<unsigned char*>((start + kBounceAlignment - 1) / kBounceAlignment *
                                            kBounceAlignment);
  }
  unsigned char* check() const { return chunk() + kCheckOffset; }

 private:
  void* block_;
};

bool ReadImage(std::FILE* image, unsigned char* buffer, uint32_t size) {
  return std::fread(buffer, 1, size, image) == size;
}

CopyOutcome WriteChunks(RawDrive& drive, std::FILE* image, uint32_t length, uint32_t start,
                        unsigned char* chunk, ChunkReport report, void* context) {
  int32_t written = 0;
  // Stepping by the chunk just moved: the offsets never wrap.
  for (uint32_t done = 0, size = 0; done < length; done += size) {
    size = ChunkAt(done, length);
    if (!ReadImage(image, chunk, size)) return {CopyResult::kImageReadFailed, done};
    // A write that fails may have changed any part of its chunk.
    const int32_t put = drive.Write(chunk, start + done, size);
    if (put != static_cast<int32_t>(size)) {
      return {CopyResult::kWriteFailed, done + size, TransferError(put)};
    }
    ++written;
    if (report != nullptr) report(written, context);
  }
  return {CopyResult::kDone, length};
}

CopyOutcome VerifyChunks(RawDrive& drive, std::FILE* image, uint32_t length, uint32_t start,
                         const CopyBuffers& buffers, ChunkReport report, void* context) {
  if (std::fseek(image, 0, SEEK_SET) != 0) return {CopyResult::kVerifyFailed, length};
  int32_t moved = static_cast<int32_t>(ChunkCount(length));
  for (uint32_t done = 0, size = 0; done < length; done += size) {
    size = ChunkAt(done, length);
    if (!ReadImage(image, buffers.chunk(), size)) return {CopyResult::kVerifyFailed, length};
    const int32_t got = drive.Read(buffers.check(), start + done, size);
    if (got != static_cast<int32_t>(size)) {
      return {CopyResult::kVerifyFailed, length, TransferError(got)};
    }
    if (std::memcmp(buffers.chunk(), buffers.check(), size) != 0) {
      return {CopyResult::kVerifyFailed, length};
    }
    if (report != nullptr) report(++moved, context);
  }
  return {CopyResult::kDone, length};
}

}  // namespace

CopyOutcome CopyImageToDrive(RawDrive& drive, std::FILE* image, uint32_t length,
                             uint32_t startOffset, bool verify, ChunkReport report, void* context) {
  CopyBuffers buffers;
  if (!buffers.valid()) return {CopyResult::kNoBuffer, 0};
  if (startOffset + static_cast<uint64_t>(length) > kReachableBytes) {
    return {CopyResult::kWriteFailed, 0};
  }
  if (std::fseek(image, 0, SEEK_SET) != 0) return {CopyResult::kImageReadFailed, 0};
  const CopyOutcome written =
      WriteChunks(drive, image, length, startOffset, buffers.chunk(), report, context);
  if (written.result != CopyResult::kDone) return written;
  // Only what the device has committed is worth reading back.
  if (drive.Flush() != 1) return {CopyResult::kFlushFailed, length, LastErrorCode()};
  if (!verify) return {CopyResult::kDone, length};
  return VerifyChunks(drive, image, length, startOffset, buffers, report, context);
}
