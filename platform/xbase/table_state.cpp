// The table's states and the only places they change. A transition from a
// state it may not leave is a fault of this code, not of the files: it raises
// XBaseError in every build, before anything is changed, so the operation
// fails like any other and the files stay as they are (an abort would take
// the user's other open work down with it).
#include <initializer_list>

#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

namespace {

constexpr const char* kIndexNames[] = {"not loaded", "loaded", "dirty", "stale"};
constexpr const char* kPendingNames[] = {"clear", "set"};
constexpr const char* kHeaderNames[] = {"written", "changed"};
constexpr const char* kLockNames[] = {"unlocked", "locked"};
constexpr const char* kWalkerNames[] = {"none", "needs seek", "synced"};

template <class S>
void Require(const Dbf* dbf, const char* concern, const char* const* names, S now, S to, std::initializer_list<S> from) {
  for (S s : from)
    if (s == now) return;
  throw XBaseError(std::string("Internal error on ") + (dbf ? dbf->Path() : std::string("a table")) + ": " + concern +
                   " cannot go from " + names[static_cast<int>(now)] + " to " + names[static_cast<int>(to)]);
}

}  // namespace

// Index: a walker over entries that are replaced or dropped would point
// into freed memory (or a closed index file), so those transitions drop it.

void Table::IndexLoaded() {
  Require(dbf_.get(), "the index", kIndexNames, index_, IndexState::Loaded, {IndexState::NotLoaded});
  index_ = IndexState::Loaded;
  ResetWalker(WalkerReset::Dropped);
}

void Table::IndexChanged() {
  Require(dbf_.get(), "the index", kIndexNames, index_, IndexState::Dirty, {IndexState::Loaded, IndexState::Dirty});
  index_ = IndexState::Dirty;
}

void Table::IndexRebuilt() {
  Require(dbf_.get(), "the index", kIndexNames, index_, IndexState::Dirty,
          {IndexState::Loaded, IndexState::Dirty, IndexState::Stale});
  index_ = IndexState::Dirty;
  ResetWalker(WalkerReset::Dropped);
}

void Table::IndexWritten() {
  Require(dbf_.get(), "the index", kIndexNames, index_, IndexState::Loaded, {IndexState::Dirty});
  index_ = IndexState::Loaded;
}

void Table::IndexUnloaded() {
  Require(dbf_.get(), "the index", kIndexNames, index_, IndexState::NotLoaded, {IndexState::Loaded});
  index_ = IndexState::NotLoaded;
  ResetWalker(WalkerReset::Dropped);
  for (auto& t : tags_) t.entries.clear();
}

void Table::IndexUntrusted() {
  index_ = IndexState::Stale;
  ResetWalker(WalkerReset::Dropped);
  for (auto& t : tags_) t.entries.clear();
}

void Table::PendingSet() {
  Require(dbf_.get(), "the pending mark", kPendingNames, pending_, PendingMark::Set, {PendingMark::Clear});
  pending_ = PendingMark::Set;
}

void Table::PendingCleared() {
  Require(dbf_.get(), "the pending mark", kPendingNames, pending_, PendingMark::Clear, {PendingMark::Set});
  pending_ = PendingMark::Clear;
}

void Table::HeaderChanged() { header_ = HeaderState::Changed; }

void Table::HeaderWritten() {
  Require(dbf_.get(), "the header", kHeaderNames, header_, HeaderState::Written, {HeaderState::Changed});
  header_ = HeaderState::Written;
}

void Table::LockTaken() {
  Require(dbf_.get(), "the lock", kLockNames, lock_, LockState::Locked, {LockState::Unlocked});
  lock_ = LockState::Locked;
}

void Table::LockReleased() {
  Require(dbf_.get(), "the lock", kLockNames, lock_, LockState::Unlocked, {LockState::Locked});
  lock_ = LockState::Unlocked;
}

void Table::WalkerMade(std::unique_ptr<Walker> w) {
  Require(dbf_.get(), "the walker", kWalkerNames, walkerState_, WalkerState::NeedsSeek, {WalkerState::None});
  walker_ = std::move(w);
  walkerState_ = WalkerState::NeedsSeek;
}

void Table::WalkerOnCurrent() {
  Require(dbf_.get(), "the walker", kWalkerNames, walkerState_, WalkerState::Synced,
          {WalkerState::NeedsSeek, WalkerState::Synced});
  walkerState_ = WalkerState::Synced;
}

void Table::ResetWalker(WalkerReset how) {
  if (how == WalkerReset::Dropped) {
    walker_.reset();
    walkerState_ = WalkerState::None;
    return;
  }
  curKey_.reset();
  if (walkerState_ == WalkerState::Synced) walkerState_ = WalkerState::NeedsSeek;
}

}  // namespace xbase
