#pragma once
// Reads what the private test scheduler's capture backend wrote (see
// scripts/test-cups): <job>.title, <job>.printer, <job>.data, <job>.done.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "tests/support/files.h"

namespace vvtest {

struct CapturedJob {
  int id = 0;
  std::string title;
  std::string printer;
  std::string data;
};

inline const char* CaptureDir() {
  const char* d = std::getenv("VV_CUPS_CAPTURE");
  return d && *d ? d : nullptr;
}

inline std::string ReadWhole(const std::filesystem::path& p) { return vvtest::ReadFile(p.string()); }

// Ids of the jobs whose capture is complete.
inline std::set<int> DoneJobs() {
  std::set<int> ids;
  const char* dir = CaptureDir();
  if (!dir) return ids;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    std::string name = e.path().filename().string();
    if (name.size() > 5 && name.ends_with(".done") && name[0] != '.')
      ids.insert(std::atoi(name.c_str()));
  }
  return ids;
}

inline CapturedJob ReadJob(int id) {
  std::filesystem::path dir = CaptureDir();
  std::string base = std::to_string(id);
  return {id, ReadWhole(dir / (base + ".title")), ReadWhole(dir / (base + ".printer")),
          ReadWhole(dir / (base + ".data"))};
}

// Tests run in parallel against one scheduler, so each test marks its
// documents with a text of its own (Marker()) and only looks at jobs whose
// bytes hold it. Waits until at least `count` such jobs not in `before` are
// complete (or the time is up) and returns them in job order.
inline std::vector<CapturedJob> WaitForJobs(const std::set<int>& before, const std::string& marker,
                                            size_t count,
                                            std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  auto until = std::chrono::steady_clock::now() + timeout;
  std::vector<CapturedJob> jobs;
  std::set<int> seen = before;
  for (;;) {
    for (int id : DoneJobs()) {
      if (seen.count(id)) continue;
      seen.insert(id);
      CapturedJob job = ReadJob(id);
      if (job.data.find(marker) != std::string::npos) jobs.push_back(std::move(job));
    }
    if (jobs.size() >= count || std::chrono::steady_clock::now() >= until) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Queues finish in their own time: a later job may be seen in an earlier poll.
  std::sort(jobs.begin(), jobs.end(), [](const CapturedJob& a, const CapturedJob& b) { return a.id < b.id; });
  return jobs;
}

// A text no other test process puts into its documents.
inline std::string Marker(const std::string& what) {
  static int n = 0;
  return "<" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(++n) + ">";
}

}  // namespace vvtest
