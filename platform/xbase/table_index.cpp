// The tags' entries in memory while the table changes, writing them to the
// index file, and the walkers over a tag's order.
#include <algorithm>
#include <cstring>

#include "platform/os.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

using namespace table_detail;

namespace {

// Keys gathered flat (keyLen bytes each, in record order), sorted through a
// permutation: far cheaper than sorting strings in place.
struct KeyBatch {
  int keyLen = 0;
  std::string flat;
  std::vector<uint32_t> recnos;
  void Add(const std::string& key, uint32_t recno) {
    flat.append(key, 0, static_cast<size_t>(keyLen));
    recnos.push_back(recno);
  }
  EntrySet Sorted() const {
    std::vector<uint32_t> order(recnos.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const char* base = flat.data();
    const size_t len = static_cast<size_t>(keyLen);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      int c = std::memcmp(base + a * len, base + b * len, len);
      return c < 0 || (c == 0 && recnos[a] < recnos[b]);
    });
    EntrySet out;
    for (uint32_t i : order) out.emplace_hint(out.end(), CdxEntry{std::string(base + i * len, len), recnos[i]});
    return out;
  }
};

template <class F>
void ForEachRecord(const Dbf& dbf, uint32_t from, uint32_t to, F f) {
  if (from > to) return;
  const uint32_t len = static_cast<uint32_t>(dbf.RecordLength());
  const uint32_t chunk = std::max<uint32_t>(1, (1u << 20) / len);
  std::string buf, rec;
  for (uint32_t r = from; r <= to;) {
    uint32_t n = std::min(chunk, to - r + 1);
    if (!dbf.ReadRecords(r, n, buf)) throw XBaseError("Cannot read the records of " + dbf.Path());
    for (uint32_t i = 0; i < n; ++i) {
      rec.assign(buf, static_cast<size_t>(i) * len, len);
      f(r + i, rec);
    }
    r += n;
    if (r == 0) break;  // wrapped
  }
}

}  // namespace

class Table::CursorWalker : public Table::Walker {
 public:
  CursorWalker(std::unique_ptr<CdxCursor> c, const Dbf& dbf) : c_(std::move(c)), dbf_(dbf) {}
  bool First() override { return c_->First(); }
  bool Last() override { return c_->Last(); }
  bool Next() override { return c_->Next(); }
  bool Prev() override { return c_->Prev(); }
  bool Seek(const std::string& key) override { return c_->Seek(key); }
  bool Locate(const std::string& key, uint32_t recno, bool& exact) override {
    exact = false;
    if (!c_->Seek(key)) return false;
    uint64_t run = 0, maxRun = 0;
    while (c_->Key() == key && c_->Recno() < recno) {
      // Read late and again: another program may be appending.
      if (++run > maxRun && (maxRun = static_cast<uint64_t>(dbf_.RecordCount()) + Dbf::kAppendsInFlight + 2) < run)
        throw XBaseError("The index is damaged: a run of equal keys does not end");
      if (!c_->Next()) return false;
    }
    exact = c_->Key() == key && c_->Recno() == recno;
    return true;
  }
  const std::string& Key() const override { return c_->Key(); }
  uint32_t Recno() const override { return c_->Recno(); }

 private:
  std::unique_ptr<CdxCursor> c_;
  const Dbf& dbf_;
};

// In-memory entries; a unique tag holds every record's entry but shows only
// the first of each key.
class Table::VectorWalker : public Table::Walker {
 public:
  VectorWalker(const EntrySet* v, bool unique) : v_(v), unique_(unique) {}
  bool First() override { return Forward(v_->begin()); }
  bool Last() override {
    if (v_->empty()) return valid_ = false;
    return Backward(std::prev(v_->end()));
  }
  bool Next() override { return valid_ && Forward(std::next(it_)); }
  bool Prev() override {
    if (!valid_ || it_ == v_->begin()) return valid_ = false;
    return Backward(std::prev(it_));
  }
  bool Seek(const std::string& key) override { return Forward(v_->lower_bound(KeyPrefix{&key})); }
  bool Locate(const std::string& key, uint32_t recno, bool& exact) override {
    bool ok = Forward(v_->lower_bound(CdxEntry{key, recno}));
    exact = ok && it_->key == key && it_->recno == recno;
    return ok;
  }
  const std::string& Key() const override { return it_->key; }
  uint32_t Recno() const override { return it_->recno; }

 private:
  using It = EntrySet::const_iterator;
  bool Visible(It j) const { return !unique_ || j == v_->begin() || std::prev(j)->key != j->key; }
  bool Forward(It j) {
    while (j != v_->end() && !Visible(j)) ++j;
    valid_ = j != v_->end();
    if (valid_) it_ = j;
    return valid_;
  }
  bool Backward(It j) {
    for (;;) {
      if (Visible(j)) {
        it_ = j;
        return valid_ = true;
      }
      if (j == v_->begin()) return valid_ = false;
      --j;
    }
  }
  const EntrySet* v_;
  bool unique_;
  It it_;
  bool valid_ = false;
};

// ---- keys in memory ------------------------------------------------------

bool Table::InTag(const Tag& t, const EvalContext& ctx) const { return !t.filter || t.filter->IsTrue(ctx); }

std::string Table::KeyFor(const Tag& t, const std::string& rec, uint32_t recno) const {
  EvalContext ctx{dbf_.get(), &rec, recno};
  return t.expr.Key(ctx, t.header.keyLen);
}

void Table::CheckIndexWritable() const {
  for (const auto& t : tags_)
    if (!t.header.machineCollation)
      throw XBaseError("Tag " + t.header.name + " of " + dbf_->Path() + " uses the collation \"" +
                       t.header.collation + "\"; this table cannot be changed");
}

void Table::BuildEntries(Tag& t, uint32_t count) {
  KeyBatch batch;
  batch.keyLen = t.header.keyLen;
  batch.flat.reserve(static_cast<size_t>(count) * static_cast<size_t>(batch.keyLen));
  batch.recnos.reserve(count);
  ForEachRecord(*dbf_, 1, count, [&](uint32_t r, const std::string& rec) {
    EvalContext ctx{dbf_.get(), &rec, r};
    if (InTag(t, ctx)) batch.Add(t.expr.Key(ctx, t.header.keyLen), r);
  });
  t.entries = batch.Sorted();
}

bool Table::AnyTagUsesDeleted() const {
  for (const auto& t : tags_)
    if (t.expr.UsesDeleted() || (t.filter && t.filter->UsesDeleted())) return true;
  return false;
}

// Before a write: the tags are held in memory (built from the records, or
// rebuilt when they cannot be trusted).
void Table::EnsureLoaded() {
  if (tags_.empty()) return;
  if (index_ == IndexState::Stale) {
    SyncTags();
  } else if (index_ == IndexState::NotLoaded) {
    LoadEntries();
    IndexLoaded();
  }
}

// Every tag's entries from the records as they are now.
void Table::LoadEntries() {
  CheckIndexWritable();
  uint32_t count = dbf_->RecordCount();
  std::vector<KeyBatch> batches(tags_.size());
  for (size_t i = 0; i < tags_.size(); ++i) {
    batches[i].keyLen = tags_[i].header.keyLen;
    batches[i].flat.reserve(static_cast<size_t>(count) * static_cast<size_t>(batches[i].keyLen));
    batches[i].recnos.reserve(count);
  }
  ForEachRecord(*dbf_, 1, count, [&](uint32_t r, const std::string& rec) {
    EvalContext ctx{dbf_.get(), &rec, r};
    for (size_t i = 0; i < tags_.size(); ++i)
      if (InTag(tags_[i], ctx)) batches[i].Add(tags_[i].expr.Key(ctx, tags_[i].header.keyLen), r);
  });
  for (size_t i = 0; i < tags_.size(); ++i) {
    tags_[i].entries = batches[i].Sorted();
    std::vector<uint32_t>().swap(batches[i].recnos);
    std::string().swap(batches[i].flat);
  }
  indexedCount_ = count;
}

// Before the tags are used: rebuilt when they cannot be trusted, else caught
// up with records appended since they were loaded.
void Table::SyncTags() {
  if (index_ == IndexState::Stale) {
    LoadEntries();
    IndexRebuilt();
  } else if (InMemory()) {
    CatchUp();
  }
}

// The header byte for an incomplete transaction marks a table whose index
// file may not match its records; it is set before any write that changes
// keys and cleared once the index file is written whole.
void Table::MarkIndexPending() {
  if (tags_.empty() || pending_ == PendingMark::Set || dbf_->ReadOnly()) return;
  const unsigned char on = 1;
  if (!dbf_->Handle().WriteAt(kPendingFlagOffset, &on, 1))
    throw XBaseError("Cannot write " + dbf_->Path() + ": " + plat::os::LastError().text);
  PendingSet();
}

void Table::ClearIndexPending() {
  if (pending_ == PendingMark::Clear || dbf_->ReadOnly()) return;
  const unsigned char off = 0;
  if (!dbf_->Handle().WriteAt(kPendingFlagOffset, &off, 1))
    throw XBaseError("Cannot write " + dbf_->Path() + ": " + plat::os::LastError().text);
  PendingCleared();
}

// After a failed pack or zap the file may hold anything between the old and
// the new records: nothing held in memory is kept, and the tags are rebuilt
// from what the file holds before they are used or written.
void Table::Invalidate() {
  Unposition();
  if (!tags_.empty()) IndexUntrusted();
  HeaderChanged();
}

// Records another program appended since the tags were loaded join them.
void Table::CatchUp() {
  uint32_t count = dbf_->RecordCount();
  if (count == indexedCount_) return;
  if (count < indexedCount_) {
    LoadEntries();
    IndexRebuilt();
    return;
  }
  ForEachRecord(*dbf_, indexedCount_ + 1, count,
                [&](uint32_t r, const std::string& rec) { UpdateKeys(r, nullptr, &rec); });
  indexedCount_ = count;
  IndexChanged();
}

void Table::UpdateKeys(uint32_t recno, const std::string* oldRec, const std::string* newRec) {
  for (auto& t : tags_) {
    bool oldIn = false, newIn = false;
    std::string oldKey, newKey;
    if (oldRec) {
      EvalContext ctx{dbf_.get(), oldRec, recno};
      oldIn = InTag(t, ctx);
      if (oldIn) oldKey = t.expr.Key(ctx, t.header.keyLen);
    }
    if (newRec) {
      EvalContext ctx{dbf_.get(), newRec, recno};
      newIn = InTag(t, ctx);
      if (newIn) newKey = t.expr.Key(ctx, t.header.keyLen);
    }
    if (oldIn == newIn && oldKey == newKey) continue;
    if (oldIn) t.entries.erase(CdxEntry{std::move(oldKey), recno});
    if (newIn) t.entries.insert(CdxEntry{std::move(newKey), recno});
  }
}

void Table::WriteIndex() {
  std::vector<CdxTagData> data;
  data.reserve(tags_.size());
  for (const auto& t : tags_) {
    CdxTagData d;
    d.header = t.header;
    d.pad = t.pad;
    d.entries.reserve(t.entries.size());
    const std::string* last = nullptr;
    for (const auto& e : t.entries) {
      if (!t.header.unique || !last || *last != e.key) d.entries.push_back(e);
      last = &e.key;
    }
    data.push_back(std::move(d));
  }
  ResetWalker(WalkerReset::Dropped);  // it may read the index file
  cdx_.reset();
  auto& os = plat::os::Os();
  plat::os::FileInfo info;
  if (!os.Stat(cdxPath_, true, &info) &&
      !os.Open(cdxPath_, plat::os::OpenRequest{.access = plat::os::Access::Write,
                                                .disposition = plat::os::Disposition::CreateOrOpen}))
    throw XBaseError("Cannot create " + cdxPath_ + ": " + plat::os::LastError().text);
  std::vector<CdxTagHeader> defs;
  for (const auto& t : tags_) defs.push_back(t.header);
  const std::string tagsPath = TagsPathFor(cdxPath_);
  SaveTagDefinitions(tagsPath, defs);
  WriteCdx(cdxPath_, data, counter_ + 1);
  // Left behind it does no harm: it is read only when the index is not.
  os.Remove(tagsPath);
  cdx_ = CdxFile::Open(cdxPath_);
  counter_ = cdx_->ChangeCounter();
  for (auto& t : tags_) {
    t.fileIndex = cdx_->FindTag(t.header.name);
    if (t.fileIndex < 0) throw XBaseError("Tag " + t.header.name + " is missing from " + cdxPath_ + " after writing it");
    cdx_->SetPadByte(t.fileIndex, t.pad);
  }
}

void Table::AddTags(const std::vector<TagSpec>& specs) {
  std::vector<Tag> fresh;
  for (const auto& s : specs) {
    std::string name = Upper(s.name);
    CheckTagName(name);
    if (FindTag(name) >= 0) continue;
    bool dup = false;
    for (const auto& f : fresh) dup = dup || f.header.name == name;
    if (dup) continue;
    CdxTagHeader h;
    h.name = name;
    h.expr = s.expr;
    h.filter = s.filter;
    h.unique = s.unique;
    h.descending = s.descending;
    Expr probe = Expr::Compile(s.expr, *dbf_);
    h.keyLen = probe.KeyLength();
    if (h.keyLen < 1 || h.keyLen > 240)
      throw XBaseError("The key of tag " + name + " would be " + std::to_string(h.keyLen) +
                       " bytes long; keys hold 1 to 240");
    fresh.push_back(MakeTag(h));
  }
  if (fresh.empty()) return;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  SyncTags();
  EnsureLoaded();
  uint32_t count = InMemory() ? indexedCount_ : dbf_->RecordCount();
  ResetWalker(WalkerReset::Dropped);  // tags_ grows: what it walks may move
  for (auto& t : fresh) {
    BuildEntries(t, count);
    tags_.push_back(std::move(t));
  }
  if (index_ == IndexState::NotLoaded) {  // there were no tags
    indexedCount_ = count;
    IndexLoaded();
  }
  IndexChanged();
  if (dbf_->IndexFlag()) MarkIndexPending();
  WriteIndex();
  IndexWritten();
  ClearIndexPending();
  if (!dbf_->IndexFlag()) dbf_->SetIndexFlag(true);
  // Back to reading the file.
  IndexUnloaded();
}

std::unique_ptr<Table::Walker> Table::MakeWalker(int tag) {
  if (index_ == IndexState::Stale) SyncTags();
  Tag& t = tags_.at(static_cast<size_t>(tag));
  if (InMemory()) return std::make_unique<VectorWalker>(&t.entries, t.header.unique);
  if (!cdx_) throw XBaseError("The index of " + dbf_->Path() + " is not open");
  return std::make_unique<CursorWalker>(cdx_->OpenCursor(t.fileIndex), *dbf_);
}

Table::Walker& Table::CurrentWalker() {
  if (selected_ < 0) throw XBaseError("No tag is selected on " + dbf_->Path());
  if (walkerState_ == WalkerState::None) WalkerMade(MakeWalker(selected_));
  return *walker_;
}

}  // namespace xbase
