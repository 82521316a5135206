// The status log: one line at a time into the page's list box 5345.
#include <windows.h>

#include <cstdarg>

#include "device/DeviceUi.h"
#include "script/StatusLine.h"
#include "shell/WizardState.h"

int32_t LogStatus(const char* format, ...) {
  char line[kStatusLineSize];  // each call its own: two threads never share it
  va_list args;
  va_start(args, format);
  const int32_t length = FormatStatusLine(line, format, args);
  va_end(args);
  if (length == 0) return 0;
  // Sent, not posted: a call from the worker returns only once the wizard's
  // thread has added the line, so the buffer outlives its use. Without a log
  // on the page the line is dropped.
  HWND log = GetDlgItem(WizardWnd, IDC_STATUS_LOG);
  if (log != nullptr) SendMessageA(log, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  return 1;
}
