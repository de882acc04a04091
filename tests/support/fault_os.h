#pragma once
// The fault-injecting wrapper of the OS seam. plat::CountFaults and
// plat::FailAt install it over the Env in use, plat::ResetFaults takes it away
// again; tests need not touch it themselves. Every call it forwards first
// counts as one fault point of its kind:
//   Open    Open, MapReadOnly (of a name or of an open file)
//   Read    ReadAt, Read
//   Write   WriteAt, Write, WriteGather, Truncate
//   Flush   Sync, SyncFolder
//   Rename  RenameReplace
//   Delete  Remove
//   Lock    TryLock, OthersHold, and an Open without sharing (after its Open)
// Lookups (Stat, ListFolder, Resolve, Info, Size, Seek), Unlock, Close,
// TakeAccessOf and the clock are not counted: their callers treat a failure
// like a missing file or have nothing to undo, so counting them would only
// multiply the points without reaching new paths.
// A fired fault does nothing and fails the way the OS would: NoSpace for
// writes, Busy for locks, an input/output error otherwise.
#include "tests/support/fault.h"
#include "platform/os.h"

namespace faults {

class FaultEnv final : public plat::os::Env {
 public:
  explicit FaultEnv(plat::os::Env& inner) : inner_(&inner) {}
  void Wrap(plat::os::Env& inner) { inner_ = &inner; }
  plat::os::Env& Inner() const { return *inner_; }

  std::unique_ptr<plat::os::File> Open(const std::string& path, const plat::os::OpenRequest& how) override;
  std::unique_ptr<plat::os::Mapping> MapReadOnly(const std::string& path, const plat::os::FileInfo& expected) override;
  bool Stat(const std::string& path, bool followLinks, plat::os::FileInfo* info) override {
    return inner_->Stat(path, followLinks, info);
  }
  bool RenameReplace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  bool SyncFolder(const std::string& folder) override;
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override {
    return inner_->ListFolder(folder, names);
  }
  std::string Resolve(const std::string& path) override { return inner_->Resolve(path); }
  std::string ExeFolder() override { return inner_->ExeFolder(); }
  std::string DefaultPortDevice(int n) override { return inner_->DefaultPortDevice(n); }
  std::chrono::system_clock::time_point Now() override { return inner_->Now(); }
  std::chrono::steady_clock::time_point Monotonic() override { return inner_->Monotonic(); }
  void Sleep(std::chrono::milliseconds duration) override { inner_->Sleep(duration); }
  bool LocalTime(std::time_t t, plat::os::LocalTm* out) override { return inner_->LocalTime(t, out); }
  void InstallStopHandler(void (*onStop)()) override { inner_->InstallStopHandler(onStop); }

 private:
  plat::os::Env* inner_;
};

// True (with errno and the seam's last error set) when this call of op must fail.
bool Injected(plat::Op op);

}  // namespace faults
