// Zone coverage as `vadoviver-cli zones --coverage` runs it, on full-size
// reference data: 20,000 Postal and 42,000 USZip records, 3,000 zones saved
// through the zone model (tables generated here).
#include <cstdio>
#include <random>

#include "bench_common.h"
#include "geo/uXCoverage.h"

int main() {
  bench::Scratch scratch("vv_bench_coverage");
  std::mt19937 rng(3);
  bench::MakeReferenceTables(scratch, rng);

  // 3,000 zones as the editor makes them: a few provinces each, one in
  // twenty whole, the others a handful of the province's own lines.
  TProvinceArray provinces;
  LoadProvinces(provinces);
  for (int z = 0; z < 3000; ++z) {
    TZone zone;
    zone.Zone = std::to_string(z);
    for (int e = 1 + static_cast<int>(rng() % 3); e > 0; --e) {
      const TProvince& p = *provinces[rng() % provinces.size()];
      auto entry = std::make_unique<TProvince>();
      entry->Country = p.Country;
      entry->Province = p.Province;
      if (rng() % 20 && !p.Areas.empty())
        for (int k = 0; k < 8; ++k) {
          const size_t i = rng() % p.Areas.size();
          entry->Areas.push_back(p.Areas[i]);
          if (p.Country == "CA") entry->AreasTo.push_back(p.AreasTo[i]);
        }
      zone.Provinces.push_back(std::move(entry));
    }
    zone.Save(true);
  }
  FreeProvinces(provinces);

  TZoneArray zones;
  TZoneCoverage coverage;
  std::string report;
  double compute = 0;
  const double cpu0 = bench::CpuSeconds();
  const double total = bench::Seconds([&] {
    LoadProvinces(provinces);
    LoadZones(zones);
    compute = bench::Seconds([&] { coverage = ComputeZoneCoverage(provinces, zones); });
    report = ZoneCoverageReport(coverage, zones);
  });
  const double cpu = bench::CpuSeconds() - cpu0;
  std::printf("zone coverage: %lld lines, %zu zones, %lld uncovered, %lld covered more than once, %zu report bytes\n",
              static_cast<long long>(coverage.Lines), zones.size(), static_cast<long long>(coverage.Uncovered),
              static_cast<long long>(coverage.Overlapping), report.size());
  std::printf("zones --coverage (load provinces and zones, compute, report): %.3f s  %.3f s processor"
              " (target < 1 s); the computation alone %.3f s\n",
              total, cpu, compute);
  FreeZones(zones);
  FreeProvinces(provinces);
  return 0;
}
