// The offer to put the previous firmware back, made when the wizard finds a
// zAze whose last update did not finish (the process was killed, the power
// went, a restore failed). It comes once the wizard is shown, before the
// user pages on; the step script's pages are as they were.
#pragma once

#include <windows.h>

// Whether the zAze on `letter` has an unfinished update on record; if so,
// it is kept for the offer.
bool FindUnfinishedUpdateOf(char letter);

// Asks the user, and on Yes puts the previous firmware back on a worker
// thread behind the progress window, the wizard locked meanwhile. On No
// nothing is changed and the backup stays.
void OfferRestore(HWND wizard);

// The restore worker's last act reached the wizard: unlocks it and tells
// the user when everything is back (the failures were told by the worker).
void OnRestoreDone(HWND wizard, WPARAM restored);
