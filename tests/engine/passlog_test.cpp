// The pass log and the label preview, through the command-line tool on a
// whole installation: what the log says against what the port received.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/passlog.h"
#include "reliability.h"
#include "test_files.h"
#include "tests/support/process.h"

namespace {

using rel::Installation;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  for (size_t p = 0, q; (q = text.find('\n', p)) != std::string::npos; p = q + 1) out.push_back(text.substr(p, q - p));
  return out;
}

// Local time as 2026-12-09T07:20:00+01:00.
bool IsIsoTime(const std::string& s) {
  const std::string shape = "dddd-dd-ddTdd:dd:dd+dd:dd";
  if (s.size() != shape.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool ok = shape[i] == 'd' ? (s[i] >= '0' && s[i] <= '9') : shape[i] == '+' ? (s[i] == '+' || s[i] == '-') : s[i] == shape[i];
    if (!ok) return false;
  }
  return true;
}

// A log line split at its tabs, the time checked and dropped.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  for (size_t p = 0;;) {
    const size_t q = line.find('\t', p);
    out.push_back(line.substr(p, q == std::string::npos ? q : q - p));
    if (q == std::string::npos) break;
    p = q + 1;
  }
  EXPECT_TRUE(IsIsoTime(out[0])) << line;
  out.erase(out.begin());
  return out;
}

// Label ids in the order their documents reached the port.
std::vector<int> PortOrder(const std::string& bytes) {
  std::vector<int> ids;
  for (size_t at = 0; (at = bytes.find("^XA LABEL-", at)) != std::string::npos; at += 10)
    ids.push_back(std::atoi(bytes.c_str() + at + 10));
  return ids;
}

class PassLog : public ::testing::Test {
 protected:
  static constexpr int kLabels = 5;
  Installation inst{"Direct To Eltron"};
  std::string port, out, err;

  // logSetting: the [Log] section's lines, or none.
  void Install(const std::string& logSetting = "") {
    port = (inst.root / "port.prn").string();
    const std::string ini = rel::Read(inst.prog + "/Vadoviver.ini");
    rel::Write(inst.prog + "/Vadoviver.ini", ini + "[Ports]\r\nLPT1=" + port + "\r\n" + logSetting);
    rel::Write(port, "");
    const int engine = OpenData();
    inst.CreateTables(engine, kLabels);
    CloseData(engine);
  }

  int Cli(const std::string& args) {
    std::vector<std::string> argv = {VV_BINARY_DIR "/cli/vadoviver-cli", "--home", inst.prog};
    for (std::string& a : vvtest::SplitArgs(args)) argv.push_back(std::move(a));
    vvtest::ProcessOptions options;
    options.stdoutFile = (inst.root / "stdout").string();
    options.stderrFile = (inst.root / "stderr").string();
    vvtest::Process cli(argv, options);
    cli.CloseInput();
    const int status = cli.Started() ? cli.Wait() : -2;
    out = testfiles::ConsoleText(rel::Read(options.stdoutFile));
    err = testfiles::ConsoleText(rel::Read(options.stderrFile));
    return status;
  }
  std::string Log() const { return rel::Read(inst.prog + "/Vadoviver.log"); }
};

// The preview shows the order the pass then prints and touches nothing; the
// log's printed lines name the labels in the order the port received them,
// and the pass line counts them.
TEST_F(PassLog, LabelPassLoggedAsPrinted) {
  Install();
  auto before = inst.Snapshot();
  ASSERT_EQ(Cli("labels --preview '" + inst.sortFile + "'"), 0) << err;
  auto after = inst.Snapshot();
  for (const char* console : {"stdout", "stderr"}) {
    before.erase((inst.root / console).string());
    after.erase((inst.root / console).string());
  }
  EXPECT_TRUE(after == before) << "the preview changed a file";
  EXPECT_FALSE(rel::Exists(inst.prog + "/Vadoviver.log")) << "a preview is no pass";
  const auto preview = Lines(out);

  ASSERT_EQ(Cli("labels '" + inst.sortFile + "'"), 0) << err;
  const std::vector<int> printed = PortOrder(rel::Read(port));
  ASSERT_EQ(printed, (std::vector<int>{5, 4, 3, 2, 1}));  // customer names run against the ids
  const auto log = Lines(Log());
  ASSERT_EQ(log.size(), kLabels + 1u) << Log();
  ASSERT_EQ(preview.size(), static_cast<size_t>(kLabels)) << out;
  for (int i = 0; i < kLabels; ++i) {
    const int id = printed[static_cast<size_t>(i)];
    const std::vector<std::string> want = {"printed", std::to_string(i + 1), inst.Doc(id), std::to_string(id), "0", "0",
                                           Installation::Customer(id)};
    EXPECT_EQ(Fields(log[static_cast<size_t>(i)]), want);
    EXPECT_EQ(preview[static_cast<size_t>(i)], log[static_cast<size_t>(i)].substr(log[static_cast<size_t>(i)].find("printed\t") + 8));
  }
  EXPECT_EQ(Fields(log.back()),
            (std::vector<std::string>{"pass", "package", "ok", "File Sort Processed Successfully.", "5"}));

  // Nothing left: the pass says so; a failing pass says why.
  ASSERT_EQ(Cli("labels '" + inst.sortFile + "'"), 0) << err;
  ASSERT_NE(Cli("labels '" + (inst.root / "none.qry").string() + "'"), 0);
  const auto more = Lines(Log());
  ASSERT_EQ(more.size(), kLabels + 3u);
  EXPECT_EQ(Fields(more[kLabels + 1]),
            (std::vector<std::string>{"pass", "package", "nothing", "File Sort Processed Successfully.", "0"}));
  EXPECT_EQ(Fields(more[kLabels + 2]), (std::vector<std::string>{"pass", "package", "failed",
                                                                  "Sort file invalid: Unable to process package label sort.", "0"}));
}

// A log that cannot be written never fails the pass: every label prints and
// the command says that the log is not kept. An empty [Log] File turns the
// log off without complaint; a relative name is taken beside the settings.
TEST_F(PassLog, LogSettings) {
  struct Case {
    const char* what;
    std::string setting;
    std::string logFile;  // where the lines must land, "" for nowhere
    bool complaint;
  } cases[] = {
      {"a folder that does not exist", "[Log]\r\nFile=" + inst.root.string() + "/no/such/v.log\r\n", "", true},
      {"a folder", "[Log]\r\nFile=" + inst.docs + "\r\n", "", true},
#ifndef _WIN32  // FIFOs are POSIX's
      {"a FIFO (never waited on)", "[Log]\r\nFile=" + inst.root.string() + "/fifo\r\n", "", true},
#endif
      {"empty", "[Log]\r\nFile=\r\n", "", false},
      {"relative", "[Log]\r\nFile=logs.txt\r\n", inst.prog + "/logs.txt", false},
  };
  const std::string ini = rel::Read(inst.prog + "/Vadoviver.ini");
#ifndef _WIN32
  ASSERT_EQ(mkfifo((inst.root / "fifo").c_str(), 0600), 0);
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rel::Write(inst.prog + "/Vadoviver.ini", ini);
    for (const auto& d : {inst.multi, inst.data})
      for (const auto& e : rel::fs::directory_iterator(d)) rel::fs::remove(e.path());
    Install(c.setting);
    EXPECT_EQ(Cli("labels '" + inst.sortFile + "'"), 0) << err;
    EXPECT_EQ(PortOrder(rel::Read(port)).size(), static_cast<size_t>(kLabels));
    EXPECT_EQ(err.find("is not being written") != std::string::npos, c.complaint) << err;
    EXPECT_FALSE(rel::Exists(inst.prog + "/Vadoviver.log"));
    if (!c.logFile.empty()) {
      EXPECT_EQ(Lines(rel::Read(c.logFile)).size(), kLabels + 1u);
    }
  }
}

// At the limit the log becomes <log>.1, replacing the one before; no line is
// lost or split, and a line goes whole into one file or the other.
TEST(PassLogRotation, KeepsOneOldFile) {
  vvtest::TempDir dir;
  const std::string file = dir / "Vadoviver.log";
  TPassLog log(file, 1000);
  TLabelLine label;
  label.FileName = "C:\\LABELS\\0001.LBL";
  label.Keys = {"K1", "a\tb"};  // a tab in a value must not make a field
  int written = 0;
  auto lines = [&] { return Lines(rel::Read(file + ".1")).size() + Lines(rel::Read(file)).size(); };
  while (!rel::Exists(file + ".1")) {
    label.Position = ++written;
    log.Printed(label);
  }
  EXPECT_EQ(lines(), static_cast<size_t>(written));
  EXPECT_LE(rel::fs::file_size(file + ".1"), 1000u);
  const std::string first = rel::Read(file + ".1");
  while (rel::Read(file + ".1") == first) {
    label.Position = ++written;
    log.Printed(label);
  }
  EXPECT_FALSE(log.Failing());
  EXPECT_LE(rel::fs::file_size(file), 1000u);
  for (const auto& l : Lines(rel::Read(file + ".1") + rel::Read(file))) {
    const auto f = Fields(l);
    ASSERT_EQ(f.size(), 7u) << l;
    EXPECT_EQ(f[6], "K1|a b");
  }
  // Positions carry on across the rotation: the newest file starts where .1 ends.
  const auto old = Lines(rel::Read(file + ".1"));
  const auto cur = Lines(rel::Read(file));
  ASSERT_FALSE(cur.empty());
  EXPECT_EQ(std::stoi(Fields(cur[0])[1]), std::stoi(Fields(old.back())[1]) + 1);
  EXPECT_EQ(std::stoi(Fields(cur.back())[1]), written);
}

}  // namespace
