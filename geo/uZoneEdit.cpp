#include "geo/uZoneEdit.h"

#include <algorithm>
#include <unordered_set>

#include "platform/text.h"

namespace {

const char kPlusMinus = static_cast<char>(177);  // "±" in Windows-1252

struct UpperTable {
  unsigned char up[256];
  UpperTable() {
    for (int c = 0; c < 256; ++c) up[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
};
const UpperTable kUpper;

// Alphabetical without regard to a..z case, like a sorted list box; ties fall
// back to the bytes so that the order never depends on the input order.
bool LessNoCase(const std::string& a, const std::string& b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b.data());
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char cx = kUpper.up[x[i]];
    const unsigned char cy = kUpper.up[y[i]];
    if (cx != cy) return cx < cy;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// Sorts pointers, then moves each line once: cheaper than swapping strings.
void SortLines(std::vector<std::string>& lines) {
  std::vector<std::string*> order;
  order.reserve(lines.size());
  for (std::string& l : lines) order.push_back(&l);
  std::sort(order.begin(), order.end(), [](const std::string* a, const std::string* b) { return LessNoCase(*a, *b); });
  std::vector<std::string> sorted;
  sorted.reserve(lines.size());
  for (std::string* l : order) sorted.push_back(std::move(*l));
  lines = std::move(sorted);
}

std::string DetailLine(const TProvince& p, size_t j) {
  const std::string& town = j < p.Towns.size() ? p.Towns[j] : std::string();
  std::string line;
  line.reserve(p.Areas[j].size() + town.size() + p.Name.size() + 4);
  line += p.Areas[j];
  line += ", ";
  line += town;
  line += ", ";
  line += p.Name;
  return line;
}

// Hashing and equality of codes without regard to a..z case, on views of the
// stored texts, so that look-up sets cost no copies.
struct NoCaseHash {
  size_t operator()(std::string_view s) const {
    size_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ kUpper.up[c]) * 1099511628211ull;
    return h;
  }
};
struct NoCaseEqual {
  bool operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (kUpper.up[static_cast<unsigned char>(a[i])] != kUpper.up[static_cast<unsigned char>(b[i])]) return false;
    }
    return true;
  }
};
using CodeSet = std::unordered_set<std::string_view, NoCaseHash, NoCaseEqual>;

CodeSet CodesOf(const TStringList& list) {
  CodeSet set;
  set.reserve(list.size() * 2);
  for (const std::string& s : list) set.insert(s);
  return set;
}

// Where each code of one zone entry stands, so that a removal finds its line
// without searching the entry; positions are dropped in one pass at the end.
struct EntryIndex {
  struct Where {
    int first = -1;
    std::vector<int> more;  // later positions of the same code, ascending
    size_t taken = 0;       // occurrences already removed
  };
  TProvince* entry = nullptr;
  std::unordered_map<std::string_view, Where, NoCaseHash, NoCaseEqual> where;
  std::vector<char> removed;
  size_t live = 0;
  bool gone = false;

  void Build(TProvince* e) {
    entry = e;
    where.clear();
    where.reserve(e->Areas.size() * 2);
    for (size_t k = 0; k < e->Areas.size(); ++k) {
      Where& w = where[e->Areas[k]];
      if (w.first < 0) w.first = static_cast<int>(k);
      else w.more.push_back(static_cast<int>(k));
    }
    removed.assign(e->Areas.size(), 0);
    live = e->Areas.size();
  }
  // Takes out the first remaining occurrence of the code; false when none is left.
  bool Remove(std::string_view code) {
    auto it = where.find(code);
    if (it == where.end()) return false;
    Where& w = it->second;
    if (w.taken > w.more.size()) return false;
    const int pos = w.taken == 0 ? w.first : w.more[w.taken - 1];
    ++w.taken;
    removed[static_cast<size_t>(pos)] = 1;
    --live;
    return true;
  }
  void Compact() {
    TStringList areas;
    TStringList to;
    areas.reserve(live);
    const bool hasTo = !entry->AreasTo.empty();
    for (size_t k = 0; k < entry->Areas.size(); ++k) {
      if (!removed[k]) areas.push_back(std::move(entry->Areas[k]));
    }
    // Range ends go with their code where the entry has them.
    for (size_t k = 0; k < entry->AreasTo.size(); ++k) {
      if (k >= removed.size() || !removed[k]) to.push_back(std::move(entry->AreasTo[k]));
    }
    entry->Areas = std::move(areas);
    if (hasTo) entry->AreasTo = std::move(to);
  }
};

}  // namespace

TZoneEdit::TZoneEdit() = default;
TZoneEdit::~TZoneEdit() { FreeProvinces(FProvinces); }

// ---------------------------------------------------------------------------
// Opening and closing

void TZoneEdit::Open() {
  TProvinceArray provinces;
  LoadProvinces(provinces);
  TStringList codes;
  LoadZoneCodes(codes);
  OpenWith(std::move(provinces), std::move(codes));
}

void TZoneEdit::OpenWith(TProvinceArray&& provinces, TStringList codes) {
  FreeProvinces(FProvinces);
  FZone = std::make_unique<TZone>();
  FProvinces = std::move(provinces);
  FCodes = std::move(codes);
  IndexProvinces();
  FIndex = -1;
  FOrigCode.clear();
  FAdding = false;
  FChanged = false;
  FMoveIn = false;
  FOrigRemoved = false;
  FPendingCode.clear();
  FView = TAreaView::Summary;
  FZoneLines.clear();
  FAvailLines.clear();
}

void TZoneEdit::Close() {
  FreeProvinces(FProvinces);
  FCodeIndex.clear();
  FNameIndex.clear();
  FCodes.clear();
  FZone.reset();
}

// ---------------------------------------------------------------------------
// Codes and loading

std::string TZoneEdit::CodeAt(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(FCodes.size())) return std::string();
  return FCodes[static_cast<size_t>(index)];
}

int32_t TZoneEdit::IndexOfCode(const std::string& code) const {
  for (size_t i = 0; i < FCodes.size(); ++i) {
    if (FCodes[i] == code) return static_cast<int32_t>(i);
  }
  return -1;
}

void TZoneEdit::ReloadCodes() { LoadZoneCodes(FCodes); }

void TZoneEdit::LoadZone(const std::string& code) {
  std::string c = code;
  if (c.empty()) {
    FIndex = 0;
    c = CodeAt(0);
  } else {
    FIndex = IndexOfCode(c);
  }
  FZone->Load(c);
  FOrigCode = FZone->Zone;
  FOrigRemoved = false;
  FPendingCode.clear();
  FillAreaLists();
  FChanged = false;
}

void TZoneEdit::BeginAdding() {
  FAdding = true;
  FOrigRemoved = false;
  FPendingCode.clear();
  FZone->Clear();
  FillAreaLists();
}

void TZoneEdit::ClearZone() {
  FZone->Clear();
  FillAreaLists();
}

void TZoneEdit::CodeEdited(std::string_view text) {
  if (FZone && plat::Trim(text) != FZone->Zone) FChanged = true;
}

// ---------------------------------------------------------------------------
// Look-ups over the province list (built once per opening)

void TZoneEdit::IndexProvinces() {
  FCodeIndex.clear();
  FNameIndex.clear();
  size_t lines = 0;
  for (const auto& p : FProvinces) lines += p->Areas.size();
  FCodeIndex.reserve(lines * 2);
  for (size_t i = 0; i < FProvinces.size(); ++i) {
    const TProvince& p = *FProvinces[i];
    FNameIndex.emplace(p.Name, static_cast<int>(i));
    for (size_t j = 0; j < p.Areas.size(); ++j) {
      FCodeIndex.emplace(plat::UpperAZ(p.Areas[j]), std::make_pair(static_cast<int>(i), static_cast<int>(j)));
    }
  }
}

int TZoneEdit::ProvinceOfName(const std::string& name) const {
  auto it = FNameIndex.find(name);
  return it == FNameIndex.end() ? -1 : it->second;
}

int TZoneEdit::FirstEntryIndex(const std::string& province) const {
  for (int i = 0; i < FZone->ProvinceCount(); ++i) {
    if (FZone->GetProvince(i)->Province == province) return i;
  }
  return -1;
}

TProvince* TZoneEdit::FirstEntry(const std::string& province) const {
  const int i = FirstEntryIndex(province);
  return i < 0 ? nullptr : FZone->GetProvince(i);
}

TProvince* TZoneEdit::AppendEntry(const TProvince& province) {
  FZone->SetProvinceCount(FZone->ProvinceCount() + 1);
  TProvince* e = FZone->GetProvince(FZone->ProvinceCount() - 1);
  e->Country = province.Country;
  e->Province = province.Province;
  return e;
}

// Into the zone as a whole province: an existing entry loses its listed
// codes (empty stands for the whole province), a missing one is appended.
void TZoneEdit::MakeWhole(const TProvince& province) {
  if (TProvince* e = FirstEntry(province.Province)) {
    e->Areas.clear();
    e->AreasTo.clear();
  } else {
    AppendEntry(province);
  }
}

void TZoneEdit::RemoveFirstEntry(const std::string& province) {
  const int i = FirstEntryIndex(province);
  if (i >= 0) FZone->DeleteProvince(i);
}

// ---------------------------------------------------------------------------
// Building the lists

void TZoneEdit::FillAreaLists() {
  std::vector<std::string> in;
  std::vector<std::string> avail;
  const bool detail = FView == TAreaView::Detail;
  size_t total = FProvinces.size();
  if (detail) {
    for (const auto& p : FProvinces) total += p->Areas.size();
  }
  in.reserve(total);
  avail.reserve(total);
  for (const auto& pp : FProvinces) {
    const TProvince& p = *pp;
    // Without an open zone everything is available.
    const TProvince* e = FZone ? FirstEntry(p.Province) : nullptr;
    if (!e) {
      if (detail) {
        for (size_t j = 0; j < p.Areas.size(); ++j) avail.push_back(DetailLine(p, j));
      } else {
        avail.push_back(p.Name);
      }
    } else if (!e->Areas.empty() && e->Areas.size() != p.Areas.size()) {
      if (detail) {
        const CodeSet codes = CodesOf(e->Areas);
        for (size_t j = 0; j < p.Areas.size(); ++j) {
          (codes.count(p.Areas[j]) ? in : avail).push_back(DetailLine(p, j));
        }
      } else {
        const std::string line = p.Name + ' ' + kPlusMinus;
        in.push_back(line);
        avail.push_back(line);
      }
    } else if (detail) {
      for (size_t j = 0; j < p.Areas.size(); ++j) in.push_back(DetailLine(p, j));
    } else {
      in.push_back(p.Name);
    }
  }
  SortLines(in);
  SortLines(avail);
  FZoneLines = std::move(in);
  FAvailLines = std::move(avail);
}

// ---------------------------------------------------------------------------
// by Selection

void TZoneEdit::MoveSelection(bool moveIn, bool hasCurrent, const std::vector<int>& rows) {
  FMoveIn = moveIn;
  if (hasCurrent && FZone) {
    FChanged = true;
    // The rows index the lists as they stand; the moves rebuild them only at the end.
    const std::vector<std::string> source = moveIn ? FAvailLines : FZoneLines;
    std::vector<int> valid;
    for (int r : rows) {
      if (r >= 0 && r < static_cast<int>(source.size())) valid.push_back(r);
    }
    if (FView == TAreaView::Detail) {
      MoveSelectionDetail(valid, source);
    } else {
      MoveSelectionSummary(valid, source);
    }
  }
  FillAreaLists();
}

void TZoneEdit::MoveSelectionSummary(const std::vector<int>& rows, const std::vector<std::string>& source) {
  for (int row : rows) {
    const std::string& line = source[static_cast<size_t>(row)];
    const size_t sign = line.find(kPlusMinus);
    const bool partial = sign != std::string::npos;
    std::string name = line;
    if (partial) name = line.substr(0, sign > 0 && line[sign - 1] == ' ' ? sign - 1 : sign);
    const int pi = ProvinceOfName(name);
    if (pi < 0) continue;
    const TProvince& p = *FProvinces[static_cast<size_t>(pi)];
    if (FMoveIn) {
      if (!partial) AppendEntry(p);
      else if (FirstEntry(p.Province)) MakeWhole(p);
    } else {
      RemoveFirstEntry(p.Province);
    }
  }
}

void TZoneEdit::MoveSelectionDetail(const std::vector<int>& rows, const std::vector<std::string>& source) {
  if (FMoveIn) {
    for (int row : rows) {
      const std::string& line = source[static_cast<size_t>(row)];
      const size_t comma = line.find(',');
      if (comma == std::string::npos) continue;
      auto it = FCodeIndex.find(plat::UpperAZ(line.substr(0, comma)));
      if (it == FCodeIndex.end()) continue;
      const TProvince& p = *FProvinces[static_cast<size_t>(it->second.first)];
      const size_t j = static_cast<size_t>(it->second.second);
      TProvince* e = FirstEntry(p.Province);
      // A province not yet in the zone gets an entry holding just this line.
      if (!e) e = AppendEntry(p);
      e->Areas.push_back(p.Areas[j]);
      if (p.Country == "CA") e->AreasTo.push_back(j < p.AreasTo.size() ? p.AreasTo[j] : std::string());
    }
    return;
  }

  std::vector<EntryIndex> index(static_cast<size_t>(FZone->ProvinceCount()));
  for (int i = 0; i < FZone->ProvinceCount(); ++i) index[static_cast<size_t>(i)].Build(FZone->GetProvince(i));
  for (int row : rows) {
    const std::string& line = source[static_cast<size_t>(row)];
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const std::string_view code(line.data(), comma);
    bool done = false;
    for (EntryIndex& x : index) {
      if (!x.gone && x.Remove(code)) {
        if (x.live == 0) x.gone = true;
        done = true;
        break;
      }
    }
    if (done) continue;
    // The line belongs to an entry that covers its whole province without
    // listing it: the entry becomes partial, keeping every other line.
    auto it = FCodeIndex.find(plat::UpperAZ(code));
    if (it == FCodeIndex.end()) continue;
    const TProvince& p = *FProvinces[static_cast<size_t>(it->second.first)];
    for (EntryIndex& x : index) {
      if (x.gone || x.entry->Province != p.Province) continue;
      if (x.entry->Areas.empty()) {
        x.entry->Areas = p.Areas;
        x.entry->AreasTo.clear();
        if (p.Country == "CA") {
          x.entry->AreasTo = p.AreasTo;
          x.entry->AreasTo.resize(p.Areas.size());
        }
        x.Build(x.entry);
        x.Remove(code);
        if (x.live == 0) x.gone = true;
      }
      break;  // only the first entry of the province counts
    }
  }
  for (EntryIndex& x : index) {
    if (!x.gone) x.Compact();
  }
  for (int i = FZone->ProvinceCount() - 1; i >= 0; --i) {
    if (index[static_cast<size_t>(i)].gone) FZone->DeleteProvince(i);
  }
}

// ---------------------------------------------------------------------------
// The move pages

bool TZoneEdit::MoveByLongitude(int64_t count, bool east) {
  if (count <= 0 || !FZone) return false;
  FChanged = true;
  for (const auto& pp : FProvinces) {
    const TProvince& p = *pp;
    const int64_t pos = p.Country == "CA" ? int64_t{p.Sequence} : int64_t{p.Sequence} + 13;
    const bool taken = east ? pos < count : 64 - pos < count;
    if (!taken) continue;
    if (FMoveIn) MakeWhole(p);
    else RemoveFirstEntry(p.Province);
  }
  FillAreaLists();
  return true;
}

bool TZoneEdit::MoveByProvince(std::string_view text) {
  const std::string code = plat::UpperAZ(plat::Trim(text));
  if (code.empty() || !FZone) return false;
  FChanged = true;
  const int first = FirstEntryIndex(code);
  if (FMoveIn) {
    if (first >= 0) {
      FZone->GetProvince(first)->Areas.clear();
      FZone->GetProvince(first)->AreasTo.clear();
    } else {
      for (const auto& p : FProvinces) {
        if (p->Province == code) AppendEntry(*p);
      }
    }
  } else if (first >= 0) {
    FZone->DeleteProvince(first);
  }
  FillAreaLists();
  return true;
}

// Moves every postal line that the test accepts into or out of the zone,
// province by province. An entry covering a whole province with no listed
// codes stays whole when lines move in, and becomes partial (all its other
// lines) when lines move out.
template <class Pred>
void TZoneEdit::MoveLines(Pred matches) {
  for (const auto& pp : FProvinces) {
    const TProvince& p = *pp;
    const bool ca = p.Country == "CA";
    std::vector<size_t> hits;
    for (size_t j = 0; j < p.Areas.size(); ++j) {
      if (matches(p, j)) hits.push_back(j);
    }
    if (hits.empty()) continue;
    TProvince* e = FirstEntry(p.Province);
    auto rangeEnd = [&](size_t j) { return j < p.AreasTo.size() ? p.AreasTo[j] : std::string(); };

    if (FMoveIn) {
      bool created = false;
      if (!e) {
        e = AppendEntry(p);
        created = true;
      }
      if (e->Areas.empty() && !created) continue;  // already the whole province
      std::unordered_set<std::string> have;
      for (const std::string& a : e->Areas) have.insert(plat::UpperAZ(a));
      for (size_t j : hits) {
        if (!have.insert(plat::UpperAZ(p.Areas[j])).second) continue;
        e->Areas.push_back(p.Areas[j]);
        if (ca) e->AreasTo.push_back(rangeEnd(j));
      }
      continue;
    }

    if (!e) continue;
    bool deleted = false;
    if (e->Areas.empty()) {
      std::vector<char> hit(p.Areas.size(), 0);
      for (size_t j : hits) hit[j] = 1;
      for (size_t j = 0; j < p.Areas.size(); ++j) {
        if (hit[j]) {
          deleted = true;
          continue;
        }
        e->Areas.push_back(p.Areas[j]);
        if (ca) e->AreasTo.push_back(rangeEnd(j));
      }
    } else {
      // One deletion per matching line, each taking the first occurrence left.
      std::unordered_map<std::string, int> want;
      for (size_t j : hits) ++want[plat::UpperAZ(p.Areas[j])];
      TStringList areas;
      TStringList to;
      const bool hasTo = !e->AreasTo.empty();
      for (size_t k = 0; k < e->Areas.size(); ++k) {
        auto it = want.find(plat::UpperAZ(e->Areas[k]));
        if (it != want.end() && it->second > 0) {
          --it->second;
          deleted = true;
          continue;
        }
        areas.push_back(e->Areas[k]);
        if (k < e->AreasTo.size()) to.push_back(e->AreasTo[k]);
      }
      for (size_t k = e->Areas.size(); k < e->AreasTo.size(); ++k) to.push_back(e->AreasTo[k]);
      e->Areas = std::move(areas);
      if (hasTo) e->AreasTo = std::move(to);
    }
    // e is the first entry of its province, so this removes e itself.
    if (deleted && e->Areas.empty()) RemoveFirstEntry(p.Province);
  }
}

bool TZoneEdit::MoveByCity(std::string_view text) {
  const std::string city = plat::UpperAZ(plat::Trim(text));
  if (city.empty() || !FZone) return false;
  FChanged = true;
  MoveLines([&](const TProvince& p, size_t j) { return j < p.Towns.size() && plat::UpperAZ(p.Towns[j]) == city; });
  FillAreaLists();
  return true;
}

bool TZoneEdit::MoveByMatch(std::string_view text) {
  const std::string start = plat::UpperAZ(plat::Trim(text));
  if (start.empty() || !FZone) return false;
  FChanged = true;
  MoveLines([&](const TProvince& p, size_t j) { return plat::UpperAZ(p.Areas[j]).compare(0, start.size(), start) == 0; });
  FillAreaLists();
  return true;
}

// ---------------------------------------------------------------------------
// Saving

bool TZoneEdit::Validate(const std::string& typedCode, TStringList& errors) const {
  const size_t before = errors.size();
  const std::string code = plat::Trim(typedCode);
  if (code.empty()) {
    errors.push_back("\tZone is blank.");
  } else if (code != FZone->Zone && code != FPendingCode && !FZone->IsUnique(code)) {
    errors.push_back("\tThis zone code [ " + typedCode + " ] is not unique.");
  }
  // The area test looks at the list as displayed in the current view.
  if (FZoneLines.empty()) errors.push_back("\tNo states/provinces have been added to the zone.");
  return errors.size() == before;
}

void TZoneEdit::StoreFields(std::string_view code, std::string_view name) {
  FZone->Zone = plat::Trim(code);
  FZone->Name = plat::Trim(name);
  for (const auto& p : FProvinces) {
    if (TProvince* e = FirstEntry(p->Province)) e->AreaCount = static_cast<int32_t>(p->Areas.size());
  }
}

TZoneSaveResult TZoneEdit::Save(std::string_view typedCode, std::string_view name, std::string& show) {
  StoreFields(typedCode, name);
  const std::string code = FZone->Zone;
  if (FAdding) {
    // After a failed attempt the row may exist already: append only if it does not.
    const bool isNew = code == FPendingCode ? FZone->IsUnique(code) : true;
    if (!FZone->Save(isNew)) {
      FPendingCode = code;
      return TZoneSaveResult::Failed;
    }
    show = code;
    return TZoneSaveResult::Added;
  }
  if (FOrigRemoved) {
    // The old record is gone already; only the new one is to be written.
    if (!FZone->Save(FZone->IsUnique(code))) {
      FPendingCode = code;
      return TZoneSaveResult::Failed;
    }
    show = code;
  } else if (code == FOrigCode) {
    if (!FZone->Save(false)) return TZoneSaveResult::Failed;
    show = CodeAt(FIndex);
  } else {
    FZone->Zone = FOrigCode;
    // An old record already gone was removed by an attempt that failed later.
    if (!FZone->Delete(true)) return TZoneSaveResult::ReplaceFailed;
    StoreFields(typedCode, name);
    if (!FZone->Save(true)) {
      FOrigRemoved = true;
      FPendingCode = code;
      return TZoneSaveResult::Failed;
    }
    show = FZone->Zone;
  }
  return TZoneSaveResult::Updated;
}
