#pragma once
// Time as the processing cycle sees it: the wall clock (for the times it
// shows) and waits that a stop request ends at once. The real clock waits on
// the system; tests put one in whose waits only move its own time on.
#include <chrono>
#include <string>

namespace plat {

class Clock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint Now() = 0;
  // Waits the given time; false when it ended early because a stop was
  // requested (then it returns at once, also when the stop came before).
  virtual bool Wait(int milliseconds) = 0;
};

// The system's clock; its waits are ended by RequestStop.
Clock& SystemClock();

// A process-wide stop request, for a headless cycle ended by a signal.
// RequestStop is safe in a signal handler.
void RequestStop();
bool StopRequested();
void ClearStopRequest();
// SIGINT and SIGTERM request a stop instead of ending the process.
void InstallStopSignals();

// "hh:mm:ss" of a time in the local time zone.
std::string LocalTimeOfDay(Clock::TimePoint t);

}  // namespace plat
