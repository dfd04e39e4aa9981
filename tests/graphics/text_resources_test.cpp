#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/resources.h"
#include "graphics/text.h"
#include "vl_colour.h"
#include "vl_fileball.h"

extern const uint8_t tarvelon_fileball[];
extern const size_t tarvelon_fileball_size;

namespace {
fileball_t index_of(std::string &bytes) {
  buffer_t b{reinterpret_cast<uint8_t *>(bytes.data()), bytes.size(), bytes.size()};
  return fileball_extract_mem_to_struct(&b);
}

struct canvas {
  std::vector<lrgb_t> store;
  raster_t r{};
  canvas(int w, int h) : store(size_t(w) * size_t(h) + 64, lrgb_t{0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF}) {
    r.l = store.data() + 32;
    r.w = w, r.h = h;
    for (size_t i = 0; i < size_t(w) * size_t(h); i++) r.l[i] = lrgb_t{0, 0, 0, 0};
  }
  bool guards_intact() const {
    for (size_t i = 0; i < 32; i++)
      if (store[i].r != 0xBEEF || store[store.size() - 1 - i].r != 0xBEEF) return false;
    return true;
  }
  int rightmost_lit_column() const {
    int best = -1;
    for (int y = 0; y < r.h; y++)
      for (int x = 0; x < r.w; x++)
        if (r.l[size_t(y) * size_t(r.w) + size_t(x)].g > 300) best = std::max(best, x);
    return best;
  }
};

void draw(canvas &c, font_t *f, double x, double y, int mode, const char *s) {
  char buf[kTextCapacity];
  std::snprintf(buf, sizeof buf, "%s", s);
  text_t t{f, x, y, buf, buf, mode, x, y, 0};
  blit_text(&t, &c.r, make_colour_lin(1, 1, 1, 1), 1.0);
}
}  // namespace

TEST(Fileball, ParsesMembersExactlyAndRejectsBrokenBundles) {
  std::string good = "fileball 1.0\nresources/a.txt\n5\nhello\nb\n0\n";
  fileball_t fb = index_of(good);
  ASSERT_EQ(fb.file_count, 2);
  fileball_subfile_t *a = fileball_find_subfile(&fb, "resources/a.txt");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(a->data), a->len), "hello");
  EXPECT_EQ(fileball_find_subfile(&fb, "./resources/a.txt"), nullptr);
  EXPECT_EQ(fileball_find_subfile(&fb, "Resources/a.txt"), nullptr);
  fileball_free(&fb);

  for (std::string bad : {std::string("filebal 1.0\nx\n1\nz"), std::string("fileball\nx\n1\nz"), std::string("")}) {
    fileball_t e = index_of(bad);
    EXPECT_EQ(e.file_count, 0);
    fileball_free(&e);
  }
  std::string truncated = "fileball 1.0\nok\n2\nhi\nbig\n999999999999\nabc";
  fileball_t t = index_of(truncated);
  EXPECT_EQ(t.file_count, 1) << "a member longer than what is left ends the scan";
  fileball_free(&t);
  std::string no_newline = "fileball 1.0\npath-without-end";
  fileball_t n = index_of(no_newline);
  EXPECT_EQ(n.file_count, 0);
  fileball_free(&n);
}

TEST(Resources, EmbeddedImagesHaveTheirGeometryAndLoadOnce) {
  tarvelon_load_graphics_resources(nullptr);
  const tarvelon_graphics_t &g = tarvelon_graphics();
  EXPECT_EQ(g.resources.file_count, 30) << "the 1× images, 12 larger glyph sheets and 8 logos";
  ASSERT_NE(g.bknob, nullptr);
  EXPECT_EQ(g.bknob->w, 60);
  EXPECT_EQ(g.bknob->h, 60);
  EXPECT_EQ(g.bknob->as, size_t(60) * 11520);
  EXPECT_EQ(g.light->w, 60);
  EXPECT_EQ(g.logo->w, 176);
  EXPECT_EQ(g.logo->h, 35);
  EXPECT_EQ(g.shade->w, 240);
  for (font_t *f : {g.font12, g.font15, g.fbold12, g.fbold15}) {
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->w, 72);
    EXPECT_EQ(f->h, 48);
    EXPECT_EQ(f->c, 224);
  }
  EXPECT_EQ(g.font12->size, 12.0);
  EXPECT_GT(g.font12->width['A' - 32], 0);
  EXPECT_EQ(g.font12->width[0x81 - 32], 0) << "a control code has an empty limits row";
  const raster_t *knob = g.bknob;
  tarvelon_load_graphics_resources(nullptr);
  EXPECT_EQ(g.bknob, knob) << "loading twice loads nothing the second time";
  EXPECT_EQ(white.g, 32768);
}

TEST(Text, AlignmentClippingAndEmptyStrings) {
  tarvelon_load_graphics_resources(nullptr);
  font_t *f = tarvelon_graphics().font15;
  canvas c(200, 40);
  draw(c, f, 100, 10, TEXT_RIGHT, "");
  EXPECT_EQ(c.rightmost_lit_column(), -1);
  draw(c, f, 150, 10, TEXT_RIGHT, "12");
  const int end_short = c.rightmost_lit_column();
  canvas d(200, 40);
  draw(d, f, 150, 10, TEXT_RIGHT, "-1234.5 12");
  EXPECT_NEAR(d.rightmost_lit_column(), end_short, 1) << "right-aligned texts end on the same pixel";
  EXPECT_GT(end_short, 130);
  EXPECT_LT(end_short, 150);
  canvas e(40, 12);
  for (double x : {-30.0, 0.0, 35.0, 1e9, -1e9})
    for (double y : {-10.0, 5.0, 11.0})
      draw(e, f, x, y, 0, "Clipped on every edge \xff\xe9");
  EXPECT_TRUE(e.guards_intact());
  EXPECT_EQ(text_width("", f), 0);
  char ctrl[] = "\x81\x81";
  EXPECT_EQ(text_width(ctrl, f), 0);
  font_t missing{72, 0, 224, 12.0, nullptr, nullptr, nullptr, 0};
  draw(c, &missing, 10, 10, 0, "no sheet");  // skipped, not crashed
}

TEST(Resources, ABadBundleGivesEmptyImagesAndNoFonts) {
  tarvelon_unload_graphics_resources();
  const uint8_t bad[] = "filebal 1.0\nresources/img/logo.png\n3\nabc";
  tarvelon_load_graphics_resources_from(bad, sizeof bad - 1);
  const tarvelon_graphics_t &g = tarvelon_graphics();
  EXPECT_EQ(g.resources.file_count, 0);
  ASSERT_NE(g.logo, nullptr);
  EXPECT_EQ(g.logo->w, 0);
  EXPECT_EQ(g.logo->h, 0);
  EXPECT_EQ(g.bknob->w, 0);
  EXPECT_EQ(g.font12, nullptr) << "a font is never built from a missing sheet";
  tarvelon_unload_graphics_resources();
  tarvelon_load_graphics_resources(nullptr);  // back to the embedded bundle for whatever runs next
  EXPECT_EQ(tarvelon_graphics().logo->w, 176);
}
