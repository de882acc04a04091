#include "tests/support/fault_os.h"

#include <cerrno>
#include <cstring>

namespace faults {

using namespace plat::os;

bool Injected(plat::Op op) {
  if (!plat::fault_detail::Hit(op)) return false;
  const int e = errno;  // Hit sets the system's own error for the kind
  SetLastError(op == plat::Op::Write ? Fail::NoSpace : op == plat::Op::Lock ? Fail::Busy : Fail::Other,
               std::strerror(e));
  return true;
}

namespace {

class FaultFile final : public File {
 public:
  explicit FaultFile(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    return !Injected(plat::Op::Read) && inner_->ReadAt(offset, buf, n, got);
  }
  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    return !Injected(plat::Op::Write) && inner_->WriteAt(offset, buf, n);
  }
  bool Read(void* buf, size_t n, size_t* got) override {
    *got = 0;
    return !Injected(plat::Op::Read) && inner_->Read(buf, n, got);
  }
  bool Write(const void* buf, size_t n) override { return !Injected(plat::Op::Write) && inner_->Write(buf, n); }
  bool WriteGather(const Piece* pieces, size_t count) override {
    return !Injected(plat::Op::Write) && inner_->WriteGather(pieces, count);
  }
  bool Seek(uint64_t offset) override { return inner_->Seek(offset); }
  bool Size(uint64_t* size) override { return inner_->Size(size); }
  bool Truncate(uint64_t size) override { return !Injected(plat::Op::Write) && inner_->Truncate(size); }
  bool Sync() override { return !Injected(plat::Op::Flush) && inner_->Sync(); }
  void StartWriteBack(uint64_t offset, uint64_t length) override { inner_->StartWriteBack(offset, length); }
  bool Info(FileInfo* info) override { return inner_->Info(info); }
  bool Close() override { return inner_->Close(); }
  bool TryLock(uint64_t start, uint64_t length, LockKind kind) override {
    return !Injected(plat::Op::Lock) && inner_->TryLock(start, length, kind);
  }
  bool Unlock(uint64_t start, uint64_t length) override { return inner_->Unlock(start, length); }
  bool OthersHold(uint64_t start, uint64_t length, bool* held) override {
    *held = false;
    return !Injected(plat::Op::Lock) && inner_->OthersHold(start, length, held);
  }
  bool TakeAccessOf(const std::string& path) override { return inner_->TakeAccessOf(path); }
  std::unique_ptr<Mapping> MapReadOnly(const FileInfo& expected) override {
    if (Injected(plat::Op::Open)) return nullptr;
    return inner_->MapReadOnly(expected);
  }

 private:
  std::unique_ptr<File> inner_;
};

}  // namespace

std::unique_ptr<File> FaultEnv::Open(const std::string& path, const OpenRequest& how) {
  if (Injected(plat::Op::Open)) return nullptr;
  // Holding a file without sharing takes a lock on it.
  if (how.exclusive && Injected(plat::Op::Lock)) return nullptr;
  auto file = inner_->Open(path, how);
  if (!file) return nullptr;
  return std::make_unique<FaultFile>(std::move(file));
}

std::unique_ptr<Mapping> FaultEnv::MapReadOnly(const std::string& path, const FileInfo& expected) {
  if (Injected(plat::Op::Open)) return nullptr;
  return inner_->MapReadOnly(path, expected);
}

bool FaultEnv::RenameReplace(const std::string& from, const std::string& to) {
  return !Injected(plat::Op::Rename) && inner_->RenameReplace(from, to);
}

bool FaultEnv::Remove(const std::string& path) { return !Injected(plat::Op::Delete) && inner_->Remove(path); }

bool FaultEnv::SyncFolder(const std::string& folder) {
  return !Injected(plat::Op::Flush) && inner_->SyncFolder(folder);
}

}  // namespace faults

// The test API of fault.h: counting and arming install the wrapper.
namespace plat {

namespace {
faults::FaultEnv& Wrapper() {
  static faults::FaultEnv env(os::RealOs());
  return env;
}
}  // namespace

void CountFaults() {
  fault_detail::StartCounting();
  os::Env& current = os::Os();
  if (&current != &Wrapper()) {
    Wrapper().Wrap(current);
    os::InstallOs(&Wrapper());
  }
}

void FailAt(Op op, long n, bool sticky) {
  CountFaults();
  fault_detail::Arm(op, n, sticky);
}

void ResetFaults() {
  fault_detail::StopCounting();
  if (&os::Os() == &Wrapper()) {
    os::Env& before = Wrapper().Inner();
    os::InstallOs(&before == &os::RealOs() ? nullptr : &before);
  }
}

}  // namespace plat
