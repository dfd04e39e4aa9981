#include "support/gui_loop.h"

#include <poll.h>

#include <algorithm>

uint64_t gui_loop::add_timer(uint32_t period_ms, std::function<void()> fire) {
  timers.push_back({next_id, period_ms, std::move(fire), std::chrono::steady_clock::now()});
  return next_id++;
}

bool gui_loop::remove_timer(uint64_t id) {
  const auto it = std::find_if(timers.begin(), timers.end(), [&](const timer &t) { return t.id == id; });
  if (it == timers.end()) return false;
  timers.erase(it);
  return true;
}

void gui_loop::add_fd(int fd, std::function<void()> ready) { watches.push_back({fd, std::move(ready)}); }

bool gui_loop::remove_fd(int fd) {
  const auto it = std::find_if(watches.begin(), watches.end(), [&](const watch &w) { return w.fd == fd; });
  if (it == watches.end()) return false;
  watches.erase(it);
  return true;
}

void gui_loop::run_for(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    std::vector<pollfd> p;
    for (const watch &w : watches) p.push_back({w.fd, POLLIN, 0});
    // Sleep until a descriptor is ready or the next timer is due, as a host's loop does.
    auto wake = end;
    for (const timer &t : timers) wake = std::min(wake, t.next);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - std::chrono::steady_clock::now());
    poll(p.data(), p.size(), int(std::max<int64_t>(0, wait.count())));
    // Callbacks may register or remove others: work on copies.
    for (size_t i = 0; i < p.size(); i++) {
      if (!(p[i].revents & POLLIN)) continue;
      const int fd = p[i].fd;
      for (size_t k = 0; k < watches.size(); k++)
        if (watches[k].fd == fd) {
          auto f = watches[k].ready;
          f();
          break;
        }
    }
    const auto now = std::chrono::steady_clock::now();
    const std::vector<uint64_t> ids = [&] {
      std::vector<uint64_t> r;
      for (const timer &t : timers) r.push_back(t.id);
      return r;
    }();
    for (uint64_t id : ids) {
      auto it = std::find_if(timers.begin(), timers.end(), [&](const timer &t) { return t.id == id; });
      if (it == timers.end() || now < it->next) continue;
      it->next = now + std::chrono::milliseconds(it->period_ms);
      auto f = it->fire;
      f();
    }
  }
}
