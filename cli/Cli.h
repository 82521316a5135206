// The command-line program as a whole: zephlar-cli's main runs it, and the
// tests run it in their own process.
#pragma once

// Exit statuses, as the help text lists them.
constexpr int kExitDone = 0;         // updated (or restored) and verified
constexpr int kExitRefused = 1;      // the firmware partition was not written
constexpr int kExitUsage = 2;        // the command line was wrong
constexpr int kExitRestored = 3;     // failed; the previous firmware is back
constexpr int kExitNotRestored = 4;  // failed and not put back; a box named the backup

// Runs the command in `argv`; returns the exit status.
int RunCli(int argc, char** argv);
