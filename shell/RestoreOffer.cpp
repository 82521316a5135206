#include "shell/RestoreOffer.h"

#include <process.h>

#include <cstdio>

#include "device/Recovery.h"
#include "shell/StepActions.h"
#include "shell/WizardState.h"
#include "shell/WizardWindow.h"

namespace {

// Set on the wizard's thread before the restore worker starts, and not
// changed while it runs.
UpdateRecord PendingRecord;

void RestoreThread(void*) {
  const UpdateResult result =
      RestoreUnfinishedUpdate(static_cast<char>(FoundDriveLetter), PendingRecord);
  SendAsWorkersLastAct(kRestoreDoneMessage, result == UpdateResult::kRestored ? 1 : 0, 0);
}

}  // namespace

bool FindUnfinishedUpdateOf(char letter) { return FindUnfinishedUpdate(letter, PendingRecord); }

void OfferRestore(HWND wizard) {
  const BackupFiles files = BackupFilesOf(PendingRecord.set);
  char question[600];
  std::snprintf(question, sizeof question,
                "The last update of this zAze did not finish, so its firmware may not work.\n\n"
                "Its previous firmware is saved in %s.\n\nPut the previous firmware back now?\n\n"
                "Yes: put it back (this takes a minute), then go on.\nNo: leave the zAze as it "
                "is. The saved copy is kept, and you can update the zAze again.",
                files.firmware);
  // No is the default: an Enter typed during the search must not start a
  // write the user has not read about.
  if (MessageBoxA(wizard, question, "Zephlar", MB_YESNO | MB_DEFBUTTON2) != IDYES) return;
  StartRestore(wizard, RestoreThread);
}

void OnRestoreDone(HWND wizard, WPARAM restored) {
  EndDeviceWork(wizard);
  if (restored) {
    MessageBoxA(wizard,
                "The previous firmware is back on your zAze, checked byte for byte.\n\nYou can "
                "update it again, or close Zephlar.",
                "Zephlar", MB_OK);
  }
  ShowCurrentStep(wizard);
}
