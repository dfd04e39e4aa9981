#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/fake_adapter.h"

namespace {
// A byte stream that moves at most `chunk` bytes per call, and can fail.
struct stream {
  std::vector<uint8_t> bytes;
  size_t pos = 0, chunk = 1 << 20;
  bool fail = false;

  static int64_t write(void *s, const void *buf, int64_t n) {
    auto *st = static_cast<stream *>(s);
    if (st->fail) return -1;
    const size_t k = std::min<size_t>(size_t(n), st->chunk);
    st->bytes.insert(st->bytes.end(), static_cast<const uint8_t *>(buf), static_cast<const uint8_t *>(buf) + k);
    return int64_t(k);
  }
  static int64_t read(void *s, void *buf, int64_t n) {
    auto *st = static_cast<stream *>(s);
    if (st->fail) return -1;
    const size_t k = std::min({size_t(n), st->chunk, st->bytes.size() - st->pos});
    std::memcpy(buf, st->bytes.data() + st->pos, k);
    st->pos += k;
    return int64_t(k);
  }
};

std::vector<uint8_t> header(uint32_t magic, uint32_t version, uint32_t count) {
  std::vector<uint8_t> h(12);
  std::memcpy(h.data(), &magic, 4);
  std::memcpy(h.data() + 4, &version, 4);
  std::memcpy(h.data() + 8, &count, 4);
  return h;
}

void add_record(std::vector<uint8_t> &b, uint32_t id, double v) {
  uint8_t rec[16] = {};
  std::memcpy(rec, &id, 4);
  std::memcpy(rec + 8, &v, 8);
  b.insert(b.end(), rec, rec + 16);
}
}  // namespace

TEST(WrapperState, SaveLoadSaveIsByteIdenticalAnd460Bytes) {
  test_plugin a;
  koppel_setParameterValue(a.p, 5, -7.25);
  koppel_setParameterValue(a.p, 10, 1234.5);
  koppel_setParameterValue(a.p, 27, 0.125);
  stream s1;
  s1.chunk = 5;  // a stream that moves few bytes per call
  ASSERT_TRUE(koppel_saveState(a.p, &s1, stream::write));
  ASSERT_EQ(s1.bytes.size(), 460u);

  test_plugin b;
  s1.chunk = 3;
  ASSERT_TRUE(koppel_loadState(b.p, &s1, stream::read));
  EXPECT_EQ(b.host.rescans_with(KOPPEL_FLAG_RESCAN_PARAM_VALUES), 1);
  stream s2;
  ASSERT_TRUE(koppel_saveState(b.p, &s2, stream::write));
  EXPECT_EQ(s1.bytes, s2.bytes);
  EXPECT_EQ(koppel_getParameterValue(b.p, 10), 1234.5);
  EXPECT_TRUE(b.host.sent.empty()) << "loaded values are not reported as edits";
}

TEST(WrapperState, ToleratesLongCountsUnknownIdsAndTruncation) {
  test_plugin t;
  stream s;
  s.bytes = header(0x54415256, 1, 40);
  for (uint32_t i = 0; i < 40; i++) add_record(s.bytes, i < 28 ? i : 5, i < 28 ? 1.0 : 50.0);
  ASSERT_TRUE(koppel_loadState(t.p, &s, stream::read));
  EXPECT_EQ(koppel_getParameterValue(t.p, 5), 1.0) << "records beyond 28 are not read";

  stream skip;
  skip.bytes = header(0x54415256, 1, 3);
  add_record(skip.bytes, 99, 3.0);
  add_record(skip.bytes, 6, -9.0);
  add_record(skip.bytes, 7, 4.0);
  skip.bytes.resize(skip.bytes.size() - 5);  // the last record is cut short
  EXPECT_TRUE(koppel_loadState(t.p, &skip, stream::read));
  EXPECT_EQ(koppel_getParameterValue(t.p, 6), -9.0);
  EXPECT_NE(koppel_getParameterValue(t.p, 7), 4.0);
}

TEST(WrapperState, ForeignOrBrokenStatesAreRejected) {
  test_plugin t;
  for (auto h : {header(0x12345678, 1, 28), header(0x54415256, 2, 28)}) {
    stream s;
    s.bytes = h;
    add_record(s.bytes, 5, 9.0);
    EXPECT_FALSE(koppel_loadState(t.p, &s, stream::read));
  }
  stream shorty;
  shorty.bytes = {0x56, 0x52};
  EXPECT_FALSE(koppel_loadState(t.p, &shorty, stream::read));
  EXPECT_EQ(t.host.rescans_with(KOPPEL_FLAG_RESCAN_PARAM_VALUES), 0);
  EXPECT_NE(koppel_getParameterValue(t.p, 5), 9.0);

  stream failing;
  failing.fail = true;
  EXPECT_FALSE(koppel_saveState(t.p, &failing, stream::write));
  EXPECT_FALSE(koppel_loadState(t.p, &failing, stream::read));
  EXPECT_FALSE(koppel_saveState(nullptr, &failing, stream::write));
  EXPECT_FALSE(koppel_loadState(t.p, &failing, nullptr));
}

// A host streaming the state slowly (a network drive) must not hold up the
// audio thread: the stream stalls in the middle of the records until a
// process call has gone through, which could never happen under the lock.
TEST(WrapperState, ASlowStreamNeverBlocksTheAudioThread) {
  test_plugin t;
  koppel_setSampleRateAndBlockSize(t.p, 44100.0, 64);
  struct stalling_stream {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    std::atomic<int> calls{0};
    std::atomic<bool> audio_ran{false};
    bool waited_ok = true;
    static int64_t read(void *s, void *buf, int64_t n) {
      auto *st = static_cast<stalling_stream *>(s);
      if (++st->calls == 5) {  // inside the records
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!st->audio_ran.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        st->waited_ok = st->audio_ran.load();
      }
      const size_t k = std::min({size_t(n), size_t(16), st->bytes.size() - st->pos});
      std::memcpy(buf, st->bytes.data() + st->pos, k);
      st->pos += k;
      return int64_t(k);
    }
  } s;
  s.bytes = header(0x54415256u, 1, 28);
  for (uint32_t id = 0; id < 28; id++) add_record(s.bytes, id, koppel_getParameterValue(t.p, id));
  const double gain = -6.0;
  std::memcpy(s.bytes.data() + 12 + 17 * 16 + 8, &gain, 8);  // Overall Gain

  std::atomic<bool> stop{false};
  std::thread audio([&] {
    std::vector<float> l(64, 0.1f), r(64, 0.1f), ol(64), orr(64);
    void *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    while (!stop.load()) {
      if (s.calls.load() >= 5) {
        fake_block b(64, false, in, 2, out, 2);
        koppel_process(t.p, &b.ctx);
        s.audio_ran = true;
      }
      std::this_thread::yield();
    }
  });
  EXPECT_TRUE(koppel_loadState(t.p, &s, stalling_stream::read));
  stop = true;
  audio.join();
  EXPECT_TRUE(s.waited_ok) << "the audio thread waited on the host's stream";
  EXPECT_EQ(koppel_getParameterValue(t.p, 17), -6.0);
}
