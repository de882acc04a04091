// Second process for the label tests.
//
//   labelslock_helper TABLE
//     takes the whole-table lock on TABLE, answers "locked" (or "failed") and
//     holds the lock until its standard input closes.
//   labelslock_helper pass PROGRAM MULTI DATA
//     runs one label pass (order: customer name) whose printer writes
//     "printed <bytes>" for each document; a document holding "!HANG!" makes
//     it answer "hang" and wait there to be killed.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "engine/uSequncr.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

class StdoutPrinter : public plat::PrinterService {
 public:
  std::vector<std::string> Printers() override { return {"P"}; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int, const std::string&) override { return std::make_unique<Job>(); }

 private:
  struct Job : plat::PrintJob {
    std::string bytes;
    bool SendBlock(const std::string& b) override {
      bytes += b;
      if (bytes.find("!HANG!") != std::string::npos) {
        std::printf("hang\n");
        std::fflush(stdout);
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
      }
      return true;
    }
    bool End(bool ok) override {
      if (ok) {
        std::printf("printed %s\n", bytes.c_str());
        std::fflush(stdout);
      }
      return ok;
    }
  };
};

int HoldLock(const char* table) {
  const int engine = OpenData();
  const int t = mOpen(engine, table, "");
  if (!t || d4lockFile(t) != 0) {
    std::printf("failed\n");
    std::fflush(stdout);
    return 1;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  char buf[64];
  while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
  }
  d4close(t);
  CloseData(engine);
  return 0;
}

int Pass(const char* program, const char* multi, const char* data) {
  OpenData();
  plat::SetPrinting(std::make_shared<StdoutPrinter>());
  TSetup setup(program);
  AppSetup = &setup;
  setup.MultiShipperPath = multi;
  setup.DataPath = data;
  setup.PackagePrinter = 0;
  const bool ok = SequenceLabels({}, {sfCustomerName});
  std::printf("%s\n", ok ? "done" : "failed");
  AppSetup = nullptr;
  CloseData(AppEngine);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2) return HoldLock(argv[1]);
  if (argc == 5 && std::string(argv[1]) == "pass") return Pass(argv[2], argv[3], argv[4]);
  return 2;
}
