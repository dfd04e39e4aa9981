// The editor through the CLAP entry: snapshots of a live instance, and what
// instances cost in memory with and without an editor.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "graphics/frame.h"
#include "graphics/layout.h"
#include "clap_host_kit.h"
#include "koppel_clap.h"
#include "support/clap_test_host.h"
#include "system/instance.h"
#include "tarvelon_koppel.h"
#include "tarvelon_snapshot_ext.h"

namespace {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

const tarvelon_plugin_snapshot_t *snapshot_of(clap_test_host &h) {
  return static_cast<const tarvelon_plugin_snapshot_t *>(h.plugin->get_extension(h.plugin, TARVELON_EXT_SNAPSHOT));
}
}  // namespace

TEST(ClapEditor, SnapshotDrawsTheLiveEditorWithinTheLimits) {
  clap_test_host h(&clap_entry);
  ASSERT_TRUE(h.create());
  ASSERT_TRUE(h.plugin->activate(h.plugin, 48000, 32, 1024));
  const tarvelon_plugin_snapshot_t *snap = snapshot_of(h);
  ASSERT_NE(snap, nullptr);
  std::vector<uint32_t> px(size_t(3840) * 2160, 0xdeadbeefu);
  EXPECT_FALSE(snap->draw(h.plugin, 779, 566, px.data()));
  EXPECT_FALSE(snap->draw(h.plugin, 1060, 2161, px.data()));
  EXPECT_FALSE(snap->draw(h.plugin, 1060, 566, nullptr));
  EXPECT_EQ(px[0], 0xdeadbeefu) << "a refused size writes nothing";
  for (auto [w, hgt] : {std::pair{1060u, 566u}, std::pair{780u, 566u}, std::pair{3840u, 2160u}}) {
    ASSERT_TRUE(snap->draw(h.plugin, w, hgt, px.data())) << w;
    EXPECT_EQ(px[0] >> 24, 0u) << "the top byte of a presented pixel is 0";
    EXPECT_NE(px[size_t(hgt / 2) * w + w - 100], 0u) << "the panel is drawn";
  }
  TarvelonKoppelPlugin *p = koppel_clap_user_plugin(h.plugin);
  EXPECT_EQ(p->ci->strip.l, nullptr) << "a snapshot leaves no editor storage behind";
  h.plugin->deactivate(h.plugin);
}

TEST(ClapEditor, ThirtyInstancesWithoutAnEditorStaySmall) {
  if (kSanitized) GTEST_SKIP() << "sanitizers inflate the resident size";
  std::vector<std::unique_ptr<clap_test_host>> hosts;
  auto add_instance = [&] {
    hosts.push_back(std::make_unique<clap_test_host>(&clap_entry));
    clap_test_host &h = *hosts.back();
    ASSERT_TRUE(h.create());
    ASSERT_TRUE(h.plugin->activate(h.plugin, 44100, 32, 1024));
  };
  add_instance();  // the process-wide tables and resources are loaded by the first
  const double before = resident_memory_mb();
  for (int i = 0; i < 30; i++) add_instance();
  const double per_instance = (resident_memory_mb() - before) / 30.0;
  std::printf("resident memory per instance without an editor: %.2f MB\n", per_instance);
  EXPECT_LT(per_instance, 2.0);

  // One open editor's storage, at the default and at the largest size.
  inst_t *ci = koppel_clap_user_plugin(hosts.back()->plugin)->ci;
  for (auto [w, hgt] : {std::pair{1060, 566}, std::pair{3840, 2160}}) {
    const double base = resident_memory_mb();
    ASSERT_EQ(tarvelon_editor_storage_acquire(ci), 1);
    tarvelon_resize_editor(ci, w, hgt);
    std::vector<srgb_t> px(size_t(w) * size_t(hgt));
    ci->composite.srgb = px.data();
    sync_vantalib_framebuffers(ci);
    tarvelon_draw_frame(ci);
    const double editor_mb = resident_memory_mb() - base;
    std::printf("one open editor at %dx%d: %.1f MB\n", w, hgt, editor_mb);
    // The window's own pixels (4 bytes each) count; the layers kept besides
    // them must stay small.
    EXPECT_LT(editor_mb, w == 1060 ? 10.0 : 100.0) << "an open editor at " << w << "x" << hgt;
    ci->composite.srgb = nullptr;
    tarvelon_editor_storage_release(ci);
  }
  for (auto &h : hosts) h->plugin->deactivate(h->plugin);
}
