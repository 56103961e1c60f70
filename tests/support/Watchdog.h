// Fails a threaded test whose threads stop making progress (a deadlock never ends by itself),
// after printing what each thread was doing, so that the failure names the stuck wait. Judged by
// progress, not by total time: a loaded machine is slow, a deadlock makes no progress at all.
#pragma once

#include <AU/AuTypes.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

class Watchdog {
public:
    Watchdog(std::chrono::seconds stall, std::function<u64()> progress, std::function<void()> describe)
        : m_thread([this, stall, progress, describe] {
              std::unique_lock lock(m_mutex);
              u64 last = progress();
              while (!m_changed.wait_for(lock, stall, [this] { return m_done; })) {
                  const u64 now = progress();
                  if (now != last) {
                      last = now;
                      continue;
                  }
                  fprintf(stderr, "watchdog: no progress for %lld s, deadlock\n",
                          static_cast<long long>(stall.count()));
                  describe();
                  fflush(stderr);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_thread;
};
