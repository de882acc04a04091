#pragma once
// Shared bits of the sequencing benchmarks: a scratch folder with settings and
// an open table engine, timing and peak memory.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
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

inline double PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

}  // namespace bench
