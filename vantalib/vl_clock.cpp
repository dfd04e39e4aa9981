#include "vl_clock.h"

#include <chrono>

double get_time_hr() noexcept {
  using clk = std::chrono::steady_clock;
  return std::chrono::duration<double>(clk::now().time_since_epoch()).count();
}
