#pragma once
// Shared set-up of the zone editor tests: a temporary host folder with real
// reference and zone tables, the settings object pointing at it, and a way
// into the editor's private state.
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "geo/uXZone.h"
#include "platform/text.h"
#include "scripted_ui_support.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/support/temp_dir.h"
#include "ui/fZone.h"

// The editing state behind the window.
class TfrmZoneTestAccess {
 public:
  static bool Changed(const TfrmZone& f) { return f.Editor().Changed(); }
  static void SetChanged(TfrmZone& f, bool v) { f.Editor().SetChanged(v); }
  static bool Adding(const TfrmZone& f) { return f.Editor().Adding(); }
  static bool MoveIn(const TfrmZone& f) { return f.Editor().MoveIn(); }
  static int Index(const TfrmZone& f) { return f.Editor().Index(); }
  static const std::string& OrigCode(const TfrmZone& f) { return f.Editor().OrigCode(); }
  static TZone& Zone(TfrmZone& f) { return f.Editor().Zone(); }
  static const TStringList& Codes(const TfrmZone& f) { return f.Editor().Codes(); }
  static size_t ProvinceCount(const TfrmZone& f) { return f.Editor().Provinces().size(); }
};

namespace zt {

template <class T>
T* Find(const QWidget& w, const char* name) {
  T* c = w.findChild<T*>(QString::fromLatin1(name));
  if (!c) qFatal("no control %s", name);
  return c;
}

// The window's controls, found by their object names as a user's tools would.
struct Controls {
  explicit Controls(const QWidget& w) : w(w) {}
  const QWidget& w;
  QFrame* panZone = Find<QFrame>(w, "panZone");
  QLabel* lblZone = Find<QLabel>(w, "lblZone");
  QLineEdit* txtZone = Find<QLineEdit>(w, "txtZone");
  QToolButton* btnZone = Find<QToolButton>(w, "btnZone");
  QListWidget* lbxZone = Find<QListWidget>(w, "lbxZone");
  QLabel* lblName = Find<QLabel>(w, "lblName");
  QLineEdit* txtName = Find<QLineEdit>(w, "txtName");
  QPushButton* btnAdd = Find<QPushButton>(w, "btnAdd");
  QPushButton* btnSave = Find<QPushButton>(w, "btnSave");
  QPushButton* btnDelete = Find<QPushButton>(w, "btnDelete");
  QPushButton* btnClose = Find<QPushButton>(w, "btnClose");
  QPushButton* btnFirst = Find<QPushButton>(w, "btnFirst");
  QPushButton* btnPrev = Find<QPushButton>(w, "btnPrev");
  QPushButton* btnNext = Find<QPushButton>(w, "btnNext");
  QPushButton* btnLast = Find<QPushButton>(w, "btnLast");
  QTabWidget* pagMove = Find<QTabWidget>(w, "pagMove");
  QWidget* tabArea = Find<QWidget>(w, "tabArea");
  QRadioButton* optMovEast = Find<QRadioButton>(w, "optMovEast");
  QRadioButton* optMovWest = Find<QRadioButton>(w, "optMovWest");
  QSpinBox* speMovArea = Find<QSpinBox>(w, "speMovArea");
  QLabel* lblMovArea = Find<QLabel>(w, "lblMovArea");
  QPushButton* btnMovAreaO = Find<QPushButton>(w, "btnMovAreaO");
  QPushButton* btnMovAreaC = Find<QPushButton>(w, "btnMovAreaC");
  QWidget* tabProv = Find<QWidget>(w, "tabProv");
  QLabel* lblMovProv = Find<QLabel>(w, "lblMovProv");
  QComboBox* cbxMovProv = Find<QComboBox>(w, "cbxMovProv");
  QPushButton* btnMovProvO = Find<QPushButton>(w, "btnMovProvO");
  QPushButton* btnMovProvC = Find<QPushButton>(w, "btnMovProvC");
  QWidget* tabCity = Find<QWidget>(w, "tabCity");
  QLabel* lblMovCity = Find<QLabel>(w, "lblMovCity");
  QComboBox* cbxMovCity = Find<QComboBox>(w, "cbxMovCity");
  QPushButton* btnMovCityO = Find<QPushButton>(w, "btnMovCityO");
  QPushButton* btnMovCityC = Find<QPushButton>(w, "btnMovCityC");
  QWidget* tabMatch = Find<QWidget>(w, "tabMatch");
  QLabel* lblMovMatch = Find<QLabel>(w, "lblMovMatch");
  QLineEdit* txtMovMatch = Find<QLineEdit>(w, "txtMovMatch");
  QPushButton* btnMovMatchO = Find<QPushButton>(w, "btnMovMatchO");
  QPushButton* btnMovMatchC = Find<QPushButton>(w, "btnMovMatchC");
  QTabBar* tabMode = Find<QTabBar>(w, "tabMode");
  QFrame* tabModeBody = Find<QFrame>(w, "tabModeBody");
  QFrame* panZoneList = Find<QFrame>(w, "panZoneList");
  QLabel* lblZoneList = Find<QLabel>(w, "lblZoneList");
  QListView* lbxZoneList = Find<QListView>(w, "lbxZoneList");
  QFrame* panAvailList = Find<QFrame>(w, "panAvailList");
  QLabel* lblAvailList = Find<QLabel>(w, "lblAvailList");
  QListView* lbxAvailList = Find<QListView>(w, "lbxAvailList");
  QLabel* lblBySel = Find<QLabel>(w, "lblBySel");
  QToolButton* btnAddSel = Find<QToolButton>(w, "btnAddSel");
  QToolButton* btnDelSel = Find<QToolButton>(w, "btnDelSel");
  QLabel* lblByArea = Find<QLabel>(w, "lblByArea");
  QToolButton* btnAddArea = Find<QToolButton>(w, "btnAddArea");
  QToolButton* btnDelArea = Find<QToolButton>(w, "btnDelArea");
  QLabel* lblByProv = Find<QLabel>(w, "lblByProv");
  QToolButton* btnAddProv = Find<QToolButton>(w, "btnAddProv");
  QToolButton* btnDelProv = Find<QToolButton>(w, "btnDelProv");
  QLabel* lblByCity = Find<QLabel>(w, "lblByCity");
  QToolButton* btnAddCity = Find<QToolButton>(w, "btnAddCity");
  QToolButton* btnDelCity = Find<QToolButton>(w, "btnDelCity");
  QLabel* lblByMatch = Find<QLabel>(w, "lblByMatch");
  QToolButton* btnAddMatch = Find<QToolButton>(w, "btnAddMatch");
  QToolButton* btnDelMatch = Find<QToolButton>(w, "btnDelMatch");
  QStatusBar* stbMain = Find<QStatusBar>(w, "stbMain");
  QLabel* stbPanel = Find<QLabel>(w, "stbPanel");
};

struct PostalRow { const char* from; const char* to; const char* town; };
struct ZipRow { const char* zip; const char* state; const char* city; };
struct ProvRow { const char* country; const char* province; int sequence; const char* name; };

// A small geography with the shapes that matter: a town in two provinces, a
// province without postal lines, mixed-case names, US states.
inline const std::vector<ProvRow>& Provinces() {
  static const std::vector<ProvRow> rows = {
      {"CA", "NS", 2, "Nova Scotia"}, {"CA", "QC", 5, "Quebec"},         {"CA", "ON", 6, "Ontario"},
      {"CA", "NU", 11, "Nunavut"},    {"US", "NY", 103, "New York"},     {"US", "ND", 104, "north Dakota"},
      {"US", "WA", 111, "Washington"},
  };
  return rows;
}
inline const std::vector<PostalRow>& PostalRows() {
  static const std::vector<PostalRow> rows = {
      {"B3L1P5", "B3L5Z9", "Halifax"},  {"B3M0A0", "B3M9Z9", "Halifax"},   {"B4A1A1", "B4A9Z9", "Dartmouth"},
      {"H1M2V8", "H1M6Z9", "Montreal"}, {"J4M2T6", "J4M6Z9", "Barrie"},    {"K1A0A0", "K1A9Z9", "Ottawa"},
      {"K1B1A1", "K1B9Z9", "Ottawa"},   {"K2B1A1", "K2B9Z9", "Kanata"},    {"L9M9J6", "L9M9Z9", "Barrie"},
      {"M5V1A1", "M5V9Z9", "Toronto"},
  };
  return rows;
}
inline const std::vector<ZipRow>& ZipRows() {
  static const std::vector<ZipRow> rows = {
      {"10001", "NY", "New York"}, {"10002", "NY", "New York"}, {"14201", "NY", "Buffalo"},
      {"58102", "ND", "Fargo"},    {"98101", "WA", "Seattle"},  {"98102", "WA", "Seattle"},
  };
  return rows;
}

inline int Create(const std::string& path, const std::vector<FIELD4INFO>& fields, const std::vector<TAG4INFO>& tags) {
  const int t = d4create(AppEngine, path, fields, tags);
  if (t == 0) qFatal("cannot create %s: %s", path.c_str(), LastErrorText().c_str());
  return t;
}

inline void Append(int t, const std::vector<std::pair<const char*, std::string>>& values) {
  if (d4appendBlank(t) != 0) qFatal("append failed");
  for (const auto& [field, value] : values) replace(t, field, value);
}

// One test's world: folder, settings, table engine and tables.
class World {
 public:
  World() {
    std::ofstream(dir + "/Mondarix.ini") << "[System Directories]\r\nData=" << dir << "\r\nMulti-Shipper=" << dir
                                          << "\r\nRating=" << dir << "\r\n";
    AppEngine = 0;
    OpenData();
    AppSetup = new TSetup(dir);
    const std::string base = dir + "\\";

    int t = Create(base + "Provinces",
                   {{"COUNTRY", 'C', 2, 0}, {"PROVINCE", 'C', 2, 0}, {"SEQUENCE", 'N', 3, 0}, {"NAME", 'C', 30, 0}},
                   {TAG4INFO{"NAME", "UPPER(NAME)", "", 0, 0}, TAG4INFO{}});
    for (const ProvRow& r : Provinces()) {
      Append(t, {{"COUNTRY", r.country}, {"PROVINCE", r.province}, {"SEQUENCE", std::to_string(r.sequence)},
                 {"NAME", r.name}});
    }
    d4flush(t);
    d4close(t);
    t = Create(base + "Postal", {{"POSTAL_COD", 'C', 6, 0}, {"POSTAL_TO", 'C', 6, 0}, {"TOWN", 'C', 30, 0}}, {});
    for (const PostalRow& r : PostalRows()) Append(t, {{"POSTAL_COD", r.from}, {"POSTAL_TO", r.to}, {"TOWN", r.town}});
    d4flush(t);
    d4close(t);
    t = Create(base + "USZip", {{"ZIP_CODE", 'C', 5, 0}, {"STATE_CODE", 'C', 2, 0}, {"CITY_NAME", 'C', 30, 0}}, {});
    for (const ZipRow& r : ZipRows()) Append(t, {{"ZIP_CODE", r.zip}, {"STATE_CODE", r.state}, {"CITY_NAME", r.city}});
    d4flush(t);
    d4close(t);
    t = Create(base + "Zones", {{"ZONE", 'C', 9, 0}, {"NAME", 'C', 40, 0}},
               {TAG4INFO{"ZONE", "ZONE", "", 0, 0}, TAG4INFO{}});
    d4close(t);
    t = Create(base + "AreaToZone", {{"ZONE", 'C', 9, 0}, {"AREA", 'C', 10, 0}, {"AREA_TO", 'C', 10, 0}},
               {TAG4INFO{"ZONE", "ZONE", "", 0, 0}, TAG4INFO{}});
    d4close(t);
  }
  ~World() {
    delete AppSetup;
    AppSetup = nullptr;
    CloseData(AppEngine);
  }
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Stores a zone straight through the zone model. Entries: province code and
  // its areas ("" = whole province); Canadian range ends come from the postal rows.
  void AddZone(const std::string& code, const std::string& name,
               const std::vector<std::pair<std::string, std::vector<std::string>>>& entries = {}) {
    TZone z;
    z.Zone = code;
    z.Name = name;
    for (const auto& [prov, areas] : entries) {
      z.SetProvinceCount(z.ProvinceCount() + 1);
      TProvince* e = z.GetProvince(z.ProvinceCount() - 1);
      e->Province = prov;
      e->Country = prov == "NY" || prov == "ND" || prov == "WA" ? "US" : "CA";
      for (const std::string& a : areas) {
        e->Areas.push_back(a);
        if (e->Country == "CA") e->AreasTo.push_back(RangeEnd(a));
      }
    }
    if (!z.Save(true)) qFatal("cannot store zone %s", code.c_str());
  }

  static std::string RangeEnd(const std::string& from) {
    for (const PostalRow& r : PostalRows()) {
      if (from == r.from) return r.to;
    }
    return std::string();
  }

  vvtest::TempDir temp;
  std::string dir = temp.path();
};

// Holds the file lock of a table from a second process until destroyed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& table) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) qFatal("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int t = mOpen(AppEngine, table, "");
      const char ok = (t != 0 && d4lockFile(t) == 0) ? 'L' : 'F';
      if (write(ready[1], &ok, 1) != 1) _exit(2);
      char c;
      while (read(release[0], &c, 1) < 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd_ = release[1];
    char c = 'F';
    if (read(ready[0], &c, 1) != 1) c = 'F';
    close(ready[0]);
    locked = c == 'L';
  }
  ~LockHolder() {
    const char c = 'x';
    if (write(releaseFd_, &c, 1) != 1) {
    }
    close(releaseFd_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool locked = false;

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
};

inline std::string S(const QString& s) { return plat::Utf8ToCp1252(s.toUtf8().toStdString()); }
inline QString Q(const std::string& s) { return QString::fromUtf8(plat::Cp1252ToUtf8(s)); }

inline std::vector<std::string> Lines(QListView* view) {
  std::vector<std::string> out;
  auto* model = static_cast<TAreaListModel*>(view->model());
  for (int i = 0; i < model->Count(); ++i) out.push_back(model->Line(i));
  return out;
}

inline bool Has(QListView* view, const std::string& line) {
  for (const std::string& l : Lines(view)) {
    if (l == line) return true;
  }
  return false;
}

// Selects the lines that start with any of the texts (the first one becomes current).
inline int Select(QListView* view, const std::vector<std::string>& starts) {
  auto* model = static_cast<TAreaListModel*>(view->model());
  int n = 0;
  for (int i = 0; i < model->Count(); ++i) {
    for (const std::string& s : starts) {
      if (model->Line(i).rfind(s, 0) == 0) {
        const QModelIndex idx = model->index(i);
        view->selectionModel()->select(idx, QItemSelectionModel::Select);
        if (n++ == 0) view->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::NoUpdate);
        break;
      }
    }
  }
  return n;
}

inline const std::string PM = std::string(" ") + static_cast<char>(177);

inline void ShowActive(TfrmZone& w) {
  w.show();
  QApplication::setActiveWindow(&w);
  if (!QTest::qWaitForWindowActive(&w)) qWarning("window did not become active");
}

inline std::string Status(const TfrmZone& w) { return S(Find<QLabel>(w, "stbPanel")->text()); }

// The zone's first entry of a province, and the provinces of its entries.
inline const TProvince* Entry(TfrmZone& w, const std::string& prov) {
  TZone& z = TfrmZoneTestAccess::Zone(w);
  for (int i = 0; i < z.ProvinceCount(); ++i) {
    if (z.GetProvince(i)->Province == prov) return z.GetProvince(i);
  }
  return nullptr;
}
inline std::vector<std::string> Provinces(TfrmZone& w) {
  std::vector<std::string> out;
  TZone& z = TfrmZoneTestAccess::Zone(w);
  for (int i = 0; i < z.ProvinceCount(); ++i) out.push_back(z.GetProvince(i)->Province);
  return out;
}

}  // namespace zt

// A QtTest main that defaults to the offscreen platform.
#define VV_ZONE_TEST_MAIN(Class)                               \
  int main(int argc, char** argv) {                            \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))        \
      qputenv("QT_QPA_PLATFORM", "offscreen");                 \
    QApplication app(argc, argv);                              \
    Class test;                                                \
    return QTest::qExec(&test, argc, argv);                    \
  }
