#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "dsp/scales.h"
#include "io/prefs.h"
#include "state/params.h"
#include "support/prefs_folder.h"
#include "support/test_instance.h"

namespace {
std::string prefs_path() {
  char path[4096];
  EXPECT_TRUE(tarvelon_prefs_path(path, sizeof path));
  return path;
}

void write_prefs(const std::string &text) {
  std::ofstream f(prefs_path(), std::ios::binary);
  f << text;
}

std::string read_prefs() {
  std::ifstream f(prefs_path(), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct prefs_test : ::testing::Test {
  void SetUp() override { std::remove(prefs_path().c_str()); }
  void TearDown() override { std::remove(prefs_path().c_str()); }
};
}  // namespace

TEST_F(prefs_test, LoadedValuesAreRangedAndTheFileIsWrittenBackCanonically) {
  write_prefs(
      "Tarvelon Prefs 1.0\n"
      "Colour scheme 0\n"
      "Limiter 75\n"
      "Vertical range 2\n"
      "Interface width 500\n"
      "Interface height -3\n"
      "Preset path /home/u/My Presets/eq\n"
      "Unknown line\n"
      "Resolution 2\n"
      "Resolution 3\n");
  test_instance t;
  EXPECT_EQ(t.ci->gui_width, 780);
  EXPECT_EQ(t.ci->gui_height, 566);
  EXPECT_EQ(t.param(TV_PARAM_COLOUR), 2.0);
  EXPECT_EQ(t.param(TV_PARAM_LIMITER), 0.0);
  EXPECT_EQ(t.param(TV_PARAM_VERT_RANGE), tv::kFullVertRange);
  EXPECT_EQ(t.ci->vzoom.load(), 1.0);
  EXPECT_EQ(t.param(TV_PARAM_RESOLUTION), 3.0) << "the last line wins";
  EXPECT_EQ(t.ci->ksize_value, kernel_size_calc(44100, 3.0)) << "read before the first engine build";
  EXPECT_EQ(t.host->preset_dir, "/home/u/My Presets/eq");
  EXPECT_EQ(t.ci->prefsave_pending.load(), 1);

  tarvelon_save_prefs(t.ci);
  EXPECT_EQ(read_prefs(),
            "Tarvelon Prefs 1.3\n"
            "Interface width 780\n"
            "Interface height 566\n"
            "Preset path /home/u/My Presets/eq\n"
            "Resolution 3\n"
            "Delay 0.2\n"
            "Limiter 0\n"
            "Colour scheme 2\n"
            "Colour gain 1\n"
            "Colour gamma 1\n"
            "Vertical range 64.3429\n");
}

TEST_F(prefs_test, WidthAndHeightLimits) {
  write_prefs("Interface width 5000\nInterface height 1e9\n");
  test_instance t;
  EXPECT_EQ(t.ci->gui_width, 3840);
  EXPECT_EQ(t.ci->gui_height, 2160);
  t.ci->prefsave_pending = 0;
  tarvelon_remember_gui_size(t.ci, 3840, 2160);
  EXPECT_EQ(t.ci->prefsave_pending.load(), 0);
  tarvelon_remember_gui_size(t.ci, 700, 500);
  EXPECT_EQ(t.ci->gui_width, 780);
  EXPECT_EQ(t.ci->gui_height, 566);
  EXPECT_EQ(t.ci->prefsave_pending.load(), 1);
}

TEST_F(prefs_test, MissingOrUnwritableFileIsSilent) {
  test_instance t;
  EXPECT_EQ(t.ci->gui_width, 1060);
  EXPECT_EQ(t.param(TV_PARAM_RESOLUTION), 1.0);
  EXPECT_EQ(t.ci->prefsave_pending.load(), 0);
  const std::string saved = prefs_folder();
  // No folder can be made under a plain file.
  const std::string blocker = saved + "/blocker";
  std::ofstream(blocker) << "x";
  set_prefs_folder(blocker + "/folder");
  t.ci->prefsave_pending = 0;
  EXPECT_FALSE(tarvelon_save_prefs(t.ci));
  EXPECT_EQ(t.ci->prefsave_pending.load(), 1) << "kept for the next attempt";
  tarvelon_load_prefs(t.ci, 1);
  set_prefs_folder(saved);
}

TEST_F(prefs_test, AFreshAccountGetsItsConfigurationFolder) {
  test_instance t;
  const std::string saved = prefs_folder();
  const std::string fresh = saved + "/fresh/account/.config";
  set_prefs_folder(fresh);
  EXPECT_TRUE(tarvelon_save_prefs(t.ci));
#ifndef _WIN32
  struct stat st{};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u) << "owner-only";
#endif
  FILE *f = tarvelon_open_prefs_file("rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  set_prefs_folder(saved);
}

// A user folder with non-ASCII letters, and a second save over the first
// (Windows' rename refuses an existing target, which would freeze the file).
TEST_F(prefs_test, AFolderWithNonAsciiLettersIsWrittenReplacedAndReadBack) {
  const std::string saved = prefs_folder();
  const std::string user = saved + "/J\xc3\xbc" "rgen \xc3\x98" "deg\xc3\xa5" "rd \xe6\x97\xa5\xe6\x9c\xac/AppData";
  set_prefs_folder(user);
  {
    test_instance t;
    tarvelon_remember_gui_size(t.ci, 900, 600);
    ASSERT_TRUE(tarvelon_save_prefs(t.ci));
    tarvelon_remember_gui_size(t.ci, 1234, 777);
    ASSERT_TRUE(tarvelon_save_prefs(t.ci));
  }
  char path[4096];
  ASSERT_TRUE(tarvelon_prefs_path(path, sizeof path));
  EXPECT_NE(std::string(path).find("J\xc3\xbc" "rgen"), std::string::npos) << path;
  {
    test_instance t;
    EXPECT_EQ(t.ci->gui_width, 1234);
    EXPECT_EQ(t.ci->gui_height, 777);
  }
  FILE *f = tarvelon_open_prefs_file("rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  set_prefs_folder(saved);
}

TEST_F(prefs_test, NumbersIgnoreTheProcessLocale) {
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no comma-decimal locale installed";
  write_prefs("Colour gain 2.5\nDelay 0.4\n");
  test_instance t;
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(t.param(TV_PARAM_COLOUR_GAIN), 2.5);
  EXPECT_EQ(t.param(TV_PARAM_INPUT_BUFFER), 0.4);
}

TEST_F(prefs_test, HostileFilesAreParsedWithinBounds) {
  std::mt19937 rng(1);
  std::string garbage(50000, 0);
  for (char &c : garbage) c = char(rng());
  const std::string long_line = "Resolution " + std::string(100000, '7') + "\nLimiter -3\n";
  const std::string long_word = "Colour " + std::string(10000, 'x') + " 3\nColour gain nan\nColour gamma inf\n";
  std::string nuls = "Colour gain 3";
  nuls += '\0';
  nuls += "junk\nPreset path /a";
  nuls += '\0';
  nuls += "/b\n";
  for (const std::string &text : {garbage, long_line, long_word, nuls}) {
    write_prefs(text);
    test_instance t;
    if (&text == &long_line) {
      EXPECT_EQ(t.param(TV_PARAM_RESOLUTION), 1.0) << "an over-long line is ignored whole";
      EXPECT_EQ(t.param(TV_PARAM_LIMITER), -3.0);
    }
    if (&text == &long_word) {
      EXPECT_EQ(t.param(TV_PARAM_COLOUR_GAIN), 1.0) << "non-finite numbers do not parse";
      EXPECT_EQ(t.param(TV_PARAM_GAMMA), 1.0);
    }
    if (&text == &nuls) {
      EXPECT_EQ(t.param(TV_PARAM_COLOUR_GAIN), 3.0);
      EXPECT_EQ(t.host->preset_dir, "/a");
    }
    tarvelon_load_prefs_from_memory(t.ci, 0, text.data(), text.size());
    tarvelon_load_prefs_from_memory(t.ci, 1, text.data(), text.size());
  }
}
