// A host's run loop for editor tests: the timers and descriptors a plug-in
// registered, served on the calling thread for a while.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

struct gui_loop {
  struct timer {
    uint64_t id;
    uint32_t period_ms;
    std::function<void()> fire;
    std::chrono::steady_clock::time_point next;
  };
  struct watch {
    int fd;
    std::function<void()> ready;
  };
  std::vector<timer> timers;
  std::vector<watch> watches;
  uint64_t next_id = 1;

  uint64_t add_timer(uint32_t period_ms, std::function<void()> fire);
  bool remove_timer(uint64_t id);
  void add_fd(int fd, std::function<void()> ready);
  bool remove_fd(int fd);
  // Serves descriptors and timers until `ms` have passed.
  void run_for(int ms);
};
