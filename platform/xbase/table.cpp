#include "platform/xbase/table.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "platform/xbase/error.h"
#include "platform/xbase/io.h"
#include "platform/xbase/undo.h"
#include "platform/fault.h"

namespace xbase {

namespace {

// Whether another open of the table holds its lock (also on a read-only file).
bool OtherHoldsLock(plat::os::File& file) {
  bool held = false;
  return !file.OthersHold(plat::os::kTableLockStart, plat::os::kTableLockLength, &held) || held;
}

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

constexpr off_t kPendingFlagOffset = 14;

std::string Stem(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

void CheckTagName(const std::string& name) {
  bool ok = !name.empty() && name.size() <= 10 && std::isalpha(static_cast<unsigned char>(name[0]));
  for (char c : name) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!ok) throw XBaseError("\"" + name + "\" is not a valid tag name (1 to 10 letters, digits or _)");
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The tag definitions are kept beside the index while it is rewritten in
// place: a write cut short can leave a header page that no longer finds the
// tags, and then they are rebuilt from the records with these definitions.
// Layout: a first line, then per tag "unique descending len len len" and the
// name, expression and filter bytes on the next line, then "end".
constexpr char kTagsMagic[] = "tag definitions 1\n";

std::string TagsPathFor(const std::string& cdxPath) { return cdxPath + ".tags"; }

void SaveTagDefinitions(const std::string& path, const std::vector<CdxTagHeader>& headers) {
  std::string out = kTagsMagic;
  for (const auto& h : headers) {
    out += std::to_string(h.unique) + " " + std::to_string(h.descending) + " " + std::to_string(h.name.size()) + " " +
           std::to_string(h.expr.size()) + " " + std::to_string(h.filter.size()) + "\n" + h.name + h.expr + h.filter +
           "\n";
  }
  out += "end\n";
  // Through a new file and a rename: the one already there may be all that
  // describes an index left torn by an earlier write.
  // A name of its own: two programs may write the same table's index.
  std::string fresh = path + ".XXXXXX";
  const int fd = plat::FaultHit(plat::Op::Open) ? -1 : ::mkostemp(fresh.data(), O_CLOEXEC);
  if (fd < 0) throw XBaseError("Cannot create " + fresh + ": " + std::strerror(errno));
  ::fchmod(fd, 0644);
  // Durable, bytes and name, before the index is rewritten: it is what a
  // power cut in the middle of that rewrite leaves to rebuild from.
  bool ok = !plat::FaultHit(plat::Op::Write) && ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  if (ok && (plat::FaultHit(plat::Op::Flush) || ::fsync(fd) != 0)) ok = false;
  int err = errno;
  ::close(fd);
  if (ok && (plat::FaultHit(plat::Op::Rename) || ::rename(fresh.c_str(), path.c_str()) != 0)) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(fresh.c_str());
    throw XBaseError("Cannot write " + path + ": " + std::strerror(err));
  }
  io::SyncFolderOf(path);
}

// False when there is no whole definitions file.
bool LoadTagDefinitions(const std::string& path, std::vector<CdxTagHeader>& headers) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t got;
  while ((got = ::read(fd, buf, sizeof buf)) > 0 && text.size() < (1u << 20)) text.append(buf, static_cast<size_t>(got));
  ::close(fd);
  if (got < 0 || text.compare(0, sizeof kTagsMagic - 1, kTagsMagic) != 0) return false;
  size_t pos = sizeof kTagsMagic - 1;
  headers.clear();
  while (pos < text.size()) {
    if (text.compare(pos, std::string::npos, "end\n") == 0) return !headers.empty();
    const size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) return false;
    int unique = 0, descending = 0;
    size_t n = 0, e = 0, f = 0;
    if (std::sscanf(text.substr(pos, eol - pos).c_str(), "%d %d %zu %zu %zu", &unique, &descending, &n, &e, &f) != 5)
      return false;
    pos = eol + 1;
    if (n > 10 || e > 255 || f > 255 || pos + n + e + f + 1 > text.size() || text[pos + n + e + f] != '\n') return false;
    CdxTagHeader h;
    h.name = text.substr(pos, n);
    h.expr = text.substr(pos + n, e);
    h.filter = text.substr(pos + n + e, f);
    h.unique = unique != 0;
    h.descending = descending != 0;
    headers.push_back(std::move(h));
    pos += n + e + f + 1;
  }
  return false;
}

}  // namespace

std::string FindFileNoCase(const std::string& base, const std::string& ext) {
  size_t slash = base.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : base.substr(0, slash));
  std::string name = (slash == std::string::npos ? base : base.substr(slash + 1)) + ext;
  auto join = [&](const std::string& n) {
    return slash == std::string::npos ? n : (slash == 0 ? "/" + n : dir + "/" + n);
  };
  struct stat st {};
  if (::stat(join(name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return join(name);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string best;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) != 0) continue;
    if (::stat(join(e->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (best.empty() || best > e->d_name) best = e->d_name;
  }
  ::closedir(d);
  return best.empty() ? std::string() : join(best);
}

// ---- walkers over a tag's stored (ascending) order -----------------------

class Table::Walker {
 public:
  virtual ~Walker() = default;
  virtual bool First() = 0;
  virtual bool Last() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;
  // First entry whose key, on the length of key, is >= key.
  virtual bool Seek(const std::string& key) = 0;
  // First entry >= (key, recno); exact tells whether it is that entry.
  virtual bool Locate(const std::string& key, uint32_t recno, bool& exact) = 0;
  virtual const std::string& Key() const = 0;
  virtual uint32_t Recno() const = 0;
};

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

// ---- open, create ---------------------------------------------------------

Table::~Table() {
  try {
    Flush();
  } catch (...) {
  }
  if (locked_) ReleaseLock();
}

bool Table::Exists(const std::string& basePath) { return !FindFileNoCase(basePath, ".dbf").empty(); }

std::unique_ptr<Table> Table::Open(const std::string& basePath, bool readOnly) {
  std::string dbfPath = FindFileNoCase(basePath, ".dbf");
  if (dbfPath.empty()) throw XBaseError("The table " + basePath + " does not exist");
  std::unique_ptr<Table> t(new Table);
  t->dbf_ = Dbf::Open(dbfPath, readOnly);
  t->RecoverRemove();
  std::string stem = Stem(dbfPath);
  bool lowerExt = dbfPath.size() >= 4 && dbfPath.compare(dbfPath.size() - 4, 4, ".dbf") == 0;
  t->cdxPath_ = stem + (lowerExt ? ".cdx" : ".CDX");
  if (t->dbf_->IndexFlag()) {
    std::string cdx = FindFileNoCase(stem, ".cdx");
    if (cdx.empty()) throw XBaseError("The index file of " + dbfPath + " is missing");
    t->cdxPath_ = cdx;
    bool rebuild = false;
    try {
      t->OpenIndex();
    } catch (const XBaseBusy&) {
      throw;  // sound, only being changed by another program for too long
    } catch (const XBaseError&) {
      std::vector<CdxTagHeader> defs;
      if (!LoadTagDefinitions(TagsPathFor(cdx), defs)) throw;
      t->UseTagDefinitions(defs);
      rebuild = true;
    }
    // A change that did not reach the index file (failed write, killed
    // process): its tags are rebuilt from the records before any use.
    unsigned char flag = 0;
    size_t got = 0;
    if (!t->dbf_->Handle().ReadAt(kPendingFlagOffset, &flag, 1, &got) || got != 1)
      throw XBaseError("Cannot read " + dbfPath + ": " + plat::os::LastError().text);
    if ((flag != 0 || rebuild) && !t->tags_.empty()) {
      t->indexStale_ = true;
      t->pendingOnDisk_ = true;
    }
  }
  return t;
}

std::unique_ptr<Table> Table::Create(const std::string& basePath, const std::vector<DbfFieldDef>& fields,
                                     const std::vector<TagSpec>& tags) {
  if (Exists(basePath)) throw XBaseError("The table " + basePath + " exists already");
  std::string dbfPath = basePath + ".dbf";
  std::unique_ptr<Table> t(new Table);
  t->dbf_ = Dbf::Create(dbfPath, fields, false);
  t->cdxPath_ = basePath + ".cdx";
  try {
    if (!tags.empty()) t->AddTags(tags);
  } catch (...) {
    t.reset();
    if (!plat::FaultHit(plat::Op::Delete)) ::unlink(dbfPath.c_str());
    if (!plat::FaultHit(plat::Op::Delete)) ::unlink((basePath + ".cdx").c_str());
    if (!plat::FaultHit(plat::Op::Delete)) ::unlink((basePath + ".fpt").c_str());
    throw;
  }
  return t;
}

// A remove that another process (or an earlier run) left half done is
// undone before anything is read. Removes run under the table's lock, so a
// lock held by someone else means that one may be removing right now: the
// undo file is then left alone (and not even read, it may be in the making).
void Table::RecoverRemove() {
  const std::string undo = UndoPathFor(dbf_->Path());
  if (::access(undo.c_str(), F_OK) != 0) return;
  if (dbf_->ReadOnly()) {
    // A read-only handle cannot take the lock; it can see whether one is held.
    if (OtherHoldsLock(dbf_->Handle())) return;
    if (CheckUndo(undo) == UndoState::Ready)
      throw XBaseError("The table " + dbf_->Path() +
                       " was left half way through removing records; it is put right when opened with write access");
    return;
  }
  if (!LockFile()) return;
  try {
    dbf_->Restore();
  } catch (...) {
    ReleaseLock();
    throw;
  }
  ReleaseLock();
}

Table::Tag Table::MakeTag(const CdxTagHeader& h) const {
  Tag t{h, Expr::Compile(h.expr, *dbf_), std::nullopt, ' ', -1, {}};
  std::string where = "Tag " + h.name + " of " + dbf_->Path() + ": ";
  try {
    if (!h.filter.empty()) {
      t.filter = Expr::Compile(h.filter, *dbf_);
      if (t.filter->Type() != 'L') throw XBaseError("the filter \"" + h.filter + "\" is not a logical expression");
    }
  } catch (const XBaseError& e) {
    throw XBaseError(where + e.what());
  }
  char type = t.expr.Type();
  if ((type == 'N' || type == 'D') && h.keyLen != 8)
    throw XBaseError(where + "a numeric or date key must be 8 bytes long, not " + std::to_string(h.keyLen));
  if (h.keyLen < 1 || h.keyLen > 240) throw XBaseError(where + "impossible key length " + std::to_string(h.keyLen));
  t.pad = (type == 'N' || type == 'D') ? '\0' : ' ';
  return t;
}

void Table::OpenIndex() {
  cdx_ = CdxFile::Open(cdxPath_);
  counter_ = cdx_->ChangeCounter();
  tags_.clear();
  anyDeletedDep_ = false;
  const auto& headers = cdx_->Tags();
  for (size_t i = 0; i < headers.size(); ++i) {
    Tag t = [&] {
      try {
        return MakeTag(headers[i]);
      } catch (const XBaseError& e) {
        std::string what = e.what();
        if (what.rfind("Tag ", 0) == 0) throw;
        throw XBaseError("Tag " + headers[i].name + " of " + dbf_->Path() + ": " + what);
      }
    }();
    t.fileIndex = static_cast<int>(i);
    cdx_->SetPadByte(t.fileIndex, t.pad);
    anyDeletedDep_ = anyDeletedDep_ || t.expr.UsesDeleted() || (t.filter && t.filter->UsesDeleted());
    tags_.push_back(std::move(t));
  }
}

// Tags from saved definitions, for an index file that cannot be read; they
// are built from the records before use and the file is written anew.
void Table::UseTagDefinitions(const std::vector<CdxTagHeader>& defs) {
  cdx_.reset();
  tags_.clear();
  anyDeletedDep_ = false;
  // Keep counting changes from where the damaged file stands.
  unsigned char c[4] = {0, 0, 0, 0};
  const int fd = ::open(cdxPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    if (::pread(fd, c, 4, 8) != 4) std::memset(c, 0, 4);
    ::close(fd);
  }
  counter_ = (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
  for (CdxTagHeader h : defs) {
    h.name = Upper(h.name);
    CheckTagName(h.name);
    h.keyLen = Expr::Compile(h.expr, *dbf_).KeyLength();
    h.machineCollation = true;
    h.collation.clear();
    Tag t = MakeTag(h);
    anyDeletedDep_ = anyDeletedDep_ || t.expr.UsesDeleted() || (t.filter && t.filter->UsesDeleted());
    tags_.push_back(std::move(t));
  }
}

int Table::FindTag(std::string_view name) const {
  for (size_t i = 0; i < tags_.size(); ++i)
    if (tags_[i].header.name.size() == name.size() &&
        ::strncasecmp(tags_[i].header.name.data(), name.data(), name.size()) == 0)
      return static_cast<int>(i);
  return -1;
}

void Table::SelectTag(int tag) {
  if (tag < -1 || tag >= TagCount()) throw XBaseError("No such tag");
  selected_ = tag;
  walker_.reset();
  walkerSynced_ = false;
  keyKnown_ = false;
}

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

void Table::EnsureLoaded() {
  if (tags_.empty() || loaded_) return;
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
  loaded_ = true;
  walker_.reset();
  walkerSynced_ = false;
}

// Before the tags are used: rebuilt when they cannot be trusted, else caught
// up with records appended since they were loaded.
void Table::SyncTags() {
  if (indexStale_) {
    loaded_ = false;
    for (auto& t : tags_) t.entries.clear();
    EnsureLoaded();
    indexStale_ = false;
    indexDirty_ = true;
  } else if (loaded_) {
    CatchUp();
  }
}

// The header byte that dBase IV uses for an incomplete transaction marks a
// table whose index file may not match its records; it is set before any
// write that changes keys and cleared once the index file is written whole.
void Table::MarkIndexPending() {
  if (tags_.empty() || pendingOnDisk_ || dbf_->ReadOnly()) return;
  const unsigned char on = 1;
  if (!dbf_->Handle().WriteAt(kPendingFlagOffset, &on, 1))
    throw XBaseError("Cannot write " + dbf_->Path() + ": " + plat::os::LastError().text);
  pendingOnDisk_ = true;
}

void Table::ClearIndexPending() {
  if (!pendingOnDisk_ || dbf_->ReadOnly()) return;
  const unsigned char off = 0;
  if (!dbf_->Handle().WriteAt(kPendingFlagOffset, &off, 1))
    throw XBaseError("Cannot write " + dbf_->Path() + ": " + plat::os::LastError().text);
  pendingOnDisk_ = false;
}

// After a failed pack or zap the file may hold anything between the old and
// the new records: nothing held in memory is kept, and the tags are rebuilt
// from what the file holds before they are used or written.
void Table::Invalidate() {
  Unposition();
  loaded_ = false;
  for (auto& t : tags_) t.entries.clear();
  indexStale_ = !tags_.empty();
  dataDirty_ = true;
  walker_.reset();
  walkerSynced_ = false;
}

// Records another program appended since the tags were loaded join them.
void Table::CatchUp() {
  uint32_t count = dbf_->RecordCount();
  if (count == indexedCount_) return;
  if (count < indexedCount_) {
    loaded_ = false;
    EnsureLoaded();
    indexDirty_ = true;
    return;
  }
  ForEachRecord(*dbf_, indexedCount_ + 1, count,
                [&](uint32_t r, const std::string& rec) { UpdateKeys(r, nullptr, &rec); });
  indexedCount_ = count;
  indexDirty_ = true;
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
  walker_.reset();
  walkerSynced_ = false;
  cdx_.reset();
  if (::access(cdxPath_.c_str(), F_OK) != 0) {
    int fd = plat::FaultHit(plat::Op::Open) ? -1 : ::open(cdxPath_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) throw XBaseError("Cannot create " + cdxPath_ + ": " + std::strerror(errno));
    ::close(fd);
  }
  std::vector<CdxTagHeader> defs;
  for (const auto& t : tags_) defs.push_back(t.header);
  const std::string tagsPath = TagsPathFor(cdxPath_);
  SaveTagDefinitions(tagsPath, defs);
  WriteCdx(cdxPath_, data, counter_ + 1);
  // Left behind it does no harm: it is read only when the index is not.
  if (!plat::FaultHit(plat::Op::Delete)) ::unlink(tagsPath.c_str());
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
  uint32_t count = loaded_ ? indexedCount_ : dbf_->RecordCount();
  for (auto& t : fresh) {
    BuildEntries(t, count);
    anyDeletedDep_ = anyDeletedDep_ || t.expr.UsesDeleted() || (t.filter && t.filter->UsesDeleted());
    tags_.push_back(std::move(t));
  }
  if (!loaded_) {
    indexedCount_ = count;
    loaded_ = true;
  }
  walker_.reset();
  walkerSynced_ = false;
  indexDirty_ = true;
  if (dbf_->IndexFlag()) MarkIndexPending();
  WriteIndex();
  indexDirty_ = false;
  ClearIndexPending();
  if (!dbf_->IndexFlag()) dbf_->SetIndexFlag(true);
  // Back to reading the file.
  loaded_ = false;
  for (auto& t : tags_) t.entries.clear();
}

// ---- navigation ------------------------------------------------------------

void Table::Unposition() {
  recno_ = 0;
  rec_.clear();
  keyKnown_ = false;
  walkerSynced_ = false;
}

bool Table::LoadRecord(uint32_t recno) {
  if (!dbf_->ReadRecord(recno, rec_)) return false;
  recno_ = recno;
  return true;
}

std::unique_ptr<Table::Walker> Table::MakeWalker(int tag) {
  if (indexStale_) SyncTags();
  Tag& t = tags_.at(static_cast<size_t>(tag));
  if (loaded_) return std::make_unique<VectorWalker>(&t.entries, t.header.unique);
  if (!cdx_) throw XBaseError("The index of " + dbf_->Path() + " is not open");
  return std::make_unique<CursorWalker>(cdx_->OpenCursor(t.fileIndex), *dbf_);
}

Table::Walker& Table::CurrentWalker() {
  if (selected_ < 0) throw XBaseError("No tag is selected on " + dbf_->Path());
  if (!walker_) {
    walker_ = MakeWalker(selected_);
    walkerSynced_ = false;
  }
  return *walker_;
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

bool Table::Top() {
  if (selected_ < 0) {
    uint32_t count = dbf_->RecordCount();
    for (uint32_t r = 1; r <= count; ++r)
      if (LoadRecord(r) && !Dbf::IsDeleted(rec_)) return true;
    Unposition();
    return false;
  }
  SyncTags();
  Walker& w = CurrentWalker();
  bool desc = tags_[static_cast<size_t>(selected_)].header.descending;
  bool ok = desc ? w.Last() : w.First();
  return Settle(w, ok, true);
}

bool Table::Bottom() {
  if (selected_ < 0) {
    for (uint32_t r = dbf_->RecordCount(); r >= 1; --r)
      if (LoadRecord(r) && !Dbf::IsDeleted(rec_)) return true;
    Unposition();
    return false;
  }
  SyncTags();
  Walker& w = CurrentWalker();
  bool desc = tags_[static_cast<size_t>(selected_)].header.descending;
  bool ok = desc ? w.First() : w.Last();
  return Settle(w, ok, false);
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
      keyKnown_ = true;
      walkerSynced_ = true;
      return true;
    }
    ok = stored ? w.Next() : w.Prev();
  }
  Unposition();
  return false;
}

bool Table::SyncWalker(Walker& w, bool& exact) {
  const Tag& t = tags_[static_cast<size_t>(selected_)];
  if (!keyKnown_) {
    curKey_ = KeyFor(t, rec_, recno_);
    keyKnown_ = true;
  }
  return w.Locate(curKey_, recno_, exact);
}

bool Table::StepTag(bool forward) {
  SyncTags();
  Walker& w = CurrentWalker();
  bool stored = StoredForward(forward, tags_[static_cast<size_t>(selected_)].header.descending);
  bool ok;
  if (walkerSynced_) {
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
  keyKnown_ = false;
  walkerSynced_ = false;
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
    if (!keyKnown_) {
      curKey_ = KeyFor(tags_[static_cast<size_t>(selected_)], rec_, recno_);
      keyKnown_ = true;
    }
    if (KeyMatches(curKey_, k)) {
      if (!StepTag(true)) return false;
      if (KeyMatches(curKey_, k)) return true;
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
    if (!keyKnown_) {
      curKey_ = KeyFor(tags_[static_cast<size_t>(selected_)], rec_, recno_);
      keyKnown_ = true;
    }
    if (curKey_ == k) {
      if (!StepTag(true)) return false;
      if (curKey_ == k) return true;
      Unposition();
      return false;
    }
  }
  return SeekKey(k);
}

std::string Table::FieldText(int field) const {
  if (recno_ == 0) return {};
  return dbf_->FieldText(rec_, field);
}

double Table::FieldNumber(int field) const {
  if (recno_ == 0) return 0;
  return dbf_->FieldNumber(rec_, field);
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
  const bool keys = loaded_ && keysMayChange;
  if (keys) MarkIndexPending();
  dbf_->WriteRecord(recno_, newRec);
  if (keys) {
    UpdateKeys(recno_, &rec_, &newRec);
    indexDirty_ = true;
  }
  rec_ = std::move(newRec);
  dataDirty_ = true;
  keyKnown_ = false;
  walkerSynced_ = false;
}

void Table::AppendBlank() {
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  EnsureLoaded();
  std::string blank = dbf_->BlankRecord();
  if (loaded_) MarkIndexPending();
  uint32_t r = dbf_->AppendRecord(blank);
  if (loaded_) {
    if (r > indexedCount_ + 1) CatchUp();
    UpdateKeys(r, nullptr, &blank);
    indexedCount_ = std::max(indexedCount_, r);
    indexDirty_ = true;
  }
  rec_ = std::move(blank);
  recno_ = r;
  dataDirty_ = true;
  keyKnown_ = false;
  walkerSynced_ = false;
}

void Table::Delete() {
  if (recno_ == 0) throw XBaseError("No current record in " + dbf_->Path());
  if (Dbf::IsDeleted(rec_)) return;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only");
  if (anyDeletedDep_) EnsureLoaded();
  std::string newRec = rec_;
  newRec[0] = '*';
  RewriteCurrent(std::move(newRec), anyDeletedDep_);
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
  const bool tookLock = !locked_;
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
  if (dataDirty_) {
    dbf_->Flush();
    dataDirty_ = false;
  }
  if (dbf_->ReadOnly()) return;  // nothing to write; rebuilt tags stay in memory
  if (indexStale_) SyncTags();
  if (loaded_) {
    CatchUp();
    // A failed write leaves the index dirty (and the table marked), so the
    // next flush writes it whole again.
    if (indexDirty_) WriteIndex();
    indexDirty_ = false;
    ClearIndexPending();
    loaded_ = false;
    for (auto& t : tags_) t.entries.clear();
    walker_.reset();
    walkerSynced_ = false;
  }
}

// ---- locks -----------------------------------------------------------------

bool Table::LockFile() {
  if (locked_) return true;
  if (dbf_->ReadOnly()) throw XBaseError("The table " + dbf_->Path() + " is open read-only and cannot be locked");
  if (!dbf_->Handle().TryLock(plat::os::kTableLockStart, plat::os::kTableLockLength, plat::os::LockKind::Exclusive)) {
    if (plat::os::LastError().kind == plat::os::Fail::Busy) return false;
    throw XBaseError("Cannot lock " + dbf_->Path() + ": " + plat::os::LastError().text);
  }
  locked_ = true;
  return true;
}

void Table::Unlock() {
  if (!locked_) return;
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
  dbf_->Handle().Unlock(plat::os::kTableLockStart, plat::os::kTableLockLength);
  locked_ = false;
}

}  // namespace xbase
