#pragma once
// Fault injection for the reliability tests. Every call that reaches the OS
// seam is counted by the kinds below (the wrapper in fault_os.h does it).
// When a test has armed a kind, the chosen call fails the way the system call
// would (errno and the seam's last error set, nothing done). The product code
// carries no hook: without the wrapper installed, nothing is counted.
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
// Counts a call of op; true when it must fail (errno set).
bool Hit(Op op);
// The counters behind CountFaults, FailAt and ResetFaults, which the test
// support defines: they also install the fault-injecting wrapper of the OS
// seam, so every call that reaches the seam is a fault point.
void StartCounting();
void Arm(Op op, long n, bool sticky);
void StopCounting();
}  // namespace fault_detail


}  // namespace plat
