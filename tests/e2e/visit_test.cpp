// The maker's web site through the real visit button, when the shell cannot
// open the address: the ".htm" open command runs with the address in place
// of its placeholder. A recorder program stands in for the browser; the
// registry keys the test changes are put back after it.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // RegCopyTreeA and RegDeleteTreeA, test code only
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>

#include "net/MakerSite.h"
#include "tests/e2e/E2eHarness.h"

#if !ZEPHLAR_E2E_WIN98

namespace {

constexpr char kTestClass[] = "ZephlarE2e.htm";

bool KeyExists(const std::string& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void CopyTree(const std::string& from, const std::string& to) {
  HKEY source = nullptr;
  HKEY target = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, from.c_str(), 0, KEY_READ, &source));
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, to.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &target, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeA(source, nullptr, target));
  RegCloseKey(source);
  RegCloseKey(target);
}

// A key of HKEY_CLASSES_ROOT set aside for the test and put back after it;
// a backup left by a run that died half-way holds the original.
class SetAsideKey {
 public:
  explicit SetAsideKey(std::string key)
      : key_(std::move(key)), backup_("ZephlarE2e.backup" + key_) {
    if (KeyExists(backup_)) Restore();
    existed_ = KeyExists(key_);
    if (existed_) CopyTree(key_, backup_);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key_.c_str());
  }
  ~SetAsideKey() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key_.c_str());
    if (existed_) Restore();
  }
  SetAsideKey(const SetAsideKey&) = delete;
  SetAsideKey& operator=(const SetAsideKey&) = delete;

 private:
  void Restore() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key_.c_str());
    CopyTree(backup_, key_);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, backup_.c_str()));
    existed_ = true;
  }

  std::string key_;
  std::string backup_;
  bool existed_ = false;
};

void SetDefault(const std::string& subkey, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)));
  RegCloseKey(key);
}

std::string Recorder() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path);
  directory.resize(directory.rfind('\\') + 1);
  return "\"" + directory + "zephlar_record_args.exe\"";
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

using E2eVisit = E2eTest;

TEST_F(E2eVisit, TheVisitButtonRunsTheHtmCommandWhenTheShellRefuses) {
  // The shell knows no handler for the address's scheme while "http" is set
  // aside, so the library falls back on the ".htm" command.
  SetAsideKey http("http");
  SetAsideKey htm(".htm");
  SetDefault(".htm", kTestClass);
  SetDefault(std::string(kTestClass) + "\\shell\\open\\command", Recorder() + " -url \"%1\" -new");
  const std::string record = FullPathOf("visits.log");
  SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", record.c_str());

  // The caption is compared without regard to case.
  HWND wizard = OpenOnFirmwarePage(
      RoadScript({}, "step2.controls3.value." + Upper(ZEPHLAR_VISIT_CAPTION) + "\n"));
  ASSERT_NE(wizard, nullptr);
  EXPECT_TRUE(PressPageButton(wizard, ZEPHLAR_VISIT_CAPTION));
  // The placeholder, its quotes and what follows are cut; one blank and the
  // address are added.
  EXPECT_TRUE(WaitUntil([&] { return !ReadBytes(record).empty(); }));
  EXPECT_EQ(Recorder() + " -url  " ZEPHLAR_MAKER_HOME_PAGE "\n", ReadBytes(record));
  EXPECT_EQ(2, PageOnScreen(wizard));
  EXPECT_TRUE(ClickWithin(wizard, CancelPoint(wizard)));
  EXPECT_TRUE(WizardEnded());
  SetEnvironmentVariableA("ZEPHLAR_RECORD_FILE", nullptr);
}

}  // namespace

#endif
