// The table-access calls over the xBase engine: integer handles for engines,
// tables, indexes and tags; every failure becomes a non-zero result with its
// text kept for LastErrorText, never an exception.
#include "setup/TableAccess.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>

#include "platform/file.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table.h"

int AppEngine = 0;

namespace {

constexpr int kNoRecord = 1;  // end of file, key not found, lock not granted
constexpr int kError = -1;

struct TableEntry {
  int engine = 0;
  std::string path;  // as the caller named it
  std::unique_ptr<xbase::Table> table;
  // Field numbers of the names callers fetched by, as they spelled them:
  // a read loop names the same few fields on every record.
  std::vector<std::pair<std::string, int>> fields;
};

struct AuxEntry {
  int table = 0;
  bool isTag = false;
  std::string tagName;
};

std::mutex g_mutex;
int g_next = 1;
std::set<int> g_engines;
std::map<int, TableEntry> g_tables;
std::map<int, AuxEntry> g_aux;
thread_local std::string t_lastError;

void SetError(const std::string& text) { t_lastError = text; }

TableEntry* FindEntry(int handle) {
  auto it = g_tables.find(handle);
  if (it == g_tables.end()) {
    SetError("Invalid table handle " + std::to_string(handle));
    return nullptr;
  }
  return &it->second;
}

xbase::Table* FindTable(int handle) {
  TableEntry* e = FindEntry(handle);
  return e ? e->table.get() : nullptr;
}

// Runs fn on an open table's entry; exceptions become kError with their text.
template <class F>
int WithEntry(int handle, F fn) {
  std::lock_guard<std::mutex> lock(g_mutex);
  TableEntry* e = FindEntry(handle);
  if (!e) return kError;
  try {
    return fn(*e);
  } catch (const std::exception& ex) {
    SetError(ex.what());
    return kError;
  } catch (...) {
    SetError("Unknown failure in the table engine");
    return kError;
  }
}

template <class F>
int WithTable(int handle, F fn) {
  return WithEntry(handle, [&](TableEntry& e) { return fn(*e.table); });
}

constexpr size_t kFieldsRemembered = 32;

int FieldOf(TableEntry& e, const std::string& field) {
  for (const auto& [name, i] : e.fields)
    if (name == field) return i;
  const xbase::Dbf& data = e.table->Data();
  const int i = data.FieldIndex(field);
  if (i < 0) SetError("The table " + data.Path() + " has no field " + field);
  else if (e.fields.size() < kFieldsRemembered) e.fields.emplace_back(field, i);
  return i;
}

// A field as fetch gives it: text without pad blanks; numbers, dates and
// logicals without the blanks around them either.
std::string FieldValue(const xbase::Dbf& data, const std::string& rec, int field) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  const char type = data.Fields()[static_cast<size_t>(field)].type;
  if (type == 'C' || type == 'V') {
    // Text as stored: cut in place, one copy.
    std::string_view raw = data.RawField(rec, field);
    while (!raw.empty() && blank(raw.back())) raw.remove_suffix(1);
    return std::string(raw);
  }
  std::string out = data.FieldText(rec, field);
  size_t from = 0, to = out.size();
  while (from < to && blank(out[from])) ++from;
  while (to > from && blank(out[to - 1])) --to;
  return out.substr(from, to - from);
}

int RegisterTable(int engine, const std::string& path, std::unique_ptr<xbase::Table> t) {
  int h = g_next++;
  g_tables[h] = TableEntry{engine, path, std::move(t)};
  return h;
}

void DropAux(int table) {
  for (auto it = g_aux.begin(); it != g_aux.end();)
    it = it->second.table == table ? g_aux.erase(it) : std::next(it);
}

int AuxHandle(int table, bool isTag, const std::string& tagName) {
  for (const auto& [h, a] : g_aux)
    if (a.table == table && a.isTag == isTag && a.tagName == tagName) return h;
  int h = g_next++;
  g_aux[h] = AuxEntry{table, isTag, tagName};
  return h;
}

std::string Native(const std::string& path) {
  std::string n = plat::NativePath(path);
  if (n.empty()) throw xbase::XBaseError("The name " + path + " names no place on this machine");
  return n;
}

}  // namespace

int OpenData() {
  std::lock_guard<std::mutex> lock(g_mutex);
  int h = g_next++;
  g_engines.insert(h);
  AppEngine = h;
  return h;
}

void CloseData(int engine) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_engines.erase(engine)) return;
  for (auto it = g_tables.begin(); it != g_tables.end();) {
    if (it->second.engine == engine) {
      DropAux(it->first);
      it = g_tables.erase(it);  // closing flushes and unlocks
    } else {
      ++it;
    }
  }
  if (AppEngine == engine) AppEngine = 0;
}

namespace {

int OpenTable(int engine, const std::string& path, const std::string& tag, bool readOnly) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_engines.count(engine)) {
    SetError("Invalid engine handle " + std::to_string(engine));
    return 0;
  }
  try {
    auto t = xbase::Table::Open(Native(path), readOnly);
    if (!tag.empty()) {
      int i = t->FindTag(tag);
      if (i < 0) {
        SetError("The table " + path + " has no tag " + tag);
        return 0;
      }
      t->SelectTag(i);
    }
    return RegisterTable(engine, path, std::move(t));
  } catch (const std::exception& e) {
    SetError(e.what());
    return 0;
  }
}

}  // namespace

int mOpen(int engine, const std::string& path, const std::string& tag) { return OpenTable(engine, path, tag, false); }

int mOpenReadOnly(int engine, const std::string& path, const std::string& tag) {
  return OpenTable(engine, path, tag, true);
}

std::string fetch(int table, const std::string& field) {
  std::string out;
  WithEntry(table, [&](TableEntry& e) {
    int f = FieldOf(e, field);
    if (f < 0 || e.table->Recno() == 0) return kError;
    out = FieldValue(e.table->Data(), e.table->Record(), f);
    return 0;
  });
  return out;
}

int d4readAll(int table, const std::vector<std::string>& fields, std::vector<std::string>& rows) {
  rows.clear();
  const int rc = WithEntry(table, [&](TableEntry& e) {
    std::vector<int> numbers;
    for (const std::string& name : fields) {
      numbers.push_back(FieldOf(e, name));
      if (numbers.back() < 0) return kError;
    }
    const xbase::Dbf& data = e.table->Data();
    rows.reserve(static_cast<size_t>(e.table->RecordCount()) * numbers.size());
    e.table->ReadInOrder([&](uint32_t, const std::string& rec) {
      for (int f : numbers) rows.push_back(FieldValue(data, rec, f));
    });
    return 0;
  });
  // Nothing of a read that failed half way: it is not the table.
  if (rc != 0) rows.clear();
  return rc;
}

int32_t ifetch(int table, const std::string& field) {
  int32_t out = 0;
  WithEntry(table, [&](TableEntry& e) {
    xbase::Table& t = *e.table;
    int f = FieldOf(e, field);
    if (f < 0 || t.Recno() == 0) return kError;
    double v;
    char type = t.Data().Fields()[static_cast<size_t>(f)].type;
    if (type == 'C' || type == 'V') v = std::strtod(t.FieldText(f).c_str(), nullptr);
    else v = t.FieldNumber(f);
    if (!std::isfinite(v)) v = 0;
    v = std::trunc(v);
    out = v > 2147483647.0 ? INT32_MAX : v < -2147483648.0 ? INT32_MIN : static_cast<int32_t>(v);
    return 0;
  });
  return out;
}

int replace(int table, const std::string& field, const std::string& text) {
  return WithEntry(table, [&](TableEntry& e) {
    int f = FieldOf(e, field);
    if (f < 0) return kError;
    e.table->Replace(f, text);
    return 0;
  });
}

int d4top(int table) {
  return WithTable(table, [](xbase::Table& t) { return t.Top() ? 0 : kNoRecord; });
}
int d4bottom(int table) {
  return WithTable(table, [](xbase::Table& t) { return t.Bottom() ? 0 : kNoRecord; });
}
int d4skip(int table, int n) {
  return WithTable(table, [n](xbase::Table& t) { return t.Skip(n) ? 0 : kNoRecord; });
}
int d4go(int table, int32_t recno) {
  return WithTable(table, [recno](xbase::Table& t) {
    return recno > 0 && t.Go(static_cast<uint32_t>(recno)) ? 0 : kNoRecord;
  });
}
int32_t d4recNo(int table) {
  return WithTable(table, [](xbase::Table& t) { return static_cast<int>(t.Recno()); });
}
int d4deleted(int table) {
  return WithTable(table, [](xbase::Table& t) { return t.Deleted() ? 1 : 0; });
}
int d4seek(int table, const std::string& key) {
  return WithTable(table, [&](xbase::Table& t) { return t.Seek(key) ? 0 : kNoRecord; });
}
int d4seekDouble(int table, double key) {
  return WithTable(table, [key](xbase::Table& t) { return t.SeekDouble(key) ? 0 : kNoRecord; });
}
int d4seekNext(int table, const std::string& key) {
  return WithTable(table, [&](xbase::Table& t) { return t.SeekNext(key) ? 0 : kNoRecord; });
}
int d4seekNextDouble(int table, double key) {
  return WithTable(table, [key](xbase::Table& t) { return t.SeekNextDouble(key) ? 0 : kNoRecord; });
}
int d4lockFile(int table) {
  return WithTable(table, [](xbase::Table& t) {
    if (t.LockFile()) return 0;
    SetError("The table " + t.Data().Path() + " is locked by another program");
    return kNoRecord;
  });
}
int d4appendBlank(int table) {
  return WithTable(table, [](xbase::Table& t) {
    t.AppendBlank();
    return 0;
  });
}
int d4delete(int table) {
  return WithTable(table, [](xbase::Table& t) {
    t.Delete();
    return 0;
  });
}
int d4pack(int table) {
  return WithTable(table, [](xbase::Table& t) {
    t.Pack();
    return 0;
  });
}
int d4flush(int table) {
  return WithTable(table, [](xbase::Table& t) {
    t.Flush();
    return 0;
  });
}
int d4unlock(int table) {
  return WithTable(table, [](xbase::Table& t) {
    t.Unlock();
    return 0;
  });
}
int d4removeRecords(int table, const std::vector<int32_t>& recnos) {
  return WithTable(table, [&](xbase::Table& t) {
    std::vector<uint32_t> recs;
    for (int32_t r : recnos) {
      if (r < 1) {
        SetError("Record numbers start at 1");
        return kError;
      }
      recs.push_back(static_cast<uint32_t>(r));
    }
    t.Remove(std::move(recs));
    return 0;
  });
}
int d4zap(int table, int32_t first, int32_t last) {
  return WithTable(table, [=](xbase::Table& t) {
    if (first < 1 && last >= first) {
      SetError("Record numbers start at 1");
      return kError;
    }
    if (last >= first) t.Zap(static_cast<uint32_t>(first), static_cast<uint32_t>(last));
    return 0;
  });
}
int32_t d4recCountDo(int table) {
  return WithTable(table, [](xbase::Table& t) { return static_cast<int>(t.RecordCount()); });
}

int d4close(int table) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_tables.find(table);
  if (it == g_tables.end()) {
    SetError("Invalid table handle " + std::to_string(table));
    return kError;
  }
  int rc = 0;
  try {
    it->second.table->Flush();
  } catch (const std::exception& e) {
    SetError(e.what());
    rc = kError;
  }
  DropAux(table);
  g_tables.erase(it);  // unlocks and closes the files
  return rc;
}

int d4index(int table, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  xbase::Table* t = FindTable(table);
  if (!t) return 0;
  // Only the structural index exists; it is there to add tags to even before
  // its file is created.
  if (!name.empty()) {
    std::string path = t->Data().Path();
    size_t slash = path.rfind('/');
    std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
    stem = stem.substr(0, stem.rfind('.'));
    std::string n = name;
    size_t nslash = n.find_last_of("\\/");
    if (nslash != std::string::npos) n = n.substr(nslash + 1);
    if (n.size() != stem.size() || !std::equal(n.begin(), n.end(), stem.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        })) {
      SetError("The table " + path + " has no index " + name);
      return 0;
    }
  }
  return AuxHandle(table, false, "");
}

int i4tagAdd(int index, const std::vector<TAG4INFO>& tags) {
  int table = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_aux.find(index);
    if (it == g_aux.end() || it->second.isTag) {
      SetError("Invalid index handle " + std::to_string(index));
      return kError;
    }
    table = it->second.table;
  }
  std::vector<xbase::TagSpec> specs;
  for (const auto& t : tags) {
    if (t.name.empty() && t.expression.empty()) break;
    specs.push_back(xbase::TagSpec{t.name, t.expression, t.filter, t.unique != 0, t.descending != 0});
  }
  return WithTable(table, [&](xbase::Table& t) {
    t.AddTags(specs);
    return 0;
  });
}

int d4tag(int table, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  xbase::Table* t = FindTable(table);
  if (!t) return 0;
  int i = t->FindTag(name);
  if (i < 0) {
    SetError("The table " + t->Data().Path() + " has no tag " + name);
    return 0;
  }
  return AuxHandle(table, true, t->TagHeader(i).name);
}

int d4tagSelectP(int table, int tag) {
  std::string name;
  if (tag != 0) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_aux.find(tag);
    if (it == g_aux.end() || !it->second.isTag || it->second.table != table) {
      SetError("Invalid tag handle " + std::to_string(tag));
      return kError;
    }
    name = it->second.tagName;
  }
  return WithTable(table, [&](xbase::Table& t) {
    int i = name.empty() ? -1 : t.FindTag(name);
    if (!name.empty() && i < 0) {
      SetError("The table " + t.Data().Path() + " has no tag " + name);
      return kError;
    }
    t.SelectTag(i);
    return 0;
  });
}

int d4create(int engine, const std::string& path, const std::vector<FIELD4INFO>& fields,
             const std::vector<TAG4INFO>& tags) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_engines.count(engine)) {
    SetError("Invalid engine handle " + std::to_string(engine));
    return 0;
  }
  try {
    std::vector<xbase::DbfFieldDef> defs;
    for (const auto& f : fields) defs.push_back(xbase::DbfFieldDef{f.name, f.type, f.len, f.dec});
    std::vector<xbase::TagSpec> specs;
    for (const auto& t : tags) {
      if (t.name.empty() && t.expression.empty()) break;
      specs.push_back(xbase::TagSpec{t.name, t.expression, t.filter, t.unique != 0, t.descending != 0});
    }
    auto t = xbase::Table::Create(Native(path), defs, specs);
    return RegisterTable(engine, path, std::move(t));
  } catch (const std::exception& e) {
    SetError(e.what());
    return 0;
  }
}

bool d4exists(const std::string& path) {
  std::string n = plat::NativePath(path);
  return !n.empty() && xbase::Table::Exists(n);
}

int d4numFields(int table) {
  return WithTable(table, [](xbase::Table& t) { return static_cast<int>(t.Data().Fields().size()); });
}

std::string d4fieldName(int table, int index) {
  std::string out;
  WithTable(table, [&](xbase::Table& t) {
    if (index < 1 || static_cast<size_t>(index) > t.Data().Fields().size()) {
      SetError("No field number " + std::to_string(index));
      return kError;
    }
    out = t.Data().Fields()[static_cast<size_t>(index - 1)].name;
    return 0;
  });
  return out;
}

std::string LastErrorText() { return t_lastError; }
