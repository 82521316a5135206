// What the end-to-end tests see and steer on the wizard's thread: hooks set
// on the host thread that opens the wizard record the status log and the
// progress bar, and can hold or refuse windows at fixed moments.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "harness/WindowDriver.h"
#include "shell/Zephlar.h"

// The host program's thread: the modal call, or the modeless one under a
// window of its own followed by a message loop while the wizard is open;
// the hooks are set on it for its life.
struct HostCall {
  ZephlarWizardFunction wizard;
  ZephlarWizardHwndFunction wizardHwnd;
  ZephlarRunningFunction running;
  bool modeless;
};
HANDLE StartHostThread(const HostCall& call);

// Clears what was seen and every hold, refusal and action set: a test starts
// with none.
void ForgetWhatTheThreadSaw();

// Every line added to a list box with the status log's id, in order.
std::vector<std::string> LoggedLines();
// Every position the worker gave its progress bar, in order.
std::vector<int> ProgressPositions();
// The status log of the page on screen as the worker's last command found
// it: its lines, the index of the top one shown, and how many it shows;
// -1 for lines when no log was there.
struct LogView {
  int lines = -1;
  int top = -1;
  int rows = 0;
};
LogView StatusLogAtTheEnd();
// `line` as the status log holds it: cut to the log's line width, which a
// full path in a deep scratch folder can reach.
std::string AsLogged(const std::string& line);
// The next `count` panel dialogs made on the wizard's thread are refused at
// their creation, as the system refuses a window it cannot make; 0 refuses
// none.
void RefusePanels(int count);
// Runs `action` once on the wizard's thread when the status log is handed a
// line that begins with `lineStart`, or when the worker makes its progress
// bar; the worker waits in its send meanwhile, so the action lands between
// two known steps of the update. A null action cancels.
void WhenLogged(const std::string& lineStart, std::function<void()> action);
void WhenProgressBarMade(std::function<void()> action);
