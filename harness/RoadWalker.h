// One update walked as a user walks it, in the wizard of process `process`
// (0: this one): Continue on the device prompt; on each page the firmware
// file chosen where the page offers "Browse for file", then Next; Yes to the
// question before a download and OK to every other box; the update waited
// out, its progress window held at the end of the copy; OK on the last page.
// The road test walks its own wizard and checks what the walk met; the demo
// walks zephlar.exe's and keeps pictures of it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "harness/WindowDriver.h"
#include "harness/WizardHook.h"

// A fingerprint of the wizard's page panel as the screen shows it: it changes
// when another page's title and text are drawn.
unsigned PanelPrint(HWND wizard);

struct AnsweredBox {
  std::string caption;
  std::string text;
  std::string answer;  // "OK" or "Yes"
};

enum class RoadStop {
  kPrompt,          // the device prompt, before Continue (or with Retry, before failing)
  kPage,            // a page, as it was reached
  kFileDialog,      // the file dialog, the firmware's path typed in
  kBox,             // a box, before its answer
  kFirmwareChosen,  // the page again, once the file has been verified
  kProgress,        // the progress window, held with its bar full
};

// Told of each stop, once its window has painted and before it is answered
// or left. `page` counts the pages reached so far, from 1.
class RoadWatcher {
 public:
  virtual ~RoadWatcher() = default;
  virtual void At(RoadStop /*stop*/, HWND /*window*/, int /*page*/) {}
  // What the walker does and waits for, in words.
  virtual void Say(const std::string& /*line*/) {}
};

class RoadWalker {
 public:
  RoadWalker(DWORD process, const std::string& firmware, DWORD timeoutMs, RoadWatcher& watcher);
  ~RoadWalker();
  RoadWalker(const RoadWalker&) = delete;
  RoadWalker& operator=(const RoadWalker&) = delete;

  // The whole road, up to the wizard's end; false at the first thing that did
  // not come or went wrong, which failure() tells.
  bool Walk();
  // Two of its steps, for a walk that stops halfway: Continue on the prompt
  // (the wizard once it is shown, or null), and the firmware chosen on the
  // page on screen.
  HWND PassPrompt();
  bool ChooseFirmware(HWND wizard);

  const std::string& failure() const { return failure_; }
  const std::vector<AnsweredBox>& boxes() const { return boxes_; }

 private:
  enum class After { kNewPage, kEnded, kFailed };
  After Next(HWND wizard);
  bool Answer(HWND box);
  bool AnswerStrayBoxes(const WindowMatch& expected);
  HWND WaitFor(const std::string& what, const WindowMatch& match);
  void Settle(HWND window) const;
  bool InTime(const std::string& what);
  bool Fail(const std::string& what);

  const DWORD process_;
  HANDLE program_ = nullptr;  // another process's, to see it end
  const std::string firmware_;
  const DWORD timeoutMs_;
  const DWORD deadline_;
  RoadWatcher& watcher_;
  ProgressPicture picture_;
  int page_ = 0;
  bool chosen_ = false;
  bool updated_ = false;       // its progress window was held and shown
  bool progressSeen_ = false;  // a progress window came
  std::string failure_;
  std::vector<AnsweredBox> boxes_;
};
