// Index layer speed: opening a 1,000,000-entry numeric tag and seeking in it,
// and writing such a file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/xbase/cdx.h"

namespace {

constexpr int kEntries = 1000000;

xbase::CdxTagData MakeTag() {
  xbase::CdxTagData t;
  t.header.name = "AMOUNT";
  t.header.expr = "AMOUNT";
  t.header.keyLen = 8;
  t.pad = '\0';
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> cents(-50000000, 50000000);
  t.entries.reserve(kEntries);
  for (int i = 0; i < kEntries; ++i) {
    t.entries.push_back({xbase::EncodeNumericKey(cents(rng) / 100.0), static_cast<uint32_t>(i + 1)});
  }
  std::sort(t.entries.begin(), t.entries.end(), [](const xbase::CdxEntry& a, const xbase::CdxEntry& b) {
    return a.key != b.key ? a.key < b.key : a.recno < b.recno;
  });
  return t;
}

std::string g_created;  // removed at exit

const std::string& IndexPath() {
  static const std::string path = [] {
    std::string p = "/tmp/bench_cdx_" + std::to_string(::getpid()) + ".cdx";
    xbase::WriteCdx(p, {MakeTag()}, 1);
    g_created = p;
    return p;
  }();
  return path;
}

void BM_OpenAndSeek10k(benchmark::State& state) {
  const std::string& path = IndexPath();
  std::mt19937 rng(2);
  std::uniform_int_distribution<int> cents(-50000000, 50000000);
  std::vector<std::string> probes;
  for (int i = 0; i < 10000; ++i) probes.push_back(xbase::EncodeNumericKey(cents(rng) / 100.0));
  for (auto _ : state) {
    auto cdx = xbase::CdxFile::Open(path);
    cdx->SetPadByte(0, '\0');
    auto cursor = cdx->OpenCursor(0);
    uint64_t sum = 0;
    for (const std::string& p : probes) {
      if (cursor->Seek(p)) sum += cursor->Recno();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_OpenAndSeek10k)->Unit(benchmark::kMillisecond);

void BM_Open(benchmark::State& state) {
  const std::string& path = IndexPath();
  for (auto _ : state) {
    auto cdx = xbase::CdxFile::Open(path);
    benchmark::DoNotOptimize(cdx->Tags().size());
  }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMicrosecond);

void BM_Write1M(benchmark::State& state) {
  const xbase::CdxTagData tag = MakeTag();
  const std::string path = IndexPath() + ".w";
  for (auto _ : state) xbase::WriteCdx(path, {tag}, 2);
  ::unlink(path.c_str());
}
BENCHMARK(BM_Write1M)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!g_created.empty()) ::unlink(g_created.c_str());
  return 0;
}
