#include "platform/clock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace plat {

namespace {

std::atomic<bool> g_stop{false};
// A pipe that a stop request writes to, so that a wait in poll() wakes at once
// whichever thread the signal was delivered to.
std::atomic<int> g_wakeRead{-1};
std::atomic<int> g_wakeWrite{-1};

void EnsureWakePipe() {
  static const bool made = [] {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    g_wakeRead = fds[0];
    g_wakeWrite = fds[1];
    return true;
  }();
  (void)made;
}

void OnStopSignal(int) { RequestStop(); }

class SystemClockImpl : public Clock {
 public:
  TimePoint Now() override { return std::chrono::system_clock::now(); }
  bool Wait(int milliseconds) override {
    EnsureWakePipe();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (StopRequested()) return false;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return true;
      pollfd p{g_wakeRead.load(), POLLIN, 0};
      if (p.fd < 0) {
        // No pipe: sleep in short steps so that a stop is still seen soon.
        const timespec ts{0, 20 * 1000 * 1000};
        nanosleep(&ts, nullptr);
        continue;
      }
      poll(&p, 1, static_cast<int>(left < 1000000 ? left : 1000000));
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static SystemClockImpl clock;
  return clock;
}

void RequestStop() {
  g_stop = true;
  const int fd = g_wakeWrite.load();
  if (fd >= 0) {
    const char c = 's';
    const ssize_t n = write(fd, &c, 1);  // a full pipe already wakes every waiter
    (void)n;
  }
}

bool StopRequested() { return g_stop.load(); }

void ClearStopRequest() {
  g_stop = false;
  const int fd = g_wakeRead.load();
  if (fd < 0) return;
  char buf[64];
  while (read(fd, buf, sizeof buf) > 0) {
  }
}

void InstallStopSignals() {
  EnsureWakePipe();
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

std::string LocalTimeOfDay(Clock::TimePoint t) {
  const time_t secs = std::chrono::system_clock::to_time_t(t);
  tm local{};
  localtime_r(&secs, &local);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return buf;
}

}  // namespace plat
