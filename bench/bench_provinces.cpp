// LoadProvinces on 20,000 Postal and 42,000 USZip records (tables generated
// here); the first load adds the two tags, later loads find them.
#include <cstdio>
#include <random>

#include "bench_common.h"
#include "geo/uXArea.h"

// Fifty distinct two-letter state codes.
std::string StateCode(int j) { return std::string{j < 26 ? 'U' : 'W', char('A' + j % 26)}; }

int main() {
  bench::Scratch scratch("vv_bench_provinces");
  const char* ca[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC", "NU", "NT", "YT"};
  const char* letters = "ABCEGHJKLMNPRSTVXY";
  std::mt19937 rng(1);

  int t = d4create(AppEngine, scratch.dir + "\\Provinces",
                   {{"COUNTRY", 'C', 2}, {"PROVINCE", 'C', 2}, {"SEQUENCE", 'N', 3}, {"NAME", 'C', 30}},
                   {{"NAME", "UPPER(NAME)"}});
  for (int i = 0; i < 13 + 50; ++i) {
    d4appendBlank(t);
    const bool isCa = i < 13;
    std::string code = isCa ? ca[i] : StateCode(i - 13);
    replace(t, "COUNTRY", isCa ? "CA" : "US");
    replace(t, "PROVINCE", code);
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
    const int s = static_cast<int>(rng() % 50);
    replace(t, "ZIP_CODE", std::to_string(10000 + rng() % 90000));
    replace(t, "STATE_CODE", StateCode(s));
    replace(t, "CITY_NAME", "City " + std::to_string(i % 900));
  }
  d4close(t);

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
