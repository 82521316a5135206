// zephlar.exe killed while it writes the firmware, then started again, as a
// user whose program was ended (a crash, Task Manager, a power cut) would:
// the wizard offers to put the previous firmware back, keeps everything when
// the user declines, and once the user accepts, the zAze is byte for byte as
// it was before the first run.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/gui/GuiHarness.h"
#include "tests/host/ChildProcess.h"
#include "tests/support/DiskImage.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD kStartWaitMs = 15000;
// 520 chunks: time enough to see the write pass and end the program in it.
constexpr uint32_t kImageBytes = 520 * 32256;
constexpr uint32_t kZazeBlocks = 40000;
constexpr char kOfferCaption[] = "Zephlar";
constexpr char kOfferStart[] = "The last update of this zAze did not finish";

// Page 1 with a status log, the firmware choice with the log the update
// writes to (the page stays on screen while it runs), the update, the end.
constexpr char kScript[] =
    "steps 4\n"
    "step1.title.Welcome\nstep1.forward.1\nstep1.numcontrols.1\n"
    "step1.controls1.type.6\nstep1.controls1.dest.5345\nstep1.controls1.x.210\n"
    "step1.controls1.y.210\nstep1.controls1.width.356\nstep1.controls1.height.96\n"
    "step2.title.Firmware\nstep2.back.1\nstep2.forward.0\nstep2.numcontrols.2\n"
    "step2.controls1.type.4\nstep2.controls1.x.210\nstep2.controls1.y.174\n"
    "step2.controls1.width.140\nstep2.controls1.height.26\nstep2.controls1.value.Browse for file\n"
    "step2.controls2.type.6\nstep2.controls2.dest.5345\nstep2.controls2.x.210\n"
    "step2.controls2.y.210\nstep2.controls2.width.356\nstep2.controls2.height.96\n"
    "step3.title.Update\nstep3.numcontrols.1\nstep3.controls1.type.5\n"
    "step3.controls1.selected.6\n"
    "step4.title.Finished\nstep4.finish.1\n"
    "end\n";

// Starts the program in `folder` and presses Continue on the device prompt;
// the wizard once it is shown.
HWND StartPastPrompt(ChildProgram& program, ScratchFolder& folder) {
  if (!program.Start(CopyProgramInto(folder, ZEPHLAR_DLL_PATH), "", folder.path())) return nullptr;
  HWND prompt = WaitForTopLevel(IsPrompt, kStartWaitMs, program.id());
  if (prompt == nullptr || !PressButton(prompt, IDOK)) return nullptr;
  return WaitForTopLevel(IsWizard, kStartWaitMs, program.id());
}

HWND WaitForBoxOf(const ChildProgram& program, const std::string& caption) {
  return WaitForTopLevel([&](HWND w) { return IsCaptionedBox(w, caption); }, kStartWaitMs,
                         program.id());
}

// Chooses `path` on the firmware page and starts the update.
bool StartUpdate(const ChildProgram& program, HWND wizard, const std::string& path) {
  PostClick(wizard, kNextPoint);
  if (!WaitUntil([&] { return PageButton(wizard, "Browse for file") != nullptr; })) return false;
  PressPageButton(wizard, "Browse for file");
  HWND dialog = WaitForBoxOf(program, "Open");
  HWND field = dialog != nullptr ? FileNameField(dialog) : nullptr;
  if (field == nullptr) return false;
  DWORD_PTR result = 0;
  SendMessageTimeoutA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                      SMTO_ABORTIFHUNG, 5000, &result);
  PressButton(dialog, IDOK);
  HWND verified = WaitForBoxOf(program, "File verified");
  if (verified == nullptr || !PressButton(verified, IDOK) || !WaitGone(verified)) return false;
  PostClick(wizard, kNextPoint);
  return true;
}

// Whether the status log of `wizard` (of another process) shows a line that
// begins with `start` within `ms`. The log's thread answers while the
// worker writes, unlike the progress bar's, which is the worker's own.
bool WaitForLogLine(HWND wizard, const std::string& start, DWORD ms) {
  return WaitUntil(
      [&] {
        HWND list = StatusLogList(wizard);
        DWORD_PTR count = 0;
        if (list == nullptr ||
            !SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &count)) {
          return false;
        }
        for (WPARAM i = 0; i < count; ++i) {
          // The wide form: Windows carries its text across processes.
          wchar_t wide[256] = L"";
          char line[512] = "";
          DWORD_PTR length = 0;
          if (SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide),
                                  SMTO_ABORTIFHUNG, 1000, &length) &&
              WideCharToMultiByte(CP_ACP, 0, wide, -1, line, sizeof line, nullptr, nullptr) > 0 &&
              std::string(line).rfind(start, 0) == 0) {
            return true;
          }
        }
        return false;
      },
      ms);
}

// How many chunks of `image` are in the firmware partition of `disk`.
int ChunksWritten(const std::string& disk, const std::string& image) {
  int chunks = 0;
  for (size_t at = 0; at < image.size(); at += 32256) {
    chunks += disk.compare(63 * 512 + at, 32256, image, at, 32256) == 0 ? 1 : 0;
  }
  return chunks;
}

TEST(UnfinishedUpdate, IsOfferedAtTheNextStartAndPutBackWhenTheUserAccepts) {
  AttachDrive(0, OrdinaryDisk());
  AttachDrive(1, ZazeBeforeRepair(kZazeBlocks));
  const std::string before = DriveBytes(1);
  ScratchFolder folder(ScratchFolder::kStayHere);
  ASSERT_TRUE(SaveFile(folder.PathOf("steps.stp"), kScript));
  const std::string image = FirmwareImage(kImageBytes, 31);
  ASSERT_TRUE(SaveFile(folder.PathOf("firmware.bin"), image));

  // The first run is ended once its backup is saved, as its write begins:
  // no rollback can run.
  {
    ChildProgram first;
    HWND wizard = StartPastPrompt(first, folder);
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(StartUpdate(first, wizard, folder.path() + "\\firmware.bin"));
    ASSERT_TRUE(WaitForLogLine(wizard, "Saved the ", 60000)) << "the backup was never saved";
    Sleep(100);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, first.id());
    ASSERT_TRUE(TerminateProcess(process, 1));
    CloseHandle(process);
    ASSERT_TRUE(first.HasEnded(10000));
  }
  const std::string killed = DriveBytes(1);
  const int written = ChunksWritten(killed, image);
  std::printf("the run was ended with %d of 520 chunks written\n", written);
  ASSERT_LT(written, 520) << "the program was not ended before the write was done";
  ASSERT_NE(killed, before);
  ASSERT_FALSE(ReadWholeFile(folder.path() + "\\zaze_update.rec").empty());

  // Started again: the offer. No leaves the zAze and the backup as they are.
  {
    ChildProgram again;
    HWND wizard = StartPastPrompt(again, folder);
    ASSERT_NE(wizard, nullptr);
    HWND offer = WaitForBoxOf(again, kOfferCaption);
    ASSERT_NE(offer, nullptr) << "no offer to put the previous firmware back";
    EXPECT_EQ(BoxText(offer).find(kOfferStart), 0u) << BoxText(offer);
    EXPECT_NE(BoxText(offer).find("zaze_fw_backup.bin"), std::string::npos);
    ASSERT_TRUE(PressButton(offer, IDNO));
    ASSERT_TRUE(WaitGone(offer));
    EXPECT_EQ(DriveBytes(1), killed);
    Click(wizard, CancelPoint(wizard));
    EXPECT_EQ(0u, again.ExitCode(10000));
  }

  // And again: Yes puts everything back, the map the first run repaired too.
  ChildProgram last;
  HWND wizard = StartPastPrompt(last, folder);
  ASSERT_NE(wizard, nullptr);
  HWND offer = WaitForBoxOf(last, kOfferCaption);
  ASSERT_NE(offer, nullptr) << "the offer did not come back after No";
  ASSERT_TRUE(PressButton(offer, IDYES));
  HWND done = WaitForTopLevel(
      [](HWND w) {
        return IsBox(w) && BoxText(w).find("The previous firmware is back") != std::string::npos;
      },
      60000, last.id());
  ASSERT_NE(done, nullptr) << "the restore did not end with its box";
  EXPECT_TRUE(DriveBytes(1) == before) << ChangesOutside(before, DriveBytes(1), {});
  ASSERT_TRUE(PressButton(done, IDOK));
  Click(wizard, CancelPoint(wizard));
  EXPECT_EQ(0u, last.ExitCode(10000));

  // Started once more, it asks nothing: the zAze holds whole firmware.
  ChildProgram after;
  ASSERT_NE(StartPastPrompt(after, folder), nullptr);
  EXPECT_EQ(
      WaitForTopLevel([](HWND w) { return IsCaptionedBox(w, kOfferCaption); }, 2000, after.id()),
      nullptr);
  DetachDrives();
}

}  // namespace
