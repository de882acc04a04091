// Writing and removing records.
#include <algorithm>

#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

// ---- writes ----------------------------------------------------------------

void Table::Replace(int field, std::string_view text) {
  if (recno_ == 0) throw XBaseError("No current record in " + dbf_->Path());
  if (field < 0 || static_cast<size_t>(field) >= dbf_->Fields().size()) throw XBaseError("No such field");
  std::string newRec = rec_;
  dbf_->SetField(newRec, field, text);
  if (newRec == rec_) return;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  EnsureLoaded();
  RewriteCurrent(std::move(newRec), true);
}

// Writes the current record anew; its keys are updated in every loaded tag
// when the change can move them.
void Table::RewriteCurrent(std::string newRec, bool keysMayChange) {
  const bool keys = InMemory() && keysMayChange;
  if (keys) MarkIndexPending();
  dbf_->WriteRecord(recno_, newRec);
  if (keys) {
    UpdateKeys(recno_, &rec_, &newRec);
    IndexChanged();
  }
  rec_ = std::move(newRec);
  HeaderChanged();
  ResetWalker(WalkerReset::Moved);
}

void Table::AppendBlank() {
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  EnsureLoaded();
  std::string blank = dbf_->BlankRecord();
  const bool keys = InMemory();
  if (keys) MarkIndexPending();
  uint32_t r = dbf_->AppendRecord(blank);
  if (keys) {
    if (r > indexedCount_ + 1) CatchUp();
    UpdateKeys(r, nullptr, &blank);
    indexedCount_ = std::max(indexedCount_, r);
    IndexChanged();
  }
  rec_ = std::move(blank);
  recno_ = r;
  HeaderChanged();
  ResetWalker(WalkerReset::Moved);
}

void Table::Delete() {
  if (recno_ == 0) throw XBaseError("No current record in " + dbf_->Path());
  if (Dbf::IsDeleted(rec_)) return;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  const bool keysMayChange = AnyTagUsesDeleted();
  if (keysMayChange) EnsureLoaded();
  std::string newRec = rec_;
  newRec[0] = '*';
  RewriteCurrent(std::move(newRec), keysMayChange);
}

void Table::Pack() {
  RemoveWhere([](uint32_t, const std::string& rec) { return Dbf::IsDeleted(rec); });
}

void Table::Remove(std::vector<uint32_t> recnos) {
  std::sort(recnos.begin(), recnos.end());
  RemoveWhere([&](uint32_t r, const std::string& rec) {
    return Dbf::IsDeleted(rec) || std::binary_search(recnos.begin(), recnos.end(), r);
  });
}

void Table::Zap(uint32_t first, uint32_t last) {
  if (first == 0) first = 1;
  if (first > last) return;
  RemoveWhere([=](uint32_t r, const std::string&) { return r >= first && r <= last; });
}

// Records are removed under the table's lock, taken for the while when the
// caller does not hold it: another process finding the undo file of a
// remove in progress must be able to tell by the lock.
void Table::RemoveWhere(const std::function<bool(uint32_t, const std::string&)>& drop) {
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  CheckIndexWritable();
  const bool tookLock = lock_ == LockState::Unlocked;
  if (tookLock && !LockFile()) throw XBaseError("The table " + dbf_->Path() + " is locked by another program");
  try {
    MarkIndexPending();
    try {
      dbf_->Remove(drop);
    } catch (...) {
      Invalidate();
      throw;
    }
    Invalidate();
    SyncTags();
  } catch (...) {
    if (tookLock) {
      try {
        Unlock();
      } catch (const XBaseError&) {
      }
    }
    throw;
  }
  if (tookLock) Unlock();
}

void Table::Flush() {
  if (!dbf_) return;  // a table whose open failed
  if (header_ == HeaderState::Changed) {
    dbf_->Flush();
    HeaderWritten();
  }
  if (dbf_->ReadOnly()) return;  // nothing to write; rebuilt tags stay in memory
  if (index_ == IndexState::Stale) SyncTags();
  if (InMemory()) {
    CatchUp();
    // A failed write leaves the index dirty (and the table marked), so the
    // next flush writes it whole again.
    if (index_ == IndexState::Dirty) {
      WriteIndex();
      IndexWritten();
    }
    ClearIndexPending();
    IndexUnloaded();
  }
}

}  // namespace xbase
