#include "clap_host_kit.h"

#ifndef _WIN32
#include <unistd.h>
#endif


#include <cstdio>

#include <algorithm>
#include <cstring>

clap_event_list::clap_event_list() {
  in.ctx = this;
  in.size = [](const clap_input_events_t *l) {
    return uint32_t(static_cast<const clap_event_list *>(l->ctx)->events.size());
  };
  in.get = [](const clap_input_events_t *l, uint32_t i) -> const clap_event_header_t * {
    const auto *self = static_cast<const clap_event_list *>(l->ctx);
    return i < self->events.size() ? reinterpret_cast<const clap_event_header_t *>(self->events[i].data()) : nullptr;
  };
  out.ctx = this;
  out.try_push = [](const clap_output_events_t *l, const clap_event_header_t *e) {
    static_cast<clap_event_list *>(l->ctx)->add_raw(e, e->size);
    return true;
  };
}

void clap_event_list::add_raw(const void *event, size_t size) {
  const auto *p = static_cast<const uint8_t *>(event);
  std::vector<uint8_t> copy(p, p + size);
  copy.resize(std::max<size_t>(size, 64), 0);  // room to read as any event type safely
  events.push_back(std::move(copy));
}

void clap_event_list::add_param(uint32_t time, clap_id id, double value) {
  clap_event_param_value_t e{};
  e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
  e.param_id = id;
  e.note_id = -1;
  e.port_index = e.channel = e.key = -1;
  e.value = value;
  add_raw(&e, sizeof e);
}

clap_byte_stream::clap_byte_stream() {
  in.ctx = this;
  in.read = [](const clap_istream_t *s, void *buf, uint64_t n) -> int64_t {
    auto *self = static_cast<clap_byte_stream *>(s->ctx);
    const size_t k = std::min({size_t(n), self->chunk, self->bytes.size() - self->pos});
    std::memcpy(buf, self->bytes.data() + self->pos, k);
    self->pos += k;
    return int64_t(k);
  };
  out.ctx = this;
  out.write = [](const clap_ostream_t *s, const void *buf, uint64_t n) -> int64_t {
    auto *self = static_cast<clap_byte_stream *>(s->ctx);
    const size_t k = std::min(size_t(n), self->chunk);
    const auto *p = static_cast<const uint8_t *>(buf);
    self->bytes.insert(self->bytes.end(), p, p + k);
    return int64_t(k);
  };
}

clap_process_status clap_run_block(const clap_plugin_t *plugin, uint32_t frames, void **in, void **out,
                                   uint32_t channels, bool f64, const clap_event_list *in_events,
                                   clap_event_list *out_events) {
  clap_audio_buffer_t ib{}, ob{};
  ib.channel_count = ob.channel_count = channels;
  if (f64) {
    ib.data64 = reinterpret_cast<double **>(in);
    ob.data64 = reinterpret_cast<double **>(out);
  } else {
    ib.data32 = reinterpret_cast<float **>(in);
    ob.data32 = reinterpret_cast<float **>(out);
  }
  static const clap_event_list empty;
  clap_event_list sink;
  clap_process_t p{};
  p.steady_time = -1;
  p.frames_count = frames;
  p.audio_inputs = &ib;
  p.audio_outputs = &ob;
  p.audio_inputs_count = p.audio_outputs_count = 1;
  p.in_events = in_events ? &in_events->in : &empty.in;
  p.out_events = out_events ? &out_events->out : &sink.out;
  return plugin->process(plugin, &p);
}

void clap_host_describe(clap_host_t *host, void *data, const char *name, const char *vendor, const char *version) {
  host->clap_version = CLAP_VERSION;
  host->host_data = data;
  host->name = name;
  host->vendor = vendor;
  host->url = "";
  host->version = version;
}

double resident_memory_mb() {
#ifdef _WIN32
  return 0.0;  // only the soak test reads it, and it runs on Linux
#else
  long pages = 0, resident = 0;
  FILE *f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0.0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
#endif
}
