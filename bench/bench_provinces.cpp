// LoadProvinces on 20,000 Postal and 42,000 USZip records (tables generated
// here); the first load adds the two tags, later loads find them.
#include <cstdio>
#include <random>

#include "bench_common.h"
#include "geo/uXArea.h"

int main() {
  bench::Scratch scratch("vv_bench_provinces");
  std::mt19937 rng(1);
  bench::MakeReferenceTables(scratch, rng);

  TProvinceArray list;
  const double first = bench::Seconds([&] { LoadProvinces(list); });
  size_t areas = 0;
  for (const auto& p : list) areas += p->Areas.size();
  const double second = bench::Seconds([&] { LoadProvinces(list); });
  std::printf("LoadProvinces: %zu provinces, %zu postal lines\n", list.size(), areas);
  std::printf("first load (adds the tags): %.3f s; later load: %.3f s (target < 0.2 s)\n", first, second);
  FreeProvinces(list);
  return 0;
}
