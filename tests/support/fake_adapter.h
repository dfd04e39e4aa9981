// A stand-in for a format adapter: records what the wrapper sends to the host
// and serves process blocks with scripted events and buffers.
#pragma once
#include <functional>
#include <utility>
#include <vector>

#include "koppel_interface.h"
#include "tarvelon_koppel.h"

struct fake_host {
  KoppelHostContext ctx{};
  std::vector<KoppelEvent> sent;
  std::vector<uint32_t> rescans;
  std::function<void(const KoppelEvent &)> on_send;

  fake_host();
  int rescans_with(uint32_t flag) const;
};

// One host block. Events are (frame, event) in time order.
struct fake_block;
struct fake_block_context {
  KoppelProcessContext ctx;  // first member: the wrapper's pointer leads back to the owner
  fake_block *owner;
};

struct fake_block {
  fake_block_context holder{};
  KoppelProcessContext &ctx = holder.ctx;
  std::vector<std::pair<uint32_t, KoppelEvent>> events;
  size_t next = 0;
  void *const *inputs = nullptr;
  void *const *outputs = nullptr;
  std::function<void()> on_buffers;  // runs whenever the wrapper asks for a bus

  fake_block(uint32_t frames, bool f64, void *const *in, uint32_t in_channels, void *const *out,
             uint32_t out_channels);
  fake_block(const fake_block &) = delete;
  fake_block &operator=(const fake_block &) = delete;
  void add_param(uint32_t frame, uint32_t id, double value);
};

KoppelEvent param_event(uint32_t id, double value);

// A wrapper instance with a fake host, destroyed with the fixture.
struct test_plugin {
  fake_host host;
  TarvelonKoppelPlugin *p;
  test_plugin();
  ~test_plugin();
  test_plugin(const test_plugin &) = delete;
  test_plugin &operator=(const test_plugin &) = delete;
};
