#pragma once
// Fault injection for the reliability tests. The file, ini and table layers
// call FaultHit beside every system call of the kinds below; when a test has
// armed that kind, the chosen call fails the way the system call would (errno
// set, nothing done). Unarmed, FaultHit is one relaxed atomic load.
//
// A test first counts how many calls of each kind an operation makes
// (CountFaults, run it, FaultCalls), then runs it once per injection point
// with FailAt(op, n) for n = 1 .. calls.
#include <atomic>

namespace plat {

enum class Op { Open, Read, Write, Flush, Rename, Delete, Lock };
constexpr int kFaultOps = 7;
const char* OpName(Op op);

// Zeroes the counters and counts calls of every kind from now on; nothing fails.
void CountFaults();
// As CountFaults, and the n-th call (1-based) of op from now on fails; with
// sticky, every later call of op fails too (a full disk stays full).
void FailAt(Op op, long n, bool sticky = false);
// Disarms and stops counting.
void ResetFaults();
// Calls of op since CountFaults or FailAt.
long FaultCalls(Op op);
// Whether an armed failure has fired since FailAt.
bool FaultFired();

namespace fault_detail {
extern std::atomic<bool> g_active;
bool Hit(Op op);
}  // namespace fault_detail

// True when this call must fail (errno is set then).
inline bool FaultHit(Op op) {
  if (!fault_detail::g_active.load(std::memory_order_relaxed)) return false;
  return fault_detail::Hit(op);
}

}  // namespace plat
