#pragma once
// A whole installation for the reliability tests: the program folder with
// Vadoviver.ini, the host folder with Mondarix.ini, the host's Labels,
// Shipment and Package tables, label documents, a sort file and the shipment
// folders; plus a printer that records which labels came out whole.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "label_docs.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace rel {

namespace fs = std::filesystem;

inline void Write(const std::string& file, const std::string& bytes) { vvtest::WriteFile(file, bytes); }
inline std::string Read(const std::string& file) { return vvtest::ReadFile(file); }
using vvtest::Exists;

// Keeps only what matters for the invariants: which labels came out whole, in
// order, and how often. Jobs that were cancelled or refused do not count.
class RecordingPrinter : public plat::PrinterService {
 public:
  std::vector<int> printed;  // label ids in printing order
  size_t docSize = 300;

  std::vector<std::string> Printers() override { return {"Label Printer"}; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int, const std::string& title) override {
    if (title != "Kavlo Shipping Label") return nullptr;
    return std::make_unique<Job>(*this);
  }
  std::map<int, int> Counts() const {
    std::map<int, int> c;
    for (int id : printed) ++c[id];
    return c;
  }

 private:
  class Job : public plat::PrintJob {
   public:
    explicit Job(RecordingPrinter& p) : p_(p) {}
    bool SendBlock(const std::string& bytes) override {
      data_ += bytes;
      return true;
    }
    bool End(bool ok) override {
      if (ok)
        for (const auto& [id, n] : LabelsIn(data_, p_.docSize))
          for (int i = 0; i < n; ++i) p_.printed.push_back(id);
      return ok;
    }

   private:
    RecordingPrinter& p_;
    std::string data_;
  };
};

struct Installation {
  vvtest::TempDir temp;  // owns root and everything in it
  fs::path root = temp.path();
  std::string prog, host, multi, data, rating, docs, in, out, sortFile, fifo;
  size_t docSize = 300;

  // printer: the host's setting for package labels ("Label Printer" or
  // "Direct To Eltron"); fifo: where LPT1 goes, when given.
  explicit Installation(const std::string& printer = "Label Printer", bool withFifo = false) {
    auto sub = [&](const char* n) { return temp.Sub(n); };
    prog = sub("prog");
    host = sub("host");
    multi = sub("multi");
    data = sub("data");
    rating = sub("rating");
    docs = sub("docs");
    in = sub("in");
    out = sub("out");
    sortFile = (root / "cust.qry").string();
    Write(sortFile, "[Keys]\r\nKey1=5\r\n");  // by customer name
    std::string ini = "[Paths]\r\nDesko=" + host + "\r\nSource=" + in + "\r\nResult=" + out + "\r\n";
#ifndef _WIN32  // only the POSIX-only tests print to a FIFO
    if (withFifo) {
      fifo = (root / "lpt1").string();
      EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
      ini += "[Ports]\r\nLPT1=" + fifo + "\r\n";
    }
#else
    (void)withFifo;
#endif
    Write(prog + "/Vadoviver.ini", ini);
    Write(host + "/Mondarix.ini", "[System Directories]\r\nData=" + data + "\r\nMulti-Shipper=" + multi +
                                      "\r\nRating=" + rating + "\r\n[Printer Setup]\r\nPackagePrinter=" + printer +
                                      "\r\nCommInvoicePrinter=" + printer + "\r\nKeyentryPrinter=" + printer +
                                      "\r\n[Direct To Eltron Setup]\r\nPort=1\r\n");
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // Names the sort file in Vadoviver.ini, as the headless cycle reads it.
  void SetQueryFile() const {
    Write(prog + "/Vadoviver.ini", Read(prog + "/Vadoviver.ini") + "[Files]\r\nQuery=" + sortFile + "\r\n");
  }

  std::string Doc(int id) const {
    char n[32];
    std::snprintf(n, sizeof n, "/L%06d.LBL", id);
    return docs + n;
  }
  // Customer names run against the ids, so sorting reverses the table order.
  static std::string Customer(int id) {
    char n[32];
    std::snprintf(n, sizeof n, "CUSTOMER %06d", 999999 - id);
    return n;
  }

  // Creates the host's tables; labels 1..n wait, each with its shipment,
  // package and document.
  void CreateTables(int engine, int labels) {
    int t = d4create(engine, multi + "\\Labels",
                     {{"FILE_NAME", 'C', 128, 0}, {"DOCUMENT", 'N', 2, 0}, {"SHIPMENT", 'N', 10, 0}, {"PACKAGE", 'N', 5, 0}},
                     {{"DOCUMENT", "DOCUMENT"}});
    ASSERT_NE(t, 0) << LastErrorText();
    d4close(t);
    t = d4create(engine, data + "\\Shipment",
                 {{"SHIPMENTID", 'N', 10, 0}, {"ST_PROV", 'C', 2, 0}, {"ST_CUSTID", 'C', 15, 0}, {"ST_NAME", 'C', 35, 0},
                  {"ST_POSTAL", 'C', 10, 0}, {"REFERENCE0", 'C', 30, 0}, {"REFERENCE1", 'C', 30, 0}},
                 {{"SHIPMENTID", "SHIPMENTID"}});
    ASSERT_NE(t, 0) << LastErrorText();
    d4close(t);
    t = d4create(engine, data + "\\Package",
                 {{"SHIPMENTID", 'N', 10, 0}, {"PKG_NO", 'N', 4, 0}, {"REFERENCE1", 'C', 30, 0}, {"REFERENCE2", 'C', 30, 0},
                  {"REFERENCE3", 'C', 30, 0}, {"REFERENCE4", 'C', 30, 0}},
                 {{"SHIPMENTID", "SHIPMENTID"}});
    ASSERT_NE(t, 0) << LastErrorText();
    d4close(t);
    for (int id = 1; id <= labels; ++id) AddLabel(engine, id);
  }

  // The host's way of adding a label: shipment and package rows, the
  // document, then the Labels record.
  void AddLabel(int engine, int id, bool withDocument = true) {
    auto put = [&](const std::string& table, const std::vector<std::pair<std::string, std::string>>& row) {
      const int t = mOpen(engine, table, "");
      ASSERT_NE(t, 0) << LastErrorText();
      ASSERT_EQ(d4appendBlank(t), 0) << LastErrorText();
      for (const auto& [f, v] : row) ASSERT_EQ(replace(t, f, v), 0) << f << ": " << LastErrorText();
      ASSERT_EQ(d4flush(t), 0) << LastErrorText();
      d4close(t);
    };
    put(data + "\\Shipment", {{"SHIPMENTID", std::to_string(id)}, {"ST_PROV", "ON"}, {"ST_NAME", Customer(id)},
                              {"ST_POSTAL", "K1A0B1"}, {"REFERENCE0", "R" + std::to_string(id)}});
    put(data + "\\Package", {{"SHIPMENTID", std::to_string(id)}, {"PKG_NO", "0"}, {"REFERENCE1", "P"}});
    if (withDocument) Write(Doc(id), LabelDocument(id, docSize));
    put(multi + "\\Labels", {{"FILE_NAME", Doc(id)}, {"DOCUMENT", "0"}, {"SHIPMENT", std::to_string(id)}, {"PACKAGE", "0"}});
  }

  // Records of Labels not marked deleted; -1 when the table cannot be opened.
  int WaitingLabels(int engine) const {
    const int t = mOpen(engine, multi + "\\Labels", "document");
    if (!t) return -1;
    int n = 0;
    for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1))
      if (d4deleted(t) != 1) ++n;
    d4close(t);
    return n;
  }

  // Every plain file of the installation, to put back before each injection
  // point (much faster than building the tables again).
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file() && !e.is_symlink()) files[e.path().string()] = Read(e.path().string());
    return files;
  }
  void Restore(const std::map<std::string, std::string>& files) const {
    std::vector<fs::path> extra;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if ((e.is_regular_file() || e.is_symlink()) && !files.count(e.path().string())) extra.push_back(e.path());
    for (const auto& p : extra) fs::remove(p);
    for (const auto& [path, bytes] : files) Write(path, bytes);
  }

  std::vector<std::string> DocsLeft() const { return vvtest::ListDir(docs); }
};

// The Labels records and documents, for failure messages.
inline std::string Describe(const Installation& inst) {
  std::string out;
  const int saved = AppEngine;
  const int e = OpenData();
  const int t = mOpen(e, inst.multi + "\\Labels", "document");
  if (!t) out += "Labels does not open: " + LastErrorText() + "\n";
  for (int rc = t ? d4top(t) : 1; rc == 0; rc = d4skip(t, 1)) {
    const std::string f = fetch(t, "FILE_NAME");
    out += "record " + std::to_string(d4recNo(t)) + (d4deleted(t) == 1 ? " (deleted) " : " ") + f +
           (Exists(f) ? "" : " (no document)") + "\n";
  }
  if (t) d4close(t);
  CloseData(e);
  AppEngine = saved;
  for (const auto& d : inst.DocsLeft()) out += "document " + d + "\n";
  return out;
}

// Checks the label invariants after passes over labels 1..n: none lost, at
// most one printed twice (the one in flight when a pass was cut short),
// none printed three times.
inline void ExpectEachLabelOnce(const std::map<int, int>& counts, int n, int allowedTwice = 1) {
  int twice = 0;
  for (int id = 1; id <= n; ++id) {
    auto it = counts.find(id);
    const int c = it == counts.end() ? 0 : it->second;
    EXPECT_GE(c, 1) << "label " << id << " lost";
    EXPECT_LE(c, 2) << "label " << id << " printed " << c << " times";
    if (c == 2) ++twice;
  }
  for (const auto& [id, c] : counts) EXPECT_TRUE(id >= 1 && id <= n) << "unknown label " << id;
  EXPECT_LE(twice, allowedTwice) << "labels printed twice";
}

#ifndef _WIN32
// Processes ended by signals at chosen moments, /proc: the crash and
// contention tests that use these stay POSIX-only.
// Runs the command-line tool to its end; its exit status (-1 when killed).
// stdoutTo: a file that receives its standard output (quiet or not).
inline pid_t SpawnCli(const std::vector<std::string>& args, bool quiet = true, const std::string& stdoutTo = "") {
  std::vector<std::string> all = {VV_BINARY_DIR "/cli/vadoviver-cli"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (quiet || !stdoutTo.empty())
    posix_spawn_file_actions_addopen(&fa, 1, stdoutTo.empty() ? "/dev/null" : stdoutTo.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (quiet) posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

inline int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int RunCli(const std::vector<std::string>& args) {
  const pid_t pid = SpawnCli(args);
  return pid < 0 ? -2 : WaitExit(pid);
}

// The lines of a file once it holds at least n of them (those it holds
// when the time is up otherwise).
inline std::vector<std::string> LinesOnce(const std::string& file, size_t n, int timeoutMs = 20000) {
  std::vector<std::string> lines;
  for (int waited = 0;; waited += 10) {
    lines.clear();
    const std::string text = Read(file);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(text.substr(at, end - at));
    if (lines.size() >= n || waited >= timeoutMs) return lines;
    usleep(10000);
  }
}

// Waits up to timeoutMs for the process to end: its exit status, -1 when
// killed, -3 when it is still running.
inline int ExitWithin(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(5000);
  }
  return -3;
}

// Resident pages and open descriptors of this process.
inline long ResidentKb() {
  long size = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
inline int OpenFds() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

#endif

}  // namespace rel
