// Table engine speed through the table-access calls: numeric seeks with
// fetches on a million records, a character tag added to 100,000 records,
// appends to a table with two tags, and the record count on small and large
// tables. The tables are generated once in a scratch folder.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/xbase/dbf.h"
#include "platform/xbase/table.h"
#include "setup/TableAccess.h"

namespace {

constexpr int kBig = 1000000;
constexpr int kMedium = 100000;

struct Scratch {
  std::string dir;
  int engine = 0;
  Scratch() {
    char tmpl[] = "/tmp/vv_bench_table_XXXXXX";
    char* p = ::mkdtemp(tmpl);
    dir = p ? p : "/tmp";
    engine = OpenData();
    MakeTable("Big", kBig);
    MakeTable("Medium", kMedium);
    MakeTable("Small", 10);
    // The big table gets its numeric tag once.
    auto t = xbase::Table::Open(dir + "/Big");
    t->AddTags({{"ID", "ID", "", false, false}});
  }
  ~Scratch() {
    CloseData(engine);
    if (DIR* d = ::opendir(dir.c_str())) {
      while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ::unlink((dir + "/" + e->d_name).c_str());
      ::closedir(d);
    }
    ::rmdir(dir.c_str());
  }
  std::string Name(const std::string& t) const { return dir + "\\" + t; }

  // Writes the records in bulk: a table this size is data, not the subject.
  void MakeTable(const std::string& name, int count) {
    std::string path = dir + "/" + name + ".dbf";
    std::vector<xbase::DbfFieldDef> fields = {{"ID", 'N', 10, 0},   {"NAME", 'C', 20, 0}, {"CITY", 'C', 20, 0},
                                              {"CODE", 'C', 6, 0},  {"AMT", 'N', 10, 2},  {"DAY", 'D', 8, 0}};
    int headerLen, recordLen;
    {
      auto d = xbase::Dbf::Create(path, fields, false);
      headerLen = d->HeaderLength();
      recordLen = d->RecordLength();
    }
    std::mt19937 rng(1234);
    std::string buf;
    buf.reserve(static_cast<size_t>(recordLen) * 4096);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(headerLen);
    char rec[256];
    for (int i = 1; i <= count; ++i) {
      std::snprintf(rec, sizeof rec, " %10d%-20s%-20s%-6s%10.2f%04d%02d%02d", i,
                    ("Name " + std::to_string(rng() % 500000)).c_str(), ("City " + std::to_string(rng() % 900)).c_str(),
                    std::to_string(rng() % 99999).c_str(), (rng() % 1000000) / 100.0, 1990 + static_cast<int>(rng() % 30),
                    1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28));
      buf.append(rec, static_cast<size_t>(recordLen));
      if (buf.size() >= static_cast<size_t>(recordLen) * 4096) {
        f.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        buf.clear();
      }
    }
    buf.push_back('\x1A');
    f.write(buf.data(), static_cast<std::streamsize>(buf.size()));
    unsigned char n[4] = {static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8),
                          static_cast<unsigned char>(count >> 16), static_cast<unsigned char>(count >> 24)};
    f.seekp(4);
    f.write(reinterpret_cast<const char*>(n), 4);
  }
};

Scratch& Tables() {
  static Scratch s;
  return s;
}

void CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
}

// 10,000 random seeks on the million-record table, each followed by six fetches.
void BM_SeekDoubleSixFetches(benchmark::State& state) {
  Scratch& s = Tables();
  int t = mOpen(s.engine, s.Name("Big"), "ID");
  if (!t) {
    state.SkipWithError(LastErrorText().c_str());
    return;
  }
  std::mt19937 rng(99);
  std::vector<double> keys(10000);
  for (auto& k : keys) k = 1 + static_cast<double>(rng() % kBig);
  size_t found = 0;
  for (auto _ : state) {
    for (double k : keys) {
      if (d4seekDouble(t, k) != 0) continue;
      ++found;
      benchmark::DoNotOptimize(fetch(t, "ID"));
      benchmark::DoNotOptimize(fetch(t, "NAME"));
      benchmark::DoNotOptimize(fetch(t, "CITY"));
      benchmark::DoNotOptimize(fetch(t, "CODE"));
      benchmark::DoNotOptimize(fetch(t, "AMT"));
      benchmark::DoNotOptimize(fetch(t, "DAY"));
    }
  }
  if (found != keys.size() * static_cast<size_t>(state.iterations())) state.SkipWithError("a key was not found");
  d4close(t);
}
BENCHMARK(BM_SeekDoubleSixFetches)->Unit(benchmark::kMillisecond);

// A character tag added to a 100,000-record table (open, add, close).
void BM_TagAdd100k(benchmark::State& state) {
  Scratch& s = Tables();
  for (auto _ : state) {
    state.PauseTiming();
    CopyFile(s.dir + "/Medium.dbf", s.dir + "/Work.dbf");
    ::unlink((s.dir + "/Work.cdx").c_str());
    state.ResumeTiming();
    int t = mOpen(s.engine, s.Name("Work"), "");
    std::vector<TAG4INFO> tags(1);
    tags[0].name = "NAME";
    tags[0].expression = "NAME";
    if (i4tagAdd(d4index(t, ""), tags) != 0) state.SkipWithError(LastErrorText().c_str());
    d4close(t);
  }
}
BENCHMARK(BM_TagAdd100k)->Unit(benchmark::kMillisecond);

// 10,000 appends (with two fields stored) to a table with two tags, then close.
void BM_Append10kTwoTags(benchmark::State& state) {
  Scratch& s = Tables();
  std::vector<FIELD4INFO> fields = {{"ZONE", 'C', 9, 0}, {"AREA", 'C', 10, 0}, {"NUM", 'N', 8, 0}};
  std::vector<TAG4INFO> tags(2);
  tags[0].name = "ZONE";
  tags[0].expression = "ZONE";
  tags[1].name = "NUM";
  tags[1].expression = "NUM";
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string name = "App" + std::to_string(round++);
    int t = d4create(s.engine, s.Name(name), fields, tags);
    if (!t) {
      state.SkipWithError(LastErrorText().c_str());
      break;
    }
    state.ResumeTiming();
    for (int i = 0; i < 10000; ++i) {
      d4appendBlank(t);
      replace(t, "ZONE", std::to_string((i * 7919) % 1000));
      replace(t, "NUM", std::to_string((i * 104729) % 100000));
    }
    d4close(t);
    state.PauseTiming();
    ::unlink((s.dir + "/" + name + ".dbf").c_str());
    ::unlink((s.dir + "/" + name + ".cdx").c_str());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Append10kTwoTags)->Unit(benchmark::kMillisecond);

void RecCount(benchmark::State& state, const char* table) {
  Scratch& s = Tables();
  int t = mOpen(s.engine, s.Name(table), "");
  for (auto _ : state) benchmark::DoNotOptimize(d4recCountDo(t));
  d4close(t);
}
void BM_RecCountSmall(benchmark::State& state) { RecCount(state, "Small"); }
void BM_RecCountLarge(benchmark::State& state) { RecCount(state, "Big"); }
BENCHMARK(BM_RecCountSmall);
BENCHMARK(BM_RecCountLarge);

}  // namespace

BENCHMARK_MAIN();
