// A complete core instance on an in-memory host, destroyed with the fixture.
#pragma once
#include <memory>

#include "memory_host.h"
#include "system/instance.h"

struct test_instance {
  std::unique_ptr<memory_host> host;
  inst_t *ci = nullptr;

  explicit test_instance(double samplerate = 44100.0, int32_t channels = 2);
  ~test_instance();
  test_instance(const test_instance &) = delete;
  test_instance &operator=(const test_instance &) = delete;

  // Stores a parameter as the wrapper would and tells the core.
  void set_param(int32_t id, double v);
  double param(int32_t id) const { return host->get(id); }
};
