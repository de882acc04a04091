// 5,000 waiting labels against a Shipment table of 200,000 records and a
// Package table of 500,000, generated once with our engine.
//
// BM_ReadKeySort: reading every label with its shipment and package, keying
// and sorting them (goal: under 1 s).
// BM_SequenceLabels: the whole pass, printing to a printer that only counts
// what it gets. Each printed label's record is marked and flushed to disk
// before the next label prints, so this one is bound by the disk's sync time
// (one sync a label); Labels and the documents are rebuilt, untimed, before
// each pass since a pass consumes them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/labels.h"
#include "engine/uSequncr.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

namespace fs = std::filesystem;

constexpr int kShipments = 200000;
constexpr int kPackages = 500000;
constexpr int kLabels = 5000;

class CountingPrinter : public plat::PrinterService {
 public:
  size_t jobs = 0, bytes = 0;
  std::vector<std::string> Printers() override { return {"Bench"}; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int, const std::string&) override {
    ++jobs;
    return std::make_unique<Job>(*this);
  }

 private:
  struct Job : plat::PrintJob {
    explicit Job(CountingPrinter& p) : p_(p) {}
    bool SendBlock(const std::string& b) override {
      p_.bytes += b.size();
      return true;
    }
    bool End(bool ok) override { return ok; }
    CountingPrinter& p_;
  };
};

struct World {
  fs::path root;
  std::shared_ptr<CountingPrinter> printer = std::make_shared<CountingPrinter>();
  std::unique_ptr<TSetup> setup;
  TProvinceArray provinces;
  std::mt19937 rng{12345};

  World() {
    char tmpl[] = "/tmp/vv_bench_labels_XXXXXX";
    root = mkdtemp(tmpl);
    for (const char* d : {"prog", "multi", "data", "docs"}) fs::create_directories(root / d);
    OpenData();
    plat::SetPrinting(printer);
    setup = std::make_unique<TSetup>((root / "prog").string());
    AppSetup = setup.get();
    AppSetup->MultiShipperPath = (root / "multi").string();
    AppSetup->DataPath = (root / "data").string();
    AppSetup->PackagePrinter = 0;
    AppSetup->CommInvoicePrinter = 0;
    AppSetup->KeyentryPrinter = 0;
    const char* codes[] = {"NL", "PE", "NS", "NB", "QC", "ON", "MB", "SK", "AB", "BC"};
    for (int i = 0; i < 10; ++i) {
      auto p = std::make_unique<TProvince>();
      p->Country = "CA";
      p->Province = codes[i];
      p->Sequence = i + 1;
      provinces.push_back(std::move(p));
    }
    Generate();
  }
  ~World() {
    AppSetup = nullptr;
    setup.reset();
    plat::SetPrinting(nullptr);
    CloseData(AppEngine);
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  std::string Rand(const char* alphabet, int n) {
    std::string s;
    const size_t len = std::char_traits<char>::length(alphabet);
    for (int i = 0; i < n; ++i) s += alphabet[rng() % len];
    return s;
  }

  void Generate() {
    const std::string data = AppSetup->DataPath;
    int s = d4create(AppEngine, data + "\\Shipment",
                     {{"SHIPMENTID", 'N', 10, 0}, {"ST_PROV", 'C', 2, 0}, {"ST_CUSTID", 'C', 15, 0},
                      {"ST_NAME", 'C', 35, 0}, {"ST_POSTAL", 'C', 10, 0}, {"REFERENCE0", 'C', 30, 0},
                      {"REFERENCE1", 'C', 30, 0}},
                     {});
    int p = d4create(AppEngine, data + "\\Package",
                     {{"SHIPMENTID", 'N', 10, 0}, {"PKG_NO", 'N', 4, 0}, {"REFERENCE1", 'C', 30, 0},
                      {"REFERENCE2", 'C', 30, 0}, {"REFERENCE3", 'C', 30, 0}, {"REFERENCE4", 'C', 30, 0}},
                     {});
    if (!s || !p) {
      std::fprintf(stderr, "cannot create tables: %s\n", LastErrorText().c_str());
      std::exit(1);
    }
    const char* provs[] = {"NL", "PE", "NS", "NB", "QC", "ON", "MB", "SK", "AB", "BC"};
    int packages = 0;
    for (int id = 1; id <= kShipments; ++id) {
      d4appendBlank(s);
      replace(s, "SHIPMENTID", std::to_string(id));
      replace(s, "ST_PROV", provs[rng() % 10]);
      replace(s, "ST_CUSTID", "C" + std::to_string(rng() % 50000));
      replace(s, "ST_NAME", Rand("ABCDEFGHIJKLMNOPQRSTUVWXYZ ", 20));
      replace(s, "ST_POSTAL", Rand("ABCEGHJKLMNPRSTVXY", 1) + Rand("0123456789", 1) + Rand("ABCEGHJKLMNPRSTVWXYZ", 1) +
                                  " " + Rand("0123456789", 1) + Rand("ABCEGHJKLMNPRSTVWXYZ", 1) + Rand("0123456789", 1));
      replace(s, "REFERENCE0", "PO" + std::to_string(rng() % 1000000));
      replace(s, "REFERENCE1", "");
      // 2 or 3 packages a shipment, 500,000 in all.
      const int count = (id <= kPackages - 2 * kShipments) ? 3 : 2;
      for (int k = 1; k <= count; ++k, ++packages) {
        d4appendBlank(p);
        replace(p, "SHIPMENTID", std::to_string(id));
        replace(p, "PKG_NO", std::to_string(k));
        replace(p, "REFERENCE1", Rand("0123456789", 8));
        replace(p, "REFERENCE2", "");
        replace(p, "REFERENCE3", "");
        replace(p, "REFERENCE4", "");
      }
    }
    // The tags are built once over the filled tables: quicker than keeping
    // them up to date through 700,000 appends.
    for (int t : {s, p}) {
      d4flush(t);
      if (i4tagAdd(d4index(t, ""), {{"SHIPMENTID", "SHIPMENTID"}}) != 0 || d4flush(t) != 0) {
        std::fprintf(stderr, "cannot index: %s\n", LastErrorText().c_str());
        std::exit(1);
      }
    }
    d4close(s);
    d4close(p);
    if (packages != kPackages) std::exit(1);
  }

  // Labels of random shipments in random record order, with their documents.
  void MakeLabels() {
    const std::string multi = AppSetup->MultiShipperPath;
    for (const char* ext : {".dbf", ".cdx"}) fs::remove(fs::path(multi) / (std::string("Labels") + ext));
    int t = d4create(AppEngine, multi + "\\Labels",
                     {{"FILE_NAME", 'C', 128, 0}, {"DOCUMENT", 'N', 2, 0}, {"SHIPMENT", 'N', 10, 0}, {"PACKAGE", 'N', 5, 0}},
                     {{"DOCUMENT", "DOCUMENT"}});
    const std::string doc(400, 'L');
    for (int i = 0; i < kLabels; ++i) {
      const std::string file = (root / "docs" / (std::to_string(i) + ".lbl")).string();
      std::ofstream(file, std::ios::binary) << "^XA\r\n" << doc << "\r\n^XZ\r\n";
      d4appendBlank(t);
      replace(t, "FILE_NAME", file);
      replace(t, "DOCUMENT", std::to_string(rng() % 3));
      replace(t, "SHIPMENT", std::to_string(1 + rng() % kShipments));
      replace(t, "PACKAGE", std::to_string(rng() % 3));
    }
    d4flush(t);
    d4close(t);
  }
};

World& TheWorld() {
  static World w;
  return w;
}

const TSortOrderArray kOrder = {sfProvinceLocation, sfPostalCode, sfCustomerName, sfPackageRef1};

void BM_ReadKeySort(benchmark::State& state) {
  World& w = TheWorld();
  w.MakeLabels();
  size_t n = 0;
  for (auto _ : state) {
    const int t = mOpen(AppEngine, AppSetup->MultiShipperPath + "\\Labels", "document");
    std::vector<TLabelDoc> docs;
    std::vector<TItem> items;
    bool marked = false;
    if (!t || d4lockFile(t) != 0 || !ReadLabels(t, w.provinces, kOrder, docs, items, marked)) {
      state.SkipWithError("cannot read the labels");
      break;
    }
    auto sorted = SortedOrder(items, kOrder);
    benchmark::DoNotOptimize(sorted.data());
    n = sorted.size();
    d4unlock(t);
    d4close(t);
  }
  if (n != static_cast<size_t>(kLabels)) state.SkipWithError("wrong label count");
  state.counters["labels"] = static_cast<double>(n);
}

void BM_SequenceLabels(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    state.PauseTiming();
    w.MakeLabels();
    w.printer->jobs = 0;
    state.ResumeTiming();
    const bool ok = SequenceLabels(w.provinces, kOrder);
    state.PauseTiming();
    if (!ok || w.printer->jobs != static_cast<size_t>(kLabels)) state.SkipWithError("label pass failed");
    state.ResumeTiming();
  }
  state.counters["labels"] = kLabels;
}

}  // namespace

BENCHMARK(BM_ReadKeySort)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_SequenceLabels)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
