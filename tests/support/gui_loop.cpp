#include "support/gui_loop.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <poll.h>
#endif

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

namespace {
// Fires every due timer; callbacks may register or remove others, so the
// list is walked by id.
void fire_due_timers(std::vector<gui_loop::timer> &timers) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<uint64_t> ids;
  for (const gui_loop::timer &t : timers) ids.push_back(t.id);
  for (uint64_t id : ids) {
    auto it = std::find_if(timers.begin(), timers.end(), [&](const gui_loop::timer &t) { return t.id == id; });
    if (it == timers.end() || now < it->next) continue;
    it->next = now + std::chrono::milliseconds(it->period_ms);
    auto f = it->fire;
    f();
  }
}
}  // namespace

#ifdef _WIN32
// Windows: the window messages of this thread (the editor's own timer among
// them) as a host's message loop serves them, plus any host timers.
void gui_loop::run_for(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    auto wake = end;
    for (const timer &t : timers) wake = std::min(wake, t.next);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - std::chrono::steady_clock::now());
    MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::max<int64_t>(0, wait.count())), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    fire_due_timers(timers);
  }
}
#else
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
    fire_due_timers(timers);
  }
}
#endif
