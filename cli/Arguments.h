// The command line as the user typed it: one command, its options and its
// operands. Parsed by hand: three commands and two flags need no library, and
// product code throws no exceptions.
#pragma once

#include <cstdio>
#include <vector>

enum class Command { kHelp, kVersion, kList, kUpdate, kRestore };

struct Arguments {
  Command command = Command::kHelp;
  bool yes = false;                   // write without asking
  bool dryRun = false;                // update: tell what would be written, write nothing
  std::vector<const char*> operands;  // into argv
};

// False on a usage error, which it has told on standard error.
bool ParseArguments(int argc, char** argv, Arguments& arguments);

// The help text; help2man turns it into the manual page.
void PrintHelp(std::FILE* out);
