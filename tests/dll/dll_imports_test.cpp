// The built zephlardll.dll must load on every NT-family Windows from
// Windows 2000 on: PE32 for i386, headers that ask for 5.0 at most, and only
// imports that were checked against the documentation and put on the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/PeImage.h"
#include "tests/support/TestFiles.h"

namespace {

ImportAllowList ReadAllowList() {
  return ParseImportAllowList(ReadWholeFile(ZEPHLAR_IMPORT_ALLOW_LIST));
}

PeImage ReadDll() { return ReadPeImage(ReadWholeFile(ZEPHLAR_DLL_PATH)); }

TEST(DllImage, IsAPe32DllForI386AskingForWindows2000AtMost) {
  const PeImage dll = ReadDll();
  ASSERT_TRUE(dll.valid) << dll.error;
  EXPECT_EQ(dll.machine, 0x14C);               // IMAGE_FILE_MACHINE_I386
  EXPECT_EQ(dll.optionalMagic, 0x10B);         // PE32
  EXPECT_NE(dll.characteristics & 0x2000, 0);  // IMAGE_FILE_DLL
  EXPECT_EQ(dll.subsystem, 2);                 // Windows GUI
  EXPECT_LE(dll.majorSubsystemVersion * 100 + dll.minorSubsystemVersion, 500);
  EXPECT_LE(dll.majorOsVersion * 100 + dll.minorOsVersion, 500);
  EXPECT_EQ(dll.delayImportSize, 0u) << "delay-loaded imports are not reviewed";
}

TEST(DllImage, ImportsOnlyFromWindowsSystemDlls) {
  const std::set<std::string> systemDlls = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                            "comctl32.dll", "comdlg32.dll", "advapi32.dll",
                                            "shell32.dll",  "urlmon.dll",   "msvcrt.dll"};
  const PeImage dll = ReadDll();
  ASSERT_TRUE(dll.valid) << dll.error;
  ASSERT_FALSE(dll.imports.empty());
  for (const PeImport& import : dll.imports) {
    EXPECT_TRUE(systemDlls.count(Lower(import.dll))) << import.dll << " is not a system DLL";
  }
}

TEST(DllImage, ImportsOnlyFunctionsOnTheAllowList) {
  const ImportAllowList list = ReadAllowList();
  ASSERT_FALSE(list.entries.empty()) << "allow-list not found: " << ZEPHLAR_IMPORT_ALLOW_LIST;
  const PeImage dll = ReadDll();
  ASSERT_TRUE(dll.valid) << dll.error;
  for (const PeImport& import : dll.imports) {
    EXPECT_TRUE(list.entries.count(Lower(import.dll) + "!" + import.function))
        << import.dll << " " << import.function
        << " is imported but not on the allow-list; check its oldest Windows and add it";
  }
}

TEST(DllImage, AllowListNamesAWindowsUpTo2000ForEveryEntry) {
  const std::set<std::string> oldEnough = {"Windows 95", "Windows NT 3.1", "Windows NT 3.5",
                                           "Windows NT 4.0", "Windows 2000"};
  const ImportAllowList list = ReadAllowList();
  ASSERT_FALSE(list.entries.empty());
  for (const auto& [entry, oldest] : list.oldest) {
    EXPECT_TRUE(oldEnough.count(oldest)) << entry << ": \"" << oldest << "\"";
  }
}

}  // namespace
