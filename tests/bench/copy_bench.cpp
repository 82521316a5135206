// The whole update (the backup of what the image replaces, the write, the
// flush and the read-back) against dd and cmp doing the same work with the
// same direct, synchronous transfers, pass by pass; the copy alone against
// dd's write alone; and the peak memory of an update with its backup held.
// Runs in the current directory, which should lie on a real disk: tmpfs
// refuses O_DIRECT.
//
//   zephlar_copy_bench [rounds]
//
// Built by the "bench" preset (optimised, no sanitizers); tools/bench runs it.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/FirmwareBackup.h"
#include "device/RawDrive.h"
#include "device/Repair.h"
#include "tests/support/RecordingUi.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kImage[] = "copy_bench.image";
constexpr char kBackup[] = "zaze_fw_backup.bin";
constexpr char kDisk[] = "copy_bench.disk";
constexpr char kPeerBackup[] = "copy_bench.peer_backup";
// The image fills the repaired firmware partition exactly, 65,477 sectors
// (33,524,224 bytes): the largest image an update takes. 32 MiB would run
// 59 sectors past the partition's end. The partition is not a whole number
// of chunks, so the copy ends with a short one of 20 sectors.
constexpr uint32_t kLength = kFirmwareBlocks * kSectorSize;
constexpr int32_t kChunks = static_cast<int32_t>((kLength + kChunkBytes - 1) / kChunkBytes);
constexpr uint32_t kStart = kFirmwareStartBlock * kSectorSize;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double MBps(double seconds) { return kLength / seconds / 1e6; }

// The image, chunk by chunk: byte i is a function of i alone, so the bench
// holds no copy of it and its peak memory is that of the copy path.
void FillPattern(unsigned char* bytes, size_t size, size_t at) {
  for (size_t i = 0; i < size; ++i) {
    const uint32_t x = static_cast<uint32_t>(at + i) * 2654435761u;
    bytes[i] = static_cast<unsigned char>((x >> 24) ^ (x >> 13));
  }
}

bool WriteImage() {
  FILE* file = std::fopen(kImage, "wb");
  if (file == nullptr) return false;
  unsigned char chunk[kChunkBytes];
  bool written = true;
  for (uint32_t at = 0, size = 0; at < kLength && written; at += size) {
    size = ChunkAt(at, kLength);
    FillPattern(chunk, size, at);
    written = std::fwrite(chunk, 1, size, file) == size;
  }
  return std::fclose(file) == 0 && written;
}

// A disk of zeros with room for the image and 64 blocks behind it.
bool ClearDisk() {
  FILE* file = std::fopen(kDisk, "wb");
  if (file == nullptr) return false;
  static const unsigned char zeros[kChunkBytes] = {};
  bool written = true;
  for (uint32_t at = 0; at < kStart + kLength + 64 * kSectorSize && written; at += kChunkBytes) {
    written = std::fwrite(zeros, 1, kChunkBytes, file) == kChunkBytes;
  }
  // On the disk before the clock starts: no write-back of these pages is timed.
  written = written && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  return std::fclose(file) == 0 && written;
}

// The disk holds the image at the partition's offset and zeros elsewhere.
bool DiskHoldsImage() {
  FILE* file = std::fopen(kDisk, "rb");
  if (file == nullptr) return false;
  unsigned char got[kChunkBytes], want[kChunkBytes];
  bool same = true;
  for (uint32_t at = 0; same; at += kChunkBytes) {
    const size_t size = std::fread(got, 1, kChunkBytes, file);
    if (size == 0) break;
    std::memset(want, 0, size);
    // The image may end part way through this chunk.
    if (at >= kStart && at < kStart + kLength) {
      FillPattern(want, std::min<size_t>(size, kStart + kLength - at), at - kStart);
    }
    same = std::memcmp(got, want, size) == 0;
  }
  std::fclose(file);
  return same;
}

// Marks the end of the write pass: the report after the last chunk.
void NoteLastChunk(int32_t chunksWritten, void* context) {
  if (chunksWritten == kChunks) *static_cast<Clock::time_point*>(context) = Clock::now();
}

struct Timing {
  double total;
  double writePass;
};

// One run of the worker's copy path on drive A; with `backup`, the update's
// whole path: the sectors the image replaces saved first (timed apart in
// `backupSeconds`), then the verified copy.
bool CopyOurs(bool verify, Timing& timing, bool backup = false, double* backupSeconds = nullptr) {
  RawDrive drive;
  if (drive.Open('A') != 1) return false;
  FILE* image = std::fopen(kImage, "rb");
  if (image == nullptr) return false;
  Clock::time_point lastChunk;
  const Clock::time_point start = Clock::now();
  FirmwareBackup saved;
  const bool ready = !backup || saved.Save(drive, kStart, kLength, kBackup, nullptr, nullptr) ==
                                    BackupSave::kSaved;
  const Clock::time_point copyStart = Clock::now();
  const CopyResult copied =
      ready ? CopyImageToDrive(drive, image, kLength, kStart, verify, NoteLastChunk, &lastChunk)
                  .result
            : CopyResult::kNoBuffer;
  const Clock::time_point end = Clock::now();
  std::fclose(image);
  timing = {Seconds(start, end), Seconds(copyStart, lastChunk)};
  if (backupSeconds != nullptr) *backupSeconds = Seconds(start, copyStart);
  return copied == CopyResult::kDone;
}

bool UpdateOurs(Timing& timing, double& backupSeconds) {
  return CopyOurs(true, timing, true, &backupSeconds);
}

// Run as "--peak-of copy|update": one verified copy, or one whole update,
// in a fresh process; prints the process's peak resident memory in kB.
int PeakRun(const std::string& what) {
  const char* const table[] = {kDisk};
  SetRawDriveTable(table, 1);
  Timing timing = {};
  double backup = 0;
  if (!ClearDisk() || !(what == "update" ? UpdateOurs(timing, backup) : CopyOurs(true, timing))) {
    return 1;
  }
  rusage self = {};
  getrusage(RUSAGE_SELF, &self);
  std::printf("%ld\n", self.ru_maxrss);
  return 0;
}

// The peak of a fresh process of this program running `what` once; -1 when
// it could not be had.
long PeakOf(const char* what) {
  const std::string command =
      std::string("/proc/") + std::to_string(getpid()) + "/exe --peak-of " + what;
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return -1;
  long peak = -1;
  if (std::fscanf(child, "%ld", &peak) != 1) peak = -1;
  return pclose(child) == 0 ? peak : -1;
}

// Runs `command` through the shell and times it; false when it failed.
bool Timed(const std::string& command, double& seconds) {
  const Clock::time_point start = Clock::now();
  const int status = std::system(command.c_str());
  seconds = Seconds(start, Clock::now());
  return status == 0;
}

// dd over the firmware range of the disk, read with O_DIRECT as RawDrive
// reads it.
std::string DdReadsRange() {
  return std::string("dd if=") + kDisk + " bs=" + std::to_string(kChunkBytes) +
         " iflag=direct,skip_bytes,count_bytes skip=" + std::to_string(kStart) +
         " count=" + std::to_string(kLength) + " status=none";
}

// dd writing the image as the update does: chunks of 63 sectors, each
// unbuffered and synchronous, then a flush. `extra` is added to its options.
std::string DdWritesImage(const char* extra = "") {
  return std::string("dd if=") + kImage + " of=" + kDisk + " bs=" + std::to_string(kChunkBytes) +
         " oflag=direct,dsync,seek_bytes seek=" + std::to_string(kStart) +
         " conv=notrunc,fdatasync status=none" + extra;
}

constexpr char kPeerSteps[] =
    "dd iflag=direct > backup file, conv=fsync; dd oflag=direct,dsync conv=fdatasync; "
    "dd iflag=direct | cmp";

// The update's work done by dd and cmp, a process (or two) for each pass:
// the range saved to a file that is put on the disk, the image written, the
// range read back and compared with the image. The peer reads its backup
// file back nowhere; the update does, from the page cache.
struct PeerTiming {
  double backup;
  double write;
  double readBack;
};

bool UpdateWithDd(PeerTiming& timing) {
  return Timed(DdReadsRange() + " of=" + kPeerBackup + " conv=fsync", timing.backup) &&
         Timed(DdWritesImage(), timing.write) &&
         Timed(DdReadsRange() + " | cmp -s - " + kImage, timing.readBack);
}

void Summary(const char* what, const std::vector<double>& seconds, const char* note) {
  const auto range = std::minmax_element(seconds.begin(), seconds.end());
  std::printf("  %-24s %7.2f MB/s  median %7.1f ms (%.1f to %.1f)%s\n", what, MBps(Median(seconds)),
              Median(seconds) * 1e3, *range.first * 1e3, *range.second * 1e3, note);
}

// One pass of ours against the same pass of the peer, as a ratio of times.
void PassRatio(const char* what, const std::vector<double>& ours, const std::vector<double>& peer) {
  std::printf("    %-10s %.3f (median %.1f ms / %.1f ms)\n", what, Median(ours) / Median(peer),
              Median(ours) * 1e3, Median(peer) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--peak-of") {
    ResetRecordedUi();
    return WriteImage() ? PeakRun(argv[2]) : 1;
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  if (!WriteImage() || !ClearDisk()) {
    std::fprintf(stderr, "cannot write %s and %s in the current directory\n", kImage, kDisk);
    return 1;
  }
  // The device side reports through the recording side of its user interface.
  ResetRecordedUi();
  const char* const table[] = {kDisk};
  SetRawDriveTable(table, 1);

  std::vector<double> plain, verified, writePass, readBack, ddStart;
  std::vector<double> whole, backups, wholeWrite, wholeReadBack;
  std::vector<double> peer, peerBackup, peerWrite, peerReadBack;
  for (int round = 0; round < rounds; ++round) {
    // The four runs take turns at going first; each starts from a cleared
    // disk and is checked afterwards.
    for (int turn = 0; turn < 4; ++turn) {
      const int which = (round + turn) % 4;
      Timing timing = {};
      double seconds = 0;
      bool done = ClearDisk();
      if (done && which < 2) {
        done = CopyOurs(which == 1, timing);
        (which == 1 ? verified : plain).push_back(timing.total);
        if (which == 1) {
          writePass.push_back(timing.writePass);
          readBack.push_back(timing.total - timing.writePass);
        }
      } else if (done && which == 2) {
        done = UpdateOurs(timing, seconds);
        whole.push_back(timing.total);
        backups.push_back(seconds);
        wholeWrite.push_back(timing.writePass);
        wholeReadBack.push_back(timing.total - seconds - timing.writePass);
      } else if (done) {
        PeerTiming steps = {};
        done = UpdateWithDd(steps);
        peer.push_back(steps.backup + steps.write + steps.readBack);
        peerBackup.push_back(steps.backup);
        peerWrite.push_back(steps.write);
        peerReadBack.push_back(steps.readBack);
      }
      if (!done || !DiskHoldsImage()) {
        std::fprintf(stderr, "round %d: a copy failed or left the wrong bytes\n", round + 1);
        return 1;
      }
    }
    double seconds = 0;
    if (Timed(DdWritesImage(" count=0"), seconds)) ddStart.push_back(seconds);
  }
  const long peakCopy = PeakOf("copy");
  const long peakUpdate = PeakOf("update");
  std::remove(kBackup);
  std::remove(kPeerBackup);
  std::remove(kImage);
  std::remove(kDisk);

  rusage self = {};
  getrusage(RUSAGE_SELF, &self);
  std::printf(
      "image %u bytes (%u sectors, the repaired firmware partition; %d chunks of %u, the last "
      "%u) at byte %u, %d rounds:\n",
      kLength, kLength / kSectorSize, kChunks, kChunkBytes, kLength - (kChunks - 1) * kChunkBytes,
      kStart, rounds);
  Summary("ours, the whole update", whole, ", backup, write, flush and read-back");
  Summary("dd and cmp, equal work", peer, ", process starts included");
  std::printf("    (%s)\n", kPeerSteps);
  std::printf("  ratio whole update / equal work, in time: %.3f (target at most 1)\n",
              Median(whole) / Median(peer));
  // Ours flushes after its last synchronous write, which leaves the flush
  // little to do: it is timed with the read-back that follows it.
  std::printf("  each pass, ours / peer, in time (our flush counts with our read-back):\n");
  PassRatio("backup", backups, peerBackup);
  PassRatio("write", wholeWrite, peerWrite);
  PassRatio("read-back", wholeReadBack, peerReadBack);
  std::printf("  backup pass / write pass: %.3f (median %.1f ms / %.1f ms; target at most 1)\n",
              Median(backups) / Median(wholeWrite), Median(backups) * 1e3,
              Median(wholeWrite) * 1e3);
  Summary("ours, verification off", plain, "");
  Summary("ours, verification on", verified, "");
  Summary("dd's write", peerWrite, ", as in the peer, process start included");
  const double ddStartOnly = ddStart.empty() ? 0 : Median(ddStart);
  const double ddCopy = Median(peerWrite) - ddStartOnly;
  std::printf("  dd starting, copying nothing and flushing: median %.1f ms\n", ddStartOnly * 1e3);
  std::printf(
      "  ratio ours/dd throughput, verification off: %.3f (target at least 0.9); %.3f against "
      "dd's copy alone\n",
      Median(peerWrite) / Median(plain), ddCopy / Median(plain));
  std::printf("  read-back pass / write pass: %.3f (median %.1f ms / %.1f ms; target at most 1)\n",
              Median(readBack) / Median(writePass), Median(readBack) * 1e3,
              Median(writePass) * 1e3);
  std::printf(
      "  peak memory of one verified copy: %ld kB; of one update with its backup held: %ld "
      "kB (the backup is %u kB)\n",
      peakCopy, peakUpdate, kLength / 1024);
  std::printf("  peak memory of this process: %ld kB\n", self.ru_maxrss);
  return 0;
}
