// Choosing the firmware file: the file dialog, and the check's verdict.
#include "shell/FirmwareChoice.h"

#include <commdlg.h>
// After commdlg.h: the dialog's error codes.
#include <cderr.h>

#include <cstdio>
#include <cstring>

#include "device/FirmwareImage.h"
#include "device/Platform.h"
#include "device/UpdateWorker.h"
#include "shell/LibraryEntry.h"
#include "shell/WizardState.h"

namespace {

// Each pattern ends at the pair's own terminator; the array's adds the second.
constexpr char kFirmwareFilter[] = "Firmware Files\0*.*\0";
constexpr wchar_t kFirmwareFilterW[] = L"Firmware Files\0*.*\0";

constexpr char kPathTooLong[] =
    "The path of the chosen file is too long for Zephlar (more than 259 characters).\n\nMove the "
    "file to a folder with a shorter path, and choose it again.";
// The structure as Windows 2000 and earlier know it, without the trailing
// reserved fields.
constexpr DWORD kOpenFileNameSize = 76;
static_assert(kOpenFileNameSize <= sizeof(OPENFILENAMEA), "a prefix of the structure");
static_assert(kOpenFileNameSize <= sizeof(OPENFILENAMEW), "a prefix of the structure");

// A file that cannot be opened is told as such, never as one that is not
// firmware: the user must not throw a good file away.
void TellFileNotOpened(HWND wizard, uint32_t code) {
  char words[200] = "";
  ErrorWords(code, words, sizeof words);
  const bool inUse = ClassifyError(code) == SystemError::kInUse;
  char text[600];
  std::snprintf(text, sizeof text, "The selected file could not be opened%s%s\n\n%s",
                words[0] != '\0' ? ": " : ".", words,
                inUse ? "Another program holds it. Close that program, or wait until it is done "
                        "(a download, a virus check), and choose the file again."
                      : "Check that you may read the file, or copy it to another folder, and "
                        "choose it again.");
  MessageBoxA(wizard, text, "Error", MB_OK);
}

// The dialog's fields, the same in its wide and ANSI forms. The title goes
// to a buffer of its own: written over the path it would leave there only
// the bare file name.
template <typename Dialog, typename Char>
void FillDialog(Dialog& dialog, HWND wizard, const Char* filter, Char* path, Char* title,
                const Char* noExtension) {
  std::memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = kOpenFileNameSize;
  dialog.hwndOwner = wizard;
  dialog.hInstance = ModuleInstance;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;  // also the initial name: the last file chosen
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrFileTitle = title;
  dialog.nMaxFileTitle = MAX_PATH;
  dialog.lpstrDefExt = noExtension;
  // The current folder stays where it was: the dump, the firmware sources
  // and the next opening's steps.stp are all named relative to it.
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
}

// The user's choice in the file dialog, into FirmwarePath: UTF-8 from the
// wide dialog on the NT family, where a folder name the ANSI code page
// cannot hold keeps its characters; the ANSI dialog on the 9x family. False
// when nothing was chosen; a name too long for the dialog is told.
bool AskForFirmwareFile(HWND wizard) {
  BOOL chosen = FALSE;
  if (IsNtPlatform()) {
    wchar_t path[MAX_PATH] = L"";
    if (MultiByteToWideChar(CP_UTF8, 0, FirmwarePath, -1, path, MAX_PATH) == 0) path[0] = L'\0';
    wchar_t title[MAX_PATH] = L"";
    OPENFILENAMEW dialog;
    FillDialog(dialog, wizard, kFirmwareFilterW, path, title, L"");
    chosen = GetOpenFileNameW(&dialog);
    if (chosen) {
      chosen = WideCharToMultiByte(CP_UTF8, 0, path, -1, FirmwarePath, sizeof FirmwarePath, nullptr,
                                   nullptr) > 0;
    }
  } else {
    char title[MAX_PATH] = "";
    OPENFILENAMEA dialog;
    FillDialog(dialog, wizard, kFirmwareFilter, FirmwarePath, title, "");
    chosen = GetOpenFileNameA(&dialog);
  }
  if (!chosen && CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
    MessageBoxA(wizard, kPathTooLong, "Error", MB_OK);
  }
  return chosen != FALSE;
}

}  // namespace

void ChooseFirmwareFile(HWND wizard) {
  if (!AskForFirmwareFile(wizard)) return;
  // The verdict lives in the table, so it holds while the user pages back
  // and forth.
  WizardStep& step = ShownStep();
  const int checked = CheckFirmwareFile(FirmwarePath);
  if (checked == 1) {
    ButtonStates[kNextButton] = kButtonNormal;
    step.forward = 1;
    MessageBoxA(wizard, "The file has been verified as the correct firmware file.", "File verified",
                MB_OK);
  } else {
    ButtonStates[kNextButton] = kButtonDisabled;
    step.forward = 0;
    if (checked == 0) {
      MessageBoxA(wizard, "The selected file is NOT a valid firmware file!", "Error", MB_OK);
    } else {
      TellFileNotOpened(wizard, LastErrorCode());
    }
  }
  InvalidateRect(wizard, nullptr, FALSE);
  UpdateWindow(wizard);
}
