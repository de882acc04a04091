// The whole-table lock: every lock byte of the table at once, so it conflicts
// with every record lock and with other whole-table locks.
#include "platform/os.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

namespace os = plat::os;

namespace table_detail {

bool OtherHoldsLock(os::File& table) {
  bool held = false;
  // Unsure counts as held: the caller then leaves the table alone.
  return !table.OthersHold(os::kTableLockStart, os::kTableLockLength, &held) || held;
}

}  // namespace table_detail

bool Table::LockFile() {
  if (lock_ == LockState::Locked) return true;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only and cannot be locked");
  if (!dbf_->Handle().TryLock(os::kTableLockStart, os::kTableLockLength, os::LockKind::Exclusive)) {
    if (os::LastError().kind == os::Fail::Busy) return false;
    throw XBaseError("Cannot lock " + dbf_->Path() + ": " + os::LastError().text);
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
  dbf_->Handle().Unlock(os::kTableLockStart, os::kTableLockLength);
  LockReleased();
}

}  // namespace xbase
