#include "platform/xbase/table.h"

#include <cctype>

#include "platform/os.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

using namespace table_detail;

namespace table_detail {

void CheckTagName(const std::string& name) {
  bool ok = !name.empty() && name.size() <= 10 && std::isalpha(static_cast<unsigned char>(name[0]));
  for (char c : name) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!ok) throw XBaseError("\"" + name + "\" is not a valid tag name (1 to 10 letters, digits or _)");
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace table_detail

// ---- open, create ---------------------------------------------------------

Table::~Table() {
  try {
    Flush();
  } catch (...) {
  }
  if (lock_ == LockState::Locked) ReleaseLock();
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
    t->OpenIndexRecovering();
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
    auto& os = plat::os::Os();
    os.Remove(dbfPath);
    os.Remove(basePath + ".cdx");
    os.Remove(basePath + ".fpt");
    throw;
  }
  return t;
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
    tags_.push_back(std::move(t));
  }
}

int Table::FindTag(std::string_view name) const {
  for (size_t i = 0; i < tags_.size(); ++i)
    if (EqualNoCase(tags_[i].header.name, name))
      return static_cast<int>(i);
  return -1;
}

void Table::SelectTag(int tag) {
  if (tag < -1 || tag >= TagCount()) throw XBaseError("No such tag");
  selected_ = tag;
  ResetWalker(WalkerReset::Dropped);
  ResetWalker(WalkerReset::Moved);
}

std::string Table::FieldText(int field) const {
  if (recno_ == 0) return {};
  return dbf_->FieldText(rec_, field);
}

double Table::FieldNumber(int field) const {
  if (recno_ == 0) return 0;
  return dbf_->FieldNumber(rec_, field);
}

}  // namespace xbase
