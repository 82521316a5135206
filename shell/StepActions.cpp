// Not written yet: the Windows check and device search, the firmware file
// choice and web-site button, the download and the update start come later.
// Until then the wizard opens straight onto its page, and these never close
// the wizard or start anything.
#include "shell/StepActions.h"

void RunStartupActions(HWND /*wizard*/) {}

void ScanPageControls(HWND /*wizard*/, HWND /*control*/) {}

int32_t RunLeavingActions(HWND /*wizard*/) { return 0; }

int32_t RunUpdateStart(HWND /*wizard*/) { return 0; }
