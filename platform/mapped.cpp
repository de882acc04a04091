#include "platform/mapped.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace plat {

namespace {

// The mappings under guard, read by the signal handler: plain atomics, no
// locks or allocation there.
struct Slot {
  std::atomic<uintptr_t> start{0}, end{0};
  std::atomic<bool> damaged{false};
  std::atomic<bool> used{false};
};
constexpr int kSlots = 32;
Slot g_slots[kSlots];
struct sigaction g_previous;
uintptr_t g_pageMask = 0;

void OnBusError(int sig, siginfo_t* info, void* context) {
  const auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& s : g_slots) {
    const uintptr_t start = s.start.load(std::memory_order_acquire), end = s.end.load(std::memory_order_acquire);
    if (start == 0 || addr < start || addr >= end) continue;
    // Zero pages over the rest of the mapping; the access then goes on.
    const uintptr_t page = addr & g_pageMask;
    void* p = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (p == MAP_FAILED) break;
    s.damaged.store(true, std::memory_order_release);
    return;
  }
  // Not ours: whoever handled it before does, or the default ends the process
  // once the access faults again.
  if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
    g_previous.sa_sigaction(sig, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN && g_previous.sa_handler) {
    g_previous.sa_handler(sig);
    return;
  }
  signal(SIGBUS, SIG_DFL);
  if (info->si_code <= 0) raise(sig);  // sent, not a fault: it would not come again
}

bool InstallHandler() {
  static const bool installed = [] {
    g_pageMask = ~(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1);
    struct sigaction sa {};
    sa.sa_sigaction = OnBusError;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    return sigaction(SIGBUS, &sa, &g_previous) == 0;
  }();
  return installed;
}

}  // namespace

bool GuardedMapping::Map(int fd, size_t size) {
  Unmap();
  if (size == 0 || !InstallHandler()) return false;
  int slot = -1;
  for (int i = 0; i < kSlots && slot < 0; ++i) {
    bool expected = false;
    if (g_slots[i].used.compare_exchange_strong(expected, true)) slot = i;
  }
  if (slot < 0) return false;
  void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    g_slots[slot].used.store(false);
    return false;
  }
  Slot& s = g_slots[slot];
  s.damaged.store(false);
  s.end.store(reinterpret_cast<uintptr_t>(p) + size, std::memory_order_release);
  s.start.store(reinterpret_cast<uintptr_t>(p), std::memory_order_release);
  data_ = static_cast<const unsigned char*>(p);
  size_ = size;
  slot_ = slot;
  return true;
}

void GuardedMapping::Unmap() {
  if (!data_) return;
  Slot& s = g_slots[slot_];
  s.start.store(0, std::memory_order_release);
  s.end.store(0, std::memory_order_release);
  munmap(const_cast<unsigned char*>(data_), size_);
  s.used.store(false, std::memory_order_release);
  data_ = nullptr;
  size_ = 0;
  slot_ = -1;
}

bool GuardedMapping::Damaged() const {
  return slot_ >= 0 && g_slots[slot_].damaged.load(std::memory_order_acquire);
}

}  // namespace plat
