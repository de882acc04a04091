// Zone keys of 200,000 items against 1,000 zones of 20 ranges each.
#include <cstdio>
#include <random>

#include "bench_common.h"
#include "engine/uSequncr.h"

int main(int argc, char** argv) {
  const char* codes[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC", "NU", "NT", "YT"};
  std::mt19937 rng(9);
  auto postal = [&] {
    std::string s;
    for (int k = 0; k < 6; ++k) s += k % 2 ? char('0' + rng() % 10) : char('A' + rng() % 26);
    return s;
  };
  TProvinceArray provinces;
  for (int p = 0; p < 13; ++p) {
    auto pr = std::make_unique<TProvince>();
    pr->Country = "CA";
    pr->Province = codes[p];
    pr->Sequence = p + 1;
    provinces.push_back(std::move(pr));
  }
  TZoneArray zones;
  for (int z = 0; z < 1000; ++z) {
    auto zone = std::make_unique<TZone>();
    zone->Zone = "Z" + std::to_string(z);
    auto e = std::make_unique<TProvince>();
    e->Country = "CA";
    e->Province = codes[z % 13];
    for (int r = 0; r < 20; ++r) {
      std::string a = postal(), b = postal();
      if (b < a) std::swap(a, b);
      e->Areas.push_back(a);
      e->AreasTo.push_back(b);
    }
    zone->Provinces.push_back(std::move(e));
    zones.push_back(std::move(zone));
  }
  std::vector<TItem> items(200000);
  for (auto& it : items) {
    it.Values[sfProvinceCode] = codes[rng() % 13];
    it.Values[sfPostalCode] = postal();
  }
  size_t zoned = 0;
  const double t = bench::Seconds([&] {
    TKeyDeriver keys(provinces, {sfZoneLocation, sfZoneCode});
    keys.PrepareZones(zones);
    for (auto& it : items) {
      keys.Derive(it);
      zoned += !it.Values[sfZoneCode].empty();
    }
  });
  std::printf("zone keys: 200000 items, 1000 zones x 20 ranges: %.3f s (target < 1 s), %zu items in a zone\n", t,
              zoned);

  // The same zones through the tables: saving them, and LoadZones as a pass does.
  if (argc > 1 && std::string(argv[1]) == "--tables") {
    bench::Scratch scratch("vv_bench_zones");
    const double save = bench::Seconds([&] {
      for (auto& z : zones) z->Save(true);
    });
    TZoneArray loaded;
    const double load = bench::Seconds([&] { LoadZones(loaded); });
    std::printf("tables: saving 1000 zones %.3f s, LoadZones %.3f s (%zu zones)\n", save, load, loaded.size());
  }
  return 0;
}
