// The zone editor's area lists at full size: every postal line of a realistic
// reference set (20,000 Canadian ranges, 42,000 zip codes) in Detail view.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QTabBar>
#include <QToolButton>

#include <cstdio>
#include <random>

#include "ui/fZone.h"

class TfrmZoneTestAccess {
 public:
  // Shows the window offscreen on a generated province list and zone, without tables.
  static void Prepare(TfrmZone& w, TProvinceArray&& provinces, std::unique_ptr<TZone> zone) {
    TZoneEdit& e = w.Editor();
    e.OpenWith(std::move(provinces), {});
    SetZone(w, *zone);
    e.SetView(TAreaView::Detail);
    {
      QTabBar* mode = w.findChild<QTabBar*>(QStringLiteral("tabMode"));
      const QSignalBlocker block(mode);
      mode->setCurrentIndex(TfrmZone::TabDetail);
    }
    w.show();
    Fill(w);
    QCoreApplication::processEvents();
  }
  static void Fill(TfrmZone& w) {
    w.Editor().FillAreaLists();
    w.ShowLists();
  }
  static TZone& Zone(TfrmZone& w) { return w.Editor().Zone(); }
  static void SetZone(TfrmZone& w, const TZone& from) {
    TZone& z = w.Editor().Zone();
    z.SetProvinceCount(0);
    for (int i = 0; i < from.ProvinceCount(); ++i) {
      z.SetProvinceCount(i + 1);
      *z.GetProvince(i) = *from.GetProvince(i);
    }
  }
};

namespace {

QListView* List(TfrmZone& w, const char* name) { return w.findChild<QListView*>(QString::fromLatin1(name)); }

constexpr int kPostal = 20000;
constexpr int kZip = 42000;

// 13 provinces and territories and 50 states, lines spread in proportion.
TProvinceArray MakeProvinces() {
  static const char* ca[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC", "NU", "NT", "YT"};
  static const char letters[] = "ABCEGHJKLMNPRSTVXY";
  std::mt19937 rng(7);
  std::vector<std::string> towns;
  for (int i = 0; i < 900; ++i) towns.push_back("Town " + std::to_string(i * 37 % 1000));
  TProvinceArray list;
  for (int p = 0; p < 13; ++p) {
    auto prov = std::make_unique<TProvince>();
    prov->Country = "CA";
    prov->Province = ca[p];
    prov->Sequence = p + 1;
    prov->Name = std::string("Province ") + ca[p];
    const int n = kPostal / 13 + (p < kPostal % 13 ? 1 : 0);
    for (int j = 0; j < n; ++j) {
      char code[8];
      std::snprintf(code, sizeof code, "%c%d%c%d%c%d", letters[p % 18], j / 2000 % 10, letters[j / 100 % 18],
                    j / 10 % 10, letters[j % 18], j % 10);
      prov->Areas.push_back(code);
      std::string to = code;
      to[4] = 'Z';
      to[5] = '9';
      prov->AreasTo.push_back(to);
      prov->Towns.push_back(towns[rng() % towns.size()]);
    }
    list.push_back(std::move(prov));
  }
  for (int s = 0; s < 50; ++s) {
    auto prov = std::make_unique<TProvince>();
    prov->Country = "US";
    prov->Province = std::string(1, static_cast<char>('A' + s / 26)) + static_cast<char>('A' + s % 26);
    prov->Sequence = 100 + s;
    prov->Name = "State " + prov->Province;
    const int n = kZip / 50 + (s < kZip % 50 ? 1 : 0);
    for (int j = 0; j < n; ++j) {
      char zip[8];
      std::snprintf(zip, sizeof zip, "%05d", (s * 1000 + j) % 100000);
      prov->Areas.push_back(zip);
      prov->Towns.push_back(towns[rng() % towns.size()]);
    }
    list.push_back(std::move(prov));
  }
  return list;
}

// Every province partly in the zone (every other line), so both lists are long.
std::unique_ptr<TZone> MakeZone(const TProvinceArray& provinces) {
  auto zone = std::make_unique<TZone>();
  zone->Zone = "BENCH";
  for (const auto& p : provinces) {
    zone->SetProvinceCount(zone->ProvinceCount() + 1);
    TProvince* e = zone->GetProvince(zone->ProvinceCount() - 1);
    e->Country = p->Country;
    e->Province = p->Province;
    for (size_t j = 0; j < p->Areas.size(); j += 2) {
      e->Areas.push_back(p->Areas[j]);
      if (p->Country == "CA") e->AreasTo.push_back(p->AreasTo[j]);
    }
  }
  return zone;
}

void BM_FillAreaListsDetail(benchmark::State& state) {
  TfrmZone w(nullptr);
  TProvinceArray provinces = MakeProvinces();
  auto zone = MakeZone(provinces);
  TfrmZoneTestAccess::Prepare(w, std::move(provinces), std::move(zone));
  for (auto _ : state) {
    TfrmZoneTestAccess::Fill(w);
    QCoreApplication::processEvents();  // let the views lay out and paint
  }
  state.counters["in"] = List(w, "lbxZoneList")->model()->rowCount();
  state.counters["available"] = List(w, "lbxAvailList")->model()->rowCount();
}
BENCHMARK(BM_FillAreaListsDetail)->Unit(benchmark::kMillisecond)->Iterations(10);

// 1,000 lines spread over the whole "Available ..." list moved into the zone.
void BM_MoveSelectionDetail(benchmark::State& state) {
  TfrmZone w(nullptr);
  TProvinceArray provinces = MakeProvinces();
  auto zone = MakeZone(provinces);
  TZone original;
  for (int i = 0; i < zone->ProvinceCount(); ++i) {
    original.SetProvinceCount(i + 1);
    *original.GetProvince(i) = *zone->GetProvince(i);
  }
  TfrmZoneTestAccess::Prepare(w, std::move(provinces), std::move(zone));
  const bool into = state.range(0) != 0;
  QListView* source = List(w, into ? "lbxAvailList" : "lbxZoneList");
  QToolButton* button = w.findChild<QToolButton*>(QString::fromLatin1(into ? "btnAddSel" : "btnDelSel"));
  for (auto _ : state) {
    state.PauseTiming();
    TfrmZoneTestAccess::SetZone(w, original);
    TfrmZoneTestAccess::Fill(w);
    QAbstractItemModel* model = source->model();
    const int rows = model->rowCount();
    QItemSelection sel;
    for (int k = 0; k < 1000; ++k) {
      const QModelIndex idx = model->index(k * (rows / 1000), 0);
      sel.select(idx, idx);
    }
    source->selectionModel()->select(sel, QItemSelectionModel::Select);
    source->selectionModel()->setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
    QCoreApplication::processEvents();
    state.ResumeTiming();
    button->click();
    QCoreApplication::processEvents();
  }
  state.counters["in"] = List(w, "lbxZoneList")->model()->rowCount();
}
BENCHMARK(BM_MoveSelectionDetail)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
