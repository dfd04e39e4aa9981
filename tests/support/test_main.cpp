// Test entry point: every test process gets a configuration folder of its
// own, so nothing reads or writes the user's real preferences, and every test
// starts without the preferences an earlier test in the process saved.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "io/prefs.h"
#include "support/prefs_folder.h"

namespace {
class fresh_preferences : public ::testing::EmptyTestEventListener {
 public:
  explicit fresh_preferences(std::string dir) : dir_(std::move(dir)) {}
  void OnTestStart(const ::testing::TestInfo &) override {
    set_prefs_folder(dir_);  // a test may have pointed it elsewhere
    char path[4096];
    if (tarvelon_prefs_path(path, sizeof path)) std::remove(path);
  }

 private:
  std::string dir_;
};
}  // namespace

int main(int argc, char **argv) {
  const std::string dir = make_temp_folder();
  if (dir.empty()) return 2;
  set_prefs_folder(dir);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new fresh_preferences(dir));
  const int rc = RUN_ALL_TESTS();
  restore_prefs_folder();
  remove_folder(dir);
  return rc;
}
