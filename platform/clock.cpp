#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/os.h"

namespace plat {

namespace {

std::atomic<bool> g_stop{false};

// How long a wait sleeps before it looks for a stop request again: a stop
// from a signal usually cuts the sleep short, one from another thread is seen
// within this.
constexpr std::chrono::milliseconds kStopPoll{50};

void OnStopSignal() { RequestStop(); }

class SystemClockImpl : public Clock {
 public:
  TimePoint Now() override { return os::Os().Now(); }
  bool Wait(int milliseconds) override {
    os::Env& sys = os::Os();
    const auto end = sys.Monotonic() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (StopRequested()) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - sys.Monotonic());
      if (left.count() <= 0) return true;
      sys.Sleep(std::min(left, kStopPoll));
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static SystemClockImpl clock;
  return clock;
}

void RequestStop() { g_stop = true; }

bool StopRequested() { return g_stop.load(); }

void ClearStopRequest() { g_stop = false; }

void InstallStopSignals() { os::Os().InstallStopHandler(OnStopSignal); }

std::string LocalTimeOfDay(Clock::TimePoint t) {
  os::LocalTm local{};
  if (!os::Os().LocalTime(std::chrono::system_clock::to_time_t(t), &local)) return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return buf;
}

}  // namespace plat
