// The update and restore commands: the device core's own update and restore
// on the one disk named, each planned and agreed to before anything is
// written.
#include "cli/Cli.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/Arguments.h"
#include "cli/DeviceList.h"
#include "cli/DeviceUse.h"
#include "cli/TerminalUi.h"
#include "device/FirmwareImage.h"
#include "device/ImageCopy.h"
#include "device/RawDrive.h"
#include "device/Recovery.h"
#include "device/UpdateRecord.h"
#include "device/UpdateWorker.h"

namespace {

// The disk named on the command line is the drive table's only entry.
constexpr char kDrive = 'A';

int ExitFor(UpdateResult result) {
  switch (result) {
    case UpdateResult::kUpdated:
      return kExitDone;
    case UpdateResult::kRefused:
      return kExitRefused;
    case UpdateResult::kRestored:
      return kExitRestored;
    case UpdateResult::kNotRestored:
      break;
  }
  return kExitNotRestored;
}

// While the zAze is written, the signals that would end the program are
// held off until the writing has ended: stopping half-way would leave the
// firmware partition half-written.
class WritingGuard {
 public:
  WritingGuard() {
    struct sigaction held = {};
    held.sa_handler = Held;
    held.sa_flags = SA_RESTART;
    sigemptyset(&held.sa_mask);
    for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &held, &before_[i]);
  }
  ~WritingGuard() {
    for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &before_[i], nullptr);
  }
  WritingGuard(const WritingGuard&) = delete;
  WritingGuard& operator=(const WritingGuard&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  static constexpr size_t kCount = sizeof kSignals / sizeof kSignals[0];

  static void Held(int) {
    static const char kNote[] =
        "\nzephlar-cli: the zAze is being written; the program ends when the update has.\n";
    const ssize_t written = write(STDERR_FILENO, kNote, sizeof kNote - 1);
    static_cast<void>(written);
  }

  struct sigaction before_[kCount];
};

// Without --yes the user is asked, which needs a terminal.
bool CanAsk(const Arguments& arguments) {
  if (arguments.yes || isatty(STDIN_FILENO) == 1) return true;
  std::fputs(
      "zephlar-cli: standard input is not a terminal, so nobody can be asked before writing; "
      "add --yes to write without asking. Nothing was written.\n",
      stderr);
  return false;
}

bool Agreed(const Arguments& arguments, const char* device) {
  if (arguments.yes) return true;
  std::fprintf(stderr, "Write to %s now? [y/N] ", device);
  std::fflush(stderr);
  char answer[16] = {};
  if (std::fgets(answer, sizeof answer, stdin) != nullptr &&
      (answer[0] == 'y' || answer[0] == 'Y')) {
    return true;
  }
  std::fputs("Nothing was written.\n", stderr);
  return false;
}

// The `bytes` bytes from byte `first`, on a line of the plan.
void PrintRange(const char* what, uint32_t first, uint32_t bytes) {
  std::printf("  %s: bytes %lu to %lu (blocks %lu to %lu)\n", what,
              static_cast<unsigned long>(first), static_cast<unsigned long>(first + bytes - 1),
              static_cast<unsigned long>(first / kSectorSize),
              static_cast<unsigned long>((first + bytes) / kSectorSize - 1));
}

void PrintPlan(const UpdatePlan& plan, const char* device, const char* image) {
  std::printf("Plan for %s:\n", device);
  if (plan.map.kind == RepairPlan::kRewrite) {
    // Entry i of the map is block i + 1.
    std::printf("  partition map: block%s", plan.map.changedCount > 1 ? "s" : "");
    const uint32_t listed = std::min(plan.map.changedCount, kPlannedEntries);
    for (uint32_t i = 0; i < listed; ++i) {
      std::printf("%s %lu", i > 0 ? "," : "", static_cast<unsigned long>(plan.map.changed[i] + 1));
    }
    if (plan.map.changedCount > listed) {
      std::printf(" and %lu more", static_cast<unsigned long>(plan.map.changedCount - listed));
    }
    std::printf(" rewritten into the zAze's fixed shape\n");
  } else {
    std::printf("  partition map: in shape, not written\n");
  }
  std::printf("  firmware: %lu bytes from %s\n", static_cast<unsigned long>(plan.firmwareLength),
              image);
  PrintRange("written to", plan.firmwareStart, plan.firmwareLength);
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof folder) == nullptr) std::snprintf(folder, sizeof folder, ".");
  std::printf("  saved first in %s: %s, %s%s%s and zaze_pm.txt\n", folder, plan.files.firmware,
              plan.files.record, plan.map.kind == RepairPlan::kRewrite ? ", " : "",
              plan.map.kind == RepairPlan::kRewrite ? plan.files.map : "");
}

// The wizard's update of `device` with `image`, planned and agreed to first.
int UpdateDrive(const Arguments& arguments, const char* device, const char* image) {
  if (!arguments.dryRun && !CanAsk(arguments)) return kExitRefused;
  // The update keeps the path in a field of the wizard's size: a longer one
  // would be cut short, and could name another file.
  if (std::strlen(image) >= sizeof FirmwarePath) {
    std::fprintf(stderr,
                 "zephlar-cli: the firmware file's path is longer than %u characters; "
                 "give a shorter one. Nothing was written.\n",
                 unsigned{sizeof FirmwarePath - 1});
    return kExitRefused;
  }
  if (IsFirmwareFile(image) != 1) {
    std::fprintf(stderr, "zephlar-cli: %s is not a valid firmware file. Nothing was written.\n",
                 image);
    return kExitRefused;
  }
  SetRawDriveTable(&device, 1);
  SetRawDriveReadOnly(true);
  if (!DeviceUsable(device)) return kExitRefused;
  StartUi(kChunkBytes);
  // The plan makes the update's checks without writing: a refused update
  // writes nothing here, not even the map's repair. Its lines are shown only
  // when it refuses; otherwise the update says them again.
  if (!arguments.dryRun) KeepUi();
  const UpdatePlan plan = PlanFirmwareUpdate(kDrive, image);
  if (!arguments.dryRun) EndKeepingUi(!plan.goesAhead);
  if (plan.goesAhead) PrintPlan(plan, device, image);
  if (arguments.dryRun) {
    std::puts(plan.goesAhead ? "Dry run: nothing was written."
                             : "Dry run: the update would be refused. Nothing was written.");
    return plan.goesAhead ? kExitDone : kExitRefused;
  }
  if (!plan.goesAhead || !Agreed(arguments, device)) return kExitRefused;
  std::fflush(stdout);
  SetRawDriveReadOnly(false);
  const WritingGuard guard;
  const UpdateResult result = RunFirmwareUpdate(kDrive, image);
  // Taken by another program since the plan: say so.
  if (result == UpdateResult::kRefused) TellRefusal(device, LastRawDriveOpening());
  return ExitFor(result);
}

enum class RecordFound { kNone, kLoaded, kDamaged };

// The record of the backup set whose firmware file is `name`, in the current
// folder: none when that set has no record file.
RecordFound RecordOf(const char* name, UpdateRecord& record) {
  for (int set = 1; set <= kBackupSets; ++set) {
    const BackupFiles files = BackupFilesOf(set);
    if (std::strcmp(files.firmware, name) != 0) continue;
    if (access(files.record, F_OK) != 0) return RecordFound::kNone;
    return LoadUpdateRecord(set, record) ? RecordFound::kLoaded : RecordFound::kDamaged;
  }
  return RecordFound::kNone;
}

// A recorded backup put back, with the map blocks its update replaced.
int RestoreRecorded(const Arguments& arguments, const char* device, UpdateRecord& record,
                    const char* backup) {
  SetRawDriveTable(&device, 1);
  SetRawDriveReadOnly(true);
  if (!DeviceUsable(device)) return kExitRefused;
  std::printf("Plan for %s:\n  firmware: %lu bytes from %s\n", device,
              static_cast<unsigned long>(record.length), backup);
  PrintRange("written back to", record.start, record.length);
  if (record.mapBlocks > 0) {
    std::printf("  partition map: blocks 1 to %lu written back from %s\n",
                static_cast<unsigned long>(record.mapBlocks), BackupFilesOf(record.set).map);
  }
  if (!Agreed(arguments, device)) return kExitRefused;
  std::fflush(stdout);
  StartUi(0);  // the restore's steps are its two parts, not chunks
  SetRawDriveReadOnly(false);
  const WritingGuard guard;
  const UpdateResult result = RestoreUnfinishedUpdate(kDrive, record);
  if (result == UpdateResult::kRefused) TellRefusal(device, LastRawDriveOpening());
  return result == UpdateResult::kRestored ? kExitDone : ExitFor(result);
}

int Restore(const Arguments& arguments) {
  const char* device = arguments.operands[0];
  const char* backup = arguments.operands[1];
  if (!CanAsk(arguments)) return kExitRefused;
  const auto unusable = [](const char* what) {
    std::fprintf(stderr, "zephlar-cli: %s: %s. Nothing was written.\n", what, std::strerror(errno));
    return kExitRefused;
  };
  char path[PATH_MAX];
  char home[PATH_MAX];
  // The device is named from here: a relative name must not be looked up
  // again in the backup's folder.
  char devicePath[PATH_MAX];
  if (realpath(backup, path) == nullptr) return unusable(backup);
  if (realpath(device, devicePath) == nullptr) return unusable(device);
  if (getcwd(home, sizeof home) == nullptr) return unusable(".");
  // A record names its backups within the folder its update ran in.
  char* name = std::strrchr(path, '/');
  *name++ = '\0';
  if (chdir(path[0] != '\0' ? path : "/") != 0) return unusable(path);
  UpdateRecord record;
  const RecordFound found = RecordOf(name, record);
  int status = kExitRefused;
  if (found == RecordFound::kLoaded) {
    status = RestoreRecorded(arguments, devicePath, record, backup);
  } else if (found == RecordFound::kDamaged) {
    std::fprintf(stderr,
                 "zephlar-cli: the update record beside %s cannot be read, so the map blocks "
                 "it names cannot be put back. Nothing was written.\n",
                 backup);
  }
  if (chdir(home) != 0) {
    std::fprintf(stderr, "zephlar-cli: cannot return to %s: %s\n", home, std::strerror(errno));
  }
  if (found != RecordFound::kNone) return status;
  // A backup whose update ended verified has no record: it goes back as a
  // firmware file, through the update's own checks.
  std::printf(
      "%s has no update record beside it: it can go back only as a firmware file, through the "
      "update's checks.\n",
      backup);
  return UpdateDrive(arguments, device, backup);
}

}  // namespace

int RunCli(int argc, char** argv) {
  // A reader of the output that goes away makes its writes fail, not the
  // program end.
  signal(SIGPIPE, SIG_IGN);
  Arguments arguments;
  if (!ParseArguments(argc, argv, arguments)) return kExitUsage;
  const char* const* operands = arguments.operands.data();
  int status = kExitDone;
  switch (arguments.command) {
    case Command::kHelp:
      PrintHelp(stdout);
      break;
    case Command::kVersion:
      std::printf("zephlar-cli %s\n", ZEPHLAR_VERSION);
      break;
    case Command::kList:
      status = ListDevices(static_cast<int>(arguments.operands.size()), operands);
      break;
    case Command::kUpdate:
      status = UpdateDrive(arguments, operands[0], operands[1]);
      break;
    case Command::kRestore:
      status = Restore(arguments);
      break;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}
