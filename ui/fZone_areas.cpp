// The two area lists of the zone editor and the by Selection moves.
#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QTabBar>
#include <QToolButton>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/text.h"
#include "ui/UiServices.h"
#include "ui/fZone.h"

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

// Rows of the selected lines, top down.
std::vector<int> SelectedRows(QListView* view) {
  std::vector<int> rows;
  const QItemSelection sel = view->selectionModel()->selection();
  for (const QItemSelectionRange& r : sel) {
    for (int row = r.top(); row <= r.bottom(); ++row) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

}  // namespace

// ---------------------------------------------------------------------------
// TAreaListModel

int TAreaListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FLines.size());
}

QVariant TAreaListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(FLines.size())) return QVariant();
  if (role == Qt::DisplayRole) {
    return QString::fromUtf8(plat::Cp1252ToUtf8(FLines[static_cast<size_t>(index.row())]));
  }
  return QVariant();
}

void TAreaListModel::SetLines(std::vector<std::string>&& lines) {
  // Sort pointers, then move each line once: cheaper than swapping strings.
  std::vector<std::string*> order;
  order.reserve(lines.size());
  for (std::string& l : lines) order.push_back(&l);
  std::sort(order.begin(), order.end(), [](const std::string* a, const std::string* b) { return LessNoCase(*a, *b); });
  std::vector<std::string> sorted;
  sorted.reserve(lines.size());
  for (std::string* l : order) sorted.push_back(std::move(*l));
  beginResetModel();
  FLines = std::move(sorted);
  endResetModel();
}

// ---------------------------------------------------------------------------
// Look-ups over the province list (built once per showing)

void TfrmZone::IndexProvinces() {
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

int TfrmZone::ProvinceOfName(const std::string& name) const {
  auto it = FNameIndex.find(name);
  return it == FNameIndex.end() ? -1 : it->second;
}

int TfrmZone::FirstEntryIndex(const std::string& province) const {
  for (int i = 0; i < FZone->ProvinceCount(); ++i) {
    if (FZone->GetProvince(i)->Province == province) return i;
  }
  return -1;
}

TProvince* TfrmZone::FirstEntry(const std::string& province) const {
  const int i = FirstEntryIndex(province);
  return i < 0 ? nullptr : FZone->GetProvince(i);
}

// Into the zone as a whole province: an existing entry loses its listed
// codes (empty stands for the whole province), a missing one is appended.
void TfrmZone::MakeWhole(const TProvince& province) {
  if (TProvince* e = FirstEntry(province.Province)) {
    e->Areas.clear();
    e->AreasTo.clear();
  } else {
    AppendEntry(province);
  }
}

void TfrmZone::RemoveFirstEntry(const std::string& province) {
  const int i = FirstEntryIndex(province);
  if (i >= 0) FZone->DeleteProvince(i);
}

TProvince* TfrmZone::AppendEntry(const TProvince& province) {
  FZone->SetProvinceCount(FZone->ProvinceCount() + 1);
  TProvince* e = FZone->GetProvince(FZone->ProvinceCount() - 1);
  e->Country = province.Country;
  e->Province = province.Province;
  return e;
}

// ---------------------------------------------------------------------------
// Building the lists

void TfrmZone::FillAreaLists() {
  std::vector<std::string> in;
  std::vector<std::string> avail;
  const bool detail = tabMode->currentIndex() == TabDetail;
  size_t total = FProvinces.size();
  if (detail) {
    for (const auto& p : FProvinces) total += p->Areas.size();
  }
  in.reserve(total);
  avail.reserve(total);
  if (FZone) {
    for (const auto& pp : FProvinces) {
      const TProvince& p = *pp;
      const TProvince* e = FirstEntry(p.Province);
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
      } else {
        if (detail) {
          for (size_t j = 0; j < p.Areas.size(); ++j) in.push_back(DetailLine(p, j));
        } else {
          in.push_back(p.Name);
        }
      }
    }
  } else {
    // Before the first showing (or after hiding) there is no zone: all is available.
    for (const auto& p : FProvinces) {
      if (detail) {
        for (size_t j = 0; j < p->Areas.size(); ++j) avail.push_back(DetailLine(*p, j));
      } else {
        avail.push_back(p->Name);
      }
    }
  }
  FZoneModel->SetLines(std::move(in));
  FAvailModel->SetLines(std::move(avail));
}

void TfrmZone::tabModeChange() {
  ui::Ui().SetWaitCursor();
  FillAreaLists();
  ui::Ui().RestoreCursor();
}

// ---------------------------------------------------------------------------
// by Selection

void TfrmZone::btnSelectClick() {
  FMoveIn = sender() == btnAddSel;
  QListView* source = FMoveIn ? lbxAvailList : lbxZoneList;
  if (source->currentIndex().isValid() && FZone) {
    FChanged = true;
    const std::vector<int> rows = SelectedRows(source);
    if (tabMode->currentIndex() == TabDetail) {
      MoveSelectionDetail(rows, source);
    } else {
      MoveSelectionSummary(rows, source);
    }
  }
  FillAreaLists();
}

void TfrmZone::MoveSelectionSummary(const std::vector<int>& rows, QListView* source) {
  const TAreaListModel* model = static_cast<const TAreaListModel*>(source->model());
  for (int row : rows) {
    const std::string& line = model->Line(row);
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

namespace {

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

void TfrmZone::MoveSelectionDetail(const std::vector<int>& rows, QListView* source) {
  const TAreaListModel* model = static_cast<const TAreaListModel*>(source->model());
  if (FMoveIn) {
    for (int row : rows) {
      const std::string& line = model->Line(row);
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
    const std::string& line = model->Line(row);
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
