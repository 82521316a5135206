// The registry's ".htm" open command as the tests set it: keys of
// HKEY_CLASSES_ROOT set aside and put back, a class whose open command runs
// the recorder program (zephlar_record_args, built next to the test program)
// in place of a browser.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#if _WIN32_WINNT < 0x0600
#error "RegCopyTreeA and RegDeleteTreeA need _WIN32_WINNT 0x0600 (test code only)"
#endif

inline bool ClassesKeyExists(const std::string& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// Copies the whole tree at `from` to `to`, both under HKEY_CLASSES_ROOT.
inline void CopyClassesTree(const std::string& from, const std::string& to) {
  HKEY source = nullptr;
  HKEY target = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, from.c_str(), 0, KEY_READ, &source))
      << from;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, to.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &target, nullptr))
      << to;
  EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeA(source, nullptr, target));
  RegCloseKey(source);
  RegCloseKey(target);
}

inline void SetDefaultValue(HKEY root, const std::string& subkey, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr))
      << subkey;
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)));
  RegCloseKey(key);
}

// A key of HKEY_CLASSES_ROOT removed for the holder's life and put back after
// it, kept meanwhile as `backupPrefix` + key; a backup left by a run that died
// half-way holds the original.
class SetAsideKey {
 public:
  SetAsideKey(std::string key, const std::string& backupPrefix)
      : key_(std::move(key)), backup_(backupPrefix + key_) {
    if (ClassesKeyExists(backup_)) Restore();
    existed_ = ClassesKeyExists(key_);
    if (existed_) CopyClassesTree(key_, backup_);
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
    CopyClassesTree(backup_, key_);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, backup_.c_str()));
    existed_ = true;
  }

  std::string key_;
  std::string backup_;
  bool existed_ = false;
};

// Web pages open with `testClass`, whose open command is `command`.
inline void RegisterHtmCommand(const std::string& testClass, const std::string& command) {
  SetDefaultValue(HKEY_CLASSES_ROOT, ".htm", testClass);
  SetDefaultValue(HKEY_CLASSES_ROOT, testClass + "\\shell\\open\\command", command);
}

// The recorder program, built next to the running one.
inline std::string RecorderPath() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path);
  directory.resize(directory.rfind('\\') + 1);
  return directory + "zephlar_record_args.exe";
}
