#include "tests/support/fault.h"

#include <cerrno>

namespace plat {

namespace fault_detail {

std::atomic<bool> g_active{false};

namespace {
std::atomic<long> g_calls[kFaultOps];
std::atomic<int> g_armedOp{-1};
std::atomic<long> g_armedAt{0};
std::atomic<bool> g_sticky{false};
std::atomic<bool> g_fired{false};

int ErrnoFor(Op op) {
  switch (op) {
    case Op::Write: return ENOSPC;
    case Op::Lock: return EAGAIN;
    default: return EIO;
  }
}
}  // namespace

bool Hit(Op op) {
  const int i = static_cast<int>(op);
  const long n = g_calls[i].fetch_add(1) + 1;
  if (g_armedOp.load() != i) return false;
  const long at = g_armedAt.load();
  if (n != at && !(g_sticky.load() && n > at)) return false;
  g_fired = true;
  errno = ErrnoFor(op);
  return true;
}

}  // namespace fault_detail

using namespace fault_detail;

const char* OpName(Op op) {
  static const char* const names[kFaultOps] = {"Open", "Read", "Write", "Flush", "Rename", "Delete", "Lock"};
  return names[static_cast<int>(op)];
}

void fault_detail::StartCounting() {
  g_armedOp = -1;
  for (auto& c : g_calls) c = 0;
  g_fired = false;
  g_active = true;
}

void fault_detail::Arm(Op op, long n, bool sticky) {
  g_armedAt = n;
  g_sticky = sticky;
  g_armedOp = static_cast<int>(op);
}

void fault_detail::StopCounting() {
  g_active = false;
  g_armedOp = -1;
  for (auto& c : g_calls) c = 0;
  g_fired = false;
}

long FaultCalls(Op op) { return g_calls[static_cast<int>(op)].load(); }

bool FaultFired() { return g_fired.load(); }

}  // namespace plat
