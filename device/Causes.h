// What to tell the user when the system refused: the cause in words and
// what to do, put between an error box's headline and its support line, so
// that a refusal is never told as something else (a zAze that is plugged in
// but locked away is not "not found").
#pragma once

#include "device/RawDrive.h"

// The paragraph for an open that was refused, or null when the refusal says
// nothing the headline does not.
const char* CauseOfRefusal(RawDriveRefusal refusal);

constexpr char kDisconnectedCause[] =
    "The zAze was disconnected. Connect it again, directly to the computer, and start the update "
    "again.";

// "Error: <headline>" box with `cause` (when not null) as its own paragraph
// before the support line.
void ShowBoxWithCause(const char* headline, const char* cause);

// The log line and box of a zAze that refused every write: nothing was
// written, which is what the user must know first.
void TellWriteProtected();
// The box alone, where the log has said it already.
void ShowWriteProtectedBox();
