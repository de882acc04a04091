// A second process for the contention and long-run tests, standing in for the
// host program:
//   lock TABLE                 hold the whole-table lock of TABLE
//   hold FILE                  hold FILE open for writing
//   labels MULTI DATA DOCS FIRST COUNT PAUSE_MS
//                              add labels FIRST.. (document, shipment, package,
//                              then the Labels record under the table lock)
//   orders SOURCE FIRST COUNT PER PAUSE_MS
//                              write COUNT shipment files SOURCE/ORDER.TXT of PER
//                              shipments each, numbered from FIRST, each once the
//                              previous one has been taken away
// lock and hold answer "ready" and keep going until standard input closes;
// labels and orders answer "done" at the end. Failures answer "failed".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "label_docs.h"
#include "platform/os.h"
#include "setup/TableAccess.h"
#include "tests/support/files.h"

namespace {

void Say(const char* what) {
  std::printf("%s\n", what);
  std::fflush(stdout);
}

void WaitForStdinToClose() {
  char buf[64];
  while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
  }
}

void Pause(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

using vvtest::WriteFile;
namespace os = plat::os;

// An ordinary open for writing, as an exporting program has (it shares the
// file, so it keeps out only those who open without sharing).
std::unique_ptr<os::File> OpenToWrite(const std::string& file, os::Disposition disposition) {
  os::OpenRequest how;
  how.access = os::Access::Write;
  how.disposition = disposition;
  return os::Os().Open(file, how);
}

// The Labels record goes in under the table lock, waiting while a pass holds it.
bool AddRow(int engine, const std::string& table, const std::vector<std::pair<std::string, std::string>>& row,
            bool lock) {
  const int t = mOpen(engine, table, "");
  if (!t) return false;
  if (lock)
    while (d4lockFile(t) != 0) Pause(2);
  bool ok = d4appendBlank(t) == 0;
  for (const auto& [f, v] : row) ok = ok && replace(t, f, v) == 0;
  ok = d4flush(t) == 0 && ok;
  d4unlock(t);
  d4close(t);
  return ok;
}

std::string Customer(int id) {
  char n[32];
  std::snprintf(n, sizeof n, "CUSTOMER %06d", 999999 - id);
  return n;
}

std::string DocName(const std::string& docs, int id) {
  char n[32];
  std::snprintf(n, sizeof n, "/L%06d.LBL", id);
  return docs + n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  if (mode == "lock") {
    const int engine = OpenData();
    const int t = mOpen(engine, argv[2], "");
    if (!t || d4lockFile(t) != 0) {
      Say("failed");
      return 1;
    }
    Say("ready");
    WaitForStdinToClose();
    d4close(t);
    return 0;
  }
  if (mode == "hold") {
    const auto held = OpenToWrite(argv[2], os::Disposition::OpenExisting);
    if (!held) {
      Say("failed");
      return 1;
    }
    Say("ready");
    WaitForStdinToClose();
    return 0;
  }
  if (mode == "labels" && argc == 8) {
    const std::string multi = argv[2], data = argv[3], docs = argv[4];
    const int first = std::atoi(argv[5]), count = std::atoi(argv[6]);
    const long pause = std::atol(argv[7]);
    const int engine = OpenData();
    for (int id = first; id < first + count; ++id) {
      const std::string s = std::to_string(id);
      bool ok = AddRow(engine, data + "\\Shipment",
                       {{"SHIPMENTID", s}, {"ST_PROV", "ON"}, {"ST_NAME", Customer(id)}, {"ST_POSTAL", "K1A0B1"}}, false);
      ok = ok && AddRow(engine, data + "\\Package", {{"SHIPMENTID", s}, {"PKG_NO", "0"}}, false);
      ok = ok && WriteFile(DocName(docs, id), rel::LabelDocument(id));
      ok = ok && AddRow(engine, multi + "\\Labels",
                        {{"FILE_NAME", DocName(docs, id)}, {"DOCUMENT", "0"}, {"SHIPMENT", s}, {"PACKAGE", "0"}}, true);
      if (!ok) {
        Say(("failed " + LastErrorText()).c_str());
        return 1;
      }
      Pause(pause);
    }
    Say("done");
    return 0;
  }
  if (mode == "orders" && argc == 7) {
    const std::string file = os::JoinPath(argv[2], "ORDER.TXT");
    const int first = std::atoi(argv[3]), count = std::atoi(argv[4]), per = std::atoi(argv[5]);
    const long pause = std::atol(argv[6]);
    int id = first;
    for (int k = 0; k < count; ++k) {
      os::FileInfo info;
      while (os::Os().Stat(file, true, &info)) Pause(1);
      // Written in two pieces with a pause between, held open all the while,
      // as a program exporting shipments does.
      const auto out = OpenToWrite(file, os::Disposition::CreateOrTruncate);
      if (!out) {
        Say("failed");
        return 1;
      }
      std::string part;
      bool ok = true;
      for (int i = 0; i < per; ++i, ++id) {
        part += "H,2024," + std::to_string(id) + ",C,NAME " + std::to_string((id * 7919) % 1000) + "\r\nD,shipment " +
                std::to_string(id) + "\r\n";
        if (i == per / 2) {
          ok = ok && out->Write(part.data(), part.size());
          part.clear();
          Pause(pause);
        }
      }
      ok = ok && out->Write(part.data(), part.size());
      if (!out->Close() || !ok) {
        Say("failed");
        return 1;
      }
    }
    Say("done");
    return 0;
  }
  return 2;
}
