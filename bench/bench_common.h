#pragma once
// Shared bits of the sequencing benchmarks: a scratch folder with settings and
// an open table engine, timing and peak memory.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace bench {

struct Scratch {
  std::string dir;
  Scratch(const char* name) {
    std::string tmpl = std::string("/tmp/") + name + "_XXXXXX";
    dir = mkdtemp(tmpl.data());
    OpenData();
    AppSetup = new TSetup(dir);
    AppSetup->RatingPath = dir;
    AppSetup->MultiShipperPath = dir;
  }
  ~Scratch() {
    delete AppSetup;
    AppSetup = nullptr;
    CloseData(AppEngine);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string operator/(const std::string& name) const { return dir + "/" + name; }
};

template <typename F>
double Seconds(F f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Processor time (user + system) of this process so far, in seconds: on a
// busy machine a fairer figure than the wall clock.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Fifty distinct two-letter state codes.
inline std::string StateCode(int j) { return std::string{j < 26 ? 'U' : 'W', char('A' + j % 26)}; }

// The host's reference tables in the scratch folder: 13 Canadian provinces
// and 50 states, 20,000 Postal and 42,000 USZip lines.
inline void MakeReferenceTables(const Scratch& scratch, std::mt19937& rng) {
  const char* ca[] = {"NF", "NS", "PE", "NB", "QC", "ON", "MB", "SK", "AB", "BC", "NU", "NT", "YT"};
  const char* letters = "ABCEGHJKLMNPRSTVXY";
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
}

inline double PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

}  // namespace bench
