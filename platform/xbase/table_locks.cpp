// The whole-table lock.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/fault.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

namespace {

// FoxPro's convention: lock bytes count down from 0x7FFFFFFE (record n at
// 0x7FFFFFFE - n); the whole-table lock covers that entire area, so it
// conflicts with every record lock and with other whole-table locks.
constexpr off_t kLockStart = 0x40000000;
constexpr off_t kLockLength = 0x3FFFFFFF;  // up to and including 0x7FFFFFFE

// Sets (F_WRLCK) or clears (F_UNLCK) the whole-table lock; fcntl's result.
int SetLockRegion(int fd, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockStart;
  fl.l_len = kLockLength;
  return ::fcntl(fd, F_OFD_SETLK, &fl);
}

}  // namespace

namespace table_detail {

bool OtherHoldsLock(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockStart;
  fl.l_len = kLockLength;
  return ::fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type != F_UNLCK;
}

}  // namespace table_detail

bool Table::LockFile() {
  if (lock_ == LockState::Locked) return true;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only and cannot be locked");
  if (plat::FaultHit(plat::Op::Lock) || SetLockRegion(dbf_->Fd(), F_WRLCK) != 0) {
    if (errno == EACCES || errno == EAGAIN) return false;
    throw XBaseError("Cannot lock " + dbf_->Path() + ": " + std::strerror(errno));
  }
  LockTaken();
  return true;
}

void Table::Unlock() {
  if (lock_ == LockState::Unlocked) return;
  // Others see our changes before they can take the lock.
  try {
    Flush();
  } catch (...) {
    ReleaseLock();
    throw;
  }
  ReleaseLock();
}

void Table::ReleaseLock() {
  SetLockRegion(dbf_->Fd(), F_UNLCK);
  LockReleased();
}

}  // namespace xbase
