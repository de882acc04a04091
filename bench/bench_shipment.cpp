// Sorting a 200,000-shipment ORDER.TXT (80-field header lines, two detail
// lines each) by zone location, zone code and postal code against 300 zones,
// next to a plain durable copy of the same file in the same run.
#include <fcntl.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#include "bench_common.h"
#include "engine/uSequncr.h"

namespace {

const char* const kProvinces[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC"};
const char* const kLetters[] = {"A", "B", "C", "E", "G", "K", "R", "S", "T", "V"};

// Plain copy: read and write in large blocks, then fsync, as the sequencing
// itself makes its result durable.
double CopyFile(const std::string& from, const std::string& to, double* cpu = nullptr) {
  const double c0 = bench::CpuSeconds();
  const double wall = bench::Seconds([&] {
    const int in = open(from.c_str(), O_RDONLY);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = read(in, buf.data(), buf.size())) > 0;)
      if (write(out, buf.data(), static_cast<size_t>(n)) != n) break;
    fsync(out);
    close(out);
    close(in);
  });
  if (cpu) *cpu = bench::CpuSeconds() - c0;
  return wall;
}

}  // namespace

int main() {
  bench::Scratch scratch("vv_bench_shipment");
  std::mt19937 rng(42);

  // 300 zones: 30 per province, each a run of postal ranges.
  TProvinceArray provinces;
  for (int p = 0; p < 10; ++p) {
    auto pr = std::make_unique<TProvince>();
    pr->Country = "CA";
    pr->Province = kProvinces[p];
    pr->Sequence = p + 1;
    provinces.push_back(std::move(pr));
  }
  for (int z = 0; z < 300; ++z) {
    TZone zone;
    zone.Zone = "Z" + std::to_string(z);
    zone.Name = "zone " + std::to_string(z);
    auto e = std::make_unique<TProvince>();
    e->Country = "CA";
    e->Province = kProvinces[z % 10];
    const std::string letter = kLetters[z % 10];
    const int digit = (z / 10) % 10;
    for (char c = 'A'; c <= 'Z'; c += 5) {
      e->Areas.push_back(letter + std::to_string(digit) + c + "0A0");
      e->AreasTo.push_back(letter + std::to_string(digit) + c + "9Z9");
    }
    e->AreaCount = 1000;
    zone.Provinces.push_back(std::move(e));
    if (!zone.Save(true)) {
      std::fprintf(stderr, "cannot save zone %d: %s\n", z, LastErrorText().c_str());
      return 1;
    }
  }

  const std::string original = scratch / "ORDER.ORIG";
  {
    std::ofstream out(original, std::ios::binary);
    std::string line;
    for (int s = 0; s < 200000; ++s) {
      const int p = static_cast<int>(rng() % 10);
      std::string postal = std::string(kLetters[p]) + char('0' + rng() % 10) + char('A' + rng() % 26) +
                           char('0' + rng() % 10) + char('A' + rng() % 26) + char('0' + rng() % 10);
      line = "H";
      for (int f = 2; f <= 80; ++f) {
        line += ',';
        switch (f) {
          case 4: line += "CUST" + std::to_string(rng() % 100000); break;
          case 5: line += "\"Customer " + std::to_string(rng() % 5000) + ", Ltd\""; break;
          case 13: line += postal; break;
          case 14: line += kProvinces[p]; break;
          default: line += "F" + std::to_string(f);
        }
      }
      out << line << "\r\n";
      out << "D,1," << s << ",PKG,12.5,KG,BOX,\"detail line\"\r\n";
      out << "D,2," << s << ",PKG,3.0,KG,ENV,\"second detail line\"\r\n";
    }
  }
  const double size = static_cast<double>(std::filesystem::file_size(original));
  const std::string source = scratch / "ORDER.IN";
  const std::string result = scratch / "ORDER.TXT";

  // Warm the page cache alike for both runs.
  CopyFile(original, scratch / "warm");
  std::filesystem::remove(scratch / "warm");
  double copyCpu = 0;
  const double copy = CopyFile(original, scratch / "copy", &copyCpu);
  std::filesystem::remove(scratch / "copy");
  std::filesystem::copy_file(original, source);
  std::ofstream(result).close();
  const TSortOrderArray order = {sfZoneLocation, sfZoneCode, sfPostalCode};
  bool ok = false;
  const double c0 = bench::CpuSeconds();
  const double sort = bench::Seconds([&] { ok = SequenceShipmentFile(source, result, provinces, order); });
  const double sortCpu = bench::CpuSeconds() - c0;
  if (!ok || std::filesystem::file_size(result) != std::filesystem::file_size(original)) {
    std::fprintf(stderr, "sequencing failed\n");
    return 1;
  }
  std::printf("ORDER.TXT: 200000 shipments, %.1f MB, 300 zones\n", size / 1e6);
  std::printf("                                    wall   processor\n");
  std::printf("plain copy (read, write, fsync): %8.3f s  %8.3f s\n", copy, copyCpu);
  std::printf("SequenceShipmentFile:            %8.3f s  %8.3f s\n", sort, sortCpu);
  std::printf("ratio: %.2f wall, %.2f processor (target <= 3)\n", sort / copy, sortCpu / copyCpu);
  std::printf("peak RSS: %.1f MB (target < 150)\n", bench::PeakRssMb());
  return 0;
}
