// Test entry point: every test process gets a configuration folder of its
// own, so nothing reads or writes the user's real preferences.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
  char dir[] = "/tmp/tarvelon-test-XXXXXX";
  if (!mkdtemp(dir)) return 2;
  setenv("XDG_CONFIG_HOME", dir, 1);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
  return rc;
}
