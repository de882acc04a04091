#pragma once
// A table: its DBF file with the structural compound index opened with it,
// navigation in record order or in the order of a tag (skipping records marked
// deleted), key seeks, writes that keep every tag right, tag adds and the
// whole-table lock. Paths are native; a table is named by folder + "/" + name
// without extension, and its files are found regardless of letter case.
// Every failure raises XBaseError.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/cdx.h"
#include "platform/xbase/dbf.h"
#include "platform/xbase/expr.h"

namespace xbase {

struct TagSpec {
  std::string name;
  std::string expr;
  std::string filter;
  bool unique = false;
  bool descending = false;
};

// The file of base + ext in base's folder whose name matches regardless of
// letter case ("" when there is none); an exact match is preferred.
std::string FindFileNoCase(const std::string& base, const std::string& ext);

// Order of a tag's entries: by key bytes, then record number. Also compares
// against a bare key prefix (KeyPrefix), consistently with that order.
struct KeyPrefix {
  const std::string* key;
};
struct EntryOrder {
  using is_transparent = void;
  bool operator()(const CdxEntry& a, const CdxEntry& b) const {
    int c = a.key.compare(b.key);
    return c < 0 || (c == 0 && a.recno < b.recno);
  }
  bool operator()(const CdxEntry& a, KeyPrefix p) const { return a.key.compare(0, p.key->size(), *p.key) < 0; }
  bool operator()(KeyPrefix p, const CdxEntry& a) const { return a.key.compare(0, p.key->size(), *p.key) > 0; }
};
using EntrySet = std::set<CdxEntry, EntryOrder>;

class Table {
 public:
  static std::unique_ptr<Table> Open(const std::string& basePath, bool readOnly = false);
  // Creates folder/name.dbf (and name.cdx when tags are given) and opens it.
  // Fails when a table of that name exists.
  static std::unique_ptr<Table> Create(const std::string& basePath, const std::vector<DbfFieldDef>& fields,
                                       const std::vector<TagSpec>& tags);
  static bool Exists(const std::string& basePath);

  ~Table();  // flushes (errors are lost: call Flush first to see them), unlocks
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const Dbf& Data() const { return *dbf_; }
  uint32_t RecordCount() const { return dbf_->RecordCount(); }

  // Tags
  int TagCount() const { return static_cast<int>(tags_.size()); }
  const CdxTagHeader& TagHeader(int tag) const { return tags_.at(static_cast<size_t>(tag)).header; }
  char TagKeyType(int tag) const { return tags_.at(static_cast<size_t>(tag)).expr.Type(); }
  int FindTag(std::string_view name) const;  // -1 if none
  void SelectTag(int tag);                   // -1: record order
  int SelectedTag() const { return selected_; }
  // Adds tags; a tag whose name exists already is kept as it is. The index
  // file is created (and the table's index flag set) when there was none.
  void AddTags(const std::vector<TagSpec>& specs);

  // Navigation; each returns true when a record is current afterwards.
  bool Top();
  bool Bottom();
  bool Skip(long n);
  bool Go(uint32_t recno);  // any record, deleted or not
  // On the first record (in tag order) whose key begins with key.
  bool Seek(std::string_view key);
  bool SeekDouble(double key);
  // On the next record with the same key, or as Seek when the current
  // record's key is not that key.
  bool SeekNext(std::string_view key);
  bool SeekNextDouble(double key);
  // Every record not marked deleted, in the selected order, exactly as Top
  // and Skip(1) give them, but read from the data file front to back in
  // large blocks rather than one read per record: fn(recno, record bytes).
  // fn must not move the table; no record is current afterwards.
  void ReadInOrder(const std::function<void(uint32_t, const std::string&)>& fn);

  uint32_t Recno() const { return recno_; }
  bool Deleted() const { return recno_ != 0 && Dbf::IsDeleted(rec_); }
  const std::string& Record() const { return rec_; }
  std::string FieldText(int field) const;
  double FieldNumber(int field) const;

  // Writes
  void Replace(int field, std::string_view text);
  void AppendBlank();
  void Delete();
  void Pack();
  // Removes the given records and every record marked deleted in one step:
  // when it fails, none of them is gone.
  void Remove(std::vector<uint32_t> recnos);
  void Zap(uint32_t first, uint32_t last);
  void Flush();

  // Whole-table lock; false (without waiting) when another holds it.
  bool LockFile();
  void Unlock();
  bool Locked() const { return lock_ == LockState::Locked; }

  // Every entry of a tag in tag order (descending walked backwards, unique
  // keys once), records marked deleted included; for checks and dumps.
  std::vector<CdxEntry> TagEntries(int tag);

 private:
  struct Tag {
    CdxTagHeader header;
    Expr expr;
    std::optional<Expr> filter;
    char pad = ' ';
    int fileIndex = -1;              // in the open index file
    EntrySet entries;                // when loaded: every (key, recno)
  };
  class Walker;
  class CursorWalker;
  class VectorWalker;

  // Where the tags' entries come from.
  enum class IndexState {
    NotLoaded,  // read from the index file as needed
    Loaded,     // held in memory, as the index file has them
    Dirty,      // held in memory, changed since the index file was written
    Stale,      // neither memory nor the index file is to be trusted: rebuilt from the records before use
  };
  // The table header's mark that an index change is under way.
  enum class PendingMark { Clear, Set };
  // The header's record count and date.
  enum class HeaderState { Written, Changed };
  enum class LockState { Unlocked, Locked };
  // The selected tag's walker against the current record.
  enum class WalkerState {
    None,       // none (or what it walked is gone)
    NeedsSeek,  // made, but not on the current record's entry
    Synced,     // on the current record's entry
  };

  // Transitions; each checks the state it leaves (see table_state.cpp).
  void IndexLoaded();     // NotLoaded -> Loaded
  void IndexChanged();    // Loaded, Dirty -> Dirty
  void IndexRebuilt();    // Loaded, Dirty, Stale -> Dirty, from the records
  void IndexWritten();    // Dirty -> Loaded
  void IndexUnloaded();   // Loaded -> NotLoaded
  void IndexUntrusted();  // any -> Stale
  void PendingSet();      // Clear -> Set
  void PendingCleared();  // Set -> Clear
  void HeaderChanged();   // any -> Changed
  void HeaderWritten();   // Changed -> Written
  void LockTaken();       // Unlocked -> Locked
  void LockReleased();    // Locked -> Unlocked
  void WalkerMade(std::unique_ptr<Walker> w);  // None -> NeedsSeek
  void WalkerOnCurrent();                      // NeedsSeek, Synced -> Synced
  // The one reset of the walker: what it walks is going (Dropped: any ->
  // None), or the current record changed without it (Moved: Synced ->
  // NeedsSeek, and the current key is unknown).
  enum class WalkerReset { Moved, Dropped };
  void ResetWalker(WalkerReset how);
  bool InMemory() const { return index_ == IndexState::Loaded || index_ == IndexState::Dirty; }

  Table() = default;
  void OpenIndex();
  void OpenIndexRecovering();
  void RemoveWhere(const std::function<bool(uint32_t, const std::string&)>& drop);
  void UseTagDefinitions(const std::vector<CdxTagHeader>& defs);
  void RecoverRemove();
  void ReleaseLock();  // without flushing
  Tag MakeTag(const CdxTagHeader& h) const;
  bool InTag(const Tag& t, const EvalContext& ctx) const;
  std::string KeyFor(const Tag& t, const std::string& rec, uint32_t recno) const;
  void CheckIndexWritable() const;
  void EnsureLoaded();
  void LoadEntries();
  bool AnyTagUsesDeleted() const;
  const std::string& CurrentKey();
  void BuildEntries(Tag& t, uint32_t count);
  void CatchUp();
  void UpdateKeys(uint32_t recno, const std::string* oldRec, const std::string* newRec);
  void WriteIndex();
  void SyncTags();
  void MarkIndexPending();
  void ClearIndexPending();
  void Invalidate();
  std::unique_ptr<Walker> MakeWalker(int tag);
  Walker& CurrentWalker();
  bool SyncWalker(Walker& w, bool& exact);
  bool LoadRecord(uint32_t recno);
  bool Settle(Walker& w, bool ok, bool forward, const std::string* key = nullptr);
  bool ToEnd(bool top);
  void RewriteCurrent(std::string newRec, bool keysMayChange);
  bool StepTag(bool forward);
  bool SeekKey(const std::string& key);
  std::string NumericSeekKey(double v) const;
  std::string TextSeekKey(std::string_view key) const;
  bool KeyMatches(const std::string& entryKey, const std::string& key) const;
  void Unposition();

  std::unique_ptr<Dbf> dbf_;
  std::string cdxPath_;  // where the index is or will be
  std::unique_ptr<CdxFile> cdx_;
  uint32_t counter_ = 0;
  std::vector<Tag> tags_;
  int selected_ = -1;
  IndexState index_ = IndexState::NotLoaded;
  uint32_t indexedCount_ = 0;  // records the in-memory tags cover
  PendingMark pending_ = PendingMark::Clear;
  HeaderState header_ = HeaderState::Written;
  LockState lock_ = LockState::Unlocked;

  uint32_t recno_ = 0;
  std::string rec_;
  // Stored key of the current record in the selected tag, once known.
  std::optional<std::string> curKey_;
  std::unique_ptr<Walker> walker_;
  WalkerState walkerState_ = WalkerState::None;
};

}  // namespace xbase
