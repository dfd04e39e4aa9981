#include "support/test_instance.h"

#include "state/params.h"

test_instance::test_instance(double samplerate, int32_t channels) : host(std::make_unique<memory_host>()) {
  host->samplerate = samplerate;
  host->channels = channels;
  ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host.get(), nullptr);
}

test_instance::~test_instance() { tarvelon_destroy_instance(ci); }

void test_instance::set_param(int32_t id, double v) {
  host->set(id, v);
  tarvelon_on_param_change(ci, id);
}
