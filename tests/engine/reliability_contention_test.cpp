// Contention with a real second process, and a long run of passes while
// shipment files and labels keep arriving from it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "engine/passes.h"
#include "engine/uSequncr.h"
#include "platform/os.h"
#include "passes_support.h"
#include "reliability.h"
#include "test_files.h"
#include "tests/fault_points.h"
#include "tests/support/process.h"

namespace {

using rel::Installation;
using Clock = std::chrono::steady_clock;

// AddressSanitizer keeps freed memory resident in its quarantine, so resident
// memory is measured in the plain build only (its leak check covers the rest).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The helper program, talked to over its standard input (closing it ends
// lock and hold) and output.
class Helper {
 public:
  explicit Helper(const std::vector<std::string>& args) : process_(Argv(args)) { EXPECT_TRUE(process_.Started()); }
  // One that has not finished by then (the test gave up on it) is ended.
  ~Helper() {
    Release();
    if (process_.WaitFor(20000) == -3) process_.Kill();
  }
  // Next line the helper says; "" when it said nothing within the time.
  std::string Line(int timeoutMs = 20000) { return process_.ReadLine(timeoutMs); }
  // Whether the helper has said its last line, without waiting; a helper
  // that ended without a word counts as having said "".
  bool Said(std::string& line) {
    line = process_.ReadLine(0);
    if (!line.empty()) return true;
    if (process_.WaitFor(0) == -3) return false;
    line = process_.ReadLine();  // what it said before it ended
    return true;
  }
  void Release() { process_.CloseInput(); }

 private:
  static std::vector<std::string> Argv(const std::vector<std::string>& args) {
    std::vector<std::string> all = {VV_HELPER_contention_helper};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  vvtest::Process process_;
};

// The lines of a file once it holds at least n of them (those it holds
// when the time is up otherwise).
std::vector<std::string> LinesOnce(const std::string& file, size_t n, int timeoutMs = 20000) {
  std::vector<std::string> lines;
  for (int waited = 0;; waited += 10) {
    lines.clear();
    const std::string text = rel::Read(file);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(text.substr(at, end - at));
    if (lines.size() >= n || waited >= timeoutMs) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The automatic cycle while the host holds what a pass needs: busy, not
// failed; no message until the 30th busy pass in a row, which shows the
// ordinary warning once; the status line names the next try. A manual pass
// is busy too and, as ever, says nothing about it.
void ExpectBusy(TPassKind kind, const TPassInput& in, const TPassInput& manual, const std::string& warning) {
  const int engine = AppEngine;  // the pass engine below is the test's own
  passes::FakeClock clock;
  TProcessing processing(clock);
  TCycle cycle(clock);
  passes::RecordingView view;
  for (int pass = 1; pass <= TCycle::BusyWarnAfter + 1; ++pass) {
    const TPassResult r = cycle.Tick(processing, kind, in, view);
    ASSERT_STREQ(OutcomeWord(r.Outcome), "busy") << "pass " << pass;
    EXPECT_EQ(r.Shown, pass == TCycle::BusyWarnAfter) << "pass " << pass;
  }
  std::vector<std::string> messages;
  for (const std::string& s : view.shown)
    if (s.rfind("message ", 0) == 0) messages.push_back(s);
  EXPECT_EQ(messages, std::vector<std::string>{"message " + warning});
  EXPECT_EQ(cycle.StatusLine(),
            "Kavlo Desko is busy; next try at " + plat::LocalTimeOfDay(clock.now + std::chrono::seconds(10)));
  EXPECT_EQ(cycle.PassCount(), 0);
  view.shown.clear();
  EXPECT_STREQ(OutcomeWord(processing.Pass(kind, false, manual, view).Outcome), "busy");
  EXPECT_EQ(view.shown.back(), "hide");
  EXPECT_EQ(view.shown.size(), 2u);
  AppEngine = engine;
}

TPassResult AutoPassOnce(TPassKind kind, const TPassInput& in) {
  const int engine = AppEngine;
  passes::FakeClock clock;
  TProcessing processing(clock);
  passes::RecordingView view;
  const TPassResult r = TCycle(clock).Tick(processing, kind, in, view);
  AppEngine = engine;
  return r;
}

class Contention : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = OpenData();
    printer = std::make_shared<rel::RecordingPrinter>();
    plat::SetPrinting(printer);
  }
  void TearDown() override {
    AppSetup = nullptr;
    setup.reset();
    plat::SetPrinting(nullptr);
    CloseData(engine);
  }
  void Start(int labels) {
    inst.CreateTables(engine, labels);
    setup = std::make_unique<TSetup>(inst.prog);
    AppSetup = setup.get();
  }
  bool LabelPass() { return SequenceLabels(provinces, order); }

  Installation inst;
  int engine = 0;
  std::shared_ptr<rel::RecordingPrinter> printer;
  std::unique_ptr<TSetup> setup;
  TProvinceArray provinces;
  TSortOrderArray order = {sfCustomerName};
};

TEST_F(Contention, LockedLabelsTableFailsThePassUntilReleased) {
  Start(3);
  Helper holder({"lock", inst.multi + "/labels"});
  ASSERT_EQ(holder.Line(), "ready");
  EXPECT_FALSE(LabelPass());
  EXPECT_FALSE(LabelPass());
  TPassInput in;
  in.QueryFile = inst.sortFile;
  ExpectBusy(TPassKind::Package, in, in, "Error Occured|Unable to process package label sort.");
  EXPECT_EQ(printer->printed, std::vector<int>{}) << "printed while another program held the lock";
  EXPECT_EQ(inst.WaitingLabels(engine), 3);
  EXPECT_EQ(inst.DocsLeft().size(), 3u);
  holder.Release();
  holder.Line();  // its end
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(LabelPass());
  EXPECT_EQ(printer->printed, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(inst.WaitingLabels(engine), 0);
}

TEST_F(Contention, ShipmentFileHeldOpenIsLeftForALaterPass) {
  Start(0);
  const std::string source = inst.in + "/ORDER.TXT", result = inst.out + "/ORDER.TXT";
  const std::string content = "H,1,2,3,B\r\nD,b\r\nH,1,2,3,A\r\nD,a\r\n", old = "old result\r\n";
  for (const std::string& held : {source, result}) {
    SCOPED_TRACE(held == source ? "source held" : "result held");
    rel::Write(source, content);
    rel::Write(result, old);
    {
      Helper writer({"hold", held});
      ASSERT_EQ(writer.Line(), "ready");
      EXPECT_FALSE(SequenceShipmentFile(source, result, provinces, order));
      TPassInput in;
      in.QueryFile = inst.sortFile;
      in.Source = inst.in;
      in.Result = inst.out;
      if (held == source) {
        TPassInput manual = in;
        manual.Source = source;
        manual.Result = result;
        ExpectBusy(TPassKind::Shipment, in, manual, "Unable to create new file|Unable to create the sorted result text file.");
      } else {
        // A result in use is no busy host: the failure is shown at once.
        const TPassResult r = AutoPassOnce(TPassKind::Shipment, in);
        EXPECT_STREQ(OutcomeWord(r.Outcome), "failed");
        EXPECT_TRUE(r.Shown);
      }
      EXPECT_EQ(rel::Read(source), content);
      EXPECT_EQ(rel::Read(result), old);
      EXPECT_EQ(testfiles::Names(inst.out), std::vector<std::string>{"ORDER.TXT"});  // no new file left behind
      writer.Release();
      writer.Line();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(SequenceShipmentFile(source, result, provinces, order));
    EXPECT_EQ(rel::Read(result), "H,1,2,3,A\r\nD,a\r\nH,1,2,3,B\r\nD,b\r\n");
    EXPECT_FALSE(rel::Exists(source));
  }
}

// The headless cycle beside the host holding the Labels lock, then
// ORDER.TXT: busy lines, no warning, and the work done once it lets go.
TEST_F(Contention, WatchSaysBusyAndGoesOn) {
  Start(2);
  // The watcher prints in its own process: raw to a port that is a plain file.
  const std::string port = (inst.root / "port1.prn").string();  // "lpt1.prn" is the device on Windows
  std::string mondarix = rel::Read(inst.host + "/Mondarix.ini");
  for (size_t at; (at = mondarix.find("Label Printer")) != std::string::npos;)
    mondarix.replace(at, 13, "Direct To Eltron");
  rel::Write(inst.host + "/Mondarix.ini", mondarix);
  rel::Write(inst.prog + "/Vadoviver.ini", rel::Read(inst.prog + "/Vadoviver.ini") + "[Ports]\r\nLPT1=" + port + "\r\n");
  rel::Write(port, "");
  inst.SetQueryFile();
  const std::string lines = (inst.root / "watch.out").string();
  const std::string source = inst.in + "/ORDER.TXT";
  struct {
    const char* kind;
    std::vector<std::string> hold;
    const char* busy;
  } cases[] = {
      {"package", {"lock", inst.multi + "/labels"}, "\tpackage\tbusy\t0\tKavlo Desko is busy; next try at "},
      {"shipment", {"hold", source}, "\tshipment\tbusy\t0\tKavlo Desko is busy; next try at "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    rel::Write(source, "H,1,2,3,B\r\nD,b\r\n");
    Helper holder(c.hold);
    ASSERT_EQ(holder.Line(), "ready");
    vvtest::ProcessOptions options;
    options.stdoutFile = lines;
    options.stderrTo = vvtest::ProcessOptions::Err::Discard;
    vvtest::Process watch({VV_BINARY_DIR "/cli/vadoviver-cli", "--home", inst.prog, "watch", c.kind, "--interval",
                           "0.02", "--settle", "0.02"},
                          options);
    ASSERT_TRUE(watch.Started());
    auto said = LinesOnce(lines, 3);
    ASSERT_GE(said.size(), 3u);
    for (const std::string& l : said) EXPECT_NE(l.find(c.busy), std::string::npos) << l;
    holder.Release();
    holder.Line();
    const std::string ok = c.kind == std::string("package") ? "\tpackage\tok\t2\t" : "\tshipment\tok\t1\t";
    bool done = false;
    for (int i = 0; i < 500 && !done; ++i) {
      said = LinesOnce(lines, said.size() + 1, 2000);
      done = said.back().find(ok) != std::string::npos;
    }
    EXPECT_TRUE(done) << said.back();
    // Stopped as an operator would, it ends cleanly; where the test cannot
    // ask so, it is ended (the pass in flight is over: its line is there).
    if (watch.Terminate()) {
      EXPECT_EQ(watch.WaitFor(5000), 0);
    } else {
      watch.Kill();
    }
  }
  rel::ExpectEachLabelOnce(rel::LabelsIn(rel::Read(port), inst.docSize), 2, 0);
  // The watcher's log: the busy passes without a message, then the work done.
  const std::string log = rel::Read(inst.prog + "/Vadoviver.log");
  for (const char* line : {"\tpass\tpackage\tbusy\t\t0\n", "\tpass\tpackage\tok\t\t2\n", "\tpass\tshipment\tbusy\t\t0\n",
                           "\tpass\tshipment\tok\t\t1\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  size_t printed = 0;
  for (size_t at = 0; (at = log.find("\tprinted\t", at)) != std::string::npos; ++at) ++printed;
  EXPECT_EQ(printed, 2u) << log;
  EXPECT_EQ(inst.WaitingLabels(engine), 0);
  EXPECT_EQ(inst.DocsLeft().size(), 0u);
  EXPECT_FALSE(rel::Exists(source));
}

// Labels keep arriving (under the table lock, as the host adds them) while
// passes run: each comes out exactly once, none is stuck.
TEST_F(Contention, LabelsArrivingDuringPassesComeOutOnce) {
  Start(0);
  const int count = 60;
  Helper host({"labels", inst.multi, inst.data, inst.docs, "1", std::to_string(count), "3"});
  std::string said;
  int passes = 0, failed = 0;
  while (!host.Said(said)) {
    ++passes;
    failed += LabelPass() ? 0 : 1;
  }
  ASSERT_EQ(said, "done");
  EXPECT_TRUE(LabelPass());
  EXPECT_EQ(inst.WaitingLabels(engine), 0);
  const auto counts = printer->Counts();
  rel::ExpectEachLabelOnce(counts, count, 0);
  EXPECT_EQ(inst.DocsLeft(), std::vector<std::string>{});
  faults::Figure("passes while labels arrived", passes);
  faults::Figure("of them failed on the host's lock", failed);
}

// Thousands of automatic-style passes (a label pass and a shipment pass
// each) while a second process keeps delivering shipment files and labels:
// every shipment and every label comes out exactly once, and memory and open
// descriptors stay flat.
TEST_F(Contention, LongRunLosesNothingAndStaysFlat) {
  Start(0);
  // Under Wine every pass and every process start costs several times as
  // much: fewer deliveries and idle passes fit the same time there.
  const bool emulated = plat::os::kWindowsNames;
  const int files = emulated ? 60 : 250, perFile = 20, labels = emulated ? 200 : 800;
  const long idlePasses = emulated ? 2000 : 10000;
  Helper orders({"orders", inst.in, "1", std::to_string(files), std::to_string(perFile), "1"});
  Helper host({"labels", inst.multi, inst.data, inst.docs, "1", std::to_string(labels), "2"});
  const std::string source = inst.in + "/ORDER.TXT", result = inst.out + "/ORDER.TXT";
  std::map<int, int> shipments;
  auto takeResult = [&] {
    // The consumer of the result file takes it away after each pass.
    const std::string bytes = rel::Read(result);
    for (size_t at = 0; (at = bytes.find("D,shipment ", at)) != std::string::npos; at += 11)
      ++shipments[std::atoi(bytes.c_str() + at + 11)];
    rel::fs::remove(result);
  };
  auto pass = [&] {
    LabelPass();
    if (rel::Exists(source)) {
      if (!rel::Exists(result)) rel::Write(result, "");
      if (SequenceShipmentFile(source, result, provinces, order)) takeResult();
    }
  };

  const auto deadline = Clock::now() + std::chrono::seconds(45);
  long passes = 0, rssAfterWarmup = 0;
  int fdsAfterWarmup = 0;
  bool ordersDone = false, labelsDone = false;
  std::string said;
  while (Clock::now() < deadline) {
    pass();
    ++passes;
    // The short wait of the automatic cycle between two passes.
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    if (passes == 300) {
      rssAfterWarmup = vvtest::ResidentKb();
      fdsAfterWarmup = vvtest::OpenHandles();
    }
    if (!ordersDone && orders.Said(said)) {
      ASSERT_EQ(said, "done");
      ordersDone = true;
    }
    if (!labelsDone && host.Said(said)) {
      ASSERT_EQ(said, "done");
      labelsDone = true;
    }
    // Once both have delivered everything, go on idling (empty passes, as
    // the automatic cycle mostly does) until a few thousand passes are done.
    if (ordersDone && labelsDone && passes >= idlePasses) break;
  }
  ASSERT_TRUE(ordersDone && labelsDone) << "the helpers did not finish in time (shipment files delivered: " << ordersDone
                                         << ", labels: " << labelsDone << ", shipments seen: " << shipments.size() << ")";
  pass();
  ++passes;

  rel::ExpectEachLabelOnce(printer->Counts(), labels, 0);
  EXPECT_EQ(inst.WaitingLabels(engine), 0);
  for (int id = 1; id <= files * perFile; ++id) EXPECT_EQ(shipments[id], 1) << "shipment " << id;
  EXPECT_EQ(shipments.size(), static_cast<size_t>(files * perFile));
  EXPECT_FALSE(rel::Exists(source));

  const long rss = vvtest::ResidentKb();
  const int fds = vvtest::OpenHandles();
  EXPECT_EQ(fds, fdsAfterWarmup) << "descriptors leak";
  if (!kSanitized) {
    EXPECT_LT(rss - rssAfterWarmup, 4096) << "resident memory grew from " << rssAfterWarmup << " KB to " << rss << " KB";
  }
  faults::Figure("long-run passes", passes);
  faults::Figure("long-run shipments", files * perFile);
  faults::Figure("long-run labels", labels);
  faults::Figure("long-run resident KB after warm-up", rssAfterWarmup);
  faults::Figure("long-run resident KB at the end", rss);
  faults::Figure("long-run open descriptors (handles) at the end", fds);
}

}  // namespace
