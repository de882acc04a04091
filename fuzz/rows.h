#pragma once
// For the targets that fuzz what the program builds from table rows: an
// installation in a memory-backed folder (program settings, host settings,
// tables made once) and a way to refill a table from input lines.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace fuzzrows {

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

inline std::string TempFolder(const char* name) {
  // tmpfs when there is one: every flush ends in fsync.
  std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/vv_fuzz_" + name + "_XXXXXX";
  if (!mkdtemp(tmpl.data())) std::abort();
  return tmpl;
}

inline void WriteFile(const std::string& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Two printers and a default; no job ever starts.
class NoPrinters : public plat::PrinterService {
 public:
  std::vector<std::string> Printers() override { return {"Label A", "Invoice B"}; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int, const std::string&) override { return nullptr; }
};

// One folder that is program folder, host folder and every table folder.
inline const std::string& Installation(const char* name) {
  static const std::string dir = [name] {
    const std::string d = TempFolder(name);
    WriteFile(d + "/Vadoviver.ini", "[Paths]\r\nDesko=" + d + "\r\n");
    WriteFile(d + "/Mondarix.ini", "[System Directories]\r\nData=" + d + "\r\nMulti-Shipper=" + d + "\r\nRating=" + d +
                                       "\r\n[Printer Setup]\r\nPackagePrinter=Label A\r\n");
    plat::SetPrinting(std::make_shared<NoPrinters>());
    AppEngine = OpenData();
    AppSetup = new TSetup(d);  // for the whole run
    return d;
  }();
  return dir;
}

inline void Create(const std::string& path, const std::vector<FIELD4INFO>& fields, const std::vector<TAG4INFO>& tags) {
  if (d4exists(path)) return;
  const int t = d4create(AppEngine, path, fields, tags);
  Check(t != 0, "table created");
  d4close(t);
}

// Splits an input into lines (LF) and a line into fields ('|').
inline std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t end = s.find(sep, start);
    out.emplace_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return out;
    start = end + 1;
  }
}

// Empties the table and appends one record per row, the row's fields going
// to `names` in order. Returns the number of records appended.
inline int Refill(const std::string& path, const std::vector<const char*>& names,
                  const std::vector<std::vector<std::string>>& rows) {
  const int t = mOpen(AppEngine, path, "");
  Check(t != 0, "table opens");
  const int32_t n = d4recCountDo(t);
  if (n > 0) Check(d4zap(t, 1, n) == 0, "table emptied");
  int added = 0;
  for (const auto& row : rows) {
    if (d4appendBlank(t) != 0) break;
    ++added;
    for (size_t f = 0; f < row.size() && f < names.size(); ++f) replace(t, names[f], row[f]);
  }
  Check(d4flush(t) == 0, "table flushed");
  d4close(t);
  return added;
}

}  // namespace fuzzrows
