// The saved state: a 12-byte header and 28 records of 16 bytes, little-endian.
#include <algorithm>
#include <cstring>

#include "system/inst.h"
#include "tarvelon_koppel.h"
#include "vl_mutex.h"

namespace {
constexpr uint32_t kMagic = 0x54415256;
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 12, kRecordSize = 16;

void put_u32(uint8_t *b, uint32_t v) {
  for (int i = 0; i < 4; i++) b[i] = uint8_t(v >> (8 * i));
}
uint32_t get_u32(const uint8_t *b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
void put_f64(uint8_t *b, double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  for (int i = 0; i < 8; i++) b[i] = uint8_t(u >> (8 * i));
}
double get_f64(const uint8_t *b) {
  uint64_t u = 0;
  for (int i = 0; i < 8; i++) u |= uint64_t(b[i]) << (8 * i);
  double v;
  std::memcpy(&v, &u, 8);
  return v;
}

// Streams may move fewer bytes than asked: loop until done, end or error.
bool write_all(void *stream, KoppelStateWrite write, const uint8_t *buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const int64_t r = write(stream, buf + done, int64_t(n - done));
    if (r <= 0 || uint64_t(r) > n - done) return false;
    done += size_t(r);
  }
  return true;
}

enum class read_result { complete, ended, failed };

read_result read_all(void *stream, KoppelStateRead read, uint8_t *buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const int64_t r = read(stream, buf + done, int64_t(n - done));
    if (r == 0) return read_result::ended;
    if (r < 0 || uint64_t(r) > n - done) return read_result::failed;
    done += size_t(r);
  }
  return read_result::complete;
}
}  // namespace

bool koppel_saveState(TarvelonKoppelPlugin *p, void *stream, KoppelStateWrite write) noexcept {
  if (!p || !write) return false;
  uint8_t header[kHeaderSize];
  put_u32(header, kMagic);
  put_u32(header + 4, kVersion);
  put_u32(header + 8, kKoppelParamCount);
  if (!write_all(stream, write, header, sizeof header)) return false;
  for (uint32_t id = 0; id < kKoppelParamCount; id++) {
    uint8_t rec[kRecordSize] = {};
    put_u32(rec, id);
    put_f64(rec + 8, p->params[id].value);
    if (!write_all(stream, write, rec, sizeof rec)) return false;
  }
  return true;
}

bool koppel_loadState(TarvelonKoppelPlugin *p, void *stream, KoppelStateRead read) noexcept {
  if (!p || !read) return false;
  uint8_t header[kHeaderSize];
  if (read_all(stream, read, header, sizeof header) != read_result::complete) return false;
  if (get_u32(header) != kMagic || get_u32(header + 4) != kVersion) return false;
  const uint32_t count = std::min<uint32_t>(get_u32(header + 8), kKoppelParamCount);
  // The whole list is read before anything is locked: a slow stream must never
  // hold up the audio thread. Records before an error or the end still apply.
  uint8_t records[kKoppelParamCount][kRecordSize];
  uint32_t complete = 0;
  bool failed = false;
  while (complete < count) {
    const read_result r = read_all(stream, read, records[complete], kRecordSize);
    if (r != read_result::complete) {
      failed = r == read_result::failed;  // a list cut short by the end of the stream is fine
      break;
    }
    complete++;
  }
  {
    // The audio thread must never play, nor record as undo, a half-loaded band set.
    vl_lock_guard lock(p->ci ? p->ci->proc_reinit_sem : nullptr);
    for (uint32_t i = 0; i < complete; i++) {
      const uint32_t id = get_u32(records[i]);
      if (id < kKoppelParamCount)
        tarvelon_koppel_set_parameter_value(p, id, get_f64(records[i] + 8), true, param_origin::host);
    }
  }
  KoppelHostContext *h = p->hostContext;
  if (h && h->rescan) h->rescan(h, KOPPEL_FLAG_RESCAN_PARAM_VALUES);
  return !failed;
}
