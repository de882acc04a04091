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

// Processor time (user + system) of this process so far, in seconds: on a
// busy machine a fairer figure than the wall clock.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

}  // namespace bench
