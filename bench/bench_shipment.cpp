// One shipment pass as the program runs it (province list, zones, the sort)
// on a 200,000-shipment ORDER.TXT sorted by zone location, zone code and
// postal code against 3,000 zones of 60,000 area rows, next to `cp` + `sync`
// of the same file and a durable copy, all in the same run.
#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

#include "bench_common.h"
#include "engine/uSequncr.h"

namespace {

const char* const kProvinces[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC"};
const char* const kLetters[] = {"A", "B", "C", "E", "G", "K", "R", "S", "T", "V"};
constexpr int kShipments = 200000;
constexpr int kZones = 3000;
constexpr int kRowsPerZone = 20;


// Durable copy: read and write in large blocks, then fsync the copy only.
double DurableCopy(const std::string& from, const std::string& to) {
  return bench::Seconds([&] {
    const int in = open(from.c_str(), O_RDONLY);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = read(in, buf.data(), buf.size())) > 0;)
      if (write(out, buf.data(), static_cast<size_t>(n)) != n) break;
    fsync(out);
    close(out);
    close(in);
  });
}

// What a user compares with: the copy command, then the system-wide sync.
double CpSync(const std::string& from, const std::string& to) {
  const std::string cmd = "cp -- '" + from + "' '" + to + "' && sync";
  int rc = 0;
  const double t = bench::Seconds([&] { rc = std::system(cmd.c_str()); });
  return rc == 0 ? t : -1;
}

// Zones and AreaToZone written straight through the table layer: 3,000 zones
// of 20 rows each, a third postal ranges of one province, a third zip codes
// of one state, a third a whole state or territory and zips of another.
bool MakeZones(const bench::Scratch& scratch, std::mt19937& rng) {
  const TAG4INFO tag{"ZONE", "ZONE", "", 0, 0};
  const int zones = d4create(AppEngine, scratch.dir + "\\Zones", {{"ZONE", 'C', 9, 0}, {"NAME", 'C', 40, 0}},
                             {tag, TAG4INFO{}});
  const int areas = d4create(AppEngine, scratch.dir + "\\AreaToZone",
                             {{"ZONE", 'C', 9, 0}, {"AREA", 'C', 10, 0}, {"AREA_TO", 'C', 10, 0}}, {tag, TAG4INFO{}});
  if (!zones || !areas) return false;
  int rows = 0;
  auto row = [&](const std::string& code, const std::string& area, const std::string& to) {
    d4appendBlank(areas);
    replace(areas, "ZONE", code);
    replace(areas, "AREA", area);
    if (!to.empty()) replace(areas, "AREA_TO", to);
    ++rows;
  };
  auto zip = [&] { return std::to_string(10000 + rng() % 90000); };
  // Written in a scrambled code order, as zones come and go in the editor.
  std::vector<int> ids(kZones);
  for (int z = 0; z < kZones; ++z) ids[static_cast<size_t>(z)] = z;
  std::shuffle(ids.begin(), ids.end(), rng);
  for (int z : ids) {
    char code[8];
    std::snprintf(code, sizeof code, "Z%04d", z);
    d4appendBlank(zones);
    replace(zones, "ZONE", code);
    replace(zones, "NAME", std::string("Zone ") + code);
    if (z % 3 == 0) {
      const int p = (z / 3) % 10;
      const std::string prefix = std::string("CA") + kProvinces[p];
      for (int r = 0; r < kRowsPerZone; ++r) {
        const std::string head = kLetters[p] + std::to_string(rng() % 10) + char('A' + rng() % 26);
        row(code, prefix + head + "0A0", prefix + head + "9Z9");
      }
    } else if (z % 3 == 1) {
      const std::string prefix = "US" + bench::StateCode(z % 50);
      for (int r = 0; r < kRowsPerZone; ++r) row(code, prefix + zip(), "");
    } else {
      row(code, "US" + bench::StateCode((z / 3) % 50) + "*****", "");
      const std::string prefix = "US" + bench::StateCode((z / 3 + 7) % 50);
      for (int r = 1; r < kRowsPerZone; ++r) row(code, prefix + zip(), "");
    }
  }
  d4close(areas);
  d4close(zones);
  return rows == kZones * kRowsPerZone;
}

void MakeOrderFile(const std::string& path, std::mt19937& rng) {
  std::ofstream out(path, std::ios::binary);
  std::string line;
  for (int s = 0; s < kShipments; ++s) {
    const int p = static_cast<int>(rng() % 10);
    const bool us = rng() % 4 == 0;
    const std::string postal = us ? std::to_string(10000 + rng() % 90000)
                                  : std::string(kLetters[p]) + char('0' + rng() % 10) + char('A' + rng() % 26) +
                                        char('0' + rng() % 10) + char('A' + rng() % 26) + char('0' + rng() % 10);
    line = "H";
    for (int f = 2; f <= 80; ++f) {
      line += ',';
      switch (f) {
        case 4: line += "CUST" + std::to_string(rng() % 100000); break;
        case 5: line += "\"Customer " + std::to_string(rng() % 5000) + ", Ltd\""; break;
        case 13: line += postal; break;
        case 14: line += us ? bench::StateCode(static_cast<int>(rng() % 50)) : kProvinces[p]; break;
        default: line += "FD" + std::to_string(f);
      }
    }
    out << line << "\r\n";
    out << "D,1," << s << ",PKG,12.5,KG,BOX,\"detail line, first package\"\r\n";
    out << "D,2," << s << ",PKG,3.0,KG,ENV,\"detail line, second package\"\r\n";
  }
}

}  // namespace

int main() {
  bench::Scratch scratch("vv_bench_shipment");
  std::mt19937 rng(42);
  bench::MakeReferenceTables(scratch, rng);
  if (!MakeZones(scratch, rng)) {
    std::fprintf(stderr, "cannot write the zone tables\n");
    return 1;
  }
  const std::string original = scratch / "ORDER.ORIG";
  MakeOrderFile(original, rng);
  const double size = static_cast<double>(std::filesystem::file_size(original));
  const std::string source = scratch / "ORDER.IN";
  const std::string result = scratch / "ORDER.TXT";
  const std::string copy = scratch / "copy";

  // The pass as the program runs it: the province list its keys need, then
  // the file. Best of BENCH_RUNS (3) of each, taken in turns so that load on
  // a shared machine falls on all alike; the source is in the page cache.
  const TSortOrderArray order = {sfZoneLocation, sfZoneCode, sfPostalCode};
  DurableCopy(original, copy);
  const char* runsEnv = std::getenv("BENCH_RUNS");
  const int kRuns = runsEnv ? std::max(1, std::atoi(runsEnv)) : 3;
  double best = 1e9, bestCpu = 0, bestCp = 1e9, bestDurable = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    std::filesystem::remove(copy);
    const double cp = CpSync(original, copy);
    if (cp < 0) {
      std::fprintf(stderr, "cp + sync failed\n");
      return 1;
    }
    bestCp = std::min(bestCp, cp);
    std::filesystem::remove(copy);
    bestDurable = std::min(bestDurable, DurableCopy(original, copy));
    std::filesystem::remove(copy);

    std::filesystem::copy_file(original, source);
    std::ofstream(result).close();
    std::system("sync");
    bool ok = false;
    const double c0 = bench::CpuSeconds();
    const double t = bench::Seconds([&] {
      TProvinceArray provinces;
      LoadPassProvinces(order, provinces);
      ok = SequenceShipmentFile(source, result, provinces, order);
      FreeProvinces(provinces);
    });
    const double cpu = bench::CpuSeconds() - c0;
    if (!ok || std::filesystem::file_size(result) != std::filesystem::file_size(original)) {
      std::fprintf(stderr, "sequencing failed\n");
      return 1;
    }
    std::filesystem::remove(result);
    if (t < best) {
      best = t;
      bestCpu = cpu;
    }
  }
  std::printf("ORDER.TXT: %d shipments, %.1f MB, %d zones, %d area rows; best of %d\n", kShipments, size / 1e6,
              kZones, kZones * kRowsPerZone, kRuns);
  std::printf("cp + sync:                          %8.3f s\n", bestCp);
  std::printf("durable copy (read, write, fsync):  %8.3f s\n", bestDurable);
  std::printf("shipment pass (wall, processor):    %8.3f s  %8.3f s\n", best, bestCpu);
  std::printf("ratio: %.2f x cp + sync (target <= 2), %.2f x durable copy\n", best / bestCp, best / bestDurable);
  std::printf("peak RSS: %.1f MB (target < 150)\n", bench::PeakRssMb());
  return 0;
}
