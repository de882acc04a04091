#pragma once
// Running an operation once per fault-injection point: count the calls of each
// kind it makes on a clean run, then fail each of them in turn (and, for
// writes, every write from the n-th on: a disk that fills up stays full).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/fault.h"

namespace faults {

struct Point {
  plat::Op op;
  long n;
  bool sticky;
  std::string Name() const {
    return std::string(plat::OpName(op)) + " #" + std::to_string(n) + (sticky ? " onwards" : "");
  }
};

// Calls of every kind that run makes after prepare.
inline std::vector<Point> CountPoints(const std::function<void()>& prepare, const std::function<void()>& run,
                                      bool stickyWrites = true) {
  prepare();
  plat::CountFaults();
  run();
  std::vector<long> calls;
  for (int i = 0; i < plat::kFaultOps; ++i) calls.push_back(plat::FaultCalls(static_cast<plat::Op>(i)));
  plat::ResetFaults();
  std::vector<Point> points;
  for (int i = 0; i < plat::kFaultOps; ++i) {
    const auto op = static_cast<plat::Op>(i);
    for (long n = 1; n <= calls[static_cast<size_t>(i)]; ++n) {
      points.push_back({op, n, false});
      if (stickyWrites && op == plat::Op::Write) points.push_back({op, n, true});
    }
  }
  return points;
}

// For every point: prepare, run with that call failing, then check(point,
// fired). Returns the number of points whose fault fired.
inline int ForEachPoint(const std::function<void()>& prepare, const std::function<void()>& run,
                        const std::function<void(const Point&, bool fired)>& check, bool stickyWrites = true) {
  const std::vector<Point> points = CountPoints(prepare, run, stickyWrites);
  int fired = 0;
  for (const Point& p : points) {
    SCOPED_TRACE("fault at " + p.Name());
    prepare();
    plat::FailAt(p.op, p.n, p.sticky);
    run();
    const bool hit = plat::FaultFired();
    plat::ResetFaults();
    fired += hit ? 1 : 0;
    check(p, hit);
    if (::testing::Test::HasFatalFailure()) break;
  }
  return fired;
}

// Figures for the closing note, on standard output.
inline void Figure(const std::string& what, long value) {
  std::printf("[ figures  ] %s: %ld\n", what.c_str(), value);
}

}  // namespace faults
