#pragma once
// A clock whose waits only move its own time on, and a pass view that
// records what a pass shows, for the pass and cycle tests.
#include <functional>
#include <string>
#include <vector>

#include "engine/passes.h"

namespace passes {

class FakeClock : public plat::Clock {
 public:
  TimePoint now = TimePoint{} + std::chrono::hours(24 * 365 * 50);
  std::vector<int> waits;
  std::function<void(int)> onWait;
  TimePoint Now() override { return now; }
  bool Wait(int ms) override {
    waits.push_back(ms);
    now += std::chrono::milliseconds(ms);
    if (onWait) onWait(ms);
    return !plat::StopRequested();
  }
};

class RecordingView : public TPassView {
 public:
  std::vector<std::string> shown;
  void ShowStatus(const std::string& text) override { shown.push_back("status " + text); }
  void HideStatus() override { shown.push_back("hide"); }
  void ShowMessage(const TPassMessage& m) override { shown.push_back("message " + m.Caption + "|" + m.Text); }
};

}  // namespace passes
