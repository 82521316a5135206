#include "cli/Arguments.h"

#include <cstring>

namespace {

struct CommandForm {
  const char* name;
  Command command;
  int fewest;  // operands
  int most;    // -1: any number
  bool takesYes;
  bool takesDryRun;
  const char* operands;  // as the usage line names them
};

const CommandForm kForms[] = {
    {"list", Command::kList, 0, -1, false, false, "[DEVICE...]"},
    {"update", Command::kUpdate, 2, 2, true, true, "DEVICE FIRMWARE"},
    {"restore", Command::kRestore, 2, 2, true, false, "DEVICE BACKUP"},
};

bool Is(const char* arg, const char* shortForm, const char* longForm) {
  return std::strcmp(arg, shortForm) == 0 || std::strcmp(arg, longForm) == 0;
}

bool Usage(const char* what, const char* detail) {
  std::fprintf(stderr, "zephlar-cli: %s%s\nTry 'zephlar-cli --help' for more.\n", what, detail);
  return false;
}

// Options may stand anywhere after the command; "--" ends them.
bool ParseCommand(const CommandForm& form, int argc, char** argv, Arguments& arguments) {
  bool options = true;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options || arg[0] != '-' || arg[1] == '\0') {
      arguments.operands.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      options = false;
    } else if (form.takesYes && Is(arg, "-y", "--yes")) {
      arguments.yes = true;
    } else if (form.takesDryRun && Is(arg, "-n", "--dry-run")) {
      arguments.dryRun = true;
    } else {
      return Usage("unknown option for this command: ", arg);
    }
  }
  const int count = static_cast<int>(arguments.operands.size());
  if (count < form.fewest || (form.most >= 0 && count > form.most)) {
    std::fprintf(stderr, "zephlar-cli: usage: zephlar-cli %s %s%s\n", form.name,
                 form.takesYes ? (form.takesDryRun ? "[--yes] [--dry-run] " : "[--yes] ") : "",
                 form.operands);
    return false;
  }
  return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, Arguments& arguments) {
  arguments = Arguments();
  if (argc < 2) return Usage("no command given", "");
  const char* first = argv[1];
  const bool help = Is(first, "-h", "--help");
  if (help || Is(first, "-V", "--version")) {
    arguments.command = help ? Command::kHelp : Command::kVersion;
    return argc == 2 || Usage("unexpected argument: ", argv[2]);
  }
  for (const CommandForm& form : kForms) {
    if (std::strcmp(first, form.name) != 0) continue;
    arguments.command = form.command;
    return ParseCommand(form, argc, argv, arguments);
  }
  return Usage("unknown command: ", first);
}

void PrintHelp(std::FILE* out) {
  std::fputs(
      "Usage: zephlar-cli list [DEVICE...]\n"
      "  or:  zephlar-cli update [--yes] [--dry-run] DEVICE FIRMWARE\n"
      "  or:  zephlar-cli restore [--yes] DEVICE BACKUP\n"
      "Update the firmware of a zAze from a terminal, with the checks, backups and\n"
      "rollback of the Windows wizard.\n"
      "\n"
      "Commands:\n"
      "  list [DEVICE...]     show each whole disk (or each DEVICE named): its size,\n"
      "                       its model, whether it is a zAze, and whether it is in use\n"
      "  update DEVICE FIRMWARE\n"
      "                       bring the zAze's partition map into shape if needed, then\n"
      "                       write FIRMWARE into its firmware partition and read it back\n"
      "  restore DEVICE BACKUP\n"
      "                       put back the firmware an update saved in BACKUP\n"
      "\n"
      "Options:\n"
      "  -y, --yes            write without asking first (needed when standard input\n"
      "                       is not a terminal)\n"
      "  -n, --dry-run        update: tell what would be written where, write nothing\n"
      "  -h, --help           show this help and exit\n"
      "  -V, --version        show the version and exit\n"
      "\n"
      "The status log goes to standard output; error messages and the progress bar\n"
      "to standard error. Backups, the update record and zaze_pm.txt are written to\n"
      "the current directory. Writing to a disk needs root.\n"
      "\n"
      "Exit status:\n"
      "  0    updated (or restored) and verified\n"
      "  1    refused; the firmware partition was not written\n"
      "  2    usage error\n"
      "  3    the update failed; the previous firmware is back in place\n"
      "  4    the update failed and the previous firmware could not be put back;\n"
      "       standard error names the file that holds it\n",
      out);
}
