// Moving through a table in record order or in a tag's order.
#include <cmath>
#include <cstdlib>

#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

// ---- navigation ------------------------------------------------------------

void Table::Unposition() {
  recno_ = 0;
  rec_.clear();
  ResetWalker(WalkerReset::Moved);
}

bool Table::LoadRecord(uint32_t recno) {
  if (!dbf_->ReadRecord(recno, rec_)) return false;
  recno_ = recno;
  return true;
}

bool Table::KeyMatches(const std::string& entryKey, const std::string& key) const {
  return entryKey.compare(0, key.size(), key) == 0;
}

// From the walker's entry on, in tag order, the first record not marked
// deleted (and, with match, whose key still begins with match).
static bool StoredForward(bool forward, bool descending) { return forward != descending; }

namespace {
// A sound tag holds each record at most once, so a walk that passes more
// entries than the table has records goes round a damaged index. The count
// is read again before giving up: another program may be appending.
class StepGuard {
 public:
  explicit StepGuard(const Dbf& dbf) : dbf_(dbf) {}
  void Step() {
    if (++steps_ < 256 || steps_ <= limit_) return;
    limit_ = static_cast<uint64_t>(dbf_.RecordCount()) + Dbf::kAppendsInFlight + 2;
    if (steps_ > limit_) throw XBaseError("The index of " + dbf_.Path() + " is damaged: a walk does not end");
  }

 private:
  const Dbf& dbf_;
  uint64_t steps_ = 0;
  uint64_t limit_ = 0;
};
}  // namespace

bool Table::Top() { return ToEnd(true); }
bool Table::Bottom() { return ToEnd(false); }

// The first (top) or last record in the selected order, deleted ones skipped
// in record order; a descending tag walks its entries the other way.
bool Table::ToEnd(bool top) {
  if (selected_ < 0) {
    const uint32_t count = dbf_->RecordCount();
    for (uint32_t i = 0; i < count; ++i)
      if (LoadRecord(top ? i + 1 : count - i) && !Dbf::IsDeleted(rec_)) return true;
    Unposition();
    return false;
  }
  SyncTags();
  Walker& w = CurrentWalker();
  const bool desc = tags_[static_cast<size_t>(selected_)].header.descending;
  const bool ok = top != desc ? w.First() : w.Last();
  return Settle(w, ok, top);
}

// From the walker's entry on, in the direction of travel, the first entry
// whose record is not marked deleted becomes current; with a key, only while
// the entries still match it.
bool Table::Settle(Walker& w, bool ok, bool forward, const std::string* key) {
  const Tag& t = tags_[static_cast<size_t>(selected_)];
  bool stored = StoredForward(forward, t.header.descending);
  StepGuard guard(*dbf_);
  while (ok) {
    guard.Step();
    if (key && !KeyMatches(w.Key(), *key)) break;
    if (!LoadRecord(w.Recno())) {
      // Another program may have indexed a record it has not finished
      // writing: not there yet.
      if (!dbf_->MayBeAppending(w.Recno()))
        throw XBaseError("The index of " + dbf_->Path() + " names record " + std::to_string(w.Recno()) +
                         ", which the table does not hold");
    } else if (!Dbf::IsDeleted(rec_)) {
      curKey_ = w.Key();
      WalkerOnCurrent();
      return true;
    }
    ok = stored ? w.Next() : w.Prev();
  }
  Unposition();
  return false;
}

bool Table::SyncWalker(Walker& w, bool& exact) {
  return w.Locate(CurrentKey(), recno_, exact);
}

const std::string& Table::CurrentKey() {
  if (!curKey_) curKey_ = KeyFor(tags_[static_cast<size_t>(selected_)], rec_, recno_);
  return *curKey_;
}

bool Table::StepTag(bool forward) {
  SyncTags();
  Walker& w = CurrentWalker();
  bool stored = StoredForward(forward, tags_[static_cast<size_t>(selected_)].header.descending);
  bool ok;
  if (walkerState_ == WalkerState::Synced) {
    ok = stored ? w.Next() : w.Prev();
  } else {
    bool exact = false;
    bool found = SyncWalker(w, exact);
    if (stored) ok = found && (!exact || w.Next());
    else ok = found ? w.Prev() : w.Last();
  }
  return Settle(w, ok, forward);
}

bool Table::Skip(long n) {
  if (recno_ == 0) return false;
  if (selected_ < 0) {
    uint32_t count = dbf_->RecordCount();
    long step = n >= 0 ? 1 : -1;
    for (long k = 0; k != n; k += step) {
      uint32_t r = recno_;
      for (;;) {
        if (step > 0 ? r >= count : r <= 1) {
          Unposition();
          return false;
        }
        r = static_cast<uint32_t>(static_cast<long>(r) + step);
        if (!LoadRecord(r)) {
          Unposition();
          return false;
        }
        if (!Dbf::IsDeleted(rec_)) break;
      }
    }
    return true;
  }
  for (long k = 0; k != n; k += n >= 0 ? 1 : -1)
    if (!StepTag(n > 0)) return false;
  return true;
}

bool Table::Go(uint32_t recno) {
  ResetWalker(WalkerReset::Moved);
  if (recno == 0 || recno > dbf_->RecordCount() || !LoadRecord(recno)) {
    Unposition();
    return false;
  }
  return true;
}

std::string Table::TextSeekKey(std::string_view key) const {
  const Tag& t = tags_[static_cast<size_t>(selected_)];
  char type = t.expr.Type();
  if (type == 'N') {
    std::string s(key);
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    return EncodeNumericKey(std::isfinite(v) ? v : 0);
  }
  if (type == 'D') return EncodeNumericKey(static_cast<double>(DateTextToJulian(key)));
  return std::string(key.substr(0, static_cast<size_t>(t.header.keyLen)));
}

std::string Table::NumericSeekKey(double v) const {
  const Tag& t = tags_[static_cast<size_t>(selected_)];
  if (t.expr.Type() != 'N' && t.expr.Type() != 'D')
    throw XBaseError("Tag " + t.header.name + " has character keys; a number cannot be sought in it");
  return EncodeNumericKey(v);
}

bool Table::SeekKey(const std::string& key) {
  SyncTags();
  Walker& w = CurrentWalker();
  const Tag& t = tags_[static_cast<size_t>(selected_)];
  bool ok;
  if (!t.header.descending) {
    ok = w.Seek(key);
  } else {
    // The first in tag order is the last stored entry that matches.
    std::string succ = key;
    while (!succ.empty() && static_cast<unsigned char>(succ.back()) == 0xFF) succ.pop_back();
    if (succ.empty()) {
      ok = w.Last();
    } else {
      succ.back() = static_cast<char>(static_cast<unsigned char>(succ.back()) + 1);
      ok = w.Seek(succ) ? w.Prev() : w.Last();
    }
  }
  return Settle(w, ok, true, &key);
}

bool Table::Seek(std::string_view key) {
  if (selected_ < 0) throw XBaseError("No tag is selected on " + dbf_->Path());
  return SeekKey(TextSeekKey(key));
}

bool Table::SeekDouble(double key) {
  if (selected_ < 0) throw XBaseError("No tag is selected on " + dbf_->Path());
  return SeekKey(NumericSeekKey(key));
}

bool Table::SeekNext(std::string_view key) {
  if (selected_ < 0) throw XBaseError("No tag is selected on " + dbf_->Path());
  std::string k = TextSeekKey(key);
  if (recno_ != 0) {
    if (KeyMatches(CurrentKey(), k)) {
      if (!StepTag(true)) return false;
      if (KeyMatches(CurrentKey(), k)) return true;
      Unposition();
      return false;
    }
  }
  return SeekKey(k);
}

bool Table::SeekNextDouble(double key) {
  if (selected_ < 0) throw XBaseError("No tag is selected on " + dbf_->Path());
  std::string k = NumericSeekKey(key);
  if (recno_ != 0) {
    if (CurrentKey() == k) {
      if (!StepTag(true)) return false;
      if (CurrentKey() == k) return true;
      Unposition();
      return false;
    }
  }
  return SeekKey(k);
}

// Above this many bytes of records a read in order is a plain walk rather
// than holding the table in memory.
constexpr uint64_t kReadInOrderLimit = uint64_t{32} << 20;

// The walk's own steps, in another order: first every entry of the tag in
// the walk's order (the index decides the order, the filter and which record
// of a unique key shows, exactly as for a walk), then the records in one
// read, then the entries' records with those marked deleted left out. A
// concurrent writer's change is seen or not as by a walk that runs through
// without pause.
void Table::ReadInOrder(const std::function<void(uint32_t, const std::string&)>& fn) {
  Unposition();
  const size_t len = static_cast<size_t>(dbf_->RecordLength());
  if (static_cast<uint64_t>(dbf_->RecordCount()) * len > kReadInOrderLimit) {
    for (bool ok = Top(); ok; ok = Skip(1)) fn(recno_, rec_);
    return;
  }
  std::vector<uint32_t> recnos;
  if (selected_ >= 0) {
    SyncTags();
    const bool desc = tags_[static_cast<size_t>(selected_)].header.descending;
    std::unique_ptr<Walker> w = MakeWalker(selected_);
    StepGuard guard(*dbf_);
    for (bool ok = desc ? w->Last() : w->First(); ok; ok = desc ? w->Prev() : w->Next()) {
      guard.Step();
      recnos.push_back(w->Recno());
    }
  }
  const uint32_t count = dbf_->RecordCount();
  std::string records;
  if (count > 0 && !dbf_->ReadRecords(1, count, records))
    throw XBaseError("Cannot read the records of " + dbf_->Path());
  std::string rec;
  auto give = [&](uint32_t r) {
    rec.assign(records, (r - 1) * len, len);
    if (!Dbf::IsDeleted(rec)) fn(r, rec);
  };
  if (selected_ < 0) {
    for (uint32_t r = 1; r <= count; ++r) give(r);
    return;
  }
  for (uint32_t r : recnos) {
    if (r >= 1 && r <= count) {
      give(r);
    } else if (dbf_->ReadRecord(r, rec)) {
      // Appended since the count was read (or written ahead of it).
      if (!Dbf::IsDeleted(rec)) fn(r, rec);
    } else if (!dbf_->MayBeAppending(r)) {
      // As in a walk: a record another program is still appending is not
      // there yet; one that cannot be is damage.
      throw XBaseError("The index of " + dbf_->Path() + " names record " + std::to_string(r) +
                       ", which the table does not hold");
    }
  }
}

std::vector<CdxEntry> Table::TagEntries(int tag) {
  const Tag& t = tags_.at(static_cast<size_t>(tag));
  std::vector<CdxEntry> out;
  SyncTags();
  auto w = MakeWalker(tag);
  // A sound tag holds each record at most once; more means a damaged index.
  uint64_t limit = static_cast<uint64_t>(dbf_->RecordCount()) + 1;
  bool ok = t.header.descending ? w->Last() : w->First();
  while (ok) {
    out.push_back(CdxEntry{w->Key(), w->Recno()});
    if (out.size() > limit) limit = static_cast<uint64_t>(dbf_->RecordCount()) + Dbf::kAppendsInFlight + 1;
    if (out.size() > limit) throw XBaseError("The index of " + dbf_->Path() + " is damaged: tag " +
                                             t.header.name + " holds more entries than the table has records");
    ok = t.header.descending ? w->Prev() : w->Next();
  }
  return out;
}

}  // namespace xbase
