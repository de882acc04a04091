#pragma once
// Running an operation once per fault-injection point: count the calls of each
// kind it makes on a clean run, then fail each of them in turn (and, for
// writes, every write from the n-th on: a disk that fills up stays full).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// Under Windows each file call costs many times what it costs here (and more
// again under an emulation of it), so there the tables run a fixed sample of
// their points: of every kind (sticky writes apart), the first and the last
// call and every k-th between, k chosen so that about kWindowsPointsPerKind
// run. Every kind stays covered and a rerun fails at the same points.
// VV_FAULT_POINTS=all runs every point there too.
inline constexpr size_t kWindowsPointsPerKind = 6;

inline bool Sampling() {
#ifdef _WIN32
  const char* all = std::getenv("VV_FAULT_POINTS");
  return !(all && std::string(all) == "all");
#else
  return false;
#endif
}

// Whether the i-th (0-based) of n like runs is one of about keep to run:
// the first, the last and every k-th, or every one when not sampling.
inline bool Kept(size_t i, size_t n, size_t keep, bool sampling = Sampling()) {
  if (!sampling || n <= keep) return true;
  const size_t k = (n + keep - 1) / std::max<size_t>(keep, 1);
  return i == 0 || i + 1 == n || (i + 1) % k == 0;
}

// The points to run of all, kind by kind.
inline std::vector<Point> Sample(const std::vector<Point>& all, size_t perKind) {
  std::vector<Point> kept;
  for (int i = 0; i < plat::kFaultOps; ++i) {
    for (bool sticky : {false, true}) {
      std::vector<const Point*> kind;
      for (const Point& p : all)
        if (static_cast<int>(p.op) == i && p.sticky == sticky) kind.push_back(&p);
      for (size_t j = 0; j < kind.size(); ++j)
        if (Kept(j, kind.size(), perKind, true)) kept.push_back(*kind[j]);
    }
  }
  return kept;
}

// For every point: prepare, run with that call failing, then check(point,
// fired). Returns the number of points whose fault fired.
inline int ForEachPoint(const std::function<void()>& prepare, const std::function<void()>& run,
                        const std::function<void(const Point&, bool fired)>& check, bool stickyWrites = true) {
  std::vector<Point> points = CountPoints(prepare, run, stickyWrites);
  if (Sampling()) {
    const size_t all = points.size();
    points = Sample(points, kWindowsPointsPerKind);
    std::printf("[ figures  ] fault points run: %zu of %zu\n", points.size(), all);
  }
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
