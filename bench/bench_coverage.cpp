// Zone coverage as `vadoviver-cli zones --coverage` runs it, on full-size
// reference data: 20,000 Postal and 42,000 USZip records, 3,000 zones saved
// through the zone model (tables generated here).
#include <cstdio>
#include <random>

#include "bench_common.h"
#include "geo/uXCoverage.h"

std::string StateCode(int j) { return std::string{j < 26 ? 'U' : 'W', char('A' + j % 26)}; }

int main() {
  bench::Scratch scratch("vv_bench_coverage");
  const char* ca[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC", "NU", "NT", "YT"};
  const char* letters = "ABCEGHJKLMNPRSTVXY";
  std::mt19937 rng(3);

  int t = d4create(AppEngine, scratch.dir + "\\Provinces",
                   {{"COUNTRY", 'C', 2}, {"PROVINCE", 'C', 2}, {"SEQUENCE", 'N', 3}, {"NAME", 'C', 30}},
                   {{"NAME", "UPPER(NAME)"}});
  for (int i = 0; i < 13 + 50; ++i) {
    d4appendBlank(t);
    const bool isCa = i < 13;
    replace(t, "COUNTRY", isCa ? "CA" : "US");
    replace(t, "PROVINCE", isCa ? std::string(ca[i]) : StateCode(i - 13));
    replace(t, "SEQUENCE", std::to_string(i + 1));
    replace(t, "NAME", "Province " + std::to_string(i));
  }
  d4close(t);
  t = d4create(AppEngine, scratch.dir + "\\Postal", {{"POSTAL_COD", 'C', 6}, {"POSTAL_TO", 'C', 6}, {"TOWN", 'C', 30}},
               {});
  for (int i = 0; i < 20000; ++i) {
    d4appendBlank(t);
    std::string code{letters[rng() % 18], char('0' + rng() % 10), char('A' + rng() % 26), '0', 'A', '0'};
    replace(t, "POSTAL_COD", code);
    replace(t, "POSTAL_TO", code.substr(0, 3) + "9Z9");
    replace(t, "TOWN", "Town " + std::to_string(i % 700));
  }
  d4close(t);
  t = d4create(AppEngine, scratch.dir + "\\USZip", {{"ZIP_CODE", 'C', 5}, {"STATE_CODE", 'C', 2}, {"CITY_NAME", 'C', 30}},
               {});
  for (int i = 0; i < 42000; ++i) {
    d4appendBlank(t);
    replace(t, "ZIP_CODE", std::to_string(10000 + rng() % 90000));
    replace(t, "STATE_CODE", StateCode(static_cast<int>(rng() % 50)));
    replace(t, "CITY_NAME", "City " + std::to_string(i % 900));
  }
  d4close(t);

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
