// Every committed seed and every crash the fuzzers found, run again through
// the fuzz targets' entry functions under the ordinary sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"
#include "tests/support/HardeningTable.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const std::string& kind, const std::string& target) {
  std::vector<fs::path> files;
  const fs::path directory = fs::path(ZEPHLAR_FUZZ_DIR) / kind / target;
  if (!fs::is_directory(directory)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

int brokenInvariants = 0;

void RecordFailure(const char* target, const char* what) {
  ++brokenInvariants;
  ADD_FAILURE() << target << ": invariant broken: " << what;
}

class FuzzReplay : public testing::Test {
 protected:
  void SetUp() override {
    SetFuzzFailureHandler(RecordFailure);
    home_ = fs::current_path();
    dir_ = home_ / TestFileName("dir");
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    fs::current_path(dir_);  // the disk target's dump and image live here
  }
  void TearDown() override {
    SetFuzzFailureHandler(nullptr);
    fs::current_path(home_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs every input of `target`; kept crashes also go into the hardening
  // table, with the name that says what each one was.
  void Replay(const std::string& target, int (*entry)(const uint8_t*, size_t)) {
    const std::vector<fs::path> corpus = Inputs("corpus", target);
    EXPECT_FALSE(corpus.empty()) << "no seed corpus for " << target;
    for (const fs::path& file : corpus) {
      SCOPED_TRACE(file.string());
      const std::string bytes = ReadWholeFile(file.string());
      entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    for (const fs::path& file : Inputs("regressions", target)) {
      SCOPED_TRACE(file.string());
      const std::string bytes = ReadWholeFile(file.string());
      const int before = brokenInvariants;
      entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      const bool held = brokenInvariants == before;
      HardeningRow("Crashes found by fuzzing, replayed by the test suite",
                   {target, file.filename().string(), held ? "invariants hold" : "FAILS"});
    }
  }

  fs::path home_, dir_;
};

TEST_F(FuzzReplay, StepScriptSeedsAndRegressions) {
  HardeningTable("Crashes found by fuzzing, replayed by the test suite",
                 {"target", "kept input", "now"});
  Replay("script", FuzzStepScript);
}

TEST_F(FuzzReplay, DiskSeedsAndRegressions) {
  FuzzDiskSetUp();
  Replay("disk", FuzzDisk);
}

}  // namespace
