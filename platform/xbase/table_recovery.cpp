// Putting a table right at open: a remove left half done, an index that
// cannot be read or did not get a change.
#include <cstring>

#include "platform/os.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"
#include "platform/xbase/undo.h"

namespace xbase {

using namespace table_detail;

// The index is opened; when it cannot be read its tags come from the
// definitions saved beside it, and when it cannot be trusted (unreadable, or
// the table marks a change that did not reach it: failed write, killed
// process) its tags are rebuilt from the records before any use.
void Table::OpenIndexRecovering() {
  const std::string& dbfPath = dbf_->Path();
  bool rebuild = false;
  try {
    OpenIndex();
  } catch (const XBaseBusy&) {
    throw;  // sound, only being changed by another program for too long
  } catch (const XBaseError&) {
    std::vector<CdxTagHeader> defs;
    if (!LoadTagDefinitions(TagsPathFor(cdxPath_), defs)) throw;
    UseTagDefinitions(defs);
    rebuild = true;
  }
  unsigned char flag = 0;
  size_t got = 0;
  if (!dbf_->Handle().ReadAt(kPendingFlagOffset, &flag, 1, &got))
    throw XBaseError("Cannot read " + dbfPath + ": " + plat::os::LastError().text);
  if (got != 1) throw XBaseError("Unexpected end of file in " + dbfPath);
  if ((flag != 0 || rebuild) && !tags_.empty()) {
    IndexUntrusted();
    PendingSet();
  }
}

// A remove that another process (or an earlier run) left half done is
// undone before anything is read. Removes run under the table's lock, so a
// lock held by someone else means that one may be removing right now: the
// undo file is then left alone (and not even read, it may be in the making).
void Table::RecoverRemove() {
  const std::string undo = UndoPathFor(dbf_->Path());
  plat::os::FileInfo info;
  if (!plat::os::Os().Stat(undo, true, &info)) return;
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

// Tags from saved definitions, for an index file that cannot be read; they
// are built from the records before use and the file is written anew.
void Table::UseTagDefinitions(const std::vector<CdxTagHeader>& defs) {
  cdx_.reset();
  tags_.clear();
  // Keep counting changes from where the damaged file stands.
  unsigned char c[4] = {0, 0, 0, 0};
  if (auto file = plat::os::Os().Open(cdxPath_, plat::os::OpenRequest{.plainOnly = true})) {
    size_t got = 0;
    if (!file->ReadAt(8, c, 4, &got) || got != 4) std::memset(c, 0, 4);
  }
  counter_ = (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
  for (CdxTagHeader h : defs) {
    h.name = Upper(h.name);
    CheckTagName(h.name);
    h.keyLen = Expr::Compile(h.expr, *dbf_).KeyLength();
    h.machineCollation = true;
    h.collation.clear();
    Tag t = MakeTag(h);
    tags_.push_back(std::move(t));
  }
}

}  // namespace xbase
