// Test entry point: every test process gets a configuration folder of its
// own, so nothing reads or writes the user's real preferences, and every test
// starts without the preferences an earlier test in the process saved.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
class fresh_preferences : public ::testing::EmptyTestEventListener {
 public:
  explicit fresh_preferences(std::string dir) : dir_(std::move(dir)) {}
  void OnTestStart(const ::testing::TestInfo &) override {
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);  // a test may have pointed it elsewhere
    std::remove((dir_ + "/Tarvelon Preferences.dat").c_str());
  }

 private:
  std::string dir_;
};
}  // namespace

int main(int argc, char **argv) {
  char dir[] = "/tmp/tarvelon-test-XXXXXX";
  if (!mkdtemp(dir)) return 2;
  setenv("XDG_CONFIG_HOME", dir, 1);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new fresh_preferences(dir));
  const int rc = RUN_ALL_TESTS();
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
  return rc;
}
