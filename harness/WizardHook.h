// What a hook on the wizard's thread sees of an update: the lines handed to
// the status log, and the end of the copy, where the wizard's thread can be
// held while the progress window, its bar full, is photographed. A test sets
// such a hook in its own process; the demo's hook library runs inside
// zephlar.exe. The walker on the other side holds a ProgressPicture.
#pragma once

#include <windows.h>

// The line that a message sent on the wizard's thread adds to the status
// log; null for any other message.
const char* StatusLogLine(const CWPSTRUCT& sent);
// Whether the message tells the progress window that the worker removes its
// bar: the copy has ended.
bool EndsTheCopy(const CWPSTRUCT& sent);
// Called from the hook at the end of the copy: while a ProgressPicture of
// this process lives, repaints the progress window and holds the thread
// until the picture is taken; returns at once otherwise. The worker waits
// in its send meanwhile and still answers sent messages.
void HoldForPicture(HWND progress);

// The walker's side: while it lives, the end of the copy in process
// `process` (0: this one) is held until Release.
class ProgressPicture {
 public:
  explicit ProgressPicture(DWORD process);
  ~ProgressPicture();
  ProgressPicture(const ProgressPicture&) = delete;
  ProgressPicture& operator=(const ProgressPicture&) = delete;

  // Whether the wizard's thread is held now, waiting up to `ms`.
  bool Held(DWORD ms = 0) const;
  // Lets the held thread go on; a later end of a copy is not held.
  void Release();

 private:
  HANDLE held_;
  HANDLE taken_;
};
